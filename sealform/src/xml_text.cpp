#include "xml_text.h"

#include <climits>
#include <cstdio>
#include <cstdlib>

namespace sealform {
namespace {

struct StringWriter : pugi::xml_writer {
    std::string text;
    void write(const void* data, size_t size) override {
        text.append(static_cast<const char*>(data), size);
    }
};

}  // namespace

std::string element_text(const pugi::xml_node& parent, const char* name) {
    return parent.child(name).text().get();
}

long element_number(const pugi::xml_node& parent, const char* name) {
    std::string text = element_text(parent, name);
    long long v = std::strtoll(text.c_str(), nullptr, 10);
    if (v > INT_MAX) return INT_MAX;
    if (v < INT_MIN) return INT_MIN;
    return static_cast<long>(v);
}

std::string decimal(long value) {
    char buf[32];
    std::snprintf(buf, sizeof buf, "%ld", value);
    return buf;
}

std::string print_xml(const pugi::xml_node& node, size_t expected) {
    StringWriter writer;
    writer.text.reserve(expected);
    node.print(writer, "\t", pugi::format_indent, pugi::encoding_utf8);
    return std::move(writer.text);
}

}  // namespace sealform
