#include "soft_keyboard.h"

#include <bcrypt.h>

#include <initializer_list>

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

KeyboardPlace PlaceKeyboard(const RECT& owner, SIZE keyboard, const RECT& area, UINT dpi) {
    const LONG w = keyboard.cx, h = keyboard.cy;
    const LONG ow = owner.right - owner.left, oh = owner.bottom - owner.top;
    auto clamp = [](LONG v, LONG low, LONG high) { return v > high ? high : v < low ? low : v; };
    auto clampX = [&](LONG x) { return clamp(x, area.left, area.right - w); };
    auto clampY = [&](LONG y) { return clamp(y, area.top, area.bottom - h); };
    KeyboardPlace p = {{owner.right - ScaleToDpi(30, dpi), owner.top + ScaleToDpi(100, dpi)},
                       {owner.left, owner.top}};
    if (p.keyboard.x + w <= area.right) {  // beside, as designed
        p.keyboard.y = clampY(p.keyboard.y);
    } else if (owner.bottom + h <= area.bottom) {  // below
        p.keyboard = {clampX(p.keyboard.x), owner.bottom};
    } else if (owner.left - w >= area.left) {  // left
        p.keyboard = {owner.left - w, clampY(p.keyboard.y)};
    } else if (owner.top - h >= area.top) {  // above
        p.keyboard = {clampX(p.keyboard.x), owner.top - h};
    } else if (oh + h <= area.bottom - area.top) {  // the owner at the top, the keyboard below
        p.owner = {clamp(owner.left, area.left, area.right - ow), area.top};
        p.keyboard = {clampX(p.keyboard.x), area.top + oh};
    } else if (ow + w <= area.right - area.left) {  // the owner at the left, the keyboard right
        p.owner = {area.left, clamp(owner.top, area.top, area.bottom - oh)};
        p.keyboard = {area.left + ow, clampY(p.owner.y + ScaleToDpi(100, dpi))};
    } else {  // a screen smaller than both: opposite corners, the keyboard whole and on top
        p.owner = {area.left, area.top};
        p.keyboard = {area.right - w, area.bottom - h};
    }
    return p;
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
        self->m_dpi.Attach(hwnd);
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
        case WM_DPICHANGED:
            if (self->m_dpi.Change(wParam, lParam)) self->MakeFont();
            // Not shown yet: it goes beside its dialog on the new screen when it is.
            if (!IsWindowVisible(hwnd)) self->PlaceBesideOwner();
            return TRUE;
        case WM_NCDESTROY:
            SetWindowLongPtrW(hwnd, DWLP_USER, 0);
            self->m_hWnd = nullptr;
            return FALSE;
    }
    return FALSE;
}

void CSoftKBDlg::OnInit() {
    PlaceBesideOwner();
    m_caseMode = 0;
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, 252, LWA_ALPHA);
    MakeFont();
    if (!ShuffleKeys(m_permutation))
        LogMessage(LOG_LEVEL_ERROR, "%s no random source", "CSoftKBDlg::ShuffleKeys");
    LabelKeys();
}

void CSoftKBDlg::PlaceBesideOwner() {
    HWND owner = GetWindow(m_hWnd, GW_OWNER);
    if (!owner) return;
    RECT o, r;
    GetWindowRect(owner, &o);
    GetWindowRect(m_hWnd, &r);
    MONITORINFO mi = {};
    mi.cbSize = sizeof mi;
    GetMonitorInfoW(MonitorFromWindow(owner, MONITOR_DEFAULTTONEAREST), &mi);
    const KeyboardPlace p =
        PlaceKeyboard(o, {r.right - r.left, r.bottom - r.top}, mi.rcWork, m_dpi.Dpi());
    if (p.owner.x != o.left || p.owner.y != o.top)
        SetWindowPos(owner, nullptr, p.owner.x, p.owner.y, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    SetWindowPos(m_hWnd, nullptr, p.keyboard.x, p.keyboard.y, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
}

void CSoftKBDlg::MakeFont() {
    // 13 points at the keyboard's dpi, for the 36 keys, Shift and Backspace.
    HFONT font = CreateFaceFont(L"\u5FAE\u8F6F\u96C5\u9ED1", 13, m_dpi.Dpi());
    for (int i = 0; i < kSoftKeyCount; ++i)
        SendDlgItemMessageW(m_hWnd, IDC_SOFTKEY_FIRST + i, WM_SETFONT,
                            reinterpret_cast<WPARAM>(font), TRUE);
    for (int id : {IDC_SOFTKB_SHIFT, IDC_SOFTKB_BACKSPACE})
        SendDlgItemMessageW(m_hWnd, id, WM_SETFONT, reinterpret_cast<WPARAM>(font), TRUE);
    if (m_font) DeleteObject(m_font);
    m_font = font;
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
