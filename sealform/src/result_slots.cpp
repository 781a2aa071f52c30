#include "result_slots.h"

#include <array>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#if defined(__SANITIZE_ADDRESS__)
#include <sanitizer/asan_interface.h>
#define KEPT_BLOCK_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define KEPT_BLOCK_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#else
#define KEPT_BLOCK_POISON(p, n) ((void)(p), (void)(n))
#define KEPT_BLOCK_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace sealform {
namespace {

struct Block {
    char* data = nullptr;
    size_t capacity = 0;
};

// Blocks that may be kept are rounded up to whole pages, so a seal a little larger than the
// last still fits the kept block.
size_t block_capacity(size_t bytes) {
    if (bytes == 0) bytes = 1;  // a pointer even for no bytes
    return bytes > kKeptBlockBytes ? bytes : (bytes + 4095) / 4096 * 4096;
}

// One result per calling thread: a result stays valid until the same thread's next call of its
// family or its release, whatever other threads call meanwhile (a single-threaded host sees
// what it always saw). The slots live in a table rather than in thread-local storage, which
// would keep the library from being unloaded while a thread that used it still runs; a thread
// that ends without releasing leaves its one last result, as a single slot would. Released
// blocks are kept for the next result (see result_slots.h for the bound); memory is allocated
// and freed outside the lock.
class ThreadSlots {
  public:
    // `keep`: how many released blocks are kept (at most kKeptBlocks).
    explicit ThreadSlots(size_t keep) : keep_(keep < kKeptBlocks ? keep : kKeptBlocks) {}
    ~ThreadSlots() {
        for (auto& slot : slots_) std::free(slot.second.data);
        for (size_t i = 0; i < spare_count_; ++i) {
            KEPT_BLOCK_UNPOISON(spares_[i].data, spares_[i].capacity);
            std::free(spares_[i].data);
        }
    }

    // Makes the calling thread's result a block of at least `bytes` and returns it.
    char* take(size_t bytes) {
        const std::thread::id me = std::this_thread::get_id();
        Block given_up, fresh;
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto it = slots_.find(me);
            if (it != slots_.end()) {
                if (it->second.capacity >= bytes) return it->second.data;
                given_up = it->second;
                slots_.erase(it);
            }
            fresh = take_spare(bytes);
        }
        if (given_up.data) std::free(keep_or_return(given_up));
        if (!fresh.data) {
            fresh.capacity = block_capacity(bytes);
            fresh.data = static_cast<char*>(std::malloc(fresh.capacity));
            if (!fresh.data) throw std::bad_alloc();
        }
        try {
            std::lock_guard<std::mutex> hold(lock_);
            // find and emplace rather than operator[]: its piecewise construction brings a
            // unique symbol into unoptimised builds, and such a symbol keeps the library from
            // unloading.
            auto it = slots_.find(me);
            if (it == slots_.end()) it = slots_.emplace(me, Block()).first;
            it->second = fresh;
        } catch (...) {
            std::free(fresh.data);
            throw;
        }
        return fresh.data;
    }

    void release() {
        Block old;
        {
            std::lock_guard<std::mutex> hold(lock_);
            auto it = slots_.find(std::this_thread::get_id());
            if (it == slots_.end()) return;
            old = it->second;
            slots_.erase(it);
        }
        std::free(keep_or_return(old));
    }

  private:
    // The smallest kept block of at least `bytes`, taken out of the spares; none when none fits.
    Block take_spare(size_t bytes) {
        size_t best = spare_count_;
        for (size_t i = 0; i < spare_count_; ++i)
            if (spares_[i].capacity >= bytes &&
                (best == spare_count_ || spares_[i].capacity < spares_[best].capacity))
                best = i;
        if (best == spare_count_) return {};
        Block b = spares_[best];
        spares_[best] = spares_[--spare_count_];
        KEPT_BLOCK_UNPOISON(b.data, b.capacity);
        return b;
    }

    // Keeps a released block if it is small enough and there is room (a larger one replaces the
    // smallest kept); returns what is to be freed.
    // A kept block is poisoned for AddressSanitizer, so a host that reads a released result
    // is still caught there.
    char* keep_or_return(Block b) {
        if (b.capacity > kKeptBlockBytes || keep_ == 0) return b.data;
        std::lock_guard<std::mutex> hold(lock_);
        if (spare_count_ < keep_) {
            KEPT_BLOCK_POISON(b.data, b.capacity);
            spares_[spare_count_++] = b;
            return nullptr;
        }
        size_t smallest = 0;
        for (size_t i = 1; i < spare_count_; ++i)
            if (spares_[i].capacity < spares_[smallest].capacity) smallest = i;
        if (spares_[smallest].capacity >= b.capacity) return b.data;
        KEPT_BLOCK_POISON(b.data, b.capacity);
        std::swap(spares_[smallest], b);
        KEPT_BLOCK_UNPOISON(b.data, b.capacity);
        return b.data;
    }

    std::mutex lock_;
    std::map<std::thread::id, Block> slots_;
    const size_t keep_;
    std::array<Block, kKeptBlocks> spares_{};
    size_t spare_count_ = 0;
};

// ParsingSeal's texts are kept for the next call; a made seal is freed when released (makers
// are not called in loops, and the made seal's memory is given back at once). Each table is
// made at its first use, not when the library is loaded: a host that loads the library for one
// call of an export that fills the caller's buffer pays nothing for them, neither when loading
// nor when unloading.
ThreadSlots& sealinfos() {
    static ThreadSlots slots(kKeptBlocks);
    return slots;
}
ThreadSlots& made_seals() {
    static ThreadSlots slots(0);
    return slots;
}

}  // namespace

char* sealinfos_block(size_t bytes) { return sealinfos().take(bytes); }

void release_sealinfos() { sealinfos().release(); }

unsigned char* keep_made_seal(const std::vector<uint8_t>& der) {
    try {
        char* kept = made_seals().take(der.size());
        if (!der.empty()) std::memcpy(kept, der.data(), der.size());
        return reinterpret_cast<unsigned char*>(kept);
    } catch (...) {
        return nullptr;  // out of memory
    }
}

void release_made_seal() { made_seals().release(); }

}  // namespace sealform
