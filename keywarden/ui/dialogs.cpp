#include "dialogs.h"

#include <stdio.h>
#include <wchar.h>

#include "device_list.h"
#include "key_dialogs.h"
#include "key_texts.h"
#include "log.h"
#include "resources.h"

UiText::UiText(int id) {
    text[0] = 0;
    if (LoadStringW(KeywardenInstance(), static_cast<UINT>(id), text, 1024) <= 0) text[0] = 0;
}

HFONT ChineseUiFont(UINT dpi) {
    // All windows live on the user-interface thread; a few screens' scales at most.
    static struct {
        UINT dpi;
        HFONT font;
    } made[8] = {};
    for (auto& m : made) {
        if (m.font && m.dpi == dpi) return m.font;
        if (!m.font) {
            m.dpi = dpi;
            m.font = CreateFaceFont(L"\u5FAE\u8F6F\u96C5\u9ED1", 10, dpi);
            return m.font;
        }
    }
    // More scales than that: the last one is made anew (its old font stays with its windows).
    made[7].dpi = dpi;
    made[7].font = CreateFaceFont(L"\u5FAE\u8F6F\u96C5\u9ED1", 10, dpi);
    return made[7].font;
}

// ---- CModalDialog ---------------------------------------------------------------------------

INT_PTR CModalDialog::Run(HWND parent, int templateId) {
    return DialogBoxParamW(KeywardenInstance(), MAKEINTRESOURCEW(templateId), parent, Proc,
                           reinterpret_cast<LPARAM>(this));
}

void CModalDialog::End(INT_PTR result) {
    if (m_hWnd) EndDialog(m_hWnd, result);
}

void CModalDialog::CenterOnParent() {
    HWND parent = GetParent(m_hWnd);
    RECT r, area;
    GetWindowRect(m_hWnd, &r);
    HMONITOR monitor = MonitorFromWindow(parent ? parent : m_hWnd, MONITOR_DEFAULTTONEAREST);
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(monitor, &mi);
    area = mi.rcWork;
    RECT around = area;
    // A hidden parent (the main window lives in the tray) gives no sensible place.
    if (parent && IsWindowVisible(parent) && !IsIconic(parent)) GetWindowRect(parent, &around);
    int w = r.right - r.left, h = r.bottom - r.top;
    int x = around.left + ((around.right - around.left) - w) / 2;
    int y = around.top + ((around.bottom - around.top) - h) / 2;
    if (x + w > area.right) x = area.right - w;
    if (y + h > area.bottom) y = area.bottom - h;
    if (x < area.left) x = area.left;
    if (y < area.top) y = area.top;
    SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

INT_PTR CALLBACK CModalDialog::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    CModalDialog* self;
    if (msg == WM_INITDIALOG) {
        self = reinterpret_cast<CModalDialog*>(lParam);
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        self->m_hWnd = hwnd;
        self->m_dpi.Attach(hwnd);
        self->OnInit();
        return TRUE;
    }
    self = reinterpret_cast<CModalDialog*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    INT_PTR handled = 0;
    if (msg != WM_DESTROY && self->OnMessage(msg, wParam, lParam, &handled)) return handled;
    switch (msg) {
        case WM_DPICHANGED:
            if (self->m_dpi.Change(wParam, lParam)) self->OnDpiChanged();
            return TRUE;
        case WM_COMMAND:
            if (self->OnCommand(LOWORD(wParam))) return TRUE;
            if (LOWORD(wParam) == IDCANCEL) {
                self->End(2);
                return TRUE;
            }
            return FALSE;
        case WM_CLOSE:
            self->End(2);
            return TRUE;
        case WM_DESTROY:
            self->m_hWnd = nullptr;
            return FALSE;
    }
    return FALSE;
}

// ---- CKeyDialog -------------------------------------------------------------------------------

void CKeyDialog::RemoveDlg(const char* devName) {
    if (!m_dev || !devName) return;
    char name[kDevNameSize] = {};
    if (m_dev->GetDevPath(name, sizeof name) != 0) {
        LogMessage(LOG_LEVEL_ERROR, "%s GetDevPath ERR", m_traceName);
        return;
    }
    if (SameDeviceName(name, devName)) End(2);
}

// ---- CMessageDlg ------------------------------------------------------------------------------

void CMessageDlg::FormatText(int stringId, ULONG argument, wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    UiText text(stringId);
    if (stringId == IDS_PIN_WRONG || stringId == IDS_PIN_CHANGE_FAILED ||
        stringId == IDS_UPDATE_DEVINFO_FAILED)
        _snwprintf(out, size - 1, text.c_str(), argument);
    else
        wcsncpy(out, text.c_str(), size - 1);
    out[size - 1] = 0;
}

void CMessageDlg::RemoveDlg(const char* devName) {
    LogScope trace("CMessageDlg::RemoveDlg");
    CKeyDialog::RemoveDlg(devName);
}

void CMessageDlg::OnInit() {
    CenterOnParent();
    HWND ok = GetDlgItem(m_hWnd, IDOK);
    HWND cancel = GetDlgItem(m_hWnd, IDCANCEL);
    if (m_kind == 4) {
        // OK moves left by half its width; Cancel starts where OK ended, on OK's row.
        RECT r;
        GetWindowRect(ok, &r);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
        int w = r.right - r.left, h = r.bottom - r.top;
        SetWindowPos(ok, nullptr, r.left - w / 2, r.top, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
        RECT c;
        GetWindowRect(cancel, &c);
        SetWindowPos(cancel, nullptr, r.right, r.top, c.right - c.left, h, SWP_NOZORDER);
    } else {
        ShowWindow(cancel, SW_HIDE);
    }
    UpdateTexts();
}

void CMessageDlg::UpdateTexts() {
    if (!m_hWnd) return;
    if (m_stringId == IDS_DEFAULT_PIN_PROMPT && m_dev) {
        wchar_t serial[128];
        m_dev->GetDevSNW(serial);
        SetWindowTextW(m_hWnd, serial);
    } else {
        SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    }
    wchar_t text[1024];
    FormatText(m_stringId, m_argument, text, 1024);
    SetDlgItemTextW(m_hWnd, IDC_TEXT, text);
    SetDlgItemTextW(m_hWnd, IDOK, UiText(IDS_OK).c_str());
    if (m_kind == 4) SetDlgItemTextW(m_hWnd, IDCANCEL, UiText(IDS_CANCEL).c_str());
    GrowToText(text);
}

void CMessageDlg::GrowToText(const wchar_t* text) {
    // Long texts (the default-PIN prompt in English) need more lines than the template
    // gives: the text grows downwards and the buttons and the dialog move with it.
    HWND label = GetDlgItem(m_hWnd, IDC_TEXT);
    RECT r;
    GetWindowRect(label, &r);
    MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&r), 2);
    RECT need = {0, 0, r.right - r.left, 0};
    HDC dc = GetDC(label);
    HGDIOBJ old = SelectObject(dc, reinterpret_cast<HFONT>(SendMessageW(label, WM_GETFONT, 0, 0)));
    DrawTextW(dc, text, -1, &need, DT_CALCRECT | DT_WORDBREAK | DT_EDITCONTROL);
    SelectObject(dc, old);
    ReleaseDC(label, dc);
    int delta = (need.bottom - need.top) - (r.bottom - r.top);
    if (delta <= 0) return;
    SetWindowPos(label, nullptr, 0, 0, r.right - r.left, need.bottom - need.top,
                 SWP_NOMOVE | SWP_NOZORDER);
    for (int id : {IDOK, IDCANCEL}) {
        HWND b = GetDlgItem(m_hWnd, id);
        RECT br;
        GetWindowRect(b, &br);
        MapWindowPoints(nullptr, m_hWnd, reinterpret_cast<POINT*>(&br), 2);
        SetWindowPos(b, nullptr, br.left, br.top + delta, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }
    RECT w;
    GetWindowRect(m_hWnd, &w);
    SetWindowPos(m_hWnd, nullptr, 0, 0, w.right - w.left, w.bottom - w.top + delta,
                 SWP_NOMOVE | SWP_NOZORDER);
}

void CMessageDlg::OnDpiChanged() {
    // The text in the font of the new dpi may need another line than the scaled label gives.
    wchar_t text[1024] = {};
    GetDlgItemTextW(m_hWnd, IDC_TEXT, text, 1024);
    GrowToText(text);
}

bool CMessageDlg::OnCommand(int id) {
    if (id == IDOK) {
        End(1);
        return true;
    }
    return false;
}

// ---- CVersionDlg ------------------------------------------------------------------------------

void CVersionDlg::BuildText(const CDevObject* dev, wchar_t* out, size_t size) {
    if (!out || size == 0) return;
    out[0] = 0;
    size_t used = 0;
    auto append = [&](const wchar_t* part) {
        int n = _snwprintf(out + used, size - used - 1, L"%ls", part);
        used = n < 0 ? size - 1 : used + static_cast<size_t>(n);
        out[used] = 0;
    };
    wchar_t line[1024];
    if (dev) {
        wchar_t serial[128];
        dev->GetDevSNW(serial);
        _snwprintf(line, 1023, UiText(IDS_DEVICE_ID).c_str(), serial);
        line[1023] = 0;
        append(line);
        wchar_t cos[64];
        if (dev->GetCosVersionW(cos, 64) == 0) {
            _snwprintf(line, 1023, UiText(IDS_COS_VERSION).c_str(), cos);
            line[1023] = 0;
            append(L"\r\n");
            append(line);
            append(L"\r\n");
        } else {
            append(L"\r\n");
        }
    }
    wchar_t version[64];
    GetVersionText(version, 64);
    _snwprintf(line, 1023, UiText(IDS_VERSION).c_str(), version);
    line[1023] = 0;
    append(line);
}

void CVersionDlg::OnInit() {
    CenterOnParent();
    UpdateTexts();
}

void CVersionDlg::UpdateTexts() {
    if (!m_hWnd) return;
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    SetDlgItemTextW(m_hWnd, IDOK, UiText(IDS_OK).c_str());
    wchar_t text[2048];
    BuildText(m_dev.get(), text, 2048);
    SetDlgItemTextW(m_hWnd, IDC_TEXT, text);
}

bool CVersionDlg::OnCommand(int id) {
    if (id == IDOK) {
        End(1);
        return true;
    }
    return false;
}

// ---- CModifyDevLabel --------------------------------------------------------------------------

CModifyDevLabel::~CModifyDevLabel() = default;

void CModifyDevLabel::OnInit() {
    CenterOnParent();
    m_edit = GetDlgItem(m_hWnd, IDC_LABEL_EDIT);
    SendMessageW(m_edit, WM_SETFONT, reinterpret_cast<WPARAM>(ChineseUiFont(Dpi())), TRUE);
    UpdateTexts();
}

void CModifyDevLabel::OnDpiChanged() {
    SendMessageW(m_edit, WM_SETFONT, reinterpret_cast<WPARAM>(ChineseUiFont(Dpi())), TRUE);
}

void CModifyDevLabel::UpdateTexts() {
    if (!m_hWnd) return;
    SendMessageW(m_edit, EM_LIMITTEXT, 30, 0);
    SetFocus(m_edit);
    SetWindowTextW(m_hWnd, UiText(IDS_LABEL_CAPTION).c_str());
    SetDlgItemTextW(m_hWnd, IDOK, UiText(IDS_OK).c_str());
    SetDlgItemTextW(m_hWnd, IDCANCEL, UiText(IDS_CANCEL).c_str());
    wchar_t name[260] = {};
    if (m_dev) KeyDisplayName(*m_dev, name);
    SetWindowTextW(m_edit, name);
    SendMessageW(m_edit, EM_SETSEL, 0, -1);
    SendMessageW(m_edit, EM_SCROLLCARET, 0, 0);
}

bool CModifyDevLabel::OnCommand(int id) {
    if (id == IDOK) {
        OnOK();
        return true;
    }
    return false;
}

void CModifyDevLabel::OnOK() {
    wchar_t text[128] = {};
    GetWindowTextW(m_edit, text, 128);
    if (!text[0]) {
        if (m_owner) m_owner->ShowMessage(m_hWnd, m_dev, IDS_LABEL_EMPTY, 0, 0);
        return;
    }
    char ansi[129] = {};
    int n = WideCharToMultiByte(CP_ACP, 0, text, -1, ansi, 128, nullptr, nullptr);
    // Without room for the whole text the conversion fails: the label is never cut midway.
    ULONG rv = n > 0 && m_dev ? m_dev->SetDevLabelFromES(ansi, static_cast<ULONG>(n - 1))
                              : static_cast<ULONG>(KW_ERR_BUFFER_TOO_SHORT);
    if (rv == 0) {
        wcsncpy(m_label, text, 127);
        End(1);
        return;
    }
    LogMessage(LOG_LEVEL_ERROR, "%s 设置标签失败[%#x]", "CModifyDevLabel::OnOK",
               static_cast<unsigned>(rv));
    if (m_owner) m_owner->ShowMessage(m_hWnd, m_dev, IDS_LABEL_FAILED, 0, 0);
}

// ---- CAboutDlg ----------------------------------------------------------------------------------

CAboutDlg::~CAboutDlg() {
    if (m_icon) DestroyIcon(m_icon);
}

void CAboutDlg::OnInit() {
    CenterOnParent();
    OnDpiChanged();
    UpdateTexts();
}

void CAboutDlg::OnDpiChanged() {
    // The template's icon comes at the system's size; the dialog's dpi may ask for another.
    HICON icon = LoadIconForDpi(IDI_APP, SM_CXICON, Dpi());
    if (!icon) return;
    for (HWND c = GetWindow(m_hWnd, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT))
        if ((GetWindowLongPtrW(c, GWL_STYLE) & SS_TYPEMASK) == SS_ICON) {
            wchar_t cls[16] = {};
            GetClassNameW(c, cls, 16);
            if (_wcsicmp(cls, L"Static") == 0)
                SendMessageW(c, STM_SETICON, reinterpret_cast<WPARAM>(icon), 0);
        }
    if (m_icon) DestroyIcon(m_icon);
    m_icon = icon;
}

void CAboutDlg::UpdateTexts() {
    if (!m_hWnd) return;
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    // The table's line breaks are line feeds; the static control breaks lines on either.
    SetDlgItemTextW(m_hWnd, IDC_ABOUT_TEXT, UiText(IDS_ABOUT_TEXT).c_str());
    SetDlgItemTextW(m_hWnd, IDOK, UiText(IDS_OK).c_str());
}

bool CAboutDlg::OnCommand(int id) {
    if (id == IDOK) {
        End(1);
        return true;
    }
    return false;
}
