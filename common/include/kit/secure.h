// Buffers for secrets (private keys, PINs, decrypted maker documents) that wipe themselves.
//
// A secret must not outlive its use anywhere in the process: not in a block handed back to the
// heap, not in a buffer that grew and moved, not in a stdio buffer. SecureBytes and SecureString
// overwrite every block they give back; read_secret_file and write_secret_file move file bytes
// without stdio's own buffer; secure_xml.h keeps XML documents' text in such buffers.
#pragma once

#include <cstddef>
#include <cstdint>
#include <new>
#include <string>
#include <vector>

namespace kit {

// Overwrites `size` bytes with zeros in a way the compiler may not drop.
void secure_wipe(void* data, size_t size);

// An allocator that wipes every block before giving it back.
template <class T>
struct WipingAllocator {
    using value_type = T;
    WipingAllocator() = default;
    template <class U>
    WipingAllocator(const WipingAllocator<U>&) {}
    T* allocate(size_t n) {
        if (n > static_cast<size_t>(-1) / sizeof(T)) throw std::bad_alloc();
        return static_cast<T*>(::operator new(n * sizeof(T)));
    }
    void deallocate(T* p, size_t n) {
        secure_wipe(p, n * sizeof(T));
        ::operator delete(p);
    }
    template <class U>
    bool operator==(const WipingAllocator<U>&) const {
        return true;
    }
    template <class U>
    bool operator!=(const WipingAllocator<U>&) const {
        return false;
    }
};

// Growing one of these moves its bytes through blocks that are all wiped when released. Text
// short enough for the string's inline buffer lives in the object itself: keep secrets in
// objects that are wiped too (members of a SecureString's owner), or reserve first.
using SecureBytes = std::vector<uint8_t, WipingAllocator<uint8_t>>;
using SecureString = std::basic_string<char, std::char_traits<char>, WipingAllocator<char>>;

// The whole file in one allocation, read without a stdio buffer. False when it cannot be read.
bool read_secret_file(const std::string& path, SecureBytes& out);
// Writes the bytes without a stdio buffer. False when the file takes fewer bytes.
bool write_secret_file(const std::string& path, const void* data, size_t size);

}  // namespace kit
