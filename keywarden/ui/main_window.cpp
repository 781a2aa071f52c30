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
#include "pin_dialog.h"
#include "png_loader.h"
#include "resources.h"

namespace {

// Texts of the main window's controls.
const struct {
    int control, text;
} kControlTexts[] = {{IDC_MODIFY_PIN, 203},   {IDC_MODIFY_LABEL, 204}, {IDC_VIEW_CERT, 205},
                     {IDC_VIEW_DEVINFO, 206}, {IDC_REFRESH, 207},      {IDOK, 208},
                     {IDC_CERT_GROUP, 209}};

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

RECT TrayRectangle() {
    RECT r = {};
    if (HWND shell = FindWindowW(L"Shell_TrayWnd", nullptr))
        if (HWND notify = FindWindowExW(shell, nullptr, L"TrayNotifyWnd", nullptr))
            if (GetWindowRect(notify, &r)) return r;
    APPBARDATA abd = {};
    abd.cbSize = sizeof abd;
    if (SHAppBarMessage(ABM_GETTASKBARPOS, &abd)) {
        r = abd.rc;
        if (r.right - r.left > r.bottom - r.top)
            r.left = r.right - 100;
        else
            r.top = r.bottom - 100;
    }
    return r;
}

}  // namespace

// Registers a dialog as the open one of its kind while it runs, so that a language switch and
// the removal of its key reach it.
class OpenDialogScope {
  public:
    OpenDialogScope(CMainDlg* owner, CMainDlg::DialogSlot slot, CDevBaseDlg* dlg)
        : owner_(owner), slot_(slot), previous_(owner->m_openDialogs[slot]) {
        owner_->m_openDialogs[slot_] = dlg;
    }
    ~OpenDialogScope() { owner_->m_openDialogs[slot_] = previous_; }
    OpenDialogScope(const OpenDialogScope&) = delete;
    OpenDialogScope& operator=(const OpenDialogScope&) = delete;

  private:
    CMainDlg* owner_;
    CMainDlg::DialogSlot slot_;
    CDevBaseDlg* previous_;
};

void FitNoticeToBalloon(const wchar_t* notice, wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = 0;
    if (!notice) return;
    size_t length = wcslen(notice);
    if (length < size) {
        wmemcpy(out, notice, length + 1);
        return;
    }
    const wchar_t* closing = wcsrchr(notice, L'\n');
    closing = closing ? closing + 1 : notice;
    size_t closingLength = wcslen(closing);
    if (closingLength >= size) {
        wmemcpy(out, closing, size - 1);
        out[size - 1] = 0;
        return;
    }
    size_t room = size - 1 - closingLength, keep = 0;
    for (const wchar_t* p = notice; p < closing;) {
        const wchar_t* end = wcschr(p, L'\n');
        size_t line = static_cast<size_t>(end - p) + 1;
        if (keep + line > room) break;
        keep += line;
        p = end + 1;
    }
    wmemcpy(out, notice, keep);
    wmemcpy(out + keep, closing, closingLength + 1);
}

// ---- CTrayIcon ----------------------------------------------------------------------------------

CTrayIcon::CTrayIcon()
    : m_message(RegisterWindowMessageA(KEYWARDEN_TRAY_MESSAGE)),
      m_shellRestart(RegisterWindowMessageW(L"TaskbarCreated")) {
    m_nid.cbSize = NOTIFYICONDATAW_V3_SIZE;
}

CTrayIcon::~CTrayIcon() { Remove(); }

bool CTrayIcon::Install(HWND window, HICON icon, const wchar_t* tip) {
    if (m_installed) return true;
    m_nid.hWnd = window;
    m_nid.uID = KEYWARDEN_TRAY_ICON_ID;
    m_nid.uCallbackMessage = m_message;
    m_nid.hIcon = icon;
    wcsncpy(m_nid.szTip, tip ? tip : L"", 127);
    m_nid.szTip[127] = 0;
    // The message filter of a program with more rights than the shell drops the shell's
    // announcement unless it is let through.
    if (m_shellRestart) ChangeWindowMessageFilterEx(window, m_shellRestart, MSGFLT_ALLOW, nullptr);
    return Add();
}

bool CTrayIcon::Add() {
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_installed = Shell_NotifyIconW(NIM_ADD, &m_nid) != FALSE;
    LogMessage(LOG_LEVEL_DEBUG, "ret[%d] error[%#x]", m_installed ? 1 : 0,
               static_cast<unsigned>(GetLastError()));
    if (m_installed && m_balloonWaiting) GiveBalloon();
    return m_installed;
}

bool CTrayIcon::Restore() {
    if (!m_nid.hWnd) return false;  // never installed, or removed
    if (Add()) return true;
    // The shell may still hold the icon (an announcement without a real restart): then the
    // same record is given as a change.
    m_installed = Shell_NotifyIconW(NIM_MODIFY, &m_nid) != FALSE;
    if (m_installed && m_balloonWaiting) GiveBalloon();
    return m_installed;
}

bool CTrayIcon::SetTooltip(const wchar_t* tip) {
    m_nid.uFlags = NIF_TIP;
    wcsncpy(m_nid.szTip, tip ? tip : L"", 127);
    m_nid.szTip[127] = 0;
    return m_installed && Shell_NotifyIconW(NIM_MODIFY, &m_nid) != FALSE;
}

bool CTrayIcon::ShowBalloon(const wchar_t* title, const wchar_t* text) {
    wcsncpy(m_nid.szInfo, text ? text : L"", 255);
    m_nid.szInfo[255] = 0;
    wcsncpy(m_nid.szInfoTitle, title ? title : L"", 63);
    m_nid.szInfoTitle[63] = 0;
    m_nid.uTimeout = 24;
    m_nid.dwInfoFlags = NIIF_INFO;
    m_balloonWaiting = true;
    return m_installed && GiveBalloon();
}

bool CTrayIcon::GiveBalloon() {
    m_nid.uFlags = NIF_INFO;
    if (Shell_NotifyIconW(NIM_MODIFY, &m_nid) == FALSE) return false;
    m_balloonWaiting = false;
    return true;
}

void CTrayIcon::Remove() {
    if (m_installed) {
        m_nid.uFlags = 0;
        Shell_NotifyIconW(NIM_DELETE, &m_nid);
        m_installed = false;
    }
    m_nid.hWnd = nullptr;
    m_balloonWaiting = false;
}

// ---- CMainDlg -----------------------------------------------------------------------------------

std::unique_ptr<IMainWindow> MakeMainWindow() { return std::make_unique<CMainDlg>(); }

CMainDlg::CMainDlg() : m_devices(*this) {}

CMainDlg::~CMainDlg() {
    // The workers report to this window: they end, and every key is released, first.
    m_devices.Shutdown();
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    m_tray.Remove();
    m_itemObjects.clear();
    if (m_images) ImageList_Destroy(m_images);
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
                ShowTrayMenu();
                break;
            case WM_LBUTTONDBLCLK:
                ShowWithAnimation();
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
        case UM_BALLOON:
            OnShowBalloon(static_cast<int>(wParam), lParam);
            return true;
        case UM_SHOWDEFPIN:
            OnShowDefPINDlg(reinterpret_cast<const CDevObject*>(wParam));
            return true;
        case UM_TREECHANGED: {
            auto* update = reinterpret_cast<const TreeUpdate*>(lParam);
            UpdateTreeUI(*update->keys);
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
            if (!PromptBusy()) {
                m_silentRescan = 0;
                m_devices.StartRescan();
            }
            return true;
        case ID_SILENT_REFRESH:
            m_silentRescan = 1;
            m_devices.StartRescan();
            return true;
        case IDOK:
            if (!PromptBusy()) ShowWindow(m_hWnd, SW_HIDE);
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
            ShowAboutDlg();
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
    HINSTANCE inst = KeywardenInstance();
    m_bigIcon =
        static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                      GetSystemMetrics(SM_CXICON), GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    m_tray.Install(m_hWnd, m_smallIcon, UiText(IDS_CAPTION).c_str());
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
    m_tree = GetDlgItem(m_hWnd, IDC_DEVICE_TREE);
    SendMessageW(m_tree, WM_SETFONT, reinterpret_cast<WPARAM>(ChineseUiFont()), TRUE);

    HINSTANCE inst = KeywardenInstance();
    m_images = ImageList_Create(24, 24, ILC_COLOR32, 6, 4);
    for (int id : {IDI_KEY, IDI_CERT}) {
        auto icon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(id), IMAGE_ICON,
                                                  GetSystemMetrics(SM_CXICON),
                                                  GetSystemMetrics(SM_CYICON), 0));
        if (icon) {
            ImageList_AddIcon(m_images, icon);
            DestroyIcon(icon);
        }
    }
    SendMessageW(m_tree, TVM_SETIMAGELIST, TVSIL_NORMAL, reinterpret_cast<LPARAM>(m_images));

    m_logo = LoadPngResource(inst, IDB_LOGO, L"PNG");
    if (m_logo)
        SendDlgItemMessageW(m_hWnd, IDC_LOGO, STM_SETIMAGE, IMAGE_BITMAP,
                            reinterpret_cast<LPARAM>(m_logo));
    ChangeMutileLang();
}

void CMainDlg::ChangeMutileLang() {
    LogScope trace("CMainDlg::ChangeMutileLang");
    ApplyLanguage(LanguageChoice());
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    m_tray.SetTooltip(UiText(IDS_CAPTION).c_str());
    for (auto t : kControlTexts) SetDlgItemTextW(m_hWnd, t.control, UiText(t.text).c_str());
    if (m_about) m_about->UpdateTexts();
    // The default-PIN prompt is the open message dialog: renewed with the others.
    for (DialogSlot s : {DLG_VERSION, DLG_MESSAGE, DLG_LABEL, DLG_PIN})
        if (CDevBaseDlg* d = m_openDialogs[s]) d->UpdateTexts();
    UpdateTreeUI(m_devices.Snapshot());
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

// ---- tray ---------------------------------------------------------------------------------------

HMENU CMainDlg::BuildTrayMenu(HMENU* popupOut) {
    HMENU menu = LoadMenuW(KeywardenInstance(), MAKEINTRESOURCEW(IDR_TRAYMENU));
    HMENU popup = menu ? GetSubMenu(menu, 0) : nullptr;
    if (!popup) {
        if (menu) DestroyMenu(menu);
        return nullptr;
    }
    ModifyMenuW(popup, 0, MF_BYPOSITION | MF_STRING, ID_TRAY_OPEN, UiText(IDS_MENU_OPEN).c_str());
    HMENU languages = GetSubMenu(popup, 2);
    ModifyMenuW(popup, 2, MF_BYPOSITION | MF_STRING | MF_POPUP,
                reinterpret_cast<UINT_PTR>(languages), UiText(IDS_MENU_LANGUAGE).c_str());
    ModifyMenuW(popup, 4, MF_BYPOSITION | MF_STRING, ID_TRAY_EXIT, UiText(IDS_MENU_EXIT).c_str());
    // The language names are the same in every language.
    ModifyMenuW(languages, 0, MF_BYPOSITION | MF_STRING, ID_LANG_ZH_CN,
                L"\u7B80\u4F53\u4E2D\u6587");
    ModifyMenuW(languages, 1, MF_BYPOSITION | MF_STRING, ID_LANG_ZH_TW,
                L"\u7E41\u9AD4\u4E2D\u6587");
    ModifyMenuW(languages, 2, MF_BYPOSITION | MF_STRING, ID_LANG_EN, L"EngLish");
    SetMenuDefaultItem(popup, 0, TRUE);
    if (popupOut) *popupOut = popup;
    return menu;
}

void CMainDlg::ShowTrayMenu() {
    HMENU popup = nullptr;
    HMENU menu = BuildTrayMenu(&popup);
    if (!menu) return;
    POINT pt;
    GetCursorPos(&pt);
    if (!MonitorFromPoint(pt, MONITOR_DEFAULTTONULL)) {
        MONITORINFO mi = {};
        mi.cbSize = sizeof mi;
        GetMonitorInfoW(MonitorFromPoint(pt, MONITOR_DEFAULTTONEAREST), &mi);
        if (pt.x < mi.rcWork.left) pt.x = mi.rcWork.left;
        if (pt.x >= mi.rcWork.right) pt.x = mi.rcWork.right - 1;
    }
    SetForegroundWindow(m_hWnd);
    TrackPopupMenu(popup, TPM_LEFTBUTTON, pt.x, pt.y, 0, m_hWnd, nullptr);
    PostMessageW(m_hWnd, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void CMainDlg::ShowWithAnimation() {
    RECT to;
    GetWindowRect(m_hWnd, &to);
    if (!IsWindowVisible(m_hWnd)) {
        RECT from = TrayRectangle();
        DrawAnimatedRects(m_hWnd, IDANI_CAPTION, &from, &to);
        ShowWindow(m_hWnd, SW_SHOW);
    }
    if (IsIconic(m_hWnd)) {
        RECT from = TrayRectangle();
        DrawAnimatedRects(m_hWnd, IDANI_CAPTION, &from, &to);
        ShowWindow(m_hWnd, SW_RESTORE);
    } else {
        BringWindowToTop(m_hWnd);
    }
    SetForegroundWindow(m_hWnd);
}

void CMainDlg::OnShowBalloon(int stringId, LPARAM argument) {
    wchar_t text[260] = {};
    LoadStringW(KeywardenInstance(), static_cast<UINT>(stringId), text, 260);
    wchar_t out[256] = {};
    if (stringId == IDS_CERT_NOTICE_TITLE) {
        // The collected notice is the balloon's text under the title "certificate message".
        wchar_t notice[kCertNoticeSize] = {};
        CopyCertNotice(notice, kCertNoticeSize);
        FitNoticeToBalloon(notice, out, 256);
        m_tray.ShowBalloon(text, out);
        return;
    }
    if (argument != 0)
        _snwprintf(out, 255, text, argument);
    else
        wcsncpy(out, text, 255);
    out[255] = 0;
    m_tray.ShowBalloon(L"", out);
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
        UpdateTreeUI(keys);
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
    // Ending a dialog that is already ending changes nothing.
    for (const std::string& name : names)
        for (CDevBaseDlg* d : m_openDialogs)
            if (d) d->RemoveDlg(name.c_str());
}

// ---- tree ---------------------------------------------------------------------------------------

void CMainDlg::CleanTreeData() {
    LogScope trace("CMainDlg::CleanTreeData");
    if (!m_tree) return;
    m_treeRebuilding = true;
    SendMessageW(m_tree, TVM_DELETEITEM, 0, reinterpret_cast<LPARAM>(TVI_ROOT));
    m_treeRebuilding = false;
    // Only now, with no item left to point at them, may the objects go.
    m_itemObjects.clear();
}

HTREEITEM CMainDlg::InsertItem(const wchar_t* text, int image, HTREEITEM parent,
                               std::shared_ptr<CItemObj> object) {
    if (!m_tree) return nullptr;
    TVINSERTSTRUCTW ins = {};
    ins.hParent = parent ? parent : TVI_ROOT;
    ins.hInsertAfter = TVI_LAST;
    ins.item.mask = TVIF_TEXT | TVIF_PARAM | TVIF_IMAGE | TVIF_SELECTEDIMAGE;
    ins.item.pszText = const_cast<wchar_t*>(text ? text : L"");
    ins.item.iImage = image;
    ins.item.iSelectedImage = image;
    ins.item.lParam = reinterpret_cast<LPARAM>(object.get());
    if (object) m_itemObjects.push_back(std::move(object));
    auto item = reinterpret_cast<HTREEITEM>(
        SendMessageW(m_tree, TVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&ins)));
    if (item && !parent) {
        SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        SetFocus(m_tree);
    }
    return item;
}

void CMainDlg::UpdateTreeUI(const KeyList& keys) {
    LogScope trace("CMainDlg::UpdateTreeUI");
    ApplyLanguage(LanguageChoice());
    if (!m_tree) return;
    CleanTreeData();
    if (keys.empty()) {
        InsertItem(UiText(IDS_NO_DEVICE).c_str(), 0, nullptr, nullptr);
        return;
    }
    std::vector<HTREEITEM> keyItems;
    for (const DevicePtr& dev : keys) {
        wchar_t text[260];
        KeyDisplayName(*dev, text);
        HTREEITEM item = InsertItem(text, 0, nullptr, dev);
        if (!item) continue;
        keyItems.push_back(item);
        // Containers are not shown: their certificates, exchange before signature.
        for (const CertPtr& cert : dev->Certificates())
            InsertItem(cert->subjectName, 1, item, cert);
    }
    for (HTREEITEM item : keyItems)
        SendMessageW(m_tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(item));
}

CItemObj* CMainDlg::ItemObject(HTREEITEM item) const {
    if (!item) return nullptr;
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<CItemObj*>(tv.lParam);
}

std::shared_ptr<CItemObj> CMainDlg::SelectedObject(HTREEITEM* itemOut) const {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (itemOut) *itemOut = item;
    CItemObj* obj = ItemObject(item);
    if (!obj) return nullptr;
    for (const auto& owned : m_itemObjects)
        if (owned.get() == obj) return owned;
    return nullptr;
}

HTREEITEM CMainDlg::ItemOfKey(const CDevObject* dev) const {
    for (auto item =
             reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
         item; item = reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_NEXT,
                                                               reinterpret_cast<LPARAM>(item))))
        if (ItemObject(item) == static_cast<const CItemObj*>(dev)) return item;
    return nullptr;
}

LRESULT CMainDlg::OnSelChanged() {
    if (m_treeRebuilding) return 0;
    HTREEITEM item = nullptr;
    std::shared_ptr<CItemObj> obj = SelectedObject(&item);
    if (!item) return 0;
    const unsigned enabled = ItemButtons(obj.get());
    if (enabled) EnableButtons(enabled, true);
    EnableButtons(BUTTONS_OF_ITEMS & ~enabled, false);
    return 0;
}

void CMainDlg::OnItemCommand(int id) {
    // The object stays alive for the whole command, whatever the tree and the list do while
    // its dialog runs; the list itself is held only while the key is read.
    if (std::shared_ptr<CItemObj> obj = SelectedObject()) RunKeyCommand(id, obj, *this);
}

LRESULT CMainDlg::OnDBLclk() {
    LogScope trace("CMainDlg::OnDBLclk");
    HTREEITEM item = nullptr;
    std::shared_ptr<CItemObj> obj = SelectedObject(&item);
    if (!item ||
        !SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item))) {
        trace.SetEnd("%s end1...");
        return 1;  // a key item neither expands nor collapses
    }
    if (obj) RunKeyCommand(IDC_VIEW_CERT, obj, *this);
    return 0;
}

void CMainDlg::OnViewDInfo() {
    if (PromptBusy()) return;
    LogMessage(LOG_LEVEL_DEBUG, "%s start...", "CMainDlg::OnViewDInfo");
    if (std::shared_ptr<CItemObj> obj = SelectedObject()) {
        RunKeyCommand(IDC_VIEW_DEVINFO, obj, *this);
        return;
    }
    ShowVersionDlg(nullptr);
    LogMessage(LOG_LEVEL_DEBUG, "%s end...", "CMainDlg::OnViewDInfo");
}

void CMainDlg::SelectKey(const CDevObject* dev) {
    if (HTREEITEM item = ItemOfKey(dev))
        SendMessageW(m_tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
}

// ---- dialogs ------------------------------------------------------------------------------------

ULONG CMainDlg::ModifyPIN(const DevicePtr& dev) {
    if (PromptBusy() || !dev) return 0;
    LogScope trace("CMainDlg::ModifyPIN");
    if (dev->GetPinRetries() == 0) {
        ShowMessage(m_hWnd, dev, IDS_PIN_LOCKED, 0, 0);
        PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_LOCKED, 0);
        trace.SetEnd("%s end locked...");
        return 0;
    }
    // The list is held only while the key's reference is taken, never while the dimmed screen
    // is up: inserts and pulls go on meanwhile, and a pull of this key closes the dialog.
    DevicePtr key = m_devices.HoldForDialog(dev, "CMainDlg::ModifyPIN");
    CClockFullScreen host(key, this, m_hWnd);
    {
        OpenDialogScope open(this, DLG_PIN, &host);
        host.Run(m_hWnd, IDD_FULLSCREEN);
    }
    if (host.PinChanged())
        PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_CHANGED, 0);
    else if (key->GetPinRetries() == 0 && !host.ReportedLocked())
        PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_LOCKED, 0);
    trace.SetEnd("%s end ok...");
    return 0;
}

void CMainDlg::OnShowDefPINDlg(const CDevObject* posted) {
    LogScope trace("CMainDlg::OnShowDefPINDlg");
    if (PromptBusy() || m_openDialogs[DLG_PIN] || m_silentRescan == 1) return;
    // The key may have gone since the prompt was posted.
    DevicePtr dev = m_devices.FindListed(posted);
    if (!dev) return;
    m_promptBusy = true;
    HWND parent = GetActiveWindow();
    int answer = ShowMessage(parent ? parent : m_hWnd, dev, IDS_DEFAULT_PIN_PROMPT, 0, 4);
    m_promptBusy = false;
    if (answer == 1 && dev->Probe()) ModifyPIN(dev);
}

ULONG CMainDlg::ModifyDevLabel(const DevicePtr& dev) {
    if (PromptBusy() || !dev) return 0;
    LogScope trace("CMainDlg::ModifyDevLabel");
    CModifyDevLabel dlg(dev, this);
    INT_PTR r;
    {
        OpenDialogScope open(this, DLG_LABEL, &dlg);
        r = dlg.Run(m_hWnd, IDD_LABEL);
    }
    if (r == 1) {
        PostMessageW(m_hWnd, UM_BALLOON, IDS_LABEL_CHANGED, 0);
        // The key's item, wherever the tree has put it meanwhile.
        if (HTREEITEM item = ItemOfKey(dev.get())) {
            TVITEMW tv = {};
            tv.mask = TVIF_TEXT | TVIF_HANDLE;
            tv.hItem = item;
            tv.pszText = const_cast<wchar_t*>(dlg.Label());
            SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        }
    }
    return 0;
}

int CMainDlg::ShowMessage(HWND parent, const DevicePtr& dev, int stringId, ULONG argument,
                          int kind) {
    CMessageDlg dlg(dev, stringId, argument, kind);
    INT_PTR r;
    {
        OpenDialogScope open(this, DLG_MESSAGE, &dlg);
        r = dlg.Run(parent, IDD_MESSAGE);
    }
    return r == 1 ? 1 : 2;
}

ULONG CMainDlg::ShowVersionDlg(const DevicePtr& dev) {
    if (PromptBusy()) return 0;
    CVersionDlg dlg(dev);
    HWND parent = GetActiveWindow();
    OpenDialogScope open(this, DLG_VERSION, &dlg);
    dlg.Run(parent ? parent : m_hWnd, IDD_VERSION);
    return 0;
}

void CMainDlg::ShowAboutDlg() {
    if (PromptBusy() || m_about) return;
    CAboutDlg dlg;
    m_about = &dlg;
    HWND parent = GetActiveWindow();
    dlg.Run(parent ? parent : m_hWnd, IDD_ABOUTBOX);
    m_about = nullptr;
}
