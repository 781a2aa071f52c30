#include "result_slots.h"

#include <map>
#include <memory>
#include <mutex>
#include <thread>

namespace sealform {
namespace {

// One result per calling thread: a result stays valid until the same thread's next call of its
// family or its release, whatever other threads call meanwhile (a single-threaded host sees
// what it always saw). The slots live in a table rather than in thread-local storage, which
// would keep the library from being unloaded while a thread that used it still runs; a thread
// that ends without releasing leaves its one last result, as a single slot would.
template <class T>
class ThreadSlots {
  public:
    // Replaces the calling thread's result and returns it. The one it replaces is freed
    // outside the lock.
    T* keep(std::unique_ptr<T> value) {
        std::lock_guard<std::mutex> hold(lock_);
        // find and emplace rather than operator[]: its piecewise construction brings a unique
        // symbol into unoptimised builds, and such a symbol keeps the library from unloading.
        const std::thread::id me = std::this_thread::get_id();
        auto it = slots_.find(me);
        if (it == slots_.end()) it = slots_.emplace(me, std::unique_ptr<T>()).first;
        it->second.swap(value);
        return it->second.get();
    }
    void release() {
        std::unique_ptr<T> old;
        std::lock_guard<std::mutex> hold(lock_);
        auto it = slots_.find(std::this_thread::get_id());
        if (it == slots_.end()) return;
        old = std::move(it->second);
        slots_.erase(it);
    }

  private:
    std::mutex lock_;
    std::map<std::thread::id, std::unique_ptr<T>> slots_;
};

// The text is held as the writer's own string, so the XML is not copied once more.
ThreadSlots<std::string> g_sealinfos;
ThreadSlots<std::vector<uint8_t>> g_made_seals;

}  // namespace

char* keep_sealinfos(std::string text) {
    return g_sealinfos.keep(std::make_unique<std::string>(std::move(text)))->data();
}

void release_sealinfos() { g_sealinfos.release(); }

unsigned char* keep_made_seal(const std::vector<uint8_t>& der) {
    try {
        auto copy = std::make_unique<std::vector<uint8_t>>(der);
        copy->reserve(1);  // a pointer even for no bytes
        return g_made_seals.keep(std::move(copy))->data();
    } catch (...) {
        return nullptr;  // out of memory
    }
}

void release_made_seal() { g_made_seals.release(); }

}  // namespace sealform
