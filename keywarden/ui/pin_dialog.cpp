#include "pin_dialog.h"

#include <commctrl.h>
#include <string.h>

#include "capture_exclusion.h"
#include "device_list.h"
#include "keywarden_window.h"
#include "log.h"
#include "pin_rules.h"
#include "resources.h"

namespace {

// A PIN read from a protected field; the bytes are wiped when it goes.
struct PinBytes {
    unsigned char bytes[kMaxPinBytes] = {};
    UINT length = 0;
    ~PinBytes() { SecureZeroMemory(bytes, sizeof bytes); }
    bool operator==(const PinBytes& o) const {
        return length == o.length && memcmp(bytes, o.bytes, length) == 0;
    }
    const char* text() const { return reinterpret_cast<const char*>(bytes); }
};

}  // namespace

// ---- CModifyPINDlg ------------------------------------------------------------------------------

CModifyPINDlg::CModifyPINDlg(DevicePtr dev, CKeyDialogs* dialogs)
    : CKeyDialog(std::move(dev), "CModifyPINDlg::RemoveDlg"),
      m_dialogs(dialogs),
      m_main(dialogs ? dialogs->Window() : nullptr),
      m_keyboard(this) {}

CModifyPINDlg::~CModifyPINDlg() {
    m_keyboard.Destroy();
    if (m_keyboardPicture) DeleteObject(m_keyboardPicture);
}

CMySafeEdit& CModifyPINDlg::Field(int id) {
    return id == IDC_OLD_PIN ? m_old : id == IDC_NEW_PIN ? m_new : m_repeat;
}

void CModifyPINDlg::OnInit() {
    CenterOnParent();
    m_ok = GetDlgItem(m_hWnd, IDOK);
    EnableWindow(m_ok, FALSE);
    for (int id : {IDC_OLD_PIN, IDC_NEW_PIN, IDC_NEW_PIN2}) {
        HWND edit = GetDlgItem(m_hWnd, id);
        Field(id).SubclassWindow(edit);
        Field(id).SetOwner(this);
        SendMessageW(edit, EM_LIMITTEXT, kPinFieldLimit, 0);
        SendMessageW(edit, EM_SETPASSWORDCHAR, 0x2022, 0);
    }

    LoadKeyboardPicture();
    m_tooltip = CreateWindowExW(WS_EX_TOPMOST, TOOLTIPS_CLASSW, nullptr, WS_POPUP | TTS_ALWAYSTIP,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, m_hWnd,
                                nullptr, KeywardenInstance(), nullptr);

    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, 252, LWA_ALPHA);
    m_keyboard.Create(m_hWnd);
    KeepOutOfCaptures();
    UpdateTexts();
    FocusField(IDC_OLD_PIN);
}

void CModifyPINDlg::LoadKeyboardPicture() {
    // The soft keyboard toggle shows the keyboard picture at its own size.
    static const UINT kKeyboard[3] = {IDB_KEYBOARD, IDB_KEYBOARD_150, IDB_KEYBOARD_200};
    HBITMAP picture = LoadPictureForDpi(kKeyboard, Dpi());
    if (!picture) return;
    HWND toggle = GetDlgItem(m_hWnd, IDC_SOFTKB_TOGGLE);
    BITMAP bm = {};
    GetObjectW(picture, sizeof bm, &bm);
    SendMessageW(toggle, BM_SETIMAGE, IMAGE_BITMAP, reinterpret_cast<LPARAM>(picture));
    SetWindowPos(toggle, nullptr, 0, 0, bm.bmWidth, bm.bmHeight, SWP_NOMOVE | SWP_NOZORDER);
    if (m_keyboardPicture) DeleteObject(m_keyboardPicture);
    m_keyboardPicture = picture;
}

void CModifyPINDlg::OnDpiChanged() {
    LoadKeyboardPicture();
    // The keyboard not shown yet comes up beside the dialog on its new screen.
    if (m_keyboard.m_hWnd && !m_keyboard.IsVisible()) m_keyboard.PlaceBesideOwner();
}

void CModifyPINDlg::KeepOutOfCaptures() {
    // The fields, the shuffled keys and where the user clicks stay off every recording of the
    // screen. Where the system cannot do that, the change works as it is and the log says so,
    // once for the whole PIN screen.
    bool refused = false;
    DWORD error = 0;
    for (HWND window : {m_hWnd, m_keyboard.m_hWnd}) {
        if (window && !ExcludeFromCapture(window)) {
            refused = true;
            error = GetLastError();
        }
    }
    if (refused)
        LogMessage(LOG_LEVEL_WARN,
                   "%s SetWindowDisplayAffinity err[%#x]: screen captures can show the PIN screen",
                   "CModifyPINDlg::OnInit", static_cast<unsigned>(error));
}

void CModifyPINDlg::FocusField(int id) {
    // Through the dialog manager, which also remembers it as the dialog's focus.
    if (m_hWnd)
        SendMessageW(m_hWnd, WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(GetDlgItem(m_hWnd, id)), TRUE);
}

void CModifyPINDlg::UpdateTexts() {
    if (!m_hWnd) return;
    SetWindowTextW(m_hWnd, UiText(IDS_CAPTION).c_str());
    const struct {
        int control, text;
    } texts[] = {{IDC_PIN_HINT, IDS_PIN_HINT},
                 {IDC_OLD_PIN_LABEL, IDS_OLD_PIN},
                 {IDC_NEW_PIN_LABEL, IDS_NEW_PIN},
                 {IDC_NEW_PIN2_LABEL, IDS_NEW_PIN2},
                 {IDOK, IDS_OK},
                 {IDCANCEL, IDS_CANCEL}};
    for (auto t : texts) SetDlgItemTextW(m_hWnd, t.control, UiText(t.text).c_str());
    wchar_t caption[128] = {};
    LoadStringW(KeywardenInstance(), IDS_SOFTKB_CAPTION, caption, 128);
    m_keyboard.SetCaption(caption);
    if (m_tooltip) {
        TTTOOLINFOW ti = {};
        ti.cbSize = sizeof ti;
        ti.uFlags = TTF_IDISHWND | TTF_SUBCLASS | TTF_TRANSPARENT;  // never takes a click
        ti.hwnd = m_hWnd;
        ti.uId = reinterpret_cast<UINT_PTR>(GetDlgItem(m_hWnd, IDC_SOFTKB_TOGGLE));
        ti.lpszText = caption;
        SendMessageW(m_tooltip, TTM_DELTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
        SendMessageW(m_tooltip, TTM_ADDTOOLW, 0, reinterpret_cast<LPARAM>(&ti));
    }
}

bool CModifyPINDlg::OnMessage(UINT msg, WPARAM wParam, LPARAM lParam, INT_PTR*) {
    // Every change notification re-decides the OK button.
    if (msg == WM_COMMAND && HIWORD(wParam) == EN_CHANGE) UpdateOkButton();
    // The dialog raised (activated, clicked): the keyboard it may touch comes above it again.
    // Windows keeps an owned window above its owner by itself; Wine does not always.
    if (msg == WM_WINDOWPOSCHANGED && m_keyboard.IsVisible() &&
        !(reinterpret_cast<const WINDOWPOS*>(lParam)->flags & SWP_NOZORDER))
        RaiseKeyboard();
    return false;
}

void CModifyPINDlg::RaiseKeyboard() {
    // In the dialog's band: the dialog of the dimmed screen is topmost.
    const bool topmost = (GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) & WS_EX_TOPMOST) != 0;
    SetWindowPos(m_keyboard.m_hWnd, topmost ? HWND_TOPMOST : HWND_TOP, 0, 0, 0, 0,
                 SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
}

void CModifyPINDlg::UpdateOkButton() {
    int old = GetWindowTextLengthW(GetDlgItem(m_hWnd, IDC_OLD_PIN));
    int fresh = GetWindowTextLengthW(GetDlgItem(m_hWnd, IDC_NEW_PIN));
    int repeat = GetWindowTextLengthW(GetDlgItem(m_hWnd, IDC_NEW_PIN2));
    bool enable = old >= kMinPinLength && fresh >= kMinPinLength && repeat >= kMinPinLength &&
                  fresh == repeat;
    EnableWindow(m_ok, enable);
}

bool CModifyPINDlg::OnCommand(int id) {
    switch (id) {
        case IDOK:
            OnOK();
            return true;
        case IDCANCEL:
            Finish(2);
            return true;
        case IDC_SOFTKB_TOGGLE:
            ToggleSoftKeyboard();
            return true;
    }
    return false;
}

void CModifyPINDlg::ToggleSoftKeyboard() {
    if (m_keyboard.IsVisible()) {
        ShowWindow(m_keyboard.m_hWnd, SW_HIDE);
        FocusField(IDC_OLD_PIN);
    } else {
        ShowWindow(m_keyboard.m_hWnd, SW_SHOWNA);
        RaiseKeyboard();  // above the dialog it may touch, never under it
        // Typing goes on in the field that had the focus before the toggle was pressed, at its
        // caret (the dialog manager's focus change would select the field's whole text).
        SetFocus(m_target ? m_target : GetDlgItem(m_hWnd, IDC_OLD_PIN));
    }
}

void CModifyPINDlg::Finish(INT_PTR result) {
    m_ended = true;
    m_keyboard.Destroy();
    End(result);
}

int CModifyPINDlg::Message(int stringId, ULONG argument, int kind) {
    return m_dialogs ? m_dialogs->ShowMessage(m_hWnd, m_dev, stringId, argument, kind) : 2;
}

void CModifyPINDlg::ClearAndFocus(bool keepOld) {
    if (!keepOld) m_old.ClearSafeText();
    m_new.ClearSafeText();
    m_repeat.ClearSafeText();
    UpdateOkButton();
    if (!m_ended) FocusField(keepOld ? IDC_NEW_PIN : IDC_OLD_PIN);
}

void CModifyPINDlg::OnOK() {
    if (m_ended || !IsWindowEnabled(m_ok)) return;
    PinBytes oldPin, newPin, repeat;
    struct {
        CMySafeEdit* field;
        PinBytes* pin;
        int id;
    } reads[] = {{&m_old, &oldPin, IDC_OLD_PIN},
                 {&m_new, &newPin, IDC_NEW_PIN},
                 {&m_repeat, &repeat, IDC_NEW_PIN2}};
    for (auto& r : reads) {
        r.pin->length = r.field->GetSafeText(r.pin->bytes, kMaxPinBytes);
        // The field shows one placeholder per stored character; a field out of step with its
        // buffer holds no PIN that could be used, so the user types all three again.
        if (static_cast<int>(r.pin->length) != GetWindowTextLengthW(GetDlgItem(m_hWnd, r.id))) {
            LogMessage(LOG_LEVEL_ERROR, "%s field out of step", "CModifyPINDlg::OnOK");
            ClearAndFocus(false);
            return;
        }
    }

    int rule = 0;
    if (!(repeat == newPin))
        rule = IDS_PIN_MISMATCH;
    else if (IsInvalidPINChar(newPin.bytes, newPin.length))
        rule = IDS_PIN_INVALID;
    else if (oldPin == newPin)
        rule = IDS_PIN_SAME;
    if (rule) {
        Message(rule, 0, 0);
        ClearAndFocus(true);
        return;
    }
    if (IsTooSimplePIN(newPin.bytes, newPin.length) && Message(IDS_PIN_TOO_SIMPLE, 0, 4) != 1) {
        ClearAndFocus(true);
        return;
    }
    // The key may have been pulled while a question was open.
    if (m_ended) return;

    ULONG tries = 0;
    ULONG rv =
        m_dev ? m_dev->ChangePIN(oldPin.text(), oldPin.length, newPin.text(), newPin.length, &tries)
              : static_cast<ULONG>(KW_ERR_NULL_POINTER);
    if (rv == 0) {
        Finish(kPinChangedResult);
        return;
    }
    bool wrong = (rv & KEVA_SW_PIN_WRONG_BASE) == KEVA_SW_PIN_WRONG_BASE;
    if (wrong && tries > 0) {
        Message(IDS_PIN_WRONG, tries, 0);
    } else if (rv == KEVA_SW_PIN_BLOCKED || wrong) {
        // A wrong PIN that used the last try has blocked the key as well.
        m_reportedLocked = true;
        PostMessageW(m_main, UM_BALLOON, IDS_PIN_LOCKED, 0);
        if (Message(IDS_PIN_LOCKED, 0, 0) == 1) Finish(2);
    } else {
        LogMessage(LOG_LEVEL_ERROR, "%s ChangePIN[%#x]", "CModifyPINDlg::OnOK",
                   static_cast<unsigned>(rv));
        if (Message(IDS_PIN_CHANGE_FAILED, rv, 0) == 1) Finish(2);
    }
    ClearAndFocus(false);
}

void CModifyPINDlg::RemoveDlg(const char* devName) {
    LogScope trace("CModifyPINDlg::RemoveDlg");
    if (!m_dev || !devName || m_ended) return;
    char name[kDevNameSize] = {};
    if (m_dev->GetDevPath(name, sizeof name) != 0) {
        LogMessage(LOG_LEVEL_ERROR, "%s GetDevPath ERR", "CModifyPINDlg::RemoveDlg");
        return;
    }
    if (SameDeviceName(name, devName)) Finish(2);
}

// ---- CClockFullScreen
// -----------------------------------------------------------------------------

CClockFullScreen::CClockFullScreen(DevicePtr dev, CKeyDialogs* dialogs)
    : CKeyDialog(std::move(dev), "CClockFullScreen::RemoveDlg"),
      m_dialogs(dialogs),
      m_main(dialogs ? dialogs->Window() : nullptr) {}

CClockFullScreen::~CClockFullScreen() {
    if (m_brush) DeleteObject(m_brush);
}

void CClockFullScreen::OnInit() {
    m_brush = CreateSolidBrush(RGB(0, 0, 0));
    CoverScreen(true);
    SetWindowLongPtrW(m_hWnd, GWL_EXSTYLE, GetWindowLongPtrW(m_hWnd, GWL_EXSTYLE) | WS_EX_LAYERED);
    SetLayeredWindowAttributes(m_hWnd, 0, 127, LWA_ALPHA);
    SetWindowPos(m_hWnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
    SetForegroundWindow(m_hWnd);

    // The shield comes from the key's vendor, installed beside Keywarden (or in the system
    // folder); a module of that name anywhere else must not run while the PIN is typed.
    m_shield = kit::Module::load("ShieldHotKey.dll");
    using Install = BOOL(__cdecl*)(HWND);
    if (auto install = m_shield.function<Install>("InstallShieldHotKeyHook"))
        install(m_hWnd);
    else
        m_shield.reset();
    SetFocus(m_hWnd);
    // The PIN dialog opens once the dimmed screen is up and painted.
    if (HANDLE thread = CreateThread(nullptr, 0, Starter, m_hWnd, 0, nullptr)) CloseHandle(thread);
}

void CClockFullScreen::CoverScreen(bool activate) {
    SetWindowPos(m_hWnd, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                 GetSystemMetrics(SM_CYSCREEN), SWP_NOZORDER | (activate ? 0 : SWP_NOACTIVATE));
}

// The dimming is the whole screen, not the rectangle the system suggests for a window; the PIN
// dialog above it keeps the focus.
void CClockFullScreen::OnDpiChanged() { CoverScreen(false); }

DWORD WINAPI CClockFullScreen::Starter(void* window) {
    Sleep(50);
    HWND host = static_cast<HWND>(window);
    if (IsWindow(host)) PostMessageW(host, UM_STARTPIN, 0, 0);
    return 0;
}

bool CClockFullScreen::OnMessage(UINT msg, WPARAM wParam, LPARAM, INT_PTR* result) {
    switch (msg) {
        case WM_ERASEBKGND: {
            RECT r;
            GetClientRect(m_hWnd, &r);
            FillRect(reinterpret_cast<HDC>(wParam), &r, m_brush);
            *result = 1;
            return true;
        }
        case WM_CTLCOLORDLG:
            *result = reinterpret_cast<INT_PTR>(m_brush);
            return true;
        case UM_STARTPIN:
            OnStartPin();
            *result = 0;
            return true;
    }
    return false;
}

void CClockFullScreen::OnStartPin() {
    if (m_ending || m_pinDlg) return;
    CModifyPINDlg dlg(m_dev, m_dialogs);
    m_pinDlg = &dlg;
    m_pinResult = dlg.Run(m_hWnd, IDD_MODIFYPIN);
    m_reportedLocked = dlg.ReportedLocked();
    m_pinDlg = nullptr;
    Unshield();
    m_ending = true;
    End(kPinChangedResult);
}

bool CClockFullScreen::OnCommand(int id) {
    if (id != IDOK && id != IDCANCEL) return false;
    Unshield();
    m_ending = true;
    End(id);
    return true;
}

void CClockFullScreen::Unshield() {
    if (!m_shield) return;
    using Uninstall = BOOL(__cdecl*)();
    if (auto uninstall = m_shield.function<Uninstall>("UnInstallShieldHotKeyHook"))
        uninstall();
    else
        m_shield.reset();
}

void CClockFullScreen::RemoveDlg(const char* devName) {
    LogScope trace("CClockFullScreen::RemoveDlg");
    if (!m_dev) return;
    if (m_pinDlg) {
        m_pinDlg->RemoveDlg(devName);
        return;
    }
    // Pulled before the PIN dialog opened: the host goes without opening it.
    char name[kDevNameSize] = {};
    if (m_dev->GetDevPath(name, sizeof name) == 0 && devName && SameDeviceName(name, devName)) {
        Unshield();
        m_ending = true;
        End(2);
    }
}

void CClockFullScreen::UpdateTexts() {
    if (m_pinDlg) m_pinDlg->UpdateTexts();
}
