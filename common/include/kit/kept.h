// Memory a library keeps between calls, so that a host calling the same export again and again
// takes no new memory from the system and has nothing zero-filled that is written over anyway.
// What is kept is bounded: a buffer grown for one large input is given back to the system when
// the call that needed it ends.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

namespace kit {

// An allocator whose resize leaves new elements uninitialised (the bytes are about to be
// written): a vector of it grows without zero-filling.
template <class T>
struct NoInitAllocator : std::allocator<T> {
    template <class U>
    struct rebind {
        using other = NoInitAllocator<U>;
    };
    NoInitAllocator() = default;
    template <class U>
    NoInitAllocator(const NoInitAllocator<U>&) noexcept {}
    template <class U>
    void construct(U* p) noexcept {
        ::new (static_cast<void*>(p)) U;
    }
    template <class U, class... Args>
    void construct(U* p, Args&&... args) {
        ::new (static_cast<void*>(p)) U(std::forward<Args>(args)...);
    }
};

using RawBytes = std::vector<uint8_t, NoInitAllocator<uint8_t>>;
using RawChars = std::vector<char, NoInitAllocator<char>>;

// A buffer given back to the system when its capacity exceeds `max_bytes`.
template <class Buffer>
void keep_at_most(Buffer& buffer, size_t max_bytes) {
    if (buffer.capacity() * sizeof(typename Buffer::value_type) > max_bytes) Buffer().swap(buffer);
}

// Objects of type T (sets of work buffers) kept for reuse, at most `Count`: a call leases one
// (a new one when none is kept) and gives it back when it ends, after T::trim() has freed what
// may not be kept. Several threads may lease at once; each gets its own.
template <class T, size_t Count>
class KeptObjects {
  public:
    class Lease {
      public:
        explicit Lease(KeptObjects& owner) : owner_(owner), object_(owner.take()) {}
        ~Lease() { owner_.give_back(std::move(object_)); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        T& operator*() const { return *object_; }
        T* operator->() const { return object_.get(); }

      private:
        KeptObjects& owner_;
        std::unique_ptr<T> object_;
    };

  private:
    std::unique_ptr<T> take() {
        {
            std::lock_guard<std::mutex> hold(lock_);
            if (count_ > 0) return std::move(kept_[--count_]);
        }
        return std::make_unique<T>();
    }
    void give_back(std::unique_ptr<T> object) {
        object->trim();
        std::lock_guard<std::mutex> hold(lock_);
        if (count_ < Count) kept_[count_++] = std::move(object);
        // Otherwise it is freed with the parameter, after the lock is released.
    }

    std::mutex lock_;
    std::unique_ptr<T> kept_[Count];
    size_t count_ = 0;
};

}  // namespace kit
