// Windows implementation of the platform layer.
#include <windows.h>
#include <wininet.h>

#include <atomic>
#include <cstdlib>

#include "kit/platform.h"

namespace kit {

std::string native_module_name(std::string_view windows_name) { return std::string(windows_name); }

std::string this_module_directory() {
    HMODULE self = nullptr;
    if (!GetModuleHandleExA(
            GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
            reinterpret_cast<LPCSTR>(&this_module_directory), &self))
        return {};
    char path[MAX_PATH];
    DWORD n = GetModuleFileNameA(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return {};
    std::string s(path, n);
    auto slash = s.find_last_of("\\/");
    return slash == std::string::npos ? std::string(".") : s.substr(0, slash);
}

namespace {

// SetDefaultDllDirectories, or null where this Windows lacks it together with the
// LOAD_LIBRARY_SEARCH_* flags (Windows 7 without update KB2533623).
using SetDefaultDllDirectoriesFn = BOOL(WINAPI*)(DWORD);
SetDefaultDllDirectoriesFn set_default_dll_directories() {
    static const auto fn = reinterpret_cast<SetDefaultDllDirectoriesFn>(reinterpret_cast<void*>(
        GetProcAddress(GetModuleHandleW(L"kernel32.dll"), "SetDefaultDllDirectories")));
    return fn;
}

bool search_flags_known() { return set_default_dll_directories() != nullptr; }

// Loads the file at `path` (a full path) and nothing else. Its own dependencies come from its
// folder and the system folder only; a system without the search flags looks in its folder first
// and then in the standard order, the best it offers.
HMODULE load_file(const std::string& path) {
    return LoadLibraryExA(path.c_str(), nullptr,
                          search_flags_known()
                              ? LOAD_LIBRARY_SEARCH_DLL_LOAD_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32
                              : LOAD_WITH_ALTERED_SEARCH_PATH);
}

std::string system_directory() {
    char path[MAX_PATH];
    UINT n = GetSystemDirectoryA(path, MAX_PATH);
    return n == 0 || n >= MAX_PATH ? std::string() : std::string(path, n);
}

bool bare_name(const std::string& name) { return name.find_first_of("\\/:") == std::string::npos; }

}  // namespace

// A bare file name is looked up beside the module that asks (the libraries and the modules they
// load are installed side by side, whatever folder the host program runs from), then in the
// system folder. Never in the host's current folder or along PATH, which the standard search
// order reaches: a module planted in a download folder would run inside the host.
Module Module::load(std::string_view windows_name) {
    std::string name(windows_name);
    if (!bare_name(name)) return Module(load_file(name));
    DWORD beside_error = ERROR_MOD_NOT_FOUND;
    std::string beside = this_module_directory();
    if (!beside.empty()) {
        if (HMODULE h = load_file(beside + "\\" + name)) return Module(h);
        beside_error = GetLastError();
    }
    Module system = load_system(name);
    // A module that is there but cannot be loaded says more than one that is not in the system
    // folder either.
    if (!system && GetLastError() == ERROR_MOD_NOT_FOUND) SetLastError(beside_error);
    return system;
}

Module Module::load_system(std::string_view windows_name) {
    std::string name(windows_name);
    std::string folder = system_directory();
    if (!bare_name(name) || folder.empty()) {
        SetLastError(ERROR_MOD_NOT_FOUND);
        return Module();
    }
    return Module(load_file(folder + "\\" + name));
}

void restrict_module_search() {
    auto set_default = set_default_dll_directories();
    if (!set_default ||
        !set_default(LOAD_LIBRARY_SEARCH_APPLICATION_DIR | LOAD_LIBRARY_SEARCH_SYSTEM32))
        SetDllDirectoryW(L"");  // older systems: at least the current folder leaves the order
}

void* Module::symbol(const char* name) const {
    return handle_ ? reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(handle_), name))
                   : nullptr;
}

void Module::reset() {
    if (handle_) FreeLibrary(static_cast<HMODULE>(handle_));
    handle_ = nullptr;
}

std::string environment_variable(const char* name) {
    if (!name) return {};
    char small[256];
    DWORD n = GetEnvironmentVariableA(name, small, sizeof small);
    if (n == 0) return {};
    if (n < sizeof small) return std::string(small, n);
    std::string value(n, '\0');  // n counts the terminator when the buffer was too small
    n = GetEnvironmentVariableA(name, value.data(), n);
    value.resize(n);
    return value;
}

bool set_environment_variable(const char* name, const std::string& value) {
    if (!name || !*name) return false;
    bool block = SetEnvironmentVariableA(name, value.empty() ? nullptr : value.c_str()) != 0 ||
                 (value.empty() && GetLastError() == ERROR_ENVVAR_NOT_FOUND);
    return _putenv_s(name, value.c_str()) == 0 && block;
}

int last_system_error() { return static_cast<int>(GetLastError()); }

bool network_connected() {
    DWORD flags = 0;
    if (!InternetGetConnectedState(&flags, 0)) return false;
    return (flags &
            (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY)) != 0;
}

namespace {

// Whether anyone can read the debug output: a debugger attached, or a listener that has
// created the "DBWIN_BUFFER" section. OutputDebugStringA costs an exception and a listener
// search (under Wine a server round trip) even when nobody listens, so the answer is
// cached and looked up again at most about once a second.
bool debug_output_listened() {
    static std::atomic<ULONGLONG> checked_at{0};
    static std::atomic<bool> listened{false};
    ULONGLONG now = GetTickCount64();
    ULONGLONG last = checked_at.load(std::memory_order_acquire);
    if (last != 0 && now - last < 1000) return listened.load(std::memory_order_relaxed);
    bool yes = IsDebuggerPresent() != FALSE;
    if (!yes) {
        HANDLE section = OpenFileMappingA(FILE_MAP_READ, FALSE, "DBWIN_BUFFER");
        if (section) {
            CloseHandle(section);
            yes = true;
        }
    }
    listened.store(yes, std::memory_order_relaxed);
    checked_at.store(now == 0 ? 1 : now, std::memory_order_release);
    return yes;
}

}  // namespace

void debug_output(const char* text) {
    if (text && debug_output_listened()) OutputDebugStringA(text);
}

unsigned ansi_code_page() { return GetACP(); }

std::u16string to_utf16(std::string_view text, unsigned code_page) {
    if (text.empty()) return {};
    int n =
        MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()), nullptr, 0);
    std::u16string out(static_cast<size_t>(n), u'\0');
    MultiByteToWideChar(code_page, 0, text.data(), static_cast<int>(text.size()),
                        reinterpret_cast<wchar_t*>(out.data()), n);
    return out;
}

std::string from_utf16(std::u16string_view text, unsigned code_page) {
    if (text.empty()) return {};
    auto w = reinterpret_cast<const wchar_t*>(text.data());
    int n = WideCharToMultiByte(code_page, 0, w, static_cast<int>(text.size()), nullptr, 0, nullptr,
                                nullptr);
    std::string out(static_cast<size_t>(n), '\0');
    WideCharToMultiByte(code_page, 0, w, static_cast<int>(text.size()), out.data(), n, nullptr,
                        nullptr);
    return out;
}

std::string to_utf8(std::string_view text, unsigned code_page) {
    return from_utf16(to_utf16(text, code_page), CP_UTF8);
}

std::string from_utf8(std::string_view utf8, unsigned code_page) {
    return from_utf16(to_utf16(utf8, CP_UTF8), code_page);
}

std::string temp_directory() {
    char path[MAX_PATH + 1];
    DWORD n = GetTempPathA(sizeof path, path);
    if (n == 0 || n > MAX_PATH) return ".\\";
    return std::string(path, n);
}

std::string folder_with_separator(std::string folder) {
    if (!folder.empty() && folder.back() != '\\' && folder.back() != '/') folder += '\\';
    return folder;
}

std::string file_name_from_utf8(std::string_view utf8_name) { return from_utf8(utf8_name); }

std::string make_temp_file() {
    char name[MAX_PATH];
    if (GetTempFileNameA(temp_directory().c_str(), "", 0, name) == 0) return {};
    return name;
}

bool local_time(std::time_t instant, std::tm& out) { return localtime_s(&out, &instant) == 0; }

ScreenMetrics screen_metrics() {
    ScreenMetrics m;
    m.width = GetSystemMetrics(SM_CXSCREEN);
    m.height = GetSystemMetrics(SM_CYSCREEN);
    HDC dc = GetDC(nullptr);
    if (dc) {
        m.dpi_x = GetDeviceCaps(dc, LOGPIXELSX);
        m.dpi_y = GetDeviceCaps(dc, LOGPIXELSY);
        ReleaseDC(nullptr, dc);
    }
    return m;
}

}  // namespace kit
