#include "kit/secure.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace kit {

void secure_wipe(void* data, size_t size) {
    if (!data || !size) return;
#if defined(_WIN32)
    SecureZeroMemory(data, size);
#else
    volatile unsigned char* p = static_cast<volatile unsigned char*>(data);
    while (size--) *p++ = 0;
#endif
}

bool read_secret_file(const std::string& path, SecureBytes& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::setvbuf(f, nullptr, _IONBF, 0);  // no library buffer holding a copy
    bool ok = std::fseek(f, 0, SEEK_END) == 0;
    long size = ok ? std::ftell(f) : -1;
    ok = ok && size >= 0 && std::fseek(f, 0, SEEK_SET) == 0;
    SecureBytes data;
    if (ok) {
        data.resize(static_cast<size_t>(size));
        ok = size == 0 || std::fread(data.data(), 1, data.size(), f) == data.size();
        // A file that grew meanwhile is read no further: the caller gets what was measured.
    }
    std::fclose(f);
    if (ok) out.swap(data);
    return ok;
}

bool write_secret_file(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    std::setvbuf(f, nullptr, _IONBF, 0);
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

}  // namespace kit
