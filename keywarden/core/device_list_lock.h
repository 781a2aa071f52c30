// The device-list lock. It guards the list of keys, the key objects and the certificate
// notice.
//
// Entries are granted strictly in the order of tickets. The user-interface thread takes a
// ticket when it sees a device event, so the workers of an insert, a pull and a refresh update
// the list in the order the events happened: a pull is never applied before the insert it
// follows. Worker threads wait for their turn without bounds; the user-interface thread waits
// only while it keeps serving messages sent to its windows, because workers that hold the lock
// send messages to the tree and to the main window. A thread that already holds the lock may
// enter again (its extra ticket is given up).
#pragma once

#include <windows.h>

#include <condition_variable>
#include <cstdint>
#include <mutex>
#include <set>

class DeviceListLock {
  public:
    DeviceListLock();
    ~DeviceListLock();
    DeviceListLock(const DeviceListLock&) = delete;
    DeviceListLock& operator=(const DeviceListLock&) = delete;

    // Reserves the next place in line.
    uint64_t TakeTicket();
    // Gives up a reserved place that will never be entered (the worker could not start).
    void Abandon(uint64_t ticket);
    // Worker threads: waits for the ticket's turn.
    void Enter(uint64_t ticket);
    // User-interface thread: waits for the turn while serving sent messages; posted messages
    // stay queued.
    void EnterPumping(uint64_t ticket);
    // Enters only when nobody holds the lock or waits for it (or this thread holds it); never
    // waits. True when entered (Leave then follows).
    bool TryEnter();
    void Leave();
    bool HeldByCurrentThread();

  private:
    bool TryEnterLocked(uint64_t ticket, DWORD self);
    void AdvanceLocked();

    std::mutex m_mutex;
    std::condition_variable m_turn;
    HANDLE m_released;  // auto-reset; wakes the user-interface thread
    uint64_t m_next = 0;
    uint64_t m_serving = 0;
    std::set<uint64_t> m_abandoned;
    DWORD m_owner = 0;
    int m_depth = 0;
};

// Holds the lock for a scope: traces "%s before _ECS...", "%s in _ECS..." and
// "%s leave _ECS..." under the given operation name.
class DeviceListGuard {
  public:
    enum Mode { Worker, UiThread };
    DeviceListGuard(DeviceListLock& lock, uint64_t ticket, const char* traceName,
                    Mode mode = Worker);
    DeviceListGuard(DeviceListLock& lock, const char* traceName, Mode mode = Worker);
    ~DeviceListGuard();
    DeviceListGuard(const DeviceListGuard&) = delete;
    DeviceListGuard& operator=(const DeviceListGuard&) = delete;

  private:
    DeviceListLock& m_lock;
    const char* m_name;
};
