// The main dialog: Keywarden's one top-level window (class "KEVAClientClass"). This part holds
// the device list, its lock, the refresh mutex, the device-change handling and the workers
// that read keys.
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

constexpr UINT UM_OPENURL = 0x0500;
constexpr UINT UM_QUIT = 0x0501;
// wParam = the CDevObject. The key may be released before the message is handled: the receiver
// checks, holding the device-list lock, that the object is still listed (IsListed).
constexpr UINT UM_SHOWDEFPIN = 0x0601;
constexpr UINT UM_BALLOON = 0x0602;
// Sent by a worker to the main window so that the dialogs of a pulled key are told on the
// thread that owns them; lParam = the device name, wParam = which dialogs.
constexpr UINT UM_REMOVEDLG = 0x0603;
enum { REMOVEDLG_IN_LOCK = 0, REMOVEDLG_BEFORE_LOCK = 1, REMOVEDLG_ALL = 2 };

constexpr int IDD_MAINDLG = 129;
constexpr int IDC_CERT_GROUP = 1000;
constexpr int IDC_DEVICE_TREE = 1001;
constexpr int IDC_MODIFY_PIN = 1002;
constexpr int IDC_MODIFY_LABEL = 1003;
constexpr int IDC_VIEW_CERT = 1004;
constexpr int IDC_VIEW_DEVINFO = 1005;
constexpr int IDC_REFRESH = 1007;
constexpr int ID_SILENT_REFRESH = 1539;
constexpr int ID_TRAY_OPEN = 32782;
constexpr int ID_TRAY_EXIT = 32786;

constexpr char kMainWindowClass[] = "KEVAClientClass";
constexpr char kRefreshMutexName[] = "MYMUTEX";

// Balloon and notice strings posted by the core.
enum : int {
    IDS_UNFORMATTED_DEVICE = 210,
    IDS_NO_DEVICE = 211,
    IDS_UKEY_INSERTED = 219,
    IDS_UKEY_REMOVED = 220,
    IDS_PIN_LOCKED = 239,
    IDS_UPDATE_DEVINFO_FAILED = 247,
    IDS_CERT_EXPIRED = 250,
    IDS_CERT_EXPIRES_SOON = 251,
    IDS_CERT_EXPIRES_TODAY = 252,
    IDS_CERT_RENEW = 253,
    IDS_CERT_NOTICE_TITLE = 254,
};

// The per-key dialogs that the user-interface layer opens from the main dialog. The key
// objects dispatch their action buttons to them.
class IKeyDialogs {
  public:
    virtual ULONG ModifyPIN(CDevObject* dev) = 0;
    virtual ULONG ModifyDevLabel(CDevObject* dev) = 0;
    virtual ULONG ShowVersionDlg(CDevObject* dev) = 0;
    virtual int ShowMessage(HWND parent, CDevObject* dev, int stringId, ULONG argument,
                            int kind) = 0;

  protected:
    ~IKeyDialogs() = default;
};

class CMainDlg {
  public:
    CMainDlg();
    virtual ~CMainDlg();
    CMainDlg(const CMainDlg&) = delete;
    CMainDlg& operator=(const CMainDlg&) = delete;

    // Creates the modeless dialog (template 129, class "KEVAClientClass"), hidden.
    HWND Create(HINSTANCE instance, HWND parent = nullptr);
    // Registers the window class "KEVAClientClass" as a copy of the system dialog class.
    static bool RegisterWindowClass(HINSTANCE instance);

    HWND m_hWnd = nullptr;
    HWND m_tree = nullptr;

    // ---- device list ----------------------------------------------------------------------
    BOOL CheckIsExistKey(const char* devName);
    // The following need the device-list lock held by the caller.
    void DevList_DelAllDev();
    int DevList_DelSpecialDev(const char* devName);
    ULONG DevList_EnumDev();
    void AddDevice(CDevObject* dev);
    bool IsListed(const CDevObject* dev) const;
    const std::list<CDevObject*>& Devices() const { return m_devices; }
    size_t DeviceCount() const { return m_devices.size(); }

    DeviceListLock& ListLock() { return m_lock; }

    // ---- actions --------------------------------------------------------------------------
    // Starts a full rescan thread; silent suppresses default-PIN prompts.
    void StartRescan(bool silent);
    void EnableButtons(int mask, BOOL enable);
    // Rebuilds the tree from the list (lock held by the caller). Sets the calling thread's
    // language from LanguageChoice first, so that texts come from the chosen table.
    void UpdateTreeUI(int reason, const char* devName);
    // Empties the tree; selection changes meanwhile are ignored.
    void CleanTreeData();
    // Appends an item at the end of its level (parent null = top level) carrying the object.
    // A top-level item (image 0) becomes the selection.
    HTREEITEM InsertItem(const wchar_t* text, int image, HTREEITEM parent, CItemObj* object);
    bool TreeRebuilding() const { return m_treeRebuilding.load() != 0; }

    // 0 = the system decides, 1 = Simplified Chinese, 2 = Traditional Chinese, 9 = English.
    std::atomic<int> LanguageChoice{0};
    // Sets the calling thread's user-interface language and locale for a choice (0: nothing).
    static void ApplyLanguage(int choice);
    void RegisterDeviceNotifications();
    static void ClearCaches();

    // Set by the user-interface layer.
    void SetKeyDialogs(IKeyDialogs* dialogs) { m_dialogs = dialogs; }
    IKeyDialogs* KeyDialogs() const { return m_dialogs; }
    // The open per-key dialogs (message, PIN change, device information, label); written on
    // the user-interface thread.
    enum DialogSlot { DLG_MESSAGE, DLG_PIN, DLG_VERSION, DLG_LABEL, DLG_COUNT };
    void SetOpenDialog(DialogSlot slot, CDevBaseDlg* dlg) { m_openDialogs[slot] = dlg; }
    CDevBaseDlg* OpenDialog(DialogSlot slot) const { return m_openDialogs[slot]; }
    bool PromptBusy() const { return m_promptBusy.load() != 0; }
    void SetPromptBusy(bool busy) { m_promptBusy = busy ? 1 : 0; }

    // A full rescan has its place in line or runs.
    bool RescanPending() {
        std::lock_guard<std::mutex> hold(m_namesMutex);
        return m_rescansRunning > 0;
    }
    // Workers still running; the destructor waits for them.
    int RunningWorkers() const { return m_workers.load(); }
    static std::atomic<int> s_silentRescan;

  protected:
    // Message handling; the user-interface layer extends it. Returns true when handled.
    virtual bool HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual void OnInitDialog();
    void OnDeviceChange(WPARAM event, LPARAM data);
    void OnRemoveDialogs(const char* devName, int which);

  private:
    static INT_PTR CALLBACK DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam);

    struct Event;
    static unsigned __stdcall DeviceInsertProc(void* record);
    static unsigned __stdcall DeviceRemoveProc(void* record);
    static unsigned __stdcall StartupProc(void* self);
    static unsigned __stdcall RefreshProc(void* self);
    void EnumDevInfoProc(int flags, uint64_t ticket, bool startup);
    bool StartWorker(unsigned(__stdcall* proc)(void*), void* arg);
    void WorkerDone();
    void PublishNames();
    void UnlinkDevice(std::list<CDevObject*>::iterator it);

    std::list<CDevObject*> m_devices;
    DeviceListLock m_lock;
    HANDLE m_refreshMutex = nullptr;
    HANDLE m_stopEvent = nullptr;    // set when the dialog goes; refreshes stop waiting
    HANDLE m_workersIdle = nullptr;  // set when no worker runs
    std::atomic<int> m_workers{0};
    std::atomic<int> m_promptBusy{0};
    std::atomic<int> m_treeRebuilding{0};
    IKeyDialogs* m_dialogs = nullptr;
    CDevBaseDlg* m_openDialogs[DLG_COUNT] = {};
    std::vector<HDEVNOTIFY> m_notifications;

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
