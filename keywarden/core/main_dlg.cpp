// The main dialog's device list: device-change notifications, the insert, remove and rescan
// workers, the list with its duplicate-serial rule, and the tree rebuild.
#include "main_dlg.h"

#include <dbt.h>
#include <process.h>
#include <string.h>

#include <algorithm>

#include "log.h"
#include "resources.h"

std::atomic<int> CMainDlg::s_silentRescan{0};

bool SameDeviceName(const char* a, const char* b) { return a && b && _stricmp(a, b) == 0; }

namespace {

// Device-interface classes watched: CD-ROM, disk, HID.
const GUID kWatchedClasses[] = {
    {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
};

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

// Every certificate of a released key leaves the store unless another listed key holds the
// same certificate (a key that came back under a new name): that one's entry stays.
void KeepSharedCertificates(CDevObject* leaving, const std::list<CDevObject*>& others) {
    for (CContainObj* c : leaving->containers) {
        if (!c) continue;
        for (CCertObject* cert : {c->exchangeCert, c->signatureCert}) {
            if (!cert) continue;
            for (CDevObject* other : others) {
                if (other == leaving) continue;
                for (CContainObj* oc : other->containers) {
                    if (!oc) continue;
                    for (CCertObject* ocert : {oc->exchangeCert, oc->signatureCert}) {
                        if (ocert && ocert->derLength == cert->derLength &&
                            memcmp(ocert->der, cert->der, cert->derLength) == 0 && !oc->IsSM2())
                            cert->KeepInStoreOnRelease();
                    }
                }
            }
        }
    }
}

}  // namespace

struct CMainDlg::Event {
    CMainDlg* dlg;
    uint64_t ticket;
    char devName[kDevNameSize];
};

CMainDlg::CMainDlg() {
    m_refreshMutex = CreateMutexA(nullptr, FALSE, kRefreshMutexName);
    m_stopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    m_workersIdle = CreateEventW(nullptr, TRUE, TRUE, nullptr);
}

CMainDlg::~CMainDlg() {
    // Workers hold a pointer to this dialog: let queued refreshes give up and wait for the
    // rest to end before anything is freed.
    SetEvent(m_stopEvent);
    WaitServingSentMessages(m_workersIdle);
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    {
        DeviceListGuard guard(m_lock, "CMainDlg::~CMainDlg", DeviceListGuard::UiThread);
        DevList_DelAllDev();
    }
    for (HDEVNOTIFY n : m_notifications) UnregisterDeviceNotification(n);
    m_notifications.clear();
    if (m_refreshMutex) CloseHandle(m_refreshMutex);
    CloseHandle(m_stopEvent);
    CloseHandle(m_workersIdle);
}

bool CMainDlg::RegisterWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(instance, L"#32770", &wc)) return false;
    wc.hInstance = instance;
    wc.lpszClassName = L"KEVAClientClass";
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

HWND CMainDlg::Create(HINSTANCE instance, HWND parent) {
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAINDLG), parent, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CMainDlg* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CMainDlg*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
    } else {
        self = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    LRESULT result = 0;
    if (!self->HandleMessage(msg, wParam, lParam, &result)) return FALSE;
    if (msg == WM_INITDIALOG) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

bool CMainDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    switch (msg) {
        case WM_INITDIALOG:
            OnInitDialog();
            *result = TRUE;
            return true;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam, lParam);
            *result = TRUE;
            return true;
        case UM_REMOVEDLG:
            OnRemoveDialogs(reinterpret_cast<const char*>(lParam), static_cast<int>(wParam));
            return true;
        case WM_CLOSE:
            ShowWindow(m_hWnd, SW_HIDE);
            return true;
        case UM_QUIT: {
            {
                DeviceListGuard guard(m_lock, "CMainDlg::OnQuit", DeviceListGuard::UiThread);
                DevList_DelAllDev();
            }
            DestroyWindow(m_hWnd);
            PostQuitMessage(0);
            return true;
        }
        case WM_DESTROY:
            for (HDEVNOTIFY n : m_notifications) UnregisterDeviceNotification(n);
            m_notifications.clear();
            return false;
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case IDC_REFRESH:
                    if (!PromptBusy()) StartRescan(false);
                    return true;
                case ID_SILENT_REFRESH:
                    StartRescan(true);
                    return true;
                case IDOK:
                    if (!PromptBusy()) ShowWindow(m_hWnd, SW_HIDE);
                    return true;
                case ID_TRAY_OPEN:
                    ShowWindow(m_hWnd, SW_SHOWNORMAL);
                    SetForegroundWindow(m_hWnd);
                    return true;
                case 2:
                case 2000:
                case ID_TRAY_EXIT:
                    DestroyWindow(m_hWnd);
                    PostQuitMessage(LOWORD(wParam));
                    return true;
            }
            return false;
    }
    return false;
}

void CMainDlg::OnInitDialog() {
    m_tree = GetDlgItem(m_hWnd, IDC_DEVICE_TREE);
    RegisterDeviceNotifications();
    // The start-up read takes its place in line now, before any device event can be seen,
    // so that the store sweep never runs beside an insert that registers certificates.
    auto* ev = new Event{this, m_lock.TakeTicket(), {}};
    if (!StartWorker(StartupProc, ev)) {
        m_lock.Abandon(ev->ticket);
        delete ev;
    }
}

void CMainDlg::RegisterDeviceNotifications() {
    for (const GUID& cls : kWatchedClasses) {
        DEV_BROADCAST_DEVICEINTERFACE_W filter = {};
        filter.dbcc_size = sizeof filter;
        filter.dbcc_devicetype = DBT_DEVTYP_DEVICEINTERFACE;
        filter.dbcc_classguid = cls;
        HDEVNOTIFY n = RegisterDeviceNotificationW(m_hWnd, &filter, DEVICE_NOTIFY_WINDOW_HANDLE);
        if (!n) break;
        m_notifications.push_back(n);
    }
}

void CMainDlg::OnRemoveDialogs(const char* devName, int which) {
    if (!devName) return;
    // The per-key dialogs run while the user-interface thread holds the list (their key must
    // stay), so all of them are told before the remove worker waits for the list, and again
    // once it has it. A key object that goes tells all of them. Ending a dialog that is
    // already ending changes nothing.
    (void)which;
    for (CDevBaseDlg* d : m_openDialogs)
        if (d) d->RemoveDlg(devName);
}

// ---- device-change handling (user-interface thread) ---------------------------------------

void CMainDlg::OnDeviceChange(WPARAM event, LPARAM data) {
    if (!data) return;
    auto* header = reinterpret_cast<const DEV_BROADCAST_HDR*>(data);
    if (header->dbch_devicetype != DBT_DEVTYP_DEVICEINTERFACE) return;
    if (event != DBT_DEVICEARRIVAL && event != DBT_DEVICEREMOVECOMPLETE) return;
    auto* iface = reinterpret_cast<const DEV_BROADCAST_DEVICEINTERFACE_W*>(data);
    char name[kDevNameSize] = {};
    // The name ends within the record; never read past what the sender declared.
    size_t maxChars = 0;
    if (header->dbch_size > offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name))
        maxChars = (header->dbch_size - offsetof(DEV_BROADCAST_DEVICEINTERFACE_W, dbcc_name)) /
                   sizeof(wchar_t);
    size_t len = 0;
    while (len < maxChars && iface->dbcc_name[len]) ++len;
    if (len == 0) return;
    WideCharToMultiByte(CP_ACP, 0, iface->dbcc_name, static_cast<int>(len), name, kDevNameSize - 1,
                        nullptr, nullptr);

    if (event == DBT_DEVICEARRIVAL) {
        if (devlib::CheckDeviceName(name) != 0) return;
        LogMessage(LOG_LEVEL_DEBUG, "Ukey Insert");
        auto* ev = new (std::nothrow) Event{this, 0, {}};
        if (!ev) return;
        memcpy(ev->devName, name, sizeof name);
        {
            std::lock_guard<std::mutex> hold(m_namesMutex);
            m_pendingInserts.emplace_back(name);
        }
        ev->ticket = m_lock.TakeTicket();
        if (!StartWorker(DeviceInsertProc, ev)) {
            m_lock.Abandon(ev->ticket);
            std::lock_guard<std::mutex> hold(m_namesMutex);
            auto it =
                std::find(m_pendingInserts.begin(), m_pendingInserts.end(), std::string(name));
            if (it != m_pendingInserts.end()) m_pendingInserts.erase(it);
            delete ev;
        }
    } else {
        if (!CheckIsExistKey(name)) {
            // A rescan that is reading the keys may list this one yet (it was read before it
            // went): its removal then has to follow the rescan.
            bool rescanning;
            {
                std::lock_guard<std::mutex> hold(m_namesMutex);
                rescanning = m_rescansRunning > 0;
            }
            if (!rescanning || devlib::CheckDeviceName(name) != 0) return;
        }
        LogMessage(LOG_LEVEL_DEBUG, "Ukey Remove");
        auto* ev = new (std::nothrow) Event{this, 0, {}};
        if (!ev) return;
        memcpy(ev->devName, name, sizeof name);
        ev->ticket = m_lock.TakeTicket();
        if (!StartWorker(DeviceRemoveProc, ev)) {
            m_lock.Abandon(ev->ticket);
            delete ev;
        }
    }
}

BOOL CMainDlg::CheckIsExistKey(const char* devName) {
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

void CMainDlg::PublishNames() {
    std::vector<std::string> names;
    names.reserve(m_devices.size());
    for (CDevObject* d : m_devices) names.emplace_back(d->devName);
    std::lock_guard<std::mutex> hold(m_namesMutex);
    m_listedNames.swap(names);
}

// ---- workers --------------------------------------------------------------------------------

bool CMainDlg::StartWorker(unsigned(__stdcall* proc)(void*), void* arg) {
    if (m_workers.fetch_add(1) == 0) ResetEvent(m_workersIdle);
    uintptr_t h = _beginthreadex(nullptr, 0, proc, arg, 0, nullptr);
    if (!h) {
        WorkerDone();
        return false;
    }
    CloseHandle(reinterpret_cast<HANDLE>(h));
    return true;
}

void CMainDlg::WorkerDone() {
    if (m_workers.fetch_sub(1) == 1) SetEvent(m_workersIdle);
}

unsigned __stdcall CMainDlg::DeviceInsertProc(void* record) {
    Event ev = *static_cast<Event*>(record);
    delete static_cast<Event*>(record);
    CMainDlg* dlg = ev.dlg;
    bool notice = false;
    {
        LogScope trace("DeviceInsertProc");
        PostMessageW(dlg->m_hWnd, UM_BALLOON, IDS_UKEY_INSERTED, 0);
        DeviceListGuard guard(dlg->m_lock, ev.ticket, "DeviceInsertProc");
        auto* dev = new CDevObject(ev.devName, dlg);
        if (dev->OpenToken() != 0) {
            delete dev;
        } else {
            CertNotice_Clear();
            if (dev->GetAllInfo() != 0) {
                LogMessage(LOG_LEVEL_ERROR, "获取设备信息失败");
                delete dev;
            } else {
                dev->LogDump();
                if (dev->pinRetries == 0) PostMessageW(dlg->m_hWnd, UM_BALLOON, IDS_PIN_LOCKED, 0);
                dlg->AddDevice(dev);
                dlg->UpdateTreeUI(TREE_KEY_INSERTED, ev.devName);
                notice = CertNotice_Finish();
            }
        }
        {
            std::lock_guard<std::mutex> hold(dlg->m_namesMutex);
            auto& p = dlg->m_pendingInserts;
            auto it = std::find_if(p.begin(), p.end(),
                                   [&](const std::string& s) { return s == ev.devName; });
            if (it != p.end()) p.erase(it);
        }
        if (notice) PostMessageW(dlg->m_hWnd, UM_BALLOON, IDS_CERT_NOTICE_TITLE, 0);
    }
    dlg->WorkerDone();
    return 0;
}

unsigned __stdcall CMainDlg::DeviceRemoveProc(void* record) {
    Event ev = *static_cast<Event*>(record);
    delete static_cast<Event*>(record);
    CMainDlg* dlg = ev.dlg;
    {
        LogScope trace("DeviceRemoveProc");
        PostMessageW(dlg->m_hWnd, UM_BALLOON, IDS_UKEY_REMOVED, 0);
        SendMessageW(dlg->m_hWnd, UM_REMOVEDLG, REMOVEDLG_BEFORE_LOCK,
                     reinterpret_cast<LPARAM>(ev.devName));
        DeviceListGuard guard(dlg->m_lock, ev.ticket, "DeviceRemoveProc");
        SendMessageW(dlg->m_hWnd, UM_REMOVEDLG, REMOVEDLG_IN_LOCK,
                     reinterpret_cast<LPARAM>(ev.devName));
        dlg->DevList_DelSpecialDev(ev.devName);
        dlg->UpdateTreeUI(TREE_KEY_REMOVED, nullptr);
        ClearCaches();
    }
    dlg->WorkerDone();
    return 0;
}

unsigned __stdcall CMainDlg::StartupProc(void* record) {
    Event ev = *static_cast<Event*>(record);
    delete static_cast<Event*>(record);
    CMainDlg* dlg = ev.dlg;
    dlg->EnumDevInfoProc(0x10 | 1, ev.ticket, true);
    dlg->WorkerDone();
    return 0;
}

unsigned __stdcall CMainDlg::RefreshProc(void* self) {
    auto* dlg = static_cast<CMainDlg*>(self);
    HANDLE handles[2] = {dlg->m_refreshMutex, dlg->m_stopEvent};
    DWORD r = WaitForMultipleObjects(2, handles, FALSE, INFINITE);
    if (r == WAIT_OBJECT_0 || r == WAIT_ABANDONED_0) {
        dlg->EnumDevInfoProc(1, dlg->m_lock.TakeTicket(), false);
        ReleaseMutex(dlg->m_refreshMutex);
    }
    dlg->WorkerDone();
    return 0;
}

void CMainDlg::StartRescan(bool silent) {
    s_silentRescan = silent ? 1 : 0;
    StartWorker(RefreshProc, this);
}

void CMainDlg::EnumDevInfoProc(int flags, uint64_t ticket, bool startup) {
    LogScope trace("EnumDevInfoProc");
    // Counted from the moment the rescan has its place in line until its last list change.
    struct Rescanning {
        CMainDlg* dlg;
        explicit Rescanning(CMainDlg* d) : dlg(d) {
            std::lock_guard<std::mutex> hold(dlg->m_namesMutex);
            ++dlg->m_rescansRunning;
        }
        ~Rescanning() {
            std::lock_guard<std::mutex> hold(dlg->m_namesMutex);
            --dlg->m_rescansRunning;
        }
    } rescanning(this);
    DeviceListGuard guard(m_lock, ticket, "EnumDevInfoProc");
    if (startup) {
        // Leftovers of an earlier run go before the keys present register theirs.
        SweepProviderCertificates();
        ClearCaches();
    }
    EnableButtons(8, FALSE);
    CertStoreSession storeSession;  // one write-back of the store for the whole rescan
    DevList_DelAllDev();
    CertNotice_Clear();
    DevList_EnumDev();
    if ((flags & 0x10) && !m_devices.empty())
        PostMessageW(m_hWnd, UM_BALLOON, IDS_UKEY_INSERTED, 0);
    if (CertNotice_Finish()) PostMessageW(m_hWnd, UM_BALLOON, IDS_CERT_NOTICE_TITLE, 0);
    UpdateTreeUI(flags, nullptr);
    EnableButtons(8, TRUE);
}

// ---- the list (device-list lock held) --------------------------------------------------------

ULONG CMainDlg::DevList_EnumDev() {
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
        auto* dev = new CDevObject(name, this);
        if (dev->OpenToken() != 0) {
            delete dev;
            continue;
        }
        ULONG st = dev->GetAllInfo();
        if (st != 0) {
            LogMessage(LOG_LEVEL_ERROR, "获取设备信息失败[%#x]", static_cast<unsigned>(st));
            delete dev;
            continue;
        }
        if (dev->pinRetries == 0) PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_LOCKED, 0);
        dev->LogDump();
        AddDevice(dev);
    }
    return 0;
}

void CMainDlg::AddDevice(CDevObject* dev) {
    if (!dev) return;
    if (dev->serial[0]) {
        for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
            if (_stricmp((*it)->serial, dev->serial) != 0) continue;
            LogMessage(LOG_LEVEL_ERROR, "设备SN检测到重复，删除之前设备");
            // The new entry has registered the same certificates already; they stay.
            std::list<CDevObject*> newcomer{dev};
            KeepSharedCertificates(*it, newcomer);
            UnlinkDevice(it);
            break;
        }
    }
    m_devices.push_back(dev);
    PublishNames();
}

void CMainDlg::UnlinkDevice(std::list<CDevObject*>::iterator it) {
    CDevObject* dev = *it;
    m_devices.erase(it);
    KeepSharedCertificates(dev, m_devices);
    delete dev;
}

int CMainDlg::DevList_DelSpecialDev(const char* devName) {
    LogScope trace("CMainDlg::DevList_DelSpecialDev");
    for (auto it = m_devices.begin(); it != m_devices.end(); ++it) {
        if (!SameDeviceName((*it)->devName, devName)) continue;
        UnlinkDevice(it);
        PublishNames();
        trace.SetEnd("%s end ok...");
        return 0;
    }
    trace.SetEnd("%s end false...");
    return -2;
}

void CMainDlg::DevList_DelAllDev() {
    LogScope trace("CMainDlg::DevList_DelAllDev");
    std::list<CDevObject*> all;
    all.swap(m_devices);
    PublishNames();
    CertStoreSession storeSession;
    for (CDevObject* d : all) delete d;
}

bool CMainDlg::IsListed(const CDevObject* dev) const {
    return std::find(m_devices.begin(), m_devices.end(), dev) != m_devices.end();
}

// ---- window parts -----------------------------------------------------------------------------

void CMainDlg::EnableButtons(int mask, BOOL enable) {
    if (!m_hWnd) return;
    const struct {
        int bit, id;
    } map[] = {{1, IDC_MODIFY_PIN}, {2, IDC_MODIFY_LABEL}, {4, IDC_VIEW_CERT}, {8, IDC_REFRESH}};
    for (auto m : map)
        if (mask & m.bit)
            if (HWND b = GetDlgItem(m_hWnd, m.id)) EnableWindow(b, enable);
}

void CMainDlg::ApplyLanguage(int choice) {
    LANGID lang = choice == 1 ? 2052 : choice == 2 ? 1028 : choice == 9 ? 1033 : 0;
    if (!lang) return;
    SetThreadUILanguage(lang);
    SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
}

void CMainDlg::CleanTreeData() {
    LogScope trace("CMainDlg::CleanTreeData");
    if (!m_tree) return;
    // No item may point at an object once the objects go, whatever the tree reports meanwhile.
    std::vector<HTREEITEM> pending;
    auto next = [&](HTREEITEM from, UINT how) {
        return reinterpret_cast<HTREEITEM>(
            SendMessageW(m_tree, TVM_GETNEXTITEM, how, reinterpret_cast<LPARAM>(from)));
    };
    for (HTREEITEM i = next(nullptr, TVGN_ROOT); i; i = next(i, TVGN_NEXT)) pending.push_back(i);
    while (!pending.empty()) {
        HTREEITEM item = pending.back();
        pending.pop_back();
        TVITEMW tv = {};
        tv.mask = TVIF_PARAM | TVIF_HANDLE;
        tv.hItem = item;
        tv.lParam = 0;
        SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        for (HTREEITEM c = next(item, TVGN_CHILD); c; c = next(c, TVGN_NEXT)) pending.push_back(c);
    }
    SendMessageW(m_tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
}

HTREEITEM CMainDlg::InsertItem(const wchar_t* text, int image, HTREEITEM parent,
                               CItemObj* object) {
    if (!m_tree) return nullptr;
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent ? parent : TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.pszText = const_cast<wchar_t*>(text ? text : L"");
    ins.item.iImage = image;
    ins.item.iSelectedImage = image;
    ins.item.lParam = reinterpret_cast<LPARAM>(object);
    auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (item && image == 0) {
        SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        // Focus belongs to the window's own thread; a worker's rebuild leaves it alone.
        if (GetWindowThreadProcessId(m_tree, nullptr) == GetCurrentThreadId()) SetFocus(m_tree);
    }
    return item;
}

void CMainDlg::UpdateTreeUI(int reason, const char* devName) {
    LogScope trace("CMainDlg::UpdateTreeUI");
    ApplyLanguage(LanguageChoice.load());
    if (!m_tree) return;
    m_treeRebuilding = 1;
    CleanTreeData();
    m_treeRebuilding = 0;
    if (m_devices.empty()) {
        wchar_t text[1024] = {};
        LoadStringW(KeywardenInstance(), IDS_NO_DEVICE, text, 1024);
        InsertItem(text, 0, nullptr, nullptr);
        return;
    }
    std::vector<HTREEITEM> keys;
    for (CDevObject* dev : m_devices) {
        wchar_t text[260];
        dev->GetDisplayName(text);
        HTREEITEM item = InsertItem(text, 0, nullptr, dev);
        if (!item) continue;
        keys.push_back(item);
        dev->AddTreeEntries(m_tree, item, reason, devName);
    }
    for (HTREEITEM item : keys)
        SendMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

void CMainDlg::ClearCaches() {
    if (HMODULE ssl = LoadLibraryA("SCHANNEL.DLL")) {
        using SslEmptyCacheFn = BOOL(WINAPI*)(LPSTR, DWORD);
        if (auto fn = reinterpret_cast<SslEmptyCacheFn>(
                reinterpret_cast<void*>(GetProcAddress(ssl, "SslEmptyCacheA"))))
            LogMessage(LOG_LEVEL_DEBUG,
                       fn(nullptr, 0) == TRUE ? "clear SSL Cache succ" : "clear SSL Cache failed");
        FreeLibrary(ssl);
    }
    if (HMODULE inet = LoadLibraryA("wininet.DLL")) {
        using IncrementFn = BOOL(WINAPI*)(DWORD, LPDWORD);
        if (auto fn = reinterpret_cast<IncrementFn>(
                reinterpret_cast<void*>(GetProcAddress(inet, "IncrementUrlCacheHeaderData")))) {
            DWORD value = 0;
            LogMessage(LOG_LEVEL_DEBUG,
                       fn(14, &value) == TRUE ? "clear URL Cache succ" : "clear URL Cache failed");
        }
        FreeLibrary(inet);
    }
}
