#include "device_list_lock.h"

#include "log.h"

DeviceListLock::DeviceListLock() : released_(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

DeviceListLock::~DeviceListLock() {
    if (released_) CloseHandle(released_);
}

uint64_t DeviceListLock::TakeTicket() {
    std::lock_guard<std::mutex> hold(m_);
    return next_++;
}

void DeviceListLock::AdvanceLocked() {
    ++serving_;
    while (abandoned_.erase(serving_)) ++serving_;
    turn_.notify_all();
    SetEvent(released_);
}

void DeviceListLock::Abandon(uint64_t ticket) {
    std::lock_guard<std::mutex> hold(m_);
    if (ticket == serving_ && owner_ == 0)
        AdvanceLocked();
    else
        abandoned_.insert(ticket);
}

bool DeviceListLock::TryEnterLocked(uint64_t ticket, DWORD self) {
    if (owner_ == self) {
        // Already held by this thread: the new place in line is not needed.
        ++depth_;
        if (ticket == serving_)
            AdvanceLocked();  // cannot happen while held; kept for safety
        else
            abandoned_.insert(ticket);
        return true;
    }
    if (owner_ == 0 && serving_ == ticket) {
        owner_ = self;
        depth_ = 1;
        return true;
    }
    return false;
}

void DeviceListLock::Enter(uint64_t ticket) {
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> hold(m_);
    turn_.wait(hold, [&] { return TryEnterLocked(ticket, self); });
}

void DeviceListLock::EnterPumping(uint64_t ticket) {
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(m_);
            if (TryEnterLocked(ticket, self)) return;
        }
        // Delivers the messages other threads sent to this thread's windows (a holder of the
        // lock may be waiting for one), then sleeps until the lock is released or another
        // message is sent.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(1, &released_, FALSE, INFINITE, QS_SENDMESSAGE);
    }
}

bool DeviceListLock::TryEnter() {
    std::lock_guard<std::mutex> hold(m_);
    const DWORD self = GetCurrentThreadId();
    if (owner_ == self) {
        ++depth_;
        return true;
    }
    if (owner_ != 0 || serving_ != next_) return false;
    ++next_;  // the ticket this entry takes is the one being served
    owner_ = self;
    depth_ = 1;
    return true;
}

void DeviceListLock::Leave() {
    std::lock_guard<std::mutex> hold(m_);
    if (owner_ != GetCurrentThreadId() || depth_ <= 0) return;
    if (--depth_ > 0) return;
    owner_ = 0;
    AdvanceLocked();
}

bool DeviceListLock::HeldByCurrentThread() {
    std::lock_guard<std::mutex> hold(m_);
    return owner_ == GetCurrentThreadId();
}

DeviceListGuard::DeviceListGuard(DeviceListLock& lock, uint64_t ticket, const char* traceName,
                                 Mode mode)
    : lock_(lock), name_(traceName) {
    LogMessage(LOG_LEVEL_DEBUG, "%s before _ECS...", name_);
    if (mode == UiThread)
        lock_.EnterPumping(ticket);
    else
        lock_.Enter(ticket);
    LogMessage(LOG_LEVEL_DEBUG, "%s in _ECS...", name_);
}

DeviceListGuard::DeviceListGuard(DeviceListLock& lock, const char* traceName, Mode mode)
    : DeviceListGuard(lock, lock.TakeTicket(), traceName, mode) {}

DeviceListGuard::~DeviceListGuard() {
    lock_.Leave();
    LogMessage(LOG_LEVEL_DEBUG, "%s leave _ECS...", name_);
}
