#include "main_window.h"

#include <dbt.h>
#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

#include "dialogs.h"
#include "key_commands.h"
#include "key_texts.h"
#include "log.h"
#include "resources.h"

namespace {

// Texts of the main window's controls.
const struct {
    int control, text;
} kControlTexts[] = {
    {IDC_MODIFY_PIN, IDS_BUTTON_MODIFY_PIN}, {IDC_MODIFY_LABEL, IDS_BUTTON_MODIFY_LABEL},
    {IDC_VIEW_CERT, IDS_BUTTON_VIEW_CERT},   {IDC_VIEW_DEVINFO, IDS_BUTTON_VIEW_DEVINFO},
    {IDC_REFRESH, IDS_BUTTON_REFRESH},       {IDOK, IDS_BUTTON_CLOSE},
    {IDC_CERT_GROUP, IDS_CERT_GROUP}};

// Device-interface classes watched: CD-ROM, disk, HID.
const GUID kWatchedClasses[] = {
    {0x53F56308, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x53F56307, 0xB6BF, 0x11D0, {0x94, 0xF2, 0x00, 0xA0, 0xC9, 0x1E, 0xFB, 0x8B}},
    {0x4D1E55B2, 0xF16F, 0x11CF, {0x88, 0xCB, 0x00, 0x11, 0x11, 0x00, 0x00, 0x30}},
};

// A worker's tree change, handed to the window's thread.
struct TreeUpdate {
    const KeyList* keys;
};

}  // namespace

// ---- CMainDlg -----------------------------------------------------------------------------------

std::unique_ptr<IMainWindow> MakeMainWindow() { return std::make_unique<CMainDlg>(); }

CMainDlg::CMainDlg() : m_dialogs(m_devices, m_tree), m_devices(*this) {}

CMainDlg::~CMainDlg() {
    // The workers report to this window: they end, and every key is released, first.
    m_devices.Shutdown();
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    m_tray.Remove();
    if (m_logo) DeleteObject(m_logo);
    if (m_bigIcon) DestroyIcon(m_bigIcon);
    if (m_smallIcon) DestroyIcon(m_smallIcon);
}

HWND CMainDlg::Create(HINSTANCE instance) {
    return CreateDialogParamW(instance, MAKEINTRESOURCEW(IDD_MAINDLG), nullptr, DialogProc,
                              reinterpret_cast<LPARAM>(this));
}

INT_PTR CALLBACK CMainDlg::DialogProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CMainDlg* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CMainDlg*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        self->m_dpi.Attach(hwnd);
        self->m_dialogs.SetWindow(hwnd);
    } else {
        self = reinterpret_cast<CMainDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    }
    if (!self) return FALSE;
    LRESULT result = 0;
    try {
        if (!self->HandleMessage(msg, wParam, lParam, &result)) return FALSE;
    } catch (...) {
        // No exception may cross the system's frames: the program ends here, and the
        // terminate handler removes the registered certificates first.
        LogMessage(LOG_LEVEL_ERROR, "%s unhandled exception[%#x]", "CMainDlg::DialogProc", msg);
        std::terminate();
    }
    if (msg == WM_INITDIALOG) return static_cast<INT_PTR>(result);
    SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, result);
    return TRUE;
}

bool CMainDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (msg == m_tray.ShellRestartMessage() && msg != 0) {
        m_tray.Restore();
        return true;
    }
    if (msg == m_tray.Message() && msg != 0) {
        if (wParam != KEYWARDEN_TRAY_ICON_ID) return true;
        switch (LOWORD(lParam)) {
            case WM_RBUTTONUP:
                ShowTrayMenu(m_hWnd);
                break;
            case WM_LBUTTONDBLCLK:
                ShowFromTray(m_hWnd);
                break;
        }
        return true;
    }
    switch (msg) {
        case WM_INITDIALOG:
            OnInitDialog();
            *result = TRUE;
            return true;
        case WM_DESTROY:
            OnDestroy();
            return false;
        case WM_CLOSE:
            ShowWindow(m_hWnd, SW_HIDE);
            return true;
        case WM_DPICHANGED:
            if (m_dpi.Change(wParam, lParam)) {
                m_tree.SetDpi(m_dpi.Dpi());
                LoadLogo();
                LoadIcons();
            }
            return true;
        case WM_DEVICECHANGE:
            OnDeviceChange(wParam, lParam);
            *result = TRUE;
            return true;
        case UM_OPENURL:
            *result = OnOpenURL();
            return true;
        case UM_QUIT:
            m_devices.ReleaseAll();
            Quit(0);
            return true;
        case UM_BALLOON: {
            wchar_t notice[kCertNoticeSize] = {};
            if (static_cast<int>(wParam) == IDS_CERT_NOTICE_TITLE)
                CopyCertNotice(notice, kCertNoticeSize);
            m_tray.ShowStringBalloon(static_cast<int>(wParam), lParam, notice);
            return true;
        }
        case UM_SHOWDEFPIN:
            m_dialogs.AskDefaultPin(reinterpret_cast<const CDevObject*>(wParam),
                                    m_silentRescan == 1);
            return true;
        case UM_TREECHANGED: {
            auto* update = reinterpret_cast<const TreeUpdate*>(lParam);
            m_tree.Rebuild(*update->keys);
            return true;
        }
        case UM_KEYGONE:
            OnKeyGone();
            return true;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (!hdr || hdr->idFrom != IDC_DEVICE_TREE) return false;
            if (hdr->code == TVN_SELCHANGEDW) {
                *result = OnSelChanged();
                return true;
            }
            if (hdr->code == NM_DBLCLK) {
                *result = OnDBLclk();
                return true;
            }
            return false;
        }
        case WM_COMMAND:
            return OnCommand(LOWORD(wParam));
    }
    return false;
}

bool CMainDlg::OnCommand(int id) {
    switch (id) {
        case IDC_MODIFY_PIN:
        case IDC_MODIFY_LABEL:
        case IDC_VIEW_CERT:
            OnItemCommand(id);
            return true;
        case IDC_VIEW_DEVINFO:
            OnViewDInfo();
            return true;
        case IDC_REFRESH:
            if (!m_dialogs.PromptBusy()) {
                m_silentRescan = 0;
                m_devices.StartRescan();
            }
            return true;
        case ID_SILENT_REFRESH:
            m_silentRescan = 1;
            m_devices.StartRescan();
            return true;
        case IDOK:
            if (!m_dialogs.PromptBusy()) ShowWindow(m_hWnd, SW_HIDE);
            return true;
        case ID_TRAY_OPEN:
            ShowWindow(m_hWnd, SW_SHOWNORMAL);
            SetForegroundWindow(m_hWnd);
            return true;
        case ID_LANG_ZH_CN:
        case ID_LANG_ZH_TW:
        case ID_LANG_EN:
            SetLanguageChoice(id == ID_LANG_ZH_CN ? 1 : id == ID_LANG_ZH_TW ? 2 : 9);
            ChangeMutileLang();
            return true;
        case ID_APP_ABOUT:
            m_dialogs.ShowAboutDlg();
            return true;
        case IDCANCEL:
        case KEYWARDEN_CMD_QUIT:
        case ID_TRAY_EXIT:
            Quit(id);
            return true;
    }
    return false;
}

void CMainDlg::Quit(int code) {
    // The keys are released when this object goes, after the message loop; a dialog still
    // open ends with the window.
    DestroyWindow(m_hWnd);
    PostQuitMessage(code);
}

void CMainDlg::OnInitDialog() {
    CenterOnWorkArea();
    InitCtrl();
    RegisterDeviceNotifications();
    m_devices.StartStartupRead();
    LoadIcons();
    m_tray.Install(m_hWnd, m_smallIcon, UiText(IDS_CAPTION).c_str());
}

void CMainDlg::LoadLogo() {
    static const UINT kLogo[3] = {IDB_LOGO, IDB_LOGO_150, IDB_LOGO_200};
    if (HBITMAP logo = LoadPictureForDpi(kLogo, m_dpi.Dpi())) {
        SendDlgItemMessageW(m_hWnd, IDC_LOGO, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(logo));
        if (m_logo) DeleteObject(m_logo);
        m_logo = logo;
    }
}

void CMainDlg::LoadIcons() {
    const UINT dpi = m_dpi.Dpi();
    // The icons at the sizes the system asks for at this dpi: the shell takes the tray's icon at
    // the small-icon size.
    HICON big = LoadIconForDpi(IDI_APP, SM_CXICON, dpi);
    HICON small = LoadIconForDpi(IDI_APP, SM_CXSMICON, dpi);
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(big));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(small));
    m_tray.SetIcon(small);
    if (m_bigIcon) DestroyIcon(m_bigIcon);
    if (m_smallIcon) DestroyIcon(m_smallIcon);
    m_bigIcon = big;
    m_smallIcon = small;
}

void CMainDlg::OnDestroy() {
    for (HDEVNOTIFY n : m_notifications) UnregisterDeviceNotification(n);
    m_notifications.clear();
    m_tray.Remove();
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
    if (event == DBT_DEVICEARRIVAL)
        m_devices.OnArrival(name);
    else
        m_devices.OnRemoval(name);
}

void CMainDlg::CenterOnWorkArea() {
    RECT r;
    GetWindowRect(m_hWnd, &r);
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(m_hWnd, MONITOR_DEFAULTTONEAREST), &mi);
    const RECT& a = mi.rcWork;
    int w = r.right - r.left, h = r.bottom - r.top;
    int x = a.left + ((a.right - a.left) - w) / 2;
    int y = a.top + ((a.bottom - a.top) - h) / 2;
    if (x + w > a.right) x = a.right - w;
    if (y + h > a.bottom) y = a.bottom - h;
    if (x < a.left) x = a.left;
    if (y < a.top) y = a.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CMainDlg::InitCtrl() {
    m_tree.Attach(GetDlgItem(m_hWnd, IDC_DEVICE_TREE), m_dpi.Dpi());
    LoadLogo();
    ChangeMutileLang();
}

void CMainDlg::ChangeMutileLang() {
    LogScope trace("CMainDlg::ChangeMutileLang");
    ApplyLanguage(LanguageChoice());
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    m_tray.SetTooltip(UiText(IDS_CAPTION).c_str());
    for (auto t : kControlTexts) SetDlgItemTextW(m_hWnd, t.control, UiText(t.text).c_str());
    m_dialogs.UpdateTexts();
    m_tree.Rebuild(m_devices.Snapshot());
}

void CMainDlg::EnableButtons(unsigned mask, bool enable) {
    if (!m_hWnd) return;
    const struct {
        unsigned bit;
        int id;
    } map[] = {{BUTTON_MODIFY_PIN, IDC_MODIFY_PIN},
               {BUTTON_MODIFY_LABEL, IDC_MODIFY_LABEL},
               {BUTTON_VIEW_CERT, IDC_VIEW_CERT},
               {BUTTON_REFRESH, IDC_REFRESH}};
    for (auto m : map)
        if (mask & m.bit)
            if (HWND b = GetDlgItem(m_hWnd, m.id)) EnableWindow(b, enable ? TRUE : FALSE);
}

void CMainDlg::GetWebAddress(wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    char config[MAX_PATH + 32];
    GetConfigPath(config, sizeof config);
    char url[1024] = {};
    GetPrivateProfileStringA("exe_config", "url", "https://www.keva.example/", url, sizeof url,
                             config);
    if (MultiByteToWideChar(CP_ACP, 0, url, -1, out, static_cast<int>(size)) == 0) out[0] = 0;
    out[size - 1] = 0;
}

LRESULT CMainDlg::OnOpenURL() {
    LogScope trace("CMainDlg::OnOpenURL");
    PIDLIST_ABSOLUTE pidl = nullptr;
    if (FAILED(SHGetFolderLocation(nullptr, CSIDL_PROGRAM_FILES, nullptr, 0, &pidl)) || !pidl)
        return 0;
    wchar_t folder[MAX_PATH] = {};
    BOOL ok = SHGetPathFromIDListW(pidl, folder);
    CoTaskMemFree(pidl);
    if (!ok) return 0;
    wchar_t url[1024];
    GetWebAddress(url, 1024);
    std::wstring command =
        L"\"" + std::wstring(folder) + L"\\Internet Explorer\\iexplore.exe\" \"" + url + L"\"";
    STARTUPINFOW si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESHOWWINDOW;
    si.wShowWindow = SW_SHOWNORMAL;
    PROCESS_INFORMATION pi = {};
    if (CreateProcessW(nullptr, &command[0], nullptr, nullptr, FALSE, CREATE_NEW_CONSOLE, nullptr,
                       nullptr, &si, &pi)) {
        CloseHandle(pi.hThread);
        CloseHandle(pi.hProcess);
    }
    return 1;
}

// ---- device list events -------------------------------------------------------------------------

bool CMainDlg::OnWindowThread() const {
    return GetWindowThreadProcessId(m_hWnd, nullptr) == GetCurrentThreadId();
}

void CMainDlg::Announce(KeyNews news) {
    int stringId = news == KeyNews::Inserted  ? IDS_UKEY_INSERTED
                   : news == KeyNews::Removed ? IDS_UKEY_REMOVED
                                              : IDS_PIN_LOCKED;
    PostMessageW(m_hWnd, UM_BALLOON, stringId, 0);
}

void CMainDlg::CopyCertNotice(wchar_t* out, size_t size) {
    std::lock_guard<std::mutex> hold(m_noticeMutex);
    m_notice.Copy(out, size);
}

void CMainDlg::ExpiryNotice(const ExpiryFacts& facts) {
    // The lines are written here, on the reporting thread, in the language it reads keys in.
    CertNotice notice;
    notice.Build(facts);
    {
        std::lock_guard<std::mutex> hold(m_noticeMutex);
        m_notice = notice;
    }
    if (!notice.IsEmpty()) PostMessageW(m_hWnd, UM_BALLOON, IDS_CERT_NOTICE_TITLE, 0);
}

void CMainDlg::TreeChanged(const KeyList& keys) {
    if (OnWindowThread()) {
        m_tree.Rebuild(keys);
        return;
    }
    // The tree and the objects its items keep belong to the window's thread.
    TreeUpdate update{&keys};
    SendMessageW(m_hWnd, UM_TREECHANGED, 0, reinterpret_cast<LPARAM>(&update));
}

void CMainDlg::KeyGone(const char* devName) {
    if (!devName) return;
    // The dialogs are told later on the window's thread: closing a window may take its time
    // (the window manager), and nothing here needs to wait for it.
    {
        std::lock_guard<std::mutex> hold(m_goneMutex);
        m_goneNames.emplace_back(devName);
    }
    PostMessageW(m_hWnd, UM_KEYGONE, 0, 0);
}

void CMainDlg::AskDefaultPin(const CDevObject* dev) {
    PostMessageW(m_hWnd, UM_SHOWDEFPIN, reinterpret_cast<WPARAM>(dev), 0);
}

void CMainDlg::RefreshAllowed(bool allowed) { EnableButtons(BUTTON_REFRESH, allowed); }

void CMainDlg::OnKeyGone() {
    std::vector<std::string> names;
    {
        std::lock_guard<std::mutex> hold(m_goneMutex);
        names.swap(m_goneNames);
    }
    for (const std::string& name : names) m_dialogs.CloseDialogsOf(name.c_str());
}

// ---- the tree's items and their buttons ----------------------------------------------------

LRESULT CMainDlg::OnSelChanged() {
    if (m_tree.Rebuilding()) return 0;
    HTREEITEM item = nullptr;
    std::shared_ptr<CItemObj> obj = m_tree.SelectedObject(&item);
    if (!item) return 0;
    const unsigned enabled = ItemButtons(obj.get());
    if (enabled) EnableButtons(enabled, true);
    EnableButtons(BUTTONS_OF_ITEMS & ~enabled, false);
    return 0;
}

void CMainDlg::OnItemCommand(int id) {
    // The object stays alive for the whole command, whatever the tree and the list do while
    // its dialog runs; the list itself is held only while the key is read.
    if (std::shared_ptr<CItemObj> obj = m_tree.SelectedObject())
        RunKeyCommand(id, obj, m_devices, m_tree, m_dialogs);
}

LRESULT CMainDlg::OnDBLclk() {
    LogScope trace("CMainDlg::OnDBLclk");
    HTREEITEM item = nullptr;
    std::shared_ptr<CItemObj> obj = m_tree.SelectedObject(&item);
    if (!m_tree.HasParent(item)) {
        trace.SetEnd("%s end1...");
        return 1;  // a key item neither expands nor collapses
    }
    if (obj) RunKeyCommand(IDC_VIEW_CERT, obj, m_devices, m_tree, m_dialogs);
    return 0;
}

void CMainDlg::OnViewDInfo() {
    if (m_dialogs.PromptBusy()) return;
    LogMessage(LOG_LEVEL_DEBUG, "%s start...", "CMainDlg::OnViewDInfo");
    if (std::shared_ptr<CItemObj> obj = m_tree.SelectedObject()) {
        RunKeyCommand(IDC_VIEW_DEVINFO, obj, m_devices, m_tree, m_dialogs);
        return;
    }
    m_dialogs.ShowVersionDlg(nullptr);
    LogMessage(LOG_LEVEL_DEBUG, "%s end...", "CMainDlg::OnViewDInfo");
}
