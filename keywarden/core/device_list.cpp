// The device list: device events in, the insert, remove and rescan workers, the list with its
// duplicate-serial rule, and the store entries of the listed keys.
#include "device_list.h"

#include <process.h>
#include <string.h>

#include <algorithm>

#include "kit/platform.h"
#include "log.h"
#include "resources.h"

bool SameDeviceName(const char* a, const char* b) { return a && b && _stricmp(a, b) == 0; }

namespace {

// Waits for a handle while delivering messages sent to this thread's windows, so that
// workers that send to the main window can finish.
void WaitServingSentMessages(HANDLE handle) {
    for (;;) {
        MSG msg;
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
        DWORD r = MsgWaitForMultipleObjects(1, &handle, FALSE, INFINITE, QS_SENDMESSAGE);
        if (r == WAIT_OBJECT_0 || r == WAIT_FAILED) return;
    }
}

// A worker that meets an exception it cannot handle ends the program the way a crash does
// (the terminate handler removes the registered certificates first), never half-way through.
template <typename Body>
void RunWorkerBody(Body body) noexcept {
    body();
}

}  // namespace

CDeviceList::CDeviceList(IDeviceListEvents& events) : m_events(events) {
    m_refreshMutex = CreateMutexA(nullptr, FALSE, kRefreshMutexName);
    m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_workersIdle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
}

CDeviceList::~CDeviceList() {
    Shutdown();
    if (m_refreshMutex) CloseHandle(m_refreshMutex);
    CloseHandle(m_stopEvent);
    CloseHandle(m_workersIdle);
}

void CDeviceList::Shutdown() {
    if (m_shutDown) return;
    m_shutDown = true;
    // Workers use this list: queued refreshes give up, the rest end before anything goes.
    SetEvent(m_stopEvent);
    WaitForWorkers();
    ReleaseAll();
}

void CDeviceList::WaitForWorkers() { WaitServingSentMessages(m_workersIdle); }

void CDeviceList::ReleaseAll() {
    DeviceListGuard guard(m_lock, "CMainDlg::DevList_DelAllDev", DeviceListGuard::UiThread);
    DevList_DelAllDev();
}

// ---- device events (user-interface thread) -----------------------------------------------------

void CDeviceList::StartStartupRead() {
    // The start-up read takes its place in line now, before any device event can be seen,
    // so that the store sweep never runs beside an insert that registers certificates.
    StartWorker(&CDeviceList::StartupRead, "", true);
}

void CDeviceList::OnArrival(const char* name) {
    if (devlib::CheckDeviceName(name) != 0) return;
    LogMessage(LOG_LEVEL_DEBUG, "Ukey Insert");
    {
        std::lock_guard<std::mutex> hold(m_namesMutex);
        m_pendingInserts.emplace_back(name);
    }
    if (!StartWorker(&CDeviceList::InsertKey, name, true)) ForgetPendingInsert(name);
}

void CDeviceList::OnRemoval(const char* name) {
    if (!CheckIsExistKey(name)) {
        // A rescan that is reading the keys may list this one yet (it was read before it
        // went): its removal then has to follow the rescan.
        if (!RescanPending() || devlib::CheckDeviceName(name) != 0) return;
    }
    LogMessage(LOG_LEVEL_DEBUG, "Ukey Remove");
    StartWorker(&CDeviceList::RemoveKey, name, true);
}

void CDeviceList::StartRescan() {
    StartWorker(&CDeviceList::Refresh, "", false);  // its place in line comes behind the mutex
}

BOOL CDeviceList::CheckIsExistKey(const char* devName) {
    LogScope trace("CMainDlg::CheckIsExistKey");
    bool found = false;
    if (devName) {
        std::lock_guard<std::mutex> hold(m_namesMutex);
        auto same = [&](const std::string& s) { return SameDeviceName(s.c_str(), devName); };
        // A key whose insert is still queued counts as listed: its pull must follow it.
        found = std::any_of(m_listedNames.begin(), m_listedNames.end(), same) ||
                std::any_of(m_pendingInserts.begin(), m_pendingInserts.end(), same);
    }
    trace.SetEnd(found ? "%s end true..." : "%s end false...");
    return found ? 1 : 0;
}

bool CDeviceList::RescanPending() {
    std::lock_guard<std::mutex> hold(m_namesMutex);
    return m_rescansRunning > 0;
}

CDeviceList::Reread CDeviceList::RefreshKey(const DevicePtr& dev) {
    if (!dev) return {KW_ERR_NULL_POINTER, {}};
    DeviceListGuard guard(m_lock, "CMainDlg::RefreshKey", DeviceListGuard::UiThread);
    const bool listed = std::find(m_devices.begin(), m_devices.end(), dev) != m_devices.end();
    CertStoreSession storeSession;
    std::vector<CertPtr> before = dev->Certificates();
    Reread found{dev->GetAllInfo(), {}};
    found.expiries = dev->Expiries();
    if (!listed) return found;  // a key that went meanwhile registers nothing
    std::vector<CertPtr> now = dev->Certificates();
    // The store entries move to the new objects; certificates the key no longer has leave.
    for (const CertPtr& old : before) {
        bool kept = std::any_of(now.begin(), now.end(), [&](const CertPtr& c) {
            return c != old && c->SameCertificate(*old);
        });
        if (kept)
            old->HandOverRegistration();
        else if (std::find(now.begin(), now.end(), old) == now.end())
            old->UnregisterCert();
    }
    for (const CertPtr& cert : now)
        if (!cert->Registered()) cert->RegisterCert();
    PublishNames();
    ShowTree(TREE_KEY_REREAD, nullptr);
    return found;
}

KeyList CDeviceList::Snapshot() {
    DeviceListGuard guard(m_lock, "CMainDlg::Snapshot", DeviceListGuard::UiThread);
    return ListedLocked();
}

DevicePtr CDeviceList::HoldForDialog(const DevicePtr& dev, const char* traceName) {
    LogMessage(LOG_LEVEL_DEBUG, "%s before _ECS...", traceName);
    bool held = m_lock.TryEnter() || m_lock.TryEnter();
    LogMessage(LOG_LEVEL_DEBUG, "%s in _ECS...", traceName);
    DevicePtr reference = dev;
    if (held) m_lock.Leave();
    return reference;
}

DevicePtr CDeviceList::FindListed(const CDevObject* dev) {
    DeviceListGuard guard(m_lock, "CMainDlg::IsListed", DeviceListGuard::UiThread);
    for (const DevicePtr& d : m_devices)
        if (d.get() == dev) return d;
    return nullptr;
}

void CDeviceList::PublishNames() {
    std::vector<std::string> names;
    names.reserve(m_devices.size());
    for (const DevicePtr& d : m_devices) names.emplace_back(d->devName);
    std::lock_guard<std::mutex> hold(m_namesMutex);
    m_listedNames.swap(names);
}

void CDeviceList::ForgetPendingInsert(const char* devName) {
    std::lock_guard<std::mutex> hold(m_namesMutex);
    auto it = std::find(m_pendingInserts.begin(), m_pendingInserts.end(), std::string(devName));
    if (it != m_pendingInserts.end()) m_pendingInserts.erase(it);
}

// ---- workers --------------------------------------------------------------------------------

bool CDeviceList::StartWorker(EventHandler handler, const char* devName, bool takeTicket) {
    std::unique_ptr<Event> ev(new (std::nothrow) Event{this, handler, 0, {}});
    if (!ev || m_shutDown) return false;
    strncpy(ev->devName, devName, kDevNameSize - 1);
    if (takeTicket) ev->ticket = m_lock.TakeTicket();
    if (m_workers.fetch_add(1) == 0) ResetEvent(m_workersIdle);
    uintptr_t h = _beginthreadex(nullptr, 0, WorkerProc, ev.get(), 0, nullptr);
    if (!h) {
        if (takeTicket) m_lock.Abandon(ev->ticket);
        WorkerDone();
        return false;
    }
    ev.release();  // the worker owns it now
    CloseHandle(reinterpret_cast<HANDLE>(h));
    return true;
}

void CDeviceList::WorkerDone() {
    if (m_workers.fetch_sub(1) == 1) SetEvent(m_workersIdle);
}

unsigned __stdcall CDeviceList::WorkerProc(void* record) {
    std::unique_ptr<Event> ev(static_cast<Event*>(record));
    CDeviceList* list = ev->list;
    RunWorkerBody([&] { (list->*(ev->handler))(*ev); });
    list->WorkerDone();
    return 0;
}

void CDeviceList::StartupRead(const Event& ev) { EnumDevInfoProc(TREE_STARTUP, ev.ticket, true); }

void CDeviceList::Refresh(const Event&) {
    HANDLE handles[2] = {m_refreshMutex, m_stopEvent};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0) {
        EnumDevInfoProc(TREE_REFRESH, m_lock.TakeTicket(), false);
        ReleaseMutex(m_refreshMutex);
    }
}

void CDeviceList::InsertKey(const Event& ev) {
    LogScope trace("DeviceInsertProc");
    ApplyLanguage(LanguageChoice());
    m_events.Announce(KeyNews::Inserted);
    ExpiryFacts expiries;
    {
        DeviceListGuard guard(m_lock, ev.ticket, "DeviceInsertProc");
        CertStoreSession storeSession;
        if (DevicePtr dev = ReadKey(ev.devName, true, &expiries)) {
            AddDevice(dev);
            ShowTree(TREE_KEY_INSERTED, ev.devName);
        }
        ForgetPendingInsert(ev.devName);
    }
    m_events.ExpiryNotice(expiries);
}

void CDeviceList::RemoveKey(const Event& ev) {
    LogScope trace("DeviceRemoveProc");
    ApplyLanguage(LanguageChoice());
    m_events.Announce(KeyNews::Removed);
    // The key's dialogs close; they hold their key's object, so the list need not wait.
    m_events.KeyGone(ev.devName);
    DeviceListGuard guard(m_lock, ev.ticket, "DeviceRemoveProc");
    DevList_DelSpecialDev(ev.devName);
    m_events.KeyGone(ev.devName);  // and any dialog of it opened meanwhile
    ShowTree(TREE_KEY_REMOVED, nullptr);
    ClearCaches();
}

void CDeviceList::EnumDevInfoProc(int flags, uint64_t ticket, bool startup) {
    LogScope trace("EnumDevInfoProc");
    ApplyLanguage(LanguageChoice());
    // Counted from the moment the rescan has its place in line until its last list change.
    struct Rescanning {
        CDeviceList* list;
        explicit Rescanning(CDeviceList* l) : list(l) {
            std::lock_guard<std::mutex> hold(list->m_namesMutex);
            ++list->m_rescansRunning;
        }
        ~Rescanning() {
            std::lock_guard<std::mutex> hold(list->m_namesMutex);
            --list->m_rescansRunning;
        }
    } rescanning(this);
    DeviceListGuard guard(m_lock, ticket, "EnumDevInfoProc");
    if (startup) {
        // Leftovers of an earlier run go before the keys present register theirs.
        SweepProviderCertificates();
        ClearCaches();
    }
    m_events.RefreshAllowed(false);
    CertStoreSession storeSession;  // one write-back of the store for the whole rescan
    std::vector<std::string> before;
    for (const DevicePtr& d : m_devices) before.emplace_back(d->devName);
    DevList_DelAllDev();
    ExpiryFacts expiries;
    DevList_EnumDev(&expiries);
    // Dialogs of keys the rescan did not find again close; the others keep their key.
    for (const std::string& name : before) {
        bool found = std::any_of(m_devices.begin(), m_devices.end(), [&](const DevicePtr& d) {
            return SameDeviceName(d->devName, name.c_str());
        });
        if (!found) m_events.KeyGone(name.c_str());
    }
    if ((flags & TREE_ANNOUNCE_KEYS) && !m_devices.empty()) m_events.Announce(KeyNews::Inserted);
    m_events.ExpiryNotice(expiries);
    ShowTree(flags, nullptr);
    m_events.RefreshAllowed(true);
}

// ---- the list (lock held) -------------------------------------------------------------------

DevicePtr CDeviceList::ReadKey(const char* devName, bool insert, ExpiryFacts* found) {
    auto dev = std::make_shared<CDevObject>(devName);
    if (dev->OpenToken() != 0) return nullptr;
    ULONG st = dev->GetAllInfo();
    if (st != 0) {
        if (insert)
            LogMessage(LOG_LEVEL_ERROR, "获取设备信息失败");
        else
            LogMessage(LOG_LEVEL_ERROR, "获取设备信息失败[%#x]", static_cast<unsigned>(st));
        return nullptr;
    }
    dev->LogDump();
    if (dev->pinRetries == 0) m_events.Announce(KeyNews::PinLocked);
    if (found) {
        ExpiryFacts more = dev->Expiries();
        found->insert(found->end(), more.begin(), more.end());
    }
    return dev;
}

ULONG CDeviceList::DevList_EnumDev(ExpiryFacts* found) {
    LogScope trace("CMainDlg::DevList_EnumDev");
    std::vector<char> names(kMaxEnumDevices * kDevNameSize, 0);
    ULONG count = kMaxEnumDevices;
    ULONG rv = devlib::EnumDevices(names.data(), &count);
    if (rv != 0) {
        LogMessage(LOG_LEVEL_ERROR, "枚举设备失败[%#x]", static_cast<unsigned>(rv));
        return rv;
    }
    count = std::min(count, kMaxEnumDevices);
    for (ULONG i = 0; i < count; ++i) {
        char* name = names.data() + i * kDevNameSize;
        name[kDevNameSize - 1] = 0;
        if (DevicePtr dev = ReadKey(name, false, found)) AddDevice(dev);
    }
    return 0;
}

void CDeviceList::AddDevice(const DevicePtr& dev) {
    if (dev->serial[0]) {
        for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
            if (_stricmp((*it)->serial, dev->serial) != 0) continue;
            LogMessage(LOG_LEVEL_ERROR, "设备SN检测到重复，删除之前设备");
            std::string oldName = (*it)->devName;
            ReleaseKey(it);
            if (!SameDeviceName(oldName.c_str(), dev->devName)) m_events.KeyGone(oldName.c_str());
            break;
        }
    }
    // Registration is the step that makes a listed key's certificates visible to others.
    dev->RegisterCertificates();
    m_devices.push_back(dev);
    PublishNames();
}

void CDeviceList::ReleaseKey(std::list<DevicePtr>::iterator it) {
    DevicePtr dev = *it;
    m_devices.erase(it);
    CertStoreSession storeSession;
    for (const CertPtr& cert : dev->Certificates()) {
        // A certificate another listed key holds too keeps its entry.
        bool shared = std::any_of(m_devices.begin(), m_devices.end(), [&](const DevicePtr& other) {
            auto certs = other->Certificates();
            return std::any_of(certs.begin(), certs.end(), [&](const CertPtr& c) {
                return c->Registered() && c->SameCertificate(*cert);
            });
        });
        if (shared)
            cert->HandOverRegistration();
        else
            cert->UnregisterCert();
    }
}

int CDeviceList::DevList_DelSpecialDev(const char* devName) {
    LogScope trace("CMainDlg::DevList_DelSpecialDev");
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (!SameDeviceName((*it)->devName, devName)) continue;
        ReleaseKey(it);
        PublishNames();
        trace.SetEnd("%s end ok...");
        return 0;
    }
    trace.SetEnd("%s end false...");
    return -2;
}

void CDeviceList::DevList_DelAllDev() {
    LogScope trace("CMainDlg::DevList_DelAllDev");
    CertStoreSession storeSession;
    while (!m_devices.empty()) ReleaseKey(m_devices.begin());
    PublishNames();
}

void CDeviceList::ShowTree(int reason, const char* devName) {
    KeyList keys = ListedLocked();
    m_events.TreeChanged(keys);
    // The default-PIN prompt: never for a language switch, a removal or a re-read; for an
    // insert only for the inserted key; silent rescans are filtered by the receiver.
    const int kind = reason & ~TREE_ANNOUNCE_KEYS;
    if (kind == TREE_LANGUAGE || kind == TREE_KEY_REMOVED || kind == TREE_KEY_REREAD) return;
    for (const DevicePtr& dev : keys) {
        if (kind == TREE_KEY_INSERTED && !(devName && SameDeviceName(devName, dev->devName)))
            continue;
        if (dev->WantsDefaultPinPrompt()) m_events.AskDefaultPin(dev.get());
    }
}

void ClearCaches() {
    // Both are the system's own modules: from the system folder only, each unloaded after use.
    using SslEmptyCacheFn = BOOL(WINAPI*)(LPSTR, DWORD);
    kit::Module ssl = kit::Module::load_system("SCHANNEL.DLL");
    if (auto fn = ssl.function<SslEmptyCacheFn>("SslEmptyCacheA"))
        LogMessage(LOG_LEVEL_DEBUG,
                   fn(nullptr, 0) == TRUE ? "clear SSL Cache succ" : "clear SSL Cache failed");
    using IncrementFn = BOOL(WINAPI*)(DWORD, LPDWORD);
    kit::Module inet = kit::Module::load_system("wininet.DLL");
    if (auto fn = inet.function<IncrementFn>("IncrementUrlCacheHeaderData")) {
        DWORD value = 0;
        LogMessage(LOG_LEVEL_DEBUG,
                   fn(14, &value) == TRUE ? "clear URL Cache succ" : "clear URL Cache failed");
    }
}
