// The platform layer: every operating-system service the libraries use goes through here.
// Callers name outside modules by their Windows file names ("UKeyDriver.dll"); on POSIX the
// layer maps a name to "libUKeyDriver.so". Code is loaded only from beside the module that asks
// (the kit's install folder) and from the system folder: never from the current folder or PATH.
#pragma once

#include <cstdint>
#include <ctime>
#include <string>
#include <string_view>
#include <vector>

// Marks a function a module exports (the devkit's stand-ins; the libraries' public headers
// carry their own).
#if defined(_WIN32)
#define KIT_EXPORT __declspec(dllexport)
#else
#define KIT_EXPORT __attribute__((visibility("default")))
#endif

namespace kit {

// ---- modules -------------------------------------------------------------------------------

// A loaded module. Unloads on destruction unless release() was called (trace library and
// driver modules that stay loaded for the life of the process).
class Module {
  public:
    Module() = default;
    ~Module();
    Module(Module&& other) noexcept : handle_(other.handle_) { other.handle_ = nullptr; }
    Module& operator=(Module&& other) noexcept;
    Module(const Module&) = delete;
    Module& operator=(const Module&) = delete;

    // Loads by Windows file name: beside the module that asks, then the system folder (POSIX:
    // beside, then the system's search path). A module found beside resolves its own
    // dependencies beside itself and in the system folder only. A name with a folder loads that
    // file. An empty Module when it cannot be found or loaded; the system error says why.
    static Module load(std::string_view windows_name);
    // A module of the operating system, from the system folder only ("wininet.DLL").
    static Module load_system(std::string_view windows_name);

    explicit operator bool() const { return handle_ != nullptr; }
    void* symbol(const char* name) const;
    template <class Fn>
    Fn function(const char* name) const {
        return reinterpret_cast<Fn>(symbol(name));
    }
    // Gives up ownership: the module stays loaded; returns the raw handle.
    void* release();
    // Unloads now.
    void reset();

  private:
    explicit Module(void* handle) : handle_(handle) {}
    void* handle_ = nullptr;
};

// Programs call this before anything else: modules that anything in the process later loads by
// bare name come from the program's folder and the system folder only (Windows:
// SetDefaultDllDirectories; older systems lose at least the current folder). POSIX: nothing to
// do, the loader never looks in the current folder.
void restrict_module_search();

// "UKeyDriver.dll" -> "libUKeyDriver.so" on POSIX; unchanged on Windows.
std::string native_module_name(std::string_view windows_name);

// Folder of the module (shared library or program) that holds this code, with no trailing
// separator; empty if it cannot be told.
std::string this_module_directory();

// ---- process facts ---------------------------------------------------------------------

// The value of an environment variable of the process; empty when unset. Windows reads the
// process's environment block, which every module shares whatever C runtime it was built with.
std::string environment_variable(const char* name);

// Sets an environment variable of the process, or removes it when the value is empty. Windows
// sets both the process's environment block (what environment_variable and other modules read)
// and the C runtime's copy (what getenv reads). False when the system refuses.
bool set_environment_variable(const char* name, const std::string& value);

// The calling thread's last system error code (GetLastError; POSIX: errno).
int last_system_error();

// Whether the machine is connected. Windows: InternetGetConnectedState reports a modem, LAN or
// proxy connection. POSIX: a network interface other than loopback is up and running. A fault
// in the query counts as not connected.
bool network_connected();

// ---- debugger output -----------------------------------------------------------------------

// Windows: OutputDebugStringA. POSIX: appends the text and a line feed to the file named by
// KIT_DEBUG_OUTPUT when that variable is set, otherwise the text goes nowhere (as on Windows
// with no debugger attached).
void debug_output(const char* text);

// ---- text in code pages --------------------------------------------------------------------

constexpr unsigned kAnsiCodePage = 0;  // the system ANSI code page (CP_ACP)
constexpr unsigned kUtf8CodePage = 65001;

// The system ANSI code page. POSIX: KIT_ANSI_CODEPAGE, else 936 (GBK).
unsigned ansi_code_page();

// Conversions between narrow text in a code page and UTF-8 / UTF-16. Bytes that are not valid
// in the source code page become "?" (narrow) or U+FFFD (wide); nothing fails.
std::u16string to_utf16(std::string_view text, unsigned code_page = kAnsiCodePage);
std::string from_utf16(std::u16string_view text, unsigned code_page = kAnsiCodePage);
std::string to_utf8(std::string_view text, unsigned code_page = kAnsiCodePage);
std::string from_utf8(std::string_view utf8, unsigned code_page = kAnsiCodePage);

// ---- files ---------------------------------------------------------------------------------

// The user's temporary folder with a trailing separator (GetTempPathA; POSIX: $TMPDIR or /tmp).
std::string temp_directory();

// Makes a new, empty, uniquely named file in the temporary folder (atomically) and returns its
// path; empty on failure.
std::string make_temp_file();

// A temporary file that is removed when the object goes, on every path. The file holds key
// material at times, so removal is not optional.
class TempFile {
  public:
    TempFile() : path_(make_temp_file()) {}
    ~TempFile() { remove(); }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    explicit operator bool() const { return !path_.empty(); }
    const std::string& path() const { return path_; }
    void remove();

  private:
    std::string path_;
};

// `folder` with a trailing path separator ("" stays "").
std::string folder_with_separator(std::string folder);

// The platform's form of a file name given in UTF-8: the ANSI code page on Windows (the narrow
// file functions read names in it), unchanged on POSIX.
std::string file_name_from_utf8(std::string_view utf8_name);

bool read_whole_file(const std::string& path, std::vector<uint8_t>& out);
bool write_whole_file(const std::string& path, const void* data, size_t size);
bool remove_file(const std::string& path);

// ---- time --------------------------------------------------------------------------------

// The broken-down local time of an instant (thread-safe); false when it cannot be represented.
bool local_time(std::time_t instant, std::tm& out);

// ---- screen --------------------------------------------------------------------------------

struct ScreenMetrics {
    int width = 1920;
    int height = 1080;
    int dpi_x = 96;
    int dpi_y = 96;
};

// Windows: the primary screen and its logical dpi. POSIX: 1920 x 1080 at 96 dpi unless
// KIT_SCREEN ("WIDTHxHEIGHT") or KIT_SCREEN_DPI ("96" or "96x120") say otherwise.
ScreenMetrics screen_metrics();

}  // namespace kit
