#include "device_list_lock.h"

#include "log.h"

DeviceListLock::DeviceListLock() : m_released(CreateEventW(nullptr, FALSE, FALSE, nullptr)) {}

DeviceListLock::~DeviceListLock() {
    if (m_released) CloseHandle(m_released);
}

uint64_t DeviceListLock::TakeTicket() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_next++;
}

void DeviceListLock::AdvanceLocked() {
    ++m_serving;
    while (m_abandoned.erase(m_serving)) ++m_serving;
    m_turn.notify_all();
    SetEvent(m_released);
}

void DeviceListLock::Abandon(uint64_t ticket) {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (ticket == m_serving && m_owner == 0)
        AdvanceLocked();
    else
        m_abandoned.insert(ticket);
}

bool DeviceListLock::TryEnterLocked(uint64_t ticket, DWORD self) {
    if (m_owner == self) {
        // Already held by this thread: the new place in line is not needed.
        ++m_depth;
        if (ticket == m_serving)
            AdvanceLocked();  // cannot happen while held; kept for safety
        else
            m_abandoned.insert(ticket);
        return true;
    }
    if (m_owner == 0 && m_serving == ticket) {
        m_owner = self;
        m_depth = 1;
        return true;
    }
    return false;
}

void DeviceListLock::Enter(uint64_t ticket) {
    const DWORD self = GetCurrentThreadId();
    std::unique_lock<std::mutex> hold(m_mutex);
    m_turn.wait(hold, [&] { return TryEnterLocked(ticket, self); });
}

void DeviceListLock::EnterPumping(uint64_t ticket) {
    const DWORD self = GetCurrentThreadId();
    for (;;) {
        {
            std::lock_guard<std::mutex> hold(m_mutex);
            if (TryEnterLocked(ticket, self)) return;
        }
        // Delivers the messages other threads sent to this thread's windows (a holder of the
        // lock may be waiting for one), then sleeps until the lock is released or another
        // message is sent.
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        MsgWaitForMultipleObjects(1, &m_released, FALSE, INFINITE, QS_SENDMESSAGE);
    }
}

bool DeviceListLock::TryEnter() {
    std::lock_guard<std::mutex> hold(m_mutex);
    const DWORD self = GetCurrentThreadId();
    if (m_owner == self) {
        ++m_depth;
        return true;
    }
    if (m_owner != 0 || m_serving != m_next) return false;
    ++m_next;  // the ticket this entry takes is the one being served
    m_owner = self;
    m_depth = 1;
    return true;
}

void DeviceListLock::Leave() {
    std::lock_guard<std::mutex> hold(m_mutex);
    if (m_owner != GetCurrentThreadId() || m_depth <= 0) return;
    if (--m_depth > 0) return;
    m_owner = 0;
    AdvanceLocked();
}

bool DeviceListLock::HeldByCurrentThread() {
    std::lock_guard<std::mutex> hold(m_mutex);
    return m_owner == GetCurrentThreadId();
}

DeviceListGuard::DeviceListGuard(DeviceListLock& lock, uint64_t ticket, const char* traceName,
                                 Mode mode)
    : m_lock(lock), m_name(traceName) {
    LogMessage(LOG_LEVEL_DEBUG, "%s before _ECS...", m_name);
    if (mode == UiThread)
        m_lock.EnterPumping(ticket);
    else
        m_lock.Enter(ticket);
    LogMessage(LOG_LEVEL_DEBUG, "%s in _ECS...", m_name);
}

DeviceListGuard::DeviceListGuard(DeviceListLock& lock, const char* traceName, Mode mode)
    : DeviceListGuard(lock, lock.TakeTicket(), traceName, mode) {}

DeviceListGuard::~DeviceListGuard() {
    m_lock.Leave();
    LogMessage(LOG_LEVEL_DEBUG, "%s leave _ECS...", m_name);
}
