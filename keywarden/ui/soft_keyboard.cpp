#include "soft_keyboard.h"

#include <bcrypt.h>

#include "log.h"
#include "resources.h"

namespace {

// Uniform in [0, bound) from the system's random source, without modulo bias.
bool RandomBelow(unsigned bound, unsigned* out) {
    const unsigned limit = 0xFFFFFFFFu - 0xFFFFFFFFu % bound;
    for (;;) {
        unsigned r = 0;
        if (!BCRYPT_SUCCESS(BCryptGenRandom(nullptr, reinterpret_cast<PUCHAR>(&r), sizeof r,
                                            BCRYPT_USE_SYSTEM_PREFERRED_RNG)))
            return false;
        if (r < limit) {
            *out = r % bound;
            return true;
        }
    }
}

}  // namespace

bool ShuffleKeys(int (&permutation)[kSoftKeyCount]) {
    bool used[kSoftKeyCount] = {};
    for (int j = 0; j < kSoftKeyCount; ++j) {
        unsigned r;
        do {
            if (!RandomBelow(kSoftKeyCount, &r)) {
                for (int i = 0; i < kSoftKeyCount; ++i) permutation[i] = i;
                return false;
            }
        } while (used[r]);
        used[r] = true;
        permutation[j] = static_cast<int>(r);
    }
    return true;
}

wchar_t SoftKeyChar(int index, int caseMode) {
    if (index < 0 || index >= kSoftKeyCount) return 0;
    if (index < 10) return L"1234567890"[index];
    return static_cast<wchar_t>((caseMode ? L'A' : L'a') + (index - 10));
}

CSoftKBDlg::~CSoftKBDlg() {
    Destroy();
    if (m_font) DeleteObject(m_font);
}

HWND CSoftKBDlg::Create(HWND ownerWindow) {
    if (m_hWnd) return m_hWnd;
    CreateDialogParamW(KeywardenInstance(), MAKEINTRESOURCEW(IDD_SOFTKB), ownerWindow, Proc,
                       reinterpret_cast<LPARAM>(this));
    return m_hWnd;
}

void CSoftKBDlg::Destroy() {
    if (m_hWnd) DestroyWindow(m_hWnd);  // WM_NCDESTROY clears m_hWnd
    m_hWnd = nullptr;
}

void CSoftKBDlg::SetCaption(const wchar_t* caption) {
    if (m_hWnd) SetWindowTextW(m_hWnd, caption);
}

INT_PTR CALLBACK CSoftKBDlg::Proc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_INITDIALOG) {
        SetWindowLongPtrW(hwnd, DWLP_USER, lParam);
        auto* self = reinterpret_cast<CSoftKBDlg*>(lParam);
        self->m_hWnd = hwnd;
        self->OnInit();
        return FALSE;  // the focus stays where it is
    }
    auto* self = reinterpret_cast<CSoftKBDlg*>(GetWindowLongPtrW(hwnd, DWLP_USER));
    if (!self) return FALSE;
    switch (msg) {
        case WM_COMMAND:
            if (HIWORD(wParam) == BN_CLICKED) self->OnCommand(LOWORD(wParam));
            return TRUE;
        case WM_CLOSE:
            ShowWindow(hwnd, SW_HIDE);
            return TRUE;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, DWLP_USER, 0);
            self->m_hWnd = nullptr;
            return FALSE;
    }
    return FALSE;
}

void CSoftKBDlg::OnInit() {
    // Beside the owner: the left edge 30 pixels left of its right edge, 100 pixels below its top.
    // On a small screen it is moved back inside the owner's monitor.
    if (HWND owner = GetWindow(m_hWnd, GW_OWNER)) {
        RECT o, r;
        GetWindowRect(owner, &o);
        GetWindowRect(m_hWnd, &r);
        MONITORINFO mi = {};
        mi.cbSize = sizeof mi;
        GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &mi);
        int x = o.right - 30, y = o.top + 100;
        int w = r.right - r.left, h = r.bottom - r.top;
        if (x + w > mi.rcMonitor.right) x = mi.rcMonitor.right - w;
        if (y + h > mi.rcMonitor.bottom) y = mi.rcMonitor.bottom - h;
        if (x < mi.rcMonitor.left) x = mi.rcMonitor.left;
        if (y < mi.rcMonitor.top) y = mi.rcMonitor.top;
        SetWindowPos(m_hWnd, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    }
    m_caseMode = 0;
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, 252, LWA_ALPHA);

    HDC dc = GetDC(nullptr);
    int dpi = dc ? GetDeviceCaps(dc, LOGPIXELSY) : 96;
    if (dc) ReleaseDC(nullptr, dc);
    m_font = CreateFontW(-MulDiv(13, dpi, 72), 0, 0, 0, FW_NORMAL, FALSE, FALSE, FALSE,
                         DEFAULT_CHARSET, OUT_DEFAULT_PRECIS, CLIP_DEFAULT_PRECIS, DEFAULT_QUALITY,
                         DEFAULT_PITCH | FF_DONTCARE, L"\u5FAE\u8F6F\u96C5\u9ED1");
    for (int i = 0; i < kSoftKeyCount; ++i)
        SendDlgItemMessageW(m_hWnd, IDC_SOFTKEY_FIRST + i, WM_SETFONT,
                            reinterpret_cast<WPARAM>(m_font), FALSE);
    SendDlgItemMessageW(m_hWnd, IDC_SOFTKB_SHIFT, WM_SETFONT, reinterpret_cast<WPARAM>(m_font),
                        FALSE);
    SendDlgItemMessageW(m_hWnd, IDC_SOFTKB_BACKSPACE, WM_SETFONT, reinterpret_cast<WPARAM>(m_font),
                        FALSE);

    if (!ShuffleKeys(m_permutation))
        LogMessage(LOG_LEVEL_ERROR, "%s no random source", "CSoftKBDlg::ShuffleKeys");
    LabelKeys();
}

void CSoftKBDlg::LabelKeys() {
    for (int j = 0; j < kSoftKeyCount; ++j) {
        wchar_t caption[2] = {SoftKeyChar(m_permutation[j], m_caseMode), 0};
        SetDlgItemTextW(m_hWnd, IDC_SOFTKEY_FIRST + j, caption);
    }
}

void CSoftKBDlg::OnCommand(int id) {
    HWND target = m_owner ? m_owner->TargetEdit() : nullptr;
    if (id == IDC_SOFTKB_SHIFT) {
        m_caseMode = !m_caseMode;
        LabelKeys();
    } else if (id == IDC_SOFTKB_BACKSPACE) {
        if (target) SendMessageW(target, UM_SAFECHAR, VK_BACK, 0);
    } else if (id >= IDC_SOFTKEY_FIRST && id < IDC_SOFTKEY_FIRST + kSoftKeyCount) {
        wchar_t caption[4] = {};
        GetDlgItemTextW(m_hWnd, id, caption, 4);
        if (target && caption[0]) {
            SendMessageW(target, UM_SAFECHAR, caption[0] & 0xFF, 0);
            SetFocus(target);
        }
    }
}
