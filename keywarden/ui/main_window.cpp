#include "main_window.h"

#include <commctrl.h>
#include <shlobj.h>
#include <stdio.h>
#include <wchar.h>

#include <string>

#include "app.h"
#include "dialogs.h"
#include "pin_dialog.h"
#include "log.h"
#include "png_loader.h"
#include "resources.h"

namespace {

enum : int {
    IDS_MENU_OPEN = 212,
    IDS_MENU_LANGUAGE = 213,
    IDS_MENU_EXIT = 218,
};

// Texts of the main window's controls.
const struct {
    int control, text;
} kControlTexts[] = {{IDC_MODIFY_PIN, 203}, {IDC_MODIFY_LABEL, 204}, {IDC_VIEW_CERT, 205},
                     {IDC_VIEW_DEVINFO, 206}, {IDC_REFRESH, 207}, {IDOK, 208},
                     {IDC_CERT_GROUP, 209}};

// Registers a dialog as the open one of its kind (and as its key's dialog) while it runs.
class OpenDialogScope {
  public:
    OpenDialogScope(CMainDlg* owner, CMainDlg::DialogSlot slot, CDevObject* dev, CDevBaseDlg* dlg)
        : owner_(owner), slot_(slot), dev_(dev), previous_(owner->OpenDialog(slot)) {
        owner_->SetOpenDialog(slot_, dlg);
        if (dev_) {
            previousOfKey_ = dev_->openDialog;
            dev_->openDialog = dlg;
        }
    }
    ~OpenDialogScope() {
        owner_->SetOpenDialog(slot_, previous_);
        if (!dev_) return;
        // The key may have gone while the dialog ran (its release told the dialog): only a
        // key still listed is touched.
        DeviceListGuard guard(owner_->ListLock(), "OpenDialogScope", DeviceListGuard::UiThread);
        if (owner_->IsListed(dev_)) dev_->openDialog = previousOfKey_;
    }

  private:
    CMainDlg* owner_;
    CMainDlg::DialogSlot slot_;
    CDevObject* dev_;
    CDevBaseDlg* previous_;
    CDevBaseDlg* previousOfKey_ = nullptr;
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

CTrayIcon::CTrayIcon() : m_message(RegisterWindowMessageA(kTrayMessageName)) {
    m_nid.cbSize = NOTIFYICONDATAW_V3_SIZE;
}

CTrayIcon::~CTrayIcon() { Remove(); }

bool CTrayIcon::Install(HWND window, HICON icon, const wchar_t* tip) {
    if (m_installed) return true;
    m_nid.hWnd = window;
    m_nid.uID = kTrayIconId;
    m_nid.uFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
    m_nid.uCallbackMessage = m_message;
    m_nid.hIcon = icon;
    wcsncpy(m_nid.szTip, tip ? tip : L"", 127);
    m_nid.szTip[127] = 0;
    m_installed = Shell_NotifyIconW(NIM_ADD, &m_nid) != FALSE;
    LogMessage(LOG_LEVEL_DEBUG, "ret[%d] error[%#x]", m_installed ? 1 : 0,
               static_cast<unsigned>(GetLastError()));
    return m_installed;
}

bool CTrayIcon::SetTooltip(const wchar_t* tip) {
    m_nid.uFlags = NIF_TIP;
    wcsncpy(m_nid.szTip, tip ? tip : L"", 127);
    m_nid.szTip[127] = 0;
    return m_installed && Shell_NotifyIconW(NIM_MODIFY, &m_nid) != FALSE;
}

bool CTrayIcon::ShowBalloon(const wchar_t* title, const wchar_t* text) {
    m_nid.uFlags = NIF_INFO;
    wcsncpy(m_nid.szInfo, text ? text : L"", 255);
    m_nid.szInfo[255] = 0;
    wcsncpy(m_nid.szInfoTitle, title ? title : L"", 63);
    m_nid.szInfoTitle[63] = 0;
    m_nid.uTimeout = 24;
    m_nid.dwInfoFlags = NIIF_INFO;
    return m_installed && Shell_NotifyIconW(NIM_MODIFY, &m_nid) != FALSE;
}

void CTrayIcon::Remove() {
    if (!m_installed) return;
    m_nid.uFlags = 0;
    Shell_NotifyIconW(NIM_DELETE, &m_nid);
    m_installed = false;
}

// ---- CKeywardenDlg ------------------------------------------------------------------------------

CMainDlg* MakeKeywardenDlg() { return new CKeywardenDlg(); }

CKeywardenDlg::CKeywardenDlg() { SetKeyDialogs(this); }

CKeywardenDlg::~CKeywardenDlg() {
    // The window goes first (its end removes the tray icon), then what it showed.
    if (m_hWnd && IsWindow(m_hWnd)) DestroyWindow(m_hWnd);
    m_tray.Remove();
    if (m_images) ImageList_Destroy(m_images);
    if (m_logo) DeleteObject(m_logo);
    if (m_bigIcon) DestroyIcon(m_bigIcon);
    if (m_smallIcon) DestroyIcon(m_smallIcon);
}

void CKeywardenDlg::OnInitDialog() {
    CenterOnWorkArea();
    InitCtrl();
    CMainDlg::OnInitDialog();  // device notifications and the start-up read
    HINSTANCE inst = KeywardenInstance();
    m_bigIcon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                              GetSystemMetrics(SM_CXICON),
                                              GetSystemMetrics(SM_CYICON), 0));
    m_smallIcon = static_cast<HICON>(LoadImageW(inst, MAKEINTRESOURCEW(IDI_APP), IMAGE_ICON,
                                                GetSystemMetrics(SM_CXSMICON),
                                                GetSystemMetrics(SM_CYSMICON), 0));
    SendMessageW(m_hWnd, WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_bigIcon));
    SendMessageW(m_hWnd, WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_smallIcon));
    m_tray.Install(m_hWnd, m_smallIcon, UiText(IDS_CAPTION).c_str());
}

void CKeywardenDlg::CenterOnWorkArea() {
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

void CKeywardenDlg::InitCtrl() {
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

void CKeywardenDlg::SetTexts() {
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    for (auto t : kControlTexts) SetDlgItemTextW(m_hWnd, t.control, UiText(t.text).c_str());
}

void CKeywardenDlg::ChangeMutileLang() {
    LogScope trace("CMainDlg::ChangeMutileLang");
    ApplyLanguage(LanguageChoice.load());
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    m_tray.SetTooltip(UiText(IDS_CAPTION).c_str());
    for (auto t : kControlTexts) SetDlgItemTextW(m_hWnd, t.control, UiText(t.text).c_str());
    if (m_about) m_about->UpdateTexts();
    // The default-PIN prompt is the open message dialog: renewed with the others.
    for (DialogSlot s : {DLG_VERSION, DLG_MESSAGE, DLG_LABEL, DLG_PIN})
        if (CDevBaseDlg* d = OpenDialog(s)) d->UpdateTexts();
    DeviceListGuard guard(ListLock(), "CMainDlg::ChangeMutileLang", DeviceListGuard::UiThread);
    UpdateTreeUI(TREE_LANGUAGE, nullptr);
}

bool CKeywardenDlg::HandleMessage(UINT msg, WPARAM wParam, LPARAM lParam, LRESULT* result) {
    if (msg == m_tray.Message() && msg != 0) {
        if (wParam != kTrayIconId) return true;
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
        case WM_DESTROY:
            m_tray.Remove();
            break;  // the device notifications go in the core's handler
        case UM_OPENURL:
            *result = OnOpenURL();
            return true;
        case UM_BALLOON:
            OnShowBalloon(static_cast<int>(wParam), lParam);
            return true;
        case UM_SHOWDEFPIN:
            OnShowDefPINDlg(reinterpret_cast<CDevObject*>(wParam));
            return true;
        case WM_NOTIFY: {
            auto* hdr = reinterpret_cast<const NMHDR*>(lParam);
            if (!hdr || hdr->idFrom != IDC_DEVICE_TREE) break;
            if (hdr->code == TVN_SELCHANGEDW) {
                *result = OnSelChanged();
                return true;
            }
            if (hdr->code == NM_DBLCLK) {
                *result = OnDBLclk();
                return true;
            }
            break;
        }
        case WM_COMMAND:
            switch (LOWORD(wParam)) {
                case ID_APP_ABOUT:
                    ShowAboutDlg();
                    return true;
                case ID_LANG_ZH_CN:
                case ID_LANG_ZH_TW:
                case ID_LANG_EN:
                    LanguageChoice = LOWORD(wParam) == ID_LANG_ZH_CN   ? 1
                                     : LOWORD(wParam) == ID_LANG_ZH_TW ? 2
                                                                       : 9;
                    ChangeMutileLang();
                    return true;
                case IDC_VIEW_DEVINFO:
                    OnViewDInfo();
                    return true;
                case IDC_MODIFY_PIN:
                case IDC_MODIFY_LABEL:
                case IDC_VIEW_CERT:
                    OnItemCommand(LOWORD(wParam));
                    return true;
            }
            break;
    }
    return CMainDlg::HandleMessage(msg, wParam, lParam, result);
}

// ---- tray ---------------------------------------------------------------------------------------

HMENU CKeywardenDlg::BuildTrayMenu(HMENU* popupOut) {
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
    ModifyMenuW(languages, 0, MF_BYPOSITION | MF_STRING, ID_LANG_ZH_CN, L"\u7B80\u4F53\u4E2D\u6587");
    ModifyMenuW(languages, 1, MF_BYPOSITION | MF_STRING, ID_LANG_ZH_TW, L"\u7E41\u9AD4\u4E2D\u6587");
    ModifyMenuW(languages, 2, MF_BYPOSITION | MF_STRING, ID_LANG_EN, L"EngLish");
    SetMenuDefaultItem(popup, 0, TRUE);
    if (popupOut) *popupOut = popup;
    return menu;
}

void CKeywardenDlg::ShowTrayMenu() {
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

void CKeywardenDlg::ShowWithAnimation() {
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

void CKeywardenDlg::OnShowBalloon(int stringId, LPARAM argument) {
    wchar_t text[260] = {};
    LoadStringW(KeywardenInstance(), static_cast<UINT>(stringId), text, 260);
    wchar_t out[256] = {};
    if (stringId == IDS_CERT_NOTICE_TITLE) {
        // The collected notice is the balloon's text under the title "certificate message".
        wchar_t notice[kCertNoticeSize] = {};
        {
            DeviceListGuard guard(ListLock(), "CMainDlg::OnShowBalloon", DeviceListGuard::UiThread);
            CertNotice_Copy(notice, kCertNoticeSize);
        }
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

void CKeywardenDlg::GetWebAddress(wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    char config[MAX_PATH + 32];
    GetConfigPath(config, sizeof config);
    char url[1024] = {};
    GetPrivateProfileStringA("exe_config", "url", "https://www.keva.example/", url, sizeof url,
                             config);
    if (MultiByteToWideChar(CP_ACP, 0, url, -1, out, static_cast<int>(size)) == 0) out[0] = 0;
    out[size - 1] = 0;
}

LRESULT CKeywardenDlg::OnOpenURL() {
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
    std::wstring command = L"\"" + std::wstring(folder) + L"\\Internet Explorer\\iexplore.exe\" \"" +
                           url + L"\"";
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

// ---- tree ---------------------------------------------------------------------------------------

CItemObj* CKeywardenDlg::SelectedObject(HTREEITEM* itemOut) {
    auto item = reinterpret_cast<HTREEITEM>(SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_CARET, 0));
    if (itemOut) *itemOut = item;
    if (!item) return nullptr;
    TVITEMW tv = {};
    tv.mask = TVIF_PARAM | TVIF_HANDLE;
    tv.hItem = item;
    if (!SendMessageW(m_tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&tv))) return nullptr;
    return reinterpret_cast<CItemObj*>(tv.lParam);
}

LRESULT CKeywardenDlg::OnSelChanged() {
    if (TreeRebuilding()) return 0;
    HTREEITEM item = nullptr;
    CItemObj* obj = SelectedObject(&item);
    if (!item) return 0;
    if (obj)
        obj->UpdateButtons(this);
    else
        EnableButtons(1 | 2 | 4, FALSE);
    return 0;
}

void CKeywardenDlg::OnItemCommand(int id) {
    // The objects stay while the list is held; the per-key dialogs that run meanwhile close
    // when their key is pulled, which lets the pull go on.
    DeviceListGuard guard(ListLock(), "CMainDlg::OnItemCommand", DeviceListGuard::UiThread);
    if (CItemObj* obj = SelectedObject()) obj->ButtonClick(id, this);
}

LRESULT CKeywardenDlg::OnDBLclk() {
    LogScope trace("CMainDlg::OnDBLclk");
    DeviceListGuard guard(ListLock(), "CMainDlg::OnDBLclk", DeviceListGuard::UiThread);
    HTREEITEM item = nullptr;
    CItemObj* obj = SelectedObject(&item);
    if (!item || !SendMessageW(m_tree, TVM_GETNEXTITEM, TVGN_PARENT, reinterpret_cast<LPARAM>(item))) {
        trace.SetEnd("%s end1...");
        return 1;  // a key item neither expands nor collapses
    }
    if (obj) obj->ButtonClick(IDC_VIEW_CERT, this);
    return 0;
}

void CKeywardenDlg::OnViewDInfo() {
    if (PromptBusy()) return;
    LogMessage(LOG_LEVEL_DEBUG, "%s start...", "CMainDlg::OnViewDInfo");
    {
        DeviceListGuard guard(ListLock(), "CMainDlg::OnViewDInfo", DeviceListGuard::UiThread);
        if (CItemObj* obj = SelectedObject()) {
            obj->ButtonClick(IDC_VIEW_DEVINFO, this);
            return;
        }
    }
    ShowVersionDlg(nullptr);
    LogMessage(LOG_LEVEL_DEBUG, "%s end...", "CMainDlg::OnViewDInfo");
}

// ---- dialogs ------------------------------------------------------------------------------------

ULONG CKeywardenDlg::ModifyPIN(CDevObject* dev) {
    if (PromptBusy() || !dev) return 0;
    LogScope trace("CMainDlg::ModifyPIN");
    if (dev->GetPinRetries() == 0) {
        ShowMessage(m_hWnd, dev, IDS_PIN_LOCKED, 0, 0);
        PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_LOCKED, 0);
        trace.SetEnd("%s end locked...");
        return 0;
    }
    CClockFullScreen host(dev, this, m_hWnd);
    {
        OpenDialogScope open(this, DLG_PIN, dev, &host);
        host.Run(m_hWnd, IDD_FULLSCREEN);
    }
    if (host.PinChanged())
        PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_CHANGED, 0);
    else if (dev->GetPinRetries() == 0 && !host.ReportedLocked())
        PostMessageW(m_hWnd, UM_BALLOON, IDS_PIN_LOCKED, 0);
    trace.SetEnd("%s end ok...");
    return 0;
}

void CKeywardenDlg::OnShowDefPINDlg(CDevObject* dev) {
    LogScope trace("CMainDlg::OnShowDefPINDlg");
    if (PromptBusy() || OpenDialog(DLG_PIN) || s_silentRescan.load() == 1) return;
    // The key may have gone since the prompt was posted.
    DeviceListGuard guard(ListLock(), "CMainDlg::OnShowDefPINDlg", DeviceListGuard::UiThread);
    if (!IsListed(dev)) return;
    SetPromptBusy(true);
    HWND parent = GetActiveWindow();
    int answer = ShowMessage(parent ? parent : m_hWnd, dev, IDS_DEFAULT_PIN_PROMPT, 0, 4);
    SetPromptBusy(false);
    if (answer == 1 && IsListed(dev) && dev->Probe()) ModifyPIN(dev);
}

ULONG CKeywardenDlg::ModifyDevLabel(CDevObject* dev) {
    if (PromptBusy() || !dev) return 0;
    LogScope trace("CMainDlg::ModifyDevLabel");
    CModifyDevLabel dlg(dev, this);
    INT_PTR r;
    {
        OpenDialogScope open(this, DLG_LABEL, dev, &dlg);
        r = dlg.Run(m_hWnd, IDD_LABEL);
    }
    if (r == 1) {
        PostMessageW(m_hWnd, UM_BALLOON, IDS_LABEL_CHANGED, 0);
        HTREEITEM item = nullptr;
        SelectedObject(&item);
        if (item) {
            TVITEMW tv = {};
            tv.mask = TVIF_TEXT | TVIF_HANDLE;
            tv.hItem = item;
            tv.pszText = const_cast<wchar_t*>(dlg.Label());
            SendMessageW(m_tree, TVM_SETITEMW, 0, reinterpret_cast<LPARAM>(&tv));
        }
    }
    return 0;
}

int CKeywardenDlg::ShowMessage(HWND parent, CDevObject* dev, int stringId, ULONG argument,
                               int kind) {
    CMessageDlg dlg(dev, stringId, argument, kind);
    INT_PTR r;
    {
        OpenDialogScope open(this, DLG_MESSAGE, dev, &dlg);
        r = dlg.Run(parent, IDD_MESSAGE);
    }
    return r == 1 ? 1 : 2;
}

ULONG CKeywardenDlg::ShowVersionDlg(CDevObject* dev) {
    if (PromptBusy()) return 0;
    CVersionDlg dlg(dev);
    HWND parent = GetActiveWindow();
    OpenDialogScope open(this, DLG_VERSION, dev, &dlg);
    dlg.Run(parent ? parent : m_hWnd, IDD_VERSION);
    return 0;
}

void CKeywardenDlg::ShowAboutDlg() {
    if (PromptBusy() || m_about) return;
    CAboutDlg dlg;
    m_about = &dlg;
    HWND parent = GetActiveWindow();
    dlg.Run(parent ? parent : m_hWnd, IDD_ABOUTBOX);
    m_about = nullptr;
}
