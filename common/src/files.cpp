// Whole-file reads and writes shared by both platforms (plain C stdio works on both).
#include <cstdio>

#include "kit/platform.h"

namespace kit {

bool read_whole_file(const std::string& path, std::vector<uint8_t>& out) {
    FILE* f = std::fopen(path.c_str(), "rb");
    if (!f) return false;
    std::vector<uint8_t> data;
    uint8_t chunk[65536];
    size_t n;
    while ((n = std::fread(chunk, 1, sizeof chunk, f)) > 0)
        data.insert(data.end(), chunk, chunk + n);
    bool ok = !std::ferror(f);
    std::fclose(f);
    if (ok) out.swap(data);
    return ok;
}

bool write_whole_file(const std::string& path, const void* data, size_t size) {
    FILE* f = std::fopen(path.c_str(), "wb");
    if (!f) return false;
    bool ok = size == 0 || std::fwrite(data, 1, size, f) == size;
    ok = (std::fclose(f) == 0) && ok;
    return ok;
}

bool remove_file(const std::string& path) { return std::remove(path.c_str()) == 0; }

void TempFile::remove() {
    if (!path_.empty()) {
        remove_file(path_);
        path_.clear();
    }
}

Module& Module::operator=(Module&& other) noexcept {
    if (this != &other) {
        reset();
        handle_ = other.handle_;
        other.handle_ = nullptr;
    }
    return *this;
}

Module::~Module() { reset(); }

void* Module::release() {
    void* h = handle_;
    handle_ = nullptr;
    return h;
}

}  // namespace kit
