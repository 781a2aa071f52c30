// What the fuzz targets share: a check that stops the run, and caller buffers followed by a
// fence that must stay untouched (a library that writes past the capacity it was told, or
// writes at all when it fails, is caught at once).
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace fuzz {

inline void check(bool condition) {
    if (!condition) __builtin_trap();
}

struct Fenced {
    static constexpr uint8_t kFence = 0xFD;
    explicit Fenced(size_t capacity) : bytes(capacity + 64, kFence), capacity(capacity) {}
    unsigned char* data() { return bytes.data(); }
    bool fence_intact() const {
        for (size_t i = capacity; i < bytes.size(); ++i)
            if (bytes[i] != kFence) return false;
        return true;
    }
    bool untouched() const {
        for (uint8_t b : bytes)
            if (b != kFence) return false;
        return true;
    }
    std::vector<uint8_t> bytes;
    size_t capacity;
};

}  // namespace fuzz
