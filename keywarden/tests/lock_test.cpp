// The device-list lock: entries in ticket order, given-up places, re-entry, and the
// user-interface thread serving sent messages while it waits.
#include <windows.h>
#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <thread>
#include <vector>

#include "device_list_lock.h"

TEST(DeviceListLock, EntriesFollowTheTicketsNotTheThreads) {
    DeviceListLock lock;
    std::vector<uint64_t> tickets;
    for (int i = 0; i < 6; ++i) tickets.push_back(lock.TakeTicket());
    std::mutex m;
    std::vector<int> order;
    std::vector<std::thread> threads;
    std::atomic<int> arrived{0};
    // Arriving last-first: each thread starts once the one before is at the lock.
    for (int i = 5; i >= 0; --i) {
        threads.emplace_back([&, i] {
            ++arrived;
            lock.Enter(tickets[i]);
            {
                std::lock_guard<std::mutex> hold(m);
                order.push_back(i);
            }
            lock.Leave();
        });
        while (arrived.load() < 6 - i) SwitchToThread();
    }
    for (auto& t : threads) t.join();
    EXPECT_EQ(order, (std::vector<int>{0, 1, 2, 3, 4, 5}));
}

TEST(DeviceListLock, GivenUpPlacesAreSkippedAndTheHolderMayEnterAgain) {
    DeviceListLock lock;
    uint64_t first = lock.TakeTicket();
    uint64_t lost = lock.TakeTicket();
    uint64_t third = lock.TakeTicket();
    lock.Enter(first);
    EXPECT_TRUE(lock.HeldByCurrentThread());
    lock.Enter(lock.TakeTicket());  // nested: no wait, its place is given up
    lock.Abandon(lost);
    // The other thread notes whether this one still held the lock when it got in.
    std::atomic<bool> arrived{false}, entered{false}, holding{true}, enteredWhileHeld{false};
    std::thread other([&] {
        arrived = true;
        lock.Enter(third);
        enteredWhileHeld = holding.load();
        entered = true;
        lock.Leave();
    });
    while (!arrived.load()) SwitchToThread();
    lock.Leave();
    EXPECT_TRUE(lock.HeldByCurrentThread());  // still held once
    EXPECT_FALSE(entered.load());
    holding = false;
    lock.Leave();
    EXPECT_FALSE(lock.HeldByCurrentThread());
    other.join();
    EXPECT_TRUE(entered.load());
    EXPECT_FALSE(enteredWhileHeld.load());
    // The line moved past every place: a new ticket is served at once.
    lock.Enter(lock.TakeTicket());
    lock.Leave();
}

TEST(DeviceListLock, WaitingUserInterfaceThreadServesTheHoldersMessages) {
    DeviceListLock lock;
    HWND window =
        CreateWindowExW(0, L"STATIC", L"", 0, 0, 0, 0, 0, HWND_MESSAGE, nullptr, nullptr, nullptr);
    ASSERT_NE(window, nullptr);
    uint64_t workerTicket = lock.TakeTicket();
    uint64_t uiTicket = lock.TakeTicket();
    std::atomic<bool> holding{false};
    std::atomic<bool> answered{false};
    std::thread worker([&] {
        lock.Enter(workerTicket);
        holding = true;
        DWORD_PTR result = 0;
        // Like a tree update: needs the user-interface thread while the lock is held.
        answered =
            SendMessageTimeoutW(window, WM_GETTEXTLENGTH, 0, 0, SMTO_NORMAL, 10000, &result) != 0;
        lock.Leave();
    });
    while (!holding.load()) SwitchToThread();
    lock.EnterPumping(uiTicket);
    EXPECT_TRUE(answered.load());
    lock.Leave();
    worker.join();
    DestroyWindow(window);
}
