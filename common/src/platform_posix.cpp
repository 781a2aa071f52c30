// POSIX implementation of the platform layer (see kit/platform.h for the mapping).
#include <dlfcn.h>
#include <fcntl.h>
#include <iconv.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "kit/platform.h"

#ifdef __SSE2__
#include <emmintrin.h>
#endif

namespace kit {

// ---- modules -------------------------------------------------------------------------------

std::string native_module_name(std::string_view windows_name) {
    std::string name(windows_name);
    auto slash = name.find_last_of("/\\");
    std::string dir = slash == std::string::npos ? "" : name.substr(0, slash + 1);
    std::string base = slash == std::string::npos ? name : name.substr(slash + 1);
    if (base.size() > 4 && strcasecmp(base.c_str() + base.size() - 4, ".dll") == 0)
        base = "lib" + base.substr(0, base.size() - 4) + ".so";
    return dir + base;
}

std::string this_module_directory() {
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&this_module_directory), &info) == 0 || !info.dli_fname)
        return {};
    std::string path = info.dli_fname;
    if (path.empty() || path[0] != '/') {
        // Loaded by a relative path: the loader keeps that path, which no longer leads to the
        // module once the process changes its current folder. The kernel's map of the process
        // knows the absolute path of the file mapped at the module's base.
        char base[32];
        std::snprintf(base, sizeof base, "%lx-", reinterpret_cast<unsigned long>(info.dli_fbase));
        if (FILE* maps = std::fopen("/proc/self/maps", "re")) {
            char line[4096];
            while (std::fgets(line, sizeof line, maps)) {
                if (std::strncmp(line, base, std::strlen(base)) != 0) continue;
                const char* file = std::strchr(line, '/');
                if (file) {
                    path = file;
                    while (!path.empty() && (path.back() == '\n' || path.back() == ' '))
                        path.pop_back();
                }
                break;
            }
            std::fclose(maps);
        }
    }
    auto slash = path.find_last_of('/');
    if (slash == std::string::npos) return ".";
    return path.substr(0, slash);
}

// A bare name is looked up beside the module that asks, then along the system's search path
// (which never holds the current folder); a name with a folder is that file.
Module Module::load(std::string_view windows_name) {
    std::string native = native_module_name(windows_name);
    void* h = nullptr;
    if (native.find('/') == std::string::npos) {
        std::string beside = this_module_directory();
        if (!beside.empty()) h = dlopen((beside + "/" + native).c_str(), RTLD_NOW | RTLD_LOCAL);
    }
    if (!h) h = dlopen(native.c_str(), RTLD_NOW | RTLD_LOCAL);
    return Module(h);
}

// The system's library folder is the one the C library came from ("/lib/x86_64-linux-gnu"),
// together with its twin in or out of /usr. A bare name is looked up there by this layer and
// loaded by its full path: the loader's own search would also follow the library path of the
// environment and the search path built into the program.
Module Module::load_system(std::string_view windows_name) {
    std::string native = native_module_name(windows_name);
    if (native.find('/') != std::string::npos) return Module();
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&::getpid), &info) == 0 || !info.dli_fname ||
        info.dli_fname[0] != '/')
        return Module();
    std::string folder = info.dli_fname;
    folder.erase(folder.find_last_of('/'));
    const std::string twin = folder.rfind("/usr/", 0) == 0 ? folder.substr(4) : "/usr" + folder;
    for (const std::string& dir : {folder, twin}) {
        const std::string path = dir + "/" + native;
        if (::access(path.c_str(), F_OK) == 0)
            return Module(dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL));
    }
    errno = ENOENT;
    return Module();
}

void restrict_module_search() {}

void* Module::symbol(const char* name) const { return handle_ ? dlsym(handle_, name) : nullptr; }

void Module::reset() {
    if (handle_) dlclose(handle_);
    handle_ = nullptr;
}

// ---- process facts ---------------------------------------------------------------------

std::string environment_variable(const char* name) {
    const char* v = name ? std::getenv(name) : nullptr;
    return v ? std::string(v) : std::string();
}

bool set_environment_variable(const char* name, const std::string& value) {
    if (!name || !*name) return false;
    return (value.empty() ? ::unsetenv(name) : ::setenv(name, value.c_str(), 1)) == 0;
}

int last_system_error() { return errno; }

bool network_connected() {
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;
    bool online = false;
    for (ifaddrs* a = list; a && !online; a = a->ifa_next) {
        unsigned f = a->ifa_flags;
        online = a->ifa_addr && (f & IFF_UP) && (f & IFF_RUNNING) && !(f & IFF_LOOPBACK);
    }
    freeifaddrs(list);
    return online;
}

// ---- debugger output -----------------------------------------------------------------------

void debug_output(const char* text) {
    const char* sink = std::getenv("KIT_DEBUG_OUTPUT");
    if (!sink || !*sink || !text) return;
    int fd = ::open(sink, O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC, 0600);
    if (fd < 0) return;
    std::string line = text;
    line.push_back('\n');
    // One write with O_APPEND: lines of concurrent writers never interleave.
    ssize_t ignored = ::write(fd, line.data(), line.size());
    (void)ignored;
    ::close(fd);
}

// ---- text in code pages --------------------------------------------------------------------

unsigned ansi_code_page() {
    const char* cp = std::getenv("KIT_ANSI_CODEPAGE");
    if (cp && *cp) {
        unsigned v = static_cast<unsigned>(std::strtoul(cp, nullptr, 10));
        if (v) return v;
    }
    return 936;
}

namespace {

std::string iconv_name(unsigned code_page) {
    if (code_page == kAnsiCodePage) code_page = ansi_code_page();
    switch (code_page) {
        case kUtf8CodePage:
            return "UTF-8";
        case 936:
            return "GBK";
        case 950:
            return "BIG5";
        case 54936:
            return "GB18030";
        case 20127:
            return "ASCII";
        case 28591:
            return "ISO-8859-1";
        default:
            return "CP" + std::to_string(code_page);
    }
}

// One iconv conversion, opened on first use and closed with the object, so that a text of
// many pieces opens it once.
class Converter {
  public:
    Converter(const char* from, const char* to) : from_(from), to_(to) {}
    ~Converter() {
        if (open_ && cd_ != reinterpret_cast<iconv_t>(-1)) iconv_close(cd_);
    }
    Converter(const Converter&) = delete;
    Converter& operator=(const Converter&) = delete;

    // Converts `in`; a byte sequence that is not valid input is replaced by `bad` and skipped
    // one `unit` at a time, as Windows' converters replace what they cannot read. When the
    // conversion is unknown, the text is given back as it is.
    std::string run(std::string_view in, std::string_view bad, size_t unit) {
        std::string out;
        if (in.empty()) return out;
        if (!open_) {
            cd_ = iconv_open(to_, from_);
            open_ = true;
        }
        if (cd_ == reinterpret_cast<iconv_t>(-1)) return std::string(in);
        iconv(cd_, nullptr, nullptr, nullptr, nullptr);  // every piece starts afresh
        out.resize(in.size() * 4 + 16);
        char* src = const_cast<char*>(in.data());
        size_t src_left = in.size();
        char* dst = out.data();
        size_t dst_left = out.size();
        while (src_left > 0) {
            size_t r = iconv(cd_, &src, &src_left, &dst, &dst_left);
            if (r != static_cast<size_t>(-1)) break;
            if (errno == E2BIG) {
                size_t used = out.size() - dst_left;
                out.resize(out.size() * 2);
                dst = out.data() + used;
                dst_left = out.size() - used;
                continue;
            }
            // EILSEQ or EINVAL: skip one input unit and emit the replacement.
            if (dst_left < bad.size()) {
                size_t used = out.size() - dst_left;
                out.resize(out.size() * 2 + bad.size());
                dst = out.data() + used;
                dst_left = out.size() - used;
            }
            std::memcpy(dst, bad.data(), bad.size());
            dst += bad.size();
            dst_left -= bad.size();
            size_t skip = src_left < unit ? src_left : unit;
            src += skip;
            src_left -= skip;
            iconv(cd_, nullptr, nullptr, nullptr, nullptr);
        }
        out.resize(out.size() - dst_left);
        return out;
    }

  private:
    const char* from_;
    const char* to_;
    bool open_ = false;
    iconv_t cd_ = reinterpret_cast<iconv_t>(-1);
};

std::string convert(const char* from, const char* to, std::string_view in, std::string_view bad,
                    size_t unit) {
    return Converter(from, to).run(in, bad, unit);
}

const char kUtf16Le[] = "UTF-16LE";
const char kReplacementUtf16[] = "\xFD\xFF";  // U+FFFD, little-endian

// Code pages in which the bytes 0 to 0x7F are ASCII and never part of a longer sequence. Text
// of such bytes alone converts one to one, without a converter (most texts the libraries move:
// Base64, numbers, times, element names).
bool ascii_compatible(unsigned code_page) {
    if (code_page == kAnsiCodePage) code_page = ansi_code_page();
    switch (code_page) {
        case kUtf8CodePage:
        case 936:
        case 950:
        case 54936:
        case 20127:
        case 28591:
        case 1250:
        case 1251:
        case 1252:
        case 1253:
        case 1254:
        case 1255:
        case 1256:
        case 1257:
        case 1258:
        case 874:
            return true;
        default:
            return false;
    }
}

bool all_ascii(std::string_view text) {
    for (char c : text)
        if (static_cast<unsigned char>(c) >= 0x80) return false;
    return true;
}

// Widens the ASCII text at the start of text[0, n) into `out` and returns its length: the
// bulk of most texts the libraries move, done sixteen units at a time.
size_t widen_ascii_prefix(const char* text, size_t n, char16_t* out) {
    size_t i = 0;
#ifdef __SSE2__
    const __m128i zero = _mm_setzero_si128();
    for (; i + 16 <= n; i += 16) {
        __m128i v = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        if (_mm_movemask_epi8(v) != 0) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_unpacklo_epi8(v, zero));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i + 8), _mm_unpackhi_epi8(v, zero));
    }
#endif
    for (; i < n && static_cast<unsigned char>(text[i]) < 0x80; ++i)
        out[i] = static_cast<char16_t>(text[i]);
    return i;
}

// The reverse: narrows the ASCII units at the start of text[0, n) and returns how many.
size_t narrow_ascii_prefix(const char16_t* text, size_t n, char* out) {
    size_t i = 0;
#ifdef __SSE2__
    const __m128i high = _mm_set1_epi16(static_cast<short>(0xFF80));
    for (; i + 16 <= n; i += 16) {
        __m128i a = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i));
        __m128i b = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + i + 8));
        __m128i over = _mm_and_si128(_mm_or_si128(a, b), high);
        if (_mm_movemask_epi8(_mm_cmpeq_epi16(over, _mm_setzero_si128())) != 0xFFFF) break;
        _mm_storeu_si128(reinterpret_cast<__m128i*>(out + i), _mm_packus_epi16(a, b));
    }
#endif
    for (; i < n && text[i] < 0x80; ++i) out[i] = static_cast<char>(text[i]);
    return i;
}

}  // namespace

namespace {

std::u16string utf16_of_bytes(const std::string& bytes) {
    std::u16string out(bytes.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<uint8_t>(bytes[2 * i]) |
                                       (static_cast<uint8_t>(bytes[2 * i + 1]) << 8));
    return out;
}

std::u16string convert_to_utf16(Converter& converter, std::string_view text) {
    return utf16_of_bytes(converter.run(text, std::string_view(kReplacementUtf16, 2), 1));
}

}  // namespace

std::u16string to_utf16(std::string_view text, unsigned code_page) {
    const std::string from = iconv_name(code_page);
    Converter converter(from.c_str(), kUtf16Le);
    if (!ascii_compatible(code_page)) return convert_to_utf16(converter, text);
    // ASCII widens as it is; only the runs holding other bytes go through the converter. A run
    // takes each byte from 0x80 up together with the byte after it (the second byte of a
    // double-byte character may lie in the ASCII range), so runs end on character boundaries.
    // ASCII is widened a block at a time through a buffer on the stack.
    std::u16string out;
    out.reserve(text.size());
    constexpr size_t kBlock = 2048;
    char16_t block[kBlock];
    size_t i = 0;
    while (i < text.size()) {
        const size_t want = std::min(kBlock, text.size() - i);
        const size_t ascii = widen_ascii_prefix(text.data() + i, want, block);
        out.append(block, ascii);
        i += ascii;
        if (ascii == want) continue;
        const size_t start = i;
        while (i < text.size() && static_cast<unsigned char>(text[i]) >= 0x80) i += 2;
        if (i > text.size()) i = text.size();
        out += convert_to_utf16(converter, text.substr(start, i - start));
    }
    return out;
}

// In a code page that keeps ASCII as it is, the text's ASCII beginning is narrowed directly and
// only the rest goes through iconv.
std::string from_utf16(std::u16string_view text, unsigned code_page) {
    std::string narrow;
    if (ascii_compatible(code_page)) {
        narrow.resize(text.size());
        size_t ascii = narrow_ascii_prefix(text.data(), text.size(), narrow.data());
        if (ascii == text.size()) return narrow;
        narrow.resize(ascii);
        text.remove_prefix(ascii);
    }
    std::string bytes(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        bytes[2 * i] = static_cast<char>(text[i] & 0xFF);
        bytes[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    narrow += convert(kUtf16Le, iconv_name(code_page).c_str(), bytes, "?", 2);
    return narrow;
}

std::string to_utf8(std::string_view text, unsigned code_page) {
    if (ascii_compatible(code_page) && all_ascii(text)) return std::string(text);
    return convert(iconv_name(code_page).c_str(), "UTF-8", text, "\xEF\xBF\xBD", 1);
}

std::string from_utf8(std::string_view utf8, unsigned code_page) {
    if (ascii_compatible(code_page) && all_ascii(utf8)) return std::string(utf8);
    return convert("UTF-8", iconv_name(code_page).c_str(), utf8, "?", 1);
}

// ---- files ---------------------------------------------------------------------------------

std::string temp_directory() {
    const char* dir = std::getenv("TMPDIR");
    std::string path = (dir && *dir) ? dir : "/tmp";
    if (path.back() != '/') path.push_back('/');
    return path;
}

std::string folder_with_separator(std::string folder) {
    if (!folder.empty() && folder.back() != '/') folder += '/';
    return folder;
}

std::string file_name_from_utf8(std::string_view utf8_name) { return std::string(utf8_name); }

std::string make_temp_file() {
    std::string pattern = temp_directory() + "XXXXXX.tmp";
    int fd = mkstemps(pattern.data(), 4);
    if (fd < 0) return {};
    ::close(fd);
    return pattern;
}

// ---- time --------------------------------------------------------------------------------

bool local_time(std::time_t instant, std::tm& out) {
    return localtime_r(&instant, &out) != nullptr;
}

// ---- screen --------------------------------------------------------------------------------

ScreenMetrics screen_metrics() {
    ScreenMetrics m;
    if (const char* s = std::getenv("KIT_SCREEN")) {
        int w = 0, h = 0;
        if (std::sscanf(s, "%dx%d", &w, &h) == 2 && w > 0 && h > 0) {
            m.width = w;
            m.height = h;
        }
    }
    if (const char* s = std::getenv("KIT_SCREEN_DPI")) {
        int x = 0, y = 0;
        int n = std::sscanf(s, "%dx%d", &x, &y);
        if (n >= 1 && x > 0) m.dpi_x = m.dpi_y = x;
        if (n == 2 && y > 0) m.dpi_y = y;
    }
    return m;
}

}  // namespace kit
