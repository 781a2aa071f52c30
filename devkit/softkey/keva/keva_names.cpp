#include "keva_names.h"

#include <cctype>

namespace keva {

namespace {

constexpr std::string_view kPrefix = "\\\\?\\HID#VID_1EA8&PID_C011#";

bool equal_ignoring_case(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i)
        if (std::tolower(static_cast<unsigned char>(a[i])) !=
            std::tolower(static_cast<unsigned char>(b[i])))
            return false;
    return true;
}

}  // namespace

std::string device_name(std::string_view serial, unsigned port) {
    std::string name(kPrefix);
    name += std::to_string(port);
    name += '&';
    name += serial;
    name += "&0&0000#";
    name += kHidInterfaceClass;
    return name;
}

std::string serial_from_device_name(std::string_view name) {
    if (name.size() <= kPrefix.size() ||
        !equal_ignoring_case(name.substr(0, kPrefix.size()), kPrefix))
        return {};
    std::string_view rest = name.substr(kPrefix.size());
    std::string_view suffix = "&0&0000#";
    const size_t tail = suffix.size() + std::string_view(kHidInterfaceClass).size();
    if (rest.size() <= tail) return {};
    if (!equal_ignoring_case(rest.substr(rest.size() - tail),
                             std::string(suffix) + kHidInterfaceClass))
        return {};
    std::string_view middle = rest.substr(0, rest.size() - tail);  // <port>&<serial>
    size_t amp = middle.find('&');
    if (amp == std::string_view::npos || amp == 0) return {};
    for (size_t i = 0; i < amp; ++i)
        if (!std::isdigit(static_cast<unsigned char>(middle[i]))) return {};
    std::string_view serial = middle.substr(amp + 1);
    if (serial.empty() || serial.size() > 32) return {};
    for (char c : serial)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '-' && c != '_') return {};
    return std::string(serial);
}

}  // namespace keva
