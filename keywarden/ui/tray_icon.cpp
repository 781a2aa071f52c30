#include "tray_icon.h"

#include <stdio.h>
#include <wchar.h>

#include "dialogs.h"
#include "keywarden_window.h"
#include "log.h"
#include "resource.h"
#include "resources.h"

namespace {

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

bool CTrayIcon::SetIcon(HICON icon) {
    m_nid.hIcon = icon;
    m_nid.uFlags = NIF_ICON;
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

bool CTrayIcon::ShowStringBalloon(int stringId, LPARAM argument, const wchar_t* notice) {
    wchar_t text[260] = {};
    LoadStringW(KeywardenInstance(), static_cast<UINT>(stringId), text, 260);
    wchar_t out[256] = {};
    if (stringId == IDS_CERT_NOTICE_TITLE) {
        // The collected notice is the balloon's text under the title "certificate message".
        FitNoticeToBalloon(notice, out, 256);
        return ShowBalloon(text, out);
    }
    if (argument != 0)
        _snwprintf(out, 255, text, argument);
    else
        wcsncpy(out, text, 255);
    out[255] = 0;
    return ShowBalloon(L"", out);
}

// ---- menu and window
// -----------------------------------------------------------------------------

HMENU BuildTrayMenu(HMENU* popupOut) {
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

void ShowTrayMenu(HWND window) {
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
    SetForegroundWindow(window);
    TrackPopupMenu(popup, TPM_LEFTBUTTON, pt.x, pt.y, 0, window, nullptr);
    PostMessageW(window, WM_NULL, 0, 0);
    DestroyMenu(menu);
}

void ShowFromTray(HWND window) {
    RECT to;
    GetWindowRect(window, &to);
    if (!IsWindowVisible(window)) {
        RECT from = TrayRectangle();
        DrawAnimatedRects(window, IDANI_CAPTION, &from, &to);
        ShowWindow(window, SW_SHOW);
    }
    if (IsIconic(window)) {
        RECT from = TrayRectangle();
        DrawAnimatedRects(window, IDANI_CAPTION, &from, &to);
        ShowWindow(window, SW_RESTORE);
    } else {
        BringWindowToTop(window);
    }
    SetForegroundWindow(window);
}
