// Windows: the tool sends the device-interface notification to the Keywarden windows of this
// desktop itself (keva_announce, the same code as softkey-notify.exe).
#include <windows.h>
#include <shellapi.h>

#include <cstdio>
#include <cstdlib>

#include "keva_announce.h"
#include "softkey_host.h"

namespace softkey_host {
namespace {

std::string utf8(const wchar_t* text) {
    int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    if (size <= 1) return {};
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
    out.resize(size_t(size) - 1);
    return out;
}

}  // namespace

std::vector<std::string> utf8_arguments(int argc, char** argv) {
    SetConsoleOutputCP(CP_UTF8);
    int count = 0;
    LPWSTR* wide = CommandLineToArgvW(GetCommandLineW(), &count);
    if (!wide) return std::vector<std::string>(argv, argv + argc);
    std::vector<std::string> out;
    for (int i = 0; i < count; ++i) out.push_back(utf8(wide[i]));
    LocalFree(wide);
    return out;
}

void notify_keywarden(bool arrival, const std::string& serial) {
    if (const char* env = std::getenv("SOFTKEY_NOTIFY"); env && std::string(env) == "none") return;
    keva::Announcement sent = keva::announce_key(arrival, serial);
    if (!sent.valid)
        std::fprintf(stderr, "softkey: %s cannot be announced as a device\n", serial.c_str());
    else if (sent.windows_told == 0)
        std::fprintf(stderr, "softkey: no Keywarden window runs; none was told\n");
}

}  // namespace softkey_host
