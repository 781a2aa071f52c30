// The device list: the connected keys, the lock that guards them, the workers that read keys on
// arrival, drop them on removal and rescan them all, the tickets that keep those updates in the
// order of the events, and the duplicate-serial rule. It tells the window what happened through
// IDeviceListEvents and never touches a window itself.
#pragma once

#include <windows.h>

#include <atomic>
#include <list>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "device_list_lock.h"
#include "items.h"

constexpr char kRefreshMutexName[] = "MYMUTEX";

using KeyList = std::vector<DevicePtr>;

// What the device list tells the user about, each as one short notification.
enum class KeyNews {
    Inserted,   // a key arrived, or a start-up read found keys
    Removed,    // a key was pulled
    PinLocked,  // a key read has no PIN tries left
};

// What the device list reports. Called on worker threads and on the user-interface thread.
class IDeviceListEvents {
  public:
    // A notification for the user (posted: the caller never waits for it).
    virtual void Announce(KeyNews news) = 0;
    // The certificates near or past their end that an insert or a rescan found (none: the
    // previous notice is over); a notification follows when there are any.
    virtual void ExpiryNotice(const ExpiryFacts& facts) = 0;
    // The listed keys changed (or were read anew): the tree shows keys from now on. Called with
    // the list held; returns once the tree shows them.
    virtual void TreeChanged(const KeyList& keys) = 0;
    // The key with this device name is no longer listed (or is about to go): its dialogs
    // close. Never waits for them.
    virtual void KeyGone(const char* devName) = 0;
    // Ask the user to replace the factory-default PIN of this key (posted).
    virtual void AskDefaultPin(const CDevObject* dev) = 0;
    // A full rescan starts (false) or has ended (true): the refresh button follows.
    virtual void RefreshAllowed(bool allowed) = 0;

  protected:
    ~IDeviceListEvents() = default;
};

class CDeviceList {
  public:
    explicit CDeviceList(IDeviceListEvents& events);
    // Shutdown, if not done yet.
    ~CDeviceList();
    CDeviceList(const CDeviceList&) = delete;
    CDeviceList& operator=(const CDeviceList&) = delete;

    // ---- user-interface thread --------------------------------------------------------------
    // The start-up read (store sweep, cache clearing, first rescan), in line before any event.
    void StartStartupRead();
    // A device-interface arrival or removal the system reported.
    void OnArrival(const char* devName);
    void OnRemoval(const char* devName);
    // A full rescan.
    void StartRescan();
    // 1 if a key with this name is listed or its insert is queued (ignoring case). Never waits
    // for the list.
    BOOL CheckIsExistKey(const char* devName);
    // What a re-read of a key found: the read's status and its certificates near their end.
    struct Reread {
        ULONG status;
        ExpiryFacts expiries;
    };
    // Re-reads a key for one of its buttons: new container and certificate objects, the store
    // entries moved to them, the tree rebuilt. A key no longer listed is read but registers
    // nothing.
    Reread RefreshKey(const DevicePtr& dev);
    // Releases every key (their certificates leave the store) and empties the list.
    void ReleaseAll();
    // Stops queued rescans, waits for every worker (serving messages sent to this thread) and
    // releases every key. Nothing starts afterwards.
    void Shutdown();
    // Waits until no worker runs, serving messages sent to this thread meanwhile.
    void WaitForWorkers();

    // ---- any thread -------------------------------------------------------------------------
    // The listed keys, in list order (holds the list briefly).
    KeyList Snapshot();
    // The listed key with this object, or none.
    DevicePtr FindListed(const CDevObject* dev);
    // The reference a dialog keeps on its key. Two attempts at the list without waiting
    // (traced "%s before _ECS...", "%s in _ECS..." under the name), so that a rescan in progress
    // never blocks the user interface; the list is released before this returns.
    DevicePtr HoldForDialog(const DevicePtr& dev, const char* traceName);
    // A full rescan has its place in line or runs.
    bool RescanPending();

  private:
    struct Event;
    using EventHandler = void (CDeviceList::*)(const Event&);
    // What a worker is handed: the list, its job and the event's place in line and name.
    struct Event {
        CDeviceList* list;
        EventHandler handler;
        uint64_t ticket;
        char devName[kDevNameSize];
    };
    static unsigned __stdcall WorkerProc(void* record);
    // Starts a worker for the event; false (the event's place given up) when none starts.
    bool StartWorker(EventHandler handler, const char* devName, bool takeTicket);
    void WorkerDone();
    void ForgetPendingInsert(const char* devName);
    // The workers' jobs: DeviceInsertProc, DeviceRemoveProc, the start-up read and a refresh.
    void InsertKey(const Event& ev);
    void RemoveKey(const Event& ev);
    void StartupRead(const Event& ev);
    void Refresh(const Event& ev);
    void EnumDevInfoProc(int flags, uint64_t ticket, bool startup);

    // The following need the lock.
    // Opens and reads a key; none when it cannot be opened or read (logged). The expiries of a
    // key read are added to found.
    DevicePtr ReadKey(const char* devName, bool insert, ExpiryFacts* found);
    ULONG DevList_EnumDev(ExpiryFacts* found);
    void AddDevice(const DevicePtr& dev);
    int DevList_DelSpecialDev(const char* devName);
    void DevList_DelAllDev();
    // Unlinks a key; its certificates leave the store unless a listed key holds them too.
    void ReleaseKey(std::list<DevicePtr>::iterator it);
    void ShowTree(int reason, const char* devName);
    void PublishNames();
    KeyList ListedLocked() const { return KeyList(m_devices.begin(), m_devices.end()); }

    IDeviceListEvents& m_events;
    std::list<DevicePtr> m_devices;
    DeviceListLock m_lock;
    HANDLE m_refreshMutex = nullptr;
    HANDLE m_stopEvent = nullptr;    // set at shutdown; queued refreshes give up
    HANDLE m_workersIdle = nullptr;  // set when no worker runs
    std::atomic<int> m_workers{0};
    bool m_shutDown = false;

    // Names of listed keys and of keys whose insert is still queued, for the device-change
    // handler on the user-interface thread. Replaced as a whole under a short mutex that is
    // never held while anything else is done, so the handler never waits on the list.
    std::mutex m_namesMutex;
    std::vector<std::string> m_listedNames;
    std::vector<std::string> m_pendingInserts;
    int m_rescansRunning = 0;  // full rescans between their start and their last list change
};

// Case-insensitive comparison of device names and serial numbers.
bool SameDeviceName(const char* a, const char* b);
// Clears the system's SSL and URL caches (logged).
void ClearCaches();
