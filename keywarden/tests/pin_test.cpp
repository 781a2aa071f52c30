// The PIN change under Wine with real input: keys go through SendInput to the focused field, so
// they take the path a user's keys take (the field's low-level hook, the dialog manager). The
// user interface runs modally on the test's main thread; a script thread plays the user.
// clang-format off
#include <windows.h>
#include <dbt.h>
// clang-format on
#include <gtest/gtest.h>

#include <algorithm>
#include <atomic>
#include <cwctype>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "capture_exclusion.h"
#include "dialogs.h"
#include "log.h"
#include "main_window.h"
#include "pin_dialog.h"
#include "resources.h"
#include "softkey_store.h"
#include "support.h"

using namespace kwtest;

namespace {

constexpr char kFactoryPin[] = "580914";
constexpr char kChangedPin[] = "12345678";  // the test keys' PIN when not the factory one

DWORD g_uiThread = 0;

// ---- the user: input and waiting, from the script thread ------------------------------------

bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
    DWORD end = GetTickCount() + timeoutMs;
    while (!done()) {
        if (GetTickCount() > end) return false;
        Sleep(15);
    }
    return true;
}

void SendKey(WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    if (vk >= VK_PRIOR && vk <= VK_DELETE) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    SendInput(1, &in, sizeof in);
    Sleep(10);
}
void Press(WORD vk) {
    SendKey(vk, false);
    SendKey(vk, true);
}
void Chord(WORD modifier, WORD vk) {
    SendKey(modifier, false);
    Sleep(40);  // the thread reads the modifier before the key comes
    Press(vk);
    SendKey(modifier, true);
}
// Types letters, digits and the underscore as keys (upper-case letters and "_" with Shift).
void Type(const std::string& text) {
    for (char c : text) {
        if (c == '_')
            Chord(VK_SHIFT, VK_OEM_MINUS);
        else if (c >= 'A' && c <= 'Z')
            Chord(VK_SHIFT, static_cast<WORD>(c));
        else
            Press(static_cast<WORD>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
}

void ClickAt(HWND window, int x, int y, DWORD down, DWORD up) {
    POINT p = {x, y};
    ClientToScreen(window, &p);
    // One absolute move to the point, then the buttons, all in the input stream.
    INPUT in[3] = {};
    in[0].type = in[1].type = in[2].type = INPUT_MOUSE;
    in[0].mi.dx = MulDiv(p.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in[0].mi.dy = MulDiv(p.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    in[1].mi.dwFlags = down;
    in[2].mi.dwFlags = up;
    SendInput(3, in, sizeof in[0]);
    Sleep(60);
}

struct FindDialog {
    int control;
    HWND found;
};
BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM data) {
    auto* f = reinterpret_cast<FindDialog*>(data);
    if (IsWindowVisible(hwnd) && GetDlgItem(hwnd, f->control)) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
// The visible top-level window of the user-interface thread that holds a control.
HWND DialogWith(int control) {
    FindDialog f = {control, nullptr};
    EnumThreadWindows(g_uiThread, FindDialogProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}
// Waits until the control of a dialog has the user-interface thread's focus.
bool WaitFocus(HWND dlg, int control) {
    return WaitFor([&] {
        GUITHREADINFO gti = {};
        gti.cbSize = sizeof gti;
        return GetGUIThreadInfo(g_uiThread, &gti) && gti.hwndFocus == GetDlgItem(dlg, control);
    });
}
// A left click in the middle of a control, as the user's mouse gives it.
void ClickControl(HWND dlg, int control) {
    RECT r;
    HWND c = GetDlgItem(dlg, control);
    GetClientRect(c, &r);
    ClickAt(c, r.right / 2, r.bottom / 2, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
}
// Clicks the soft keyboard toggle until the keyboard shows (a click may land while the dialog
// is still settling); the keyboard or none.
HWND ShowSoftKeyboard(HWND pin) {
    for (int attempt = 0; attempt < 3; ++attempt) {
        ClickControl(pin, IDC_SOFTKB_TOGGLE);
        HWND kb = nullptr;
        if (WaitFor([&] { return (kb = DialogWith(IDC_SOFTKB_SHIFT)) != nullptr; }, 1500))
            return kb;
    }
    return nullptr;
}
HWND WaitDialog(int control) {
    HWND d = nullptr;
    WaitFor([&] { return (d = DialogWith(control)) != nullptr; });
    return d;
}
std::wstring Text(HWND w) {
    wchar_t buf[1024] = {};
    SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}
std::wstring Str(int id) { return UiText(id).c_str(); }
std::wstring Formatted(int id, ULONG argument) {
    wchar_t out[1024];
    CMessageDlg::FormatText(id, argument, out, 1024);
    return out;
}

// Runs the script on a thread of its own while ui runs on this one; waits for both.
BOOL CALLBACK CancelDialog(HWND hwnd, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0)
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
}

// Runs the script on a thread of its own while ui runs on this one; waits for both. A script
// that ends (or gives up) while dialogs still run has them cancelled, so that a failing test
// fails instead of hanging.
void Play(const std::function<void()>& script, const std::function<void()>& ui) {
    g_uiThread = GetCurrentThreadId();
    std::atomic<bool> done{false}, uiDone{false};
    std::thread user([&] {
        script();
        done = true;
        for (DWORD waited = 0; !uiDone; waited += 100) {
            Sleep(100);
            if (waited >= 8000 && waited % 1000 == 0) {
                if (waited == 8000) ADD_FAILURE() << "dialogs still open after the script ended";
                EnumThreadWindows(g_uiThread, CancelDialog, 0);
            }
        }
    });
    ui();
    uiDone = true;
    PumpUntil([&] { return done.load(); }, 20000);
    user.join();
}

softkey::KeyRecord Key(const std::string& serial) {
    return softkey::Store(softkey::Store::default_root()).load(serial);
}
bool PinIs(const std::string& serial, const std::string& pin) {
    return softkey::pin_matches(Key(serial).pin, pin);
}
void SetPin(const std::string& serial, const std::string& pin, bool isDefault, int tries = 10) {
    softkey::Store(softkey::Store::default_root()).update(serial, [&](softkey::KeyRecord& r) {
        softkey::set_pin(r.pin, pin, isDefault);
        r.pin.retries_left = tries;
    });
}

// ---- a field on its own: the protected edit under real input -------------------------------

class SafeEditTest : public ::testing::Test {
  protected:
    // The PIN dialog's template with a plain procedure; the fields are subclassed by the test.
    static INT_PTR CALLBACK Proc(HWND, UINT msg, WPARAM, LPARAM) { return msg == WM_INITDIALOG; }
    void SetUp() override {
        g_uiThread = GetCurrentThreadId();
        dlg_ = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDD_MODIFYPIN),
                                  nullptr, Proc, 0);
        ASSERT_NE(dlg_, nullptr);
        for (int i = 0; i < 2; ++i) {
            HWND e = GetDlgItem(dlg_, IDC_OLD_PIN + i);
            ASSERT_TRUE(field_[i].SubclassWindow(e));
            SendMessageW(e, EM_LIMITTEXT, kPinFieldLimit, 0);
        }
        ShowWindow(dlg_, SW_SHOW);
        SetForegroundWindow(dlg_);
        SetFocus(GetDlgItem(dlg_, IDOK));  // the dialog put it on the field before the subclass
        SetFocus(Edit(0));
        PumpFor(100);
    }
    void TearDown() override {
        if (IsWindow(dlg_)) DestroyWindow(dlg_);
        SendKey(VK_SHIFT, true);
        SendKey(VK_CONTROL, true);
        PumpFor(50);
    }
    HWND Edit(int i) { return GetDlgItem(dlg_, IDC_OLD_PIN + i); }
    std::string Safe(int i = 0) {
        unsigned char buf[64];
        UINT n = field_[i].GetSafeText(buf, 64);
        return std::string(reinterpret_cast<char*>(buf), n);
    }
    // Plays keys (on this thread: the hook runs when the thread pumps) and lets them settle.
    void Keys(const std::function<void()>& keys) {
        std::atomic<bool> done{false};
        std::thread user([&] {
            keys();
            done = true;
        });
        PumpUntil([&] { return done.load(); }, 20000);
        user.join();
        PumpFor(120);
    }

    HWND dlg_ = nullptr;
    CMySafeEdit field_[2];
};

}  // namespace

TEST_F(SafeEditTest, TypedCharactersReachOnlyTheBuffer) {
    ASSERT_TRUE(field_[0].HooksInstalled()) << "hook error " << field_[0].HookError();
    Keys([] { Type("Ab3x"); });
    EXPECT_EQ(Safe(), "Ab3x");
    EXPECT_EQ(Text(Edit(0)), L"****");
}

TEST_F(SafeEditTest, CapsLockWithShiftGivesLowerCaseAndShiftedDigitsTheirSigns) {
    Keys([] {
        Press(VK_CAPITAL);
        Sleep(50);
        Chord(VK_SHIFT, 'A');
        Press('B');
        Press(VK_CAPITAL);  // off again for the other tests
        Sleep(50);
        Chord(VK_SHIFT, '1');
    });
    EXPECT_EQ(Safe(), "aB!");
    EXPECT_EQ(Text(Edit(0)), L"***");
}

TEST_F(SafeEditTest, ClipboardArrowsAndMouseDoNothing) {
    // Something on the clipboard that a paste would bring in.
    ASSERT_TRUE(OpenClipboard(dlg_));
    EmptyClipboard();
    HGLOBAL mem = GlobalAlloc(GMEM_MOVEABLE, 16);
    memcpy(GlobalLock(mem), L"PASTED", 14);
    GlobalUnlock(mem);
    SetClipboardData(CF_UNICODETEXT, mem);
    CloseClipboard();

    Keys([] { Type("abcd"); });
    RECT r;
    GetClientRect(Edit(0), &r);
    Keys([&] {
        Chord(VK_CONTROL, 'V');
        Chord(VK_CONTROL, 'C');
        Chord(VK_CONTROL, 'X');
        Chord(VK_SHIFT, VK_INSERT);
        Press(VK_LEFT);
        Press(VK_LEFT);
        // A mouse drag over the text and a right click.
        ClickAt(Edit(0), 2, r.bottom / 2, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_MOVE);
        ClickAt(Edit(0), r.right - 2, r.bottom / 2, MOUSEEVENTF_MOVE, MOUSEEVENTF_LEFTUP);
        ClickAt(Edit(0), 5, r.bottom / 2, MOUSEEVENTF_RIGHTDOWN, MOUSEEVENTF_RIGHTUP);
        Press(VK_ESCAPE);  // closes a context menu if one had opened
        Type("e");
    });
    EXPECT_EQ(Safe(), "abcde");  // the caret stayed at the end, nothing pasted, nothing cut
    EXPECT_EQ(Text(Edit(0)), L"*****");
    DWORD s = 0, e = 0;
    SendMessageW(Edit(0), EM_GETSEL, reinterpret_cast<WPARAM>(&s), reinterpret_cast<LPARAM>(&e));
    EXPECT_EQ(s, 5u);
    EXPECT_EQ(e, 5u);
}

TEST_F(SafeEditTest, ShiftHomeThenACharacterReplacesTheRange) {
    Keys([] {
        Type("abcdef");
        Chord(VK_SHIFT, VK_HOME);
        Type("z");
    });
    EXPECT_EQ(Safe(), "z");
    EXPECT_EQ(Text(Edit(0)), L"*");
    // Home, Shift+End selects the rest; Delete removes it from both; Backspace at the start
    // changes nothing.
    Keys([] {
        Type("yx");
        Press(VK_HOME);
        Press(VK_BACK);
        Press(VK_END);
        Press(VK_BACK);
        Press(VK_HOME);
        Chord(VK_SHIFT, VK_END);
        Press(VK_DELETE);
        Type("q");
    });
    EXPECT_EQ(Safe(), "q");
    EXPECT_EQ(Text(Edit(0)), L"*");
}

TEST_F(SafeEditTest, TheSeventeenthCharacterIsNeitherStoredNorShown) {
    Keys([] { Type("abcdefghijklmnopq"); });
    EXPECT_EQ(Safe(), "abcdefghijklmnop");
    EXPECT_EQ(Text(Edit(0)), std::wstring(16, L'*'));
}

TEST_F(SafeEditTest, HooksExistOnlyWhileAFieldHasTheFocus) {
    EXPECT_TRUE(field_[0].HooksInstalled());
    EXPECT_FALSE(field_[1].HooksInstalled());
    Keys([] { Type("ab"); });
    SetFocus(Edit(1));
    Keys([] { Type("cd"); });
    EXPECT_FALSE(field_[0].HooksInstalled());
    EXPECT_TRUE(field_[1].HooksInstalled());
    EXPECT_EQ(Safe(0), "ab");
    EXPECT_EQ(Safe(1), "cd");
    SetFocus(GetDlgItem(dlg_, IDOK));
    EXPECT_FALSE(field_[0].HooksInstalled());
    EXPECT_FALSE(field_[1].HooksInstalled());
    // Keys now reach the button, not a field.
    Keys([] { Type("e"); });
    EXPECT_EQ(Safe(1), "cd");
}

TEST_F(SafeEditTest, SafeCharTypesAndClearWipes) {
    SendMessageW(Edit(0), UM_SAFECHAR, 'k', 0);
    SendMessageW(Edit(0), UM_SAFECHAR, '7', 0);
    SendMessageW(Edit(0), UM_SAFECHAR, 0x108, 0);  // only the low byte counts: Backspace
    SendMessageW(Edit(0), UM_SAFECHAR, 'w', 0);
    EXPECT_EQ(Safe(), "kw");
    EXPECT_EQ(Text(Edit(0)), L"**");
    // With a selection the soft keyboard's character replaces it, shown as a placeholder too.
    SendMessageW(Edit(0), EM_SETSEL, 0, -1);
    SendMessageW(Edit(0), UM_SAFECHAR, 'Q', 0);
    EXPECT_EQ(Safe(), "Q");
    EXPECT_EQ(Text(Edit(0)), L"*");
    field_[0].ClearSafeText();
    EXPECT_EQ(Safe(), "");
    EXPECT_EQ(Text(Edit(0)), L"");
}

// ---- the whole change: host, PIN dialog, messages, soft keyboard, against software keys ------

namespace {

class PinChangeTest : public ::testing::Test {
  protected:
    void SetUp() override {
        PullAll();
        SweepProviderCertificates();
        logDir_ = MakeTempDir("pin");
        LogInit(4, "CLIENT", (logDir_ + "\\KEVA_QMB4410_Client").c_str());
        ASSERT_TRUE(RegisterMainWindowClass(GetModuleHandleW(nullptr)));
        SetLanguageChoice(0);
        ApplyLanguage(9);
        dlg_ = new CMainDlg();
        ASSERT_NE(dlg_->Create(GetModuleHandleW(nullptr)), nullptr);
        WaitIdle();
    }
    void TearDown() override {
        delete dlg_;
        PullAll();
    }
    void WaitIdle() {
        dlg_->Devices().WaitForWorkers();
        PumpFor(50);
    }
    void Insert(const std::string& serial) {
        PlugIn(dlg_->Handle(), serial);
        WaitIdle();
    }
    DevicePtr Dev(const std::string& serial) {
        for (const DevicePtr& d : dlg_->Devices().Snapshot())
            if (serial == d->serial) return d;
        return nullptr;
    }
    // Runs the dimmed host for a key the way the PIN change runs it.
    // Runs the PIN change for a key the way its button does; true when the PIN changed (the
    // success balloon came).
    bool RunHost(const DevicePtr& dev, bool* changed = nullptr) {
        dlg_->ModifyPIN(dev);
        PumpFor(100);
        bool ok = Balloon() == Str(IDS_PIN_CHANGED);
        if (changed) *changed = ok;
        return ok;
    }
    std::wstring Balloon() { return dlg_->Tray().Record().szInfo; }

    // The user's part: types the three fields (Tab between them) and presses Enter.
    static HWND FillIn(const std::string& old, const std::string& fresh, const std::string& again) {
        HWND pin = WaitDialog(IDC_OLD_PIN);
        if (!pin) return nullptr;
        // A key typed right after Tab may reach the hook before the dialog moved the focus.
        WaitFocus(pin, IDC_OLD_PIN);
        Type(old);
        Press(VK_TAB);
        WaitFocus(pin, IDC_NEW_PIN);
        Type(fresh);
        Press(VK_TAB);
        WaitFocus(pin, IDC_NEW_PIN2);
        Type(again);
        WaitFor([&] { return IsWindowEnabled(GetDlgItem(pin, IDOK)) != FALSE; }, 3000);
        Press(VK_RETURN);
        return pin;
    }
    // Waits for a message dialog, returns its text and answers it with Enter (OK) or Escape.
    static std::wstring Answer(bool ok) {
        HWND msg = WaitDialog(IDC_TEXT);
        if (!msg) return L"<no message>";
        std::wstring text = Text(GetDlgItem(msg, IDC_TEXT));
        WaitFor([&] { return GetForegroundWindow() == msg; }, 2000);
        Press(ok ? VK_RETURN : VK_ESCAPE);
        WaitFor([&] { return !IsWindow(msg); });
        return text;
    }

    std::string logDir_;
    CMainDlg* dlg_ = nullptr;
};

}  // namespace

TEST_F(PinChangeTest, WrongOldPinShowsTheTriesLeftAndEmptiesTheFields) {
    SetPin("PB", kChangedPin, false);
    Insert("PB");
    std::wstring message;
    int fieldsAfter = -1;
    bool hostWasTopmost = false;
    Play(
        [&] {
            HWND host = WaitDialog(IDOK);
            hostWasTopmost = host && (GetWindowLongW(host, GWL_EXSTYLE) & WS_EX_TOPMOST);
            HWND pin = FillIn("00000000", "Kw7pQ2x9", "Kw7pQ2x9");
            message = Answer(true);
            WaitFor([&] { return GetForegroundWindow() == pin; }, 2000);
            fieldsAfter = 0;
            for (int id : {IDC_OLD_PIN, IDC_NEW_PIN, IDC_NEW_PIN2})
                fieldsAfter += GetWindowTextLengthW(GetDlgItem(pin, id));
            Press(VK_ESCAPE);
        },
        [&] { EXPECT_FALSE(RunHost(Dev("PB"))); });
    EXPECT_EQ(message, Formatted(IDS_PIN_WRONG, 9));
    EXPECT_EQ(fieldsAfter, 0);
    EXPECT_TRUE(hostWasTopmost);
    EXPECT_EQ(Key("PB").pin.retries_left, 9);
    EXPECT_TRUE(PinIs("PB", kChangedPin));
}

TEST_F(PinChangeTest, RulesStopBeforeTheKeyIsAsked) {
    SetPin("PC", kChangedPin, false);
    Insert("PC");
    std::vector<std::wstring> messages;
    int oldAfterQuestion = -1, newAfterQuestion = -1;
    Play(
        [&] {
            FillIn(kChangedPin, "Kw7pQ2x9", "Kw7pQ2x8");  // the repeat differs
            messages.push_back(Answer(true));
            HWND pin = DialogWith(IDC_OLD_PIN);
            // The old PIN stays; the other two are typed again, from the new-PIN field.
            auto again = [&](const std::string& fresh) {
                WaitFocus(pin, IDC_NEW_PIN);
                Type(fresh);
                Press(VK_TAB);
                WaitFocus(pin, IDC_NEW_PIN2);
                Type(fresh);
                Press(VK_RETURN);
            };
            again("Kw7p_2x9");
            messages.push_back(Answer(true));  // invalid character
            again(kChangedPin);
            messages.push_back(Answer(true));  // same as the old one
            again("abcdef");
            messages.push_back(Answer(false));  // too simple: Cancel keeps the old PIN
            oldAfterQuestion = GetWindowTextLengthW(GetDlgItem(pin, IDC_OLD_PIN));
            newAfterQuestion = GetWindowTextLengthW(GetDlgItem(pin, IDC_NEW_PIN)) +
                               GetWindowTextLengthW(GetDlgItem(pin, IDC_NEW_PIN2));
            Press(VK_ESCAPE);
        },
        [&] { RunHost(Dev("PC")); });
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], Str(IDS_PIN_MISMATCH));
    EXPECT_EQ(messages[1], Str(IDS_PIN_INVALID));
    EXPECT_EQ(messages[2], Str(IDS_PIN_SAME));
    EXPECT_EQ(messages[3], Str(IDS_PIN_TOO_SIMPLE));
    EXPECT_EQ(oldAfterQuestion, 8);
    EXPECT_EQ(newAfterQuestion, 0);
    EXPECT_EQ(Key("PC").pin.retries_left, 10);  // the key was never asked
    EXPECT_TRUE(PinIs("PC", kChangedPin));
}

TEST_F(PinChangeTest, OkIsEnabledAtSixCharactersInEachAndEqualNewLengths) {
    SetPin("PB", kChangedPin, false);  // an earlier test may have locked it
    Insert("PB");
    std::vector<bool> states;
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            auto ok = [&] {
                Sleep(150);
                return IsWindowEnabled(GetDlgItem(pin, IDOK)) != FALSE;
            };
            auto typeInto = [&](int id, const std::string& text) {
                ClickControl(pin, id);
                WaitFocus(pin, id);
                Type(text);
            };
            typeInto(IDC_OLD_PIN, "123456");
            typeInto(IDC_NEW_PIN, "abcde");
            typeInto(IDC_NEW_PIN2, "abcde");
            states.push_back(ok());  // 6, 5, 5
            typeInto(IDC_NEW_PIN, "f");
            typeInto(IDC_NEW_PIN2, "f");
            states.push_back(ok());  // 6, 6, 6
            Type("g");
            states.push_back(ok());  // 6, 6, 7
            typeInto(IDC_OLD_PIN, "");
            Press(VK_BACK);
            Press(VK_BACK);
            typeInto(IDC_NEW_PIN, "g");
            states.push_back(ok());  // 4, 7, 7
            Press(VK_ESCAPE);
        },
        [&] { RunHost(Dev("PB")); });
    EXPECT_EQ(states, (std::vector<bool>{false, true, false, false}));
}

TEST_F(PinChangeTest, SuccessShowsTheBalloonAndTheKeyTakesTheNewPin) {
    SetPin("PD", kChangedPin, false);
    Insert("PD");
    bool changed = false;
    BYTE alpha = 0;
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            if (pin) GetLayeredWindowAttributes(pin, nullptr, &alpha, nullptr);
            FillIn(kChangedPin, "Kw7pQ2x9", "Kw7pQ2x9");
        },
        [&] { RunHost(Dev("PD"), &changed); });
    EXPECT_TRUE(changed);
    EXPECT_TRUE(PinIs("PD", "Kw7pQ2x9"));
    EXPECT_FALSE(Key("PD").pin.is_default);
    // Where the system refuses to keep windows out of captures (Wine 8 does), the dialog is as
    // it always was and one warning says so for the whole PIN screen.
    HWND probe =
        CreateWindowW(L"STATIC", L"", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
    const bool refused = !SetWindowDisplayAffinity(probe, WDA_MONITOR);
    DestroyWindow(probe);
    EXPECT_EQ(alpha, 252);
    auto log = LogLines(logDir_ + "\\KEVA_QMB4410_Client");
    EXPECT_EQ(Count(log, "[WARN] CLIENT "), refused ? 1 : 0);
    EXPECT_EQ(Count(log, "SetWindowDisplayAffinity err["), refused ? 1 : 0);
}

TEST_F(PinChangeTest, TheLastWrongTryLocksAndSaysSo) {
    SetPin("PB", kChangedPin, false, 1);
    Insert("PB");
    std::wstring message;
    Play(
        [&] {
            FillIn("00000000", "Kw7pQ2x9", "Kw7pQ2x9");
            message = Answer(true);
        },
        [&] { RunHost(Dev("PB")); });
    PumpFor(100);
    EXPECT_EQ(message, Str(IDS_PIN_LOCKED));
    EXPECT_EQ(Balloon(), Str(IDS_PIN_LOCKED));
    EXPECT_EQ(Key("PB").pin.retries_left, 0);
}

namespace {

// The captions of the 36 soft keys.
std::wstring Captions(HWND keyboard) {
    std::wstring out;
    for (int i = 0; i < kSoftKeyCount; ++i)
        out += Text(GetDlgItem(keyboard, IDC_SOFTKEY_FIRST + i));
    return out;
}
// Clicks a soft key with the mouse, as a user does, and waits until done() says the keyboard took
// the click. Under Wine without a window manager the injected clicks on the soft keyboard are
// at times all lost for a whole dialog (the button under the point, enabled, never sees them);
// that keyboard's keys are then pressed with their own BM_CLICK, which runs the same button and
// keyboard code, and the test says so on its output.
void ClickSoftKey(HWND keyboard, int control, const std::function<bool()>& done) {
    static HWND s_clicksLost = nullptr;  // the keyboard whose clicks were lost
    if (keyboard != s_clicksLost) {
        ClickControl(keyboard, control);
        if (WaitFor(done, 1500)) return;
        std::printf("soft key %d: the mouse click was lost, keys pressed with BM_CLICK\n", control);
        s_clicksLost = keyboard;
    }
    SendMessageW(GetDlgItem(keyboard, control), BM_CLICK, 0, 0);
    if (!WaitFor(done, 1500)) ADD_FAILURE() << "the soft key " << control << " did nothing";
}
int Length(HWND field) { return GetWindowTextLengthW(field); }
// Clicks the soft keys that carry the characters of a text; each adds one to the field.
void ClickSoftKeys(HWND keyboard, HWND field, const std::string& text) {
    for (char c : text) {
        std::wstring captions = Captions(keyboard);
        size_t at = captions.find(static_cast<wchar_t>(c));
        if (at == std::wstring::npos) {
            ADD_FAILURE() << "no soft key for " << c;
            continue;
        }
        const int before = Length(field);
        ClickSoftKey(keyboard, IDC_SOFTKEY_FIRST + static_cast<int>(at),
                     [&] { return Length(field) == before + 1; });
    }
}
// Clicks Shift: the letters' captions change case.
void ClickShift(HWND keyboard) {
    const std::wstring before = Captions(keyboard);
    ClickSoftKey(keyboard, IDC_SOFTKB_SHIFT, [&] { return Captions(keyboard) != before; });
}

}  // namespace

TEST_F(PinChangeTest, TheSoftKeyboardTypesIntoTheLastFieldAndShiftKeepsThePlaces) {
    SetPin("PD", kChangedPin, false);
    Insert("PD");
    std::wstring lower, upper, placeholders;
    RECT pinRect = {}, kbRect = {};
    int afterBackspace = -1;
    bool changed = false;
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            HWND kb = ShowSoftKeyboard(pin);
            if (!kb) {
                ADD_FAILURE() << "the toggle showed no soft keyboard";
                return;
            }
            GetWindowRect(pin, &pinRect);
            GetWindowRect(kb, &kbRect);
            lower = Captions(kb);
            HWND oldPin = GetDlgItem(pin, IDC_OLD_PIN), newPin = GetDlgItem(pin, IDC_NEW_PIN);
            ClickSoftKeys(kb, oldPin, "123456789");
            ClickSoftKey(kb, IDC_SOFTKB_BACKSPACE, [&] { return Length(oldPin) == 8; });
            afterBackspace = Length(oldPin);
            placeholders = Text(oldPin);
            // The new PIN by mouse, with Shift for the capitals; the repeat by keyboard.
            ClickControl(pin, IDC_NEW_PIN);
            WaitFocus(pin, IDC_NEW_PIN);
            ClickSoftKeys(kb, newPin, "k");
            ClickShift(kb);
            upper = Captions(kb);
            ClickSoftKeys(kb, newPin, "W");
            ClickShift(kb);
            ClickSoftKeys(kb, newPin, "7pq2x9");
            ClickControl(pin, IDC_NEW_PIN2);
            WaitFocus(pin, IDC_NEW_PIN2);
            Type("kW7pq2x9");
            WaitFor([&] { return IsWindowEnabled(GetDlgItem(pin, IDOK)) != FALSE; }, 3000);
            ClickControl(pin, IDOK);
        },
        [&] { RunHost(Dev("PD"), &changed); });
    EXPECT_EQ(afterBackspace, 8);
    EXPECT_EQ(placeholders, L"********");
    EXPECT_TRUE(changed);
    EXPECT_TRUE(PinIs("PD", "kW7pq2x9"));
    // Beside the PIN dialog; Shift changed the 26 letters in place and left the digits.
    EXPECT_EQ(kbRect.left, pinRect.right - 30);
    EXPECT_EQ(kbRect.top, pinRect.top + 100);
    ASSERT_EQ(lower.size(), 36u);
    ASSERT_EQ(upper.size(), 36u);
    for (size_t i = 0; i < 36; ++i) EXPECT_EQ(towupper(lower[i]), upper[i]) << i;
    EXPECT_EQ(std::count_if(upper.begin(), upper.end(), iswupper), 26);
}

TEST_F(PinChangeTest, TwoPinDialogsInARowShowDifferentLayouts) {
    SetPin("PB", kChangedPin, false);  // an earlier test may have locked it
    Insert("PB");
    std::wstring layouts[2];
    for (auto& layout : layouts)
        Play(
            [&] {
                HWND pin = WaitDialog(IDC_OLD_PIN);
                WaitFocus(pin, IDC_OLD_PIN);
                HWND kb = ShowSoftKeyboard(pin);
                layout = kb ? Captions(kb) : L"";
                Press(VK_ESCAPE);
            },
            [&] { RunHost(Dev("PB")); });
    ASSERT_EQ(layouts[0].size(), 36u);
    EXPECT_NE(layouts[0], layouts[1]);
}

TEST_F(PinChangeTest, TheHostDimsTheWholeScreenAboveEverything) {
    SetPin("PB", kChangedPin, false);  // an earlier test may have locked it
    Insert("PB");
    RECT r = {};
    BYTE alpha = 0;
    DWORD flags = 0;
    LONG_PTR ex = 0;
    Play(
        [&] {
            WaitDialog(IDC_OLD_PIN);
            HWND host = DialogWith(IDOK);  // the PIN dialog has OK too: take the full-screen one
            for (HWND h = GetWindow(GetDesktopWindow(), GW_CHILD); h; h = GetWindow(h, GW_HWNDNEXT))
                if (GetWindowThreadProcessId(h, nullptr) == g_uiThread && IsWindowVisible(h) &&
                    !GetDlgItem(h, IDC_OLD_PIN) && GetDlgItem(h, IDOK) && !GetDlgItem(h, IDCANCEL))
                    host = h;
            GetWindowRect(host, &r);
            GetLayeredWindowAttributes(host, nullptr, &alpha, &flags);
            ex = GetWindowLongPtrW(host, GWL_EXSTYLE);
            Press(VK_ESCAPE);
        },
        [&] { RunHost(Dev("PB")); });
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(r.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(alpha, 127);
    EXPECT_TRUE(flags & LWA_ALPHA);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    EXPECT_TRUE(ex & WS_EX_LAYERED);
}

// ---- kept out of screen captures ------------------------------------------------------------

namespace {

struct AffinityCall {
    HWND window;
    DWORD value;
    bool operator==(const AffinityCall& o) const { return window == o.window && value == o.value; }
};
void PrintTo(const AffinityCall& c, std::ostream* os) {
    *os << c.window << " asked for " << std::hex << c.value;
}
std::vector<AffinityCall> g_affinityCalls;

// Systems as the PIN screen meets them: one that takes every request, one from before
// WDA_EXCLUDEFROMCAPTURE, one that refuses layered windows.
BOOL RecordAffinity(HWND window, DWORD value, bool take) {
    g_affinityCalls.push_back({window, value});
    if (!take) SetLastError(ERROR_INVALID_PARAMETER);
    return take;
}
BOOL WINAPI TakesAll(HWND window, DWORD value) { return RecordAffinity(window, value, true); }
BOOL WINAPI MonitorOnly(HWND window, DWORD value) {
    return RecordAffinity(window, value, value == WDA_MONITOR);
}
BOOL WINAPI NotLayered(HWND window, DWORD value) {
    return RecordAffinity(window, value, !(GetWindowLongPtrW(window, GWL_EXSTYLE) & WS_EX_LAYERED));
}

BOOL CALLBACK FindKeyboardProc(HWND hwnd, LPARAM data) {
    if (!GetDlgItem(hwnd, IDC_SOFTKB_SHIFT)) return TRUE;
    *reinterpret_cast<HWND*>(data) = hwnd;
    return FALSE;
}
// The soft keyboard of the user-interface thread, shown or not.
HWND SoftKeyboard() {
    HWND found = nullptr;
    EnumThreadWindows(g_uiThread, FindKeyboardProc, reinterpret_cast<LPARAM>(&found));
    return found;
}

}  // namespace

TEST_F(PinChangeTest, ThePinDialogAndTheSoftKeyboardAskToBeLeftOutOfCaptures) {
    SetPin("PB", kChangedPin, false);  // an earlier test may have locked it
    Insert("PB");
    const DWORD exclude = WDA_EXCLUDEFROMCAPTURE, monitor = WDA_MONITOR;
    const struct {
        const char* name;
        DisplayAffinityFn system;
        std::vector<DWORD> asked;  // of each window, in order
        bool layered;              // the windows after the requests
    } systems[] = {{"takes all", TakesAll, {exclude}, true},
                   {"before exclusion", MonitorOnly, {exclude, monitor}, true},
                   {"no layered window", NotLayered, {exclude, monitor, exclude}, false}};
    for (const auto& system : systems) {
        SCOPED_TRACE(system.name);
        g_affinityCalls.clear();
        SetDisplayAffinityCall(system.system);
        HWND pin = nullptr, keyboard = nullptr;
        bool pinLayered = !system.layered, keyboardLayered = !system.layered;
        Play(
            [&] {
                pin = WaitDialog(IDC_OLD_PIN);
                keyboard = SoftKeyboard();
                pinLayered = GetWindowLongPtrW(pin, GWL_EXSTYLE) & WS_EX_LAYERED;
                keyboardLayered = GetWindowLongPtrW(keyboard, GWL_EXSTYLE) & WS_EX_LAYERED;
                Press(VK_ESCAPE);
            },
            [&] { RunHost(Dev("PB")); });
        SetDisplayAffinityCall(nullptr);
        ASSERT_NE(pin, nullptr);
        ASSERT_NE(keyboard, nullptr);
        std::vector<AffinityCall> expected;
        for (HWND window : {pin, keyboard})
            for (DWORD value : system.asked) expected.push_back({window, value});
        EXPECT_EQ(g_affinityCalls, expected);
        EXPECT_EQ(pinLayered, system.layered);
        EXPECT_EQ(keyboardLayered, system.layered);
    }
    // Every window was taken in the end: nothing to warn about.
    EXPECT_FALSE(Contains(LogLines(logDir_ + "\\KEVA_QMB4410_Client"), "[WARN]"));
}

// ---- the hot-key shield ---------------------------------------------------------------------

namespace {
std::vector<UINT> g_keysSeen;
LRESULT CALLBACK RecordKeys(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_KEYDOWN || msg == WM_SYSKEYDOWN) g_keysSeen.push_back(static_cast<UINT>(wParam));
    return DefWindowProcW(hwnd, msg, wParam, lParam);
}
}  // namespace

TEST(ShieldHotKey, SwallowsSystemHotKeysOnlyWhileInstalled) {
    g_uiThread = GetCurrentThreadId();
    WNDCLASSW wc = {};
    wc.lpfnWndProc = RecordKeys;
    wc.hInstance = GetModuleHandleW(nullptr);
    wc.lpszClassName = L"ShieldTestWindow";
    RegisterClassW(&wc);
    HWND w = CreateWindowW(L"ShieldTestWindow", L"shield", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 10, 10,
                           200, 100, nullptr, nullptr, wc.hInstance, nullptr);
    ASSERT_NE(w, nullptr);
    SetForegroundWindow(w);
    SetFocus(w);
    HMODULE lib = LoadLibraryW(L"ShieldHotKey.dll");
    ASSERT_NE(lib, nullptr);
    auto install = reinterpret_cast<BOOL(__cdecl*)(HWND)>(
        reinterpret_cast<void*>(GetProcAddress(lib, "InstallShieldHotKeyHook")));
    auto uninstall = reinterpret_cast<BOOL(__cdecl*)()>(
        reinterpret_cast<void*>(GetProcAddress(lib, "UnInstallShieldHotKeyHook")));
    ASSERT_TRUE(install && uninstall);

    auto play = [&] {
        g_keysSeen.clear();
        std::atomic<bool> done{false};
        std::thread user([&] {
            Press(VK_LWIN);
            Chord(VK_MENU, VK_TAB);
            Chord(VK_MENU, VK_ESCAPE);
            Chord(VK_CONTROL, VK_ESCAPE);
            Press('Q');  // an ordinary key is never shielded
            done = true;
        });
        PumpUntil([&] { return done.load(); }, 10000);
        user.join();
        PumpFor(150);
        return g_keysSeen;
    };
    auto has = [](const std::vector<UINT>& keys, UINT vk) {
        return std::find(keys.begin(), keys.end(), vk) != keys.end();
    };

    ASSERT_TRUE(install(w));
    auto shielded = play();
    EXPECT_FALSE(has(shielded, VK_LWIN));
    EXPECT_FALSE(has(shielded, VK_TAB));
    EXPECT_FALSE(has(shielded, VK_ESCAPE));
    EXPECT_TRUE(has(shielded, 'Q'));
    EXPECT_TRUE(uninstall());
    auto open = play();
    EXPECT_TRUE(has(open, VK_LWIN));
    EXPECT_TRUE(has(open, VK_TAB));
    EXPECT_TRUE(has(open, VK_ESCAPE));
    EXPECT_FALSE(uninstall());
    FreeLibrary(lib);
    DestroyWindow(w);
}

// ---- no PIN anywhere ---------------------------------------------------------------------------

namespace {

// Collects the process's debugger output (the DBWIN buffer protocol) while it lives.
class DebugOutput {
  public:
    DebugOutput() {
        ready_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_BUFFER_READY");
        data_ = CreateEventW(nullptr, FALSE, FALSE, L"DBWIN_DATA_READY");
        map_ = CreateFileMappingW(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                  L"DBWIN_BUFFER");
        view_ = static_cast<char*>(MapViewOfFile(map_, FILE_MAP_READ, 0, 0, 4096));
        thread_ = std::thread([this] {
            SetEvent(ready_);
            while (!stop_) {
                if (WaitForSingleObject(data_, 50) != WAIT_OBJECT_0) continue;
                {
                    std::lock_guard<std::mutex> hold(m_);
                    text_ +=
                        std::string(view_ + sizeof(DWORD), strnlen(view_ + sizeof(DWORD), 4092));
                    text_ += '\n';
                }
                SetEvent(ready_);
            }
        });
    }
    ~DebugOutput() {
        stop_ = true;
        thread_.join();
        UnmapViewOfFile(view_);
        CloseHandle(map_);
        CloseHandle(data_);
        CloseHandle(ready_);
    }
    std::string Text() {
        std::lock_guard<std::mutex> hold(m_);
        return text_;
    }

  private:
    HANDLE ready_, data_, map_;
    char* view_;
    std::atomic<bool> stop_{false};
    std::mutex m_;
    std::string text_;
    std::thread thread_;
};

// Every file under a folder, read whole.
std::string AllFiles(const std::string& dir) {
    std::string all;
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((dir + "\\*").c_str(), &fd);
    if (h == INVALID_HANDLE_VALUE) return all;
    do
        if (!(fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
            all += ReadText(dir + "\\" + fd.cFileName);
    while (FindNextFileA(h, &fd));
    FindClose(h);
    return all;
}

}  // namespace

TEST_F(PinChangeTest, AWholeChangeAtDebugLevelLeavesNoPinInAnyLogOrOutput) {
    DebugOutput debug;
    OutputDebugStringA("debug-output-listener-works");
    SetPin("PD", kChangedPin, false);
    Insert("PD");
    const char* wrongPin = "Zq8wX3v1";
    const char* newPin = "Hm4tR9c2";
    bool changed = false;
    Play(
        [&] {
            FillIn(wrongPin, newPin, newPin);
            Answer(true);  // wrong old PIN
            HWND pin = DialogWith(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            FillIn(kChangedPin, newPin, newPin);
        },
        [&] { RunHost(Dev("PD"), &changed); });
    EXPECT_TRUE(changed);
    PumpFor(300);
    std::string logs = AllFiles(logDir_);
    std::string output = debug.Text();
    EXPECT_NE(logs.find("CDevObject::ChangePIN start..."), std::string::npos)
        << "the change was not logged at level 4";
    EXPECT_NE(output.find("debug-output-listener-works"), std::string::npos);
    for (const char* secret : {kChangedPin, wrongPin, newPin}) {
        EXPECT_EQ(logs.find(secret), std::string::npos) << secret;
        EXPECT_EQ(output.find(secret), std::string::npos) << secret;
    }
}

// Not a check: holds the PIN change on screen for a picture (scripts/pin-screenshot.sh runs it
// in a Wine virtual desktop). KW_POSE_READY names a file made once everything is up.
TEST_F(PinChangeTest, DISABLED_PoseForThePicture) {
    SetPin("PB", kChangedPin, false);  // an earlier test may have locked it
    Insert("PB");
    char ready[MAX_PATH] = {};
    GetEnvironmentVariableA("KW_POSE_READY", ready, MAX_PATH);
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            Type("12345678");
            Press(VK_TAB);
            WaitFocus(pin, IDC_NEW_PIN);
            Type("Kw7p");
            ShowSoftKeyboard(pin);
            Sleep(500);
            if (ready[0])
                CloseHandle(
                    CreateFileA(ready, GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr));
            Sleep(8000);
            Press(VK_ESCAPE);
        },
        [&] { RunHost(Dev("PB")); });
}

// ---- the PIN change from the main window ------------------------------------------------------

namespace {

class MainWindowPinTest : public PinChangeTest {
  protected:
    void SelectKey(const std::string& serial) {
        HWND tree = dlg_->TreeWindow();
        for (auto item =
                 reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
             item; item = reinterpret_cast<HTREEITEM>(SendMessageW(
                       tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
            CItemObj* dev = dlg_->ItemObject(item);
            if (dev && dev->GetItemType() == ITEM_DEVICE &&
                serial == static_cast<CDevObject*>(dev)->serial)
                SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item));
        }
    }
    void Command(int id) { SendMessageW(dlg_->Handle(), WM_COMMAND, MAKEWPARAM(id, 0), 0); }
};

}  // namespace

// Key PE is changed by this test only, so its final PIN is known (for a check through Sealgate).
TEST_F(MainWindowPinTest, TheChangePinButtonRunsTheWholeChangeAndShowsTheBalloon) {
    SetPin("PE", kChangedPin, false);
    Insert("PE");
    SelectKey("PE");
    Play([&] { FillIn(kChangedPin, "Kw7pQ2x9", "Kw7pQ2x9"); }, [&] { Command(IDC_MODIFY_PIN); });
    PumpFor(200);
    EXPECT_TRUE(PinIs("PE", "Kw7pQ2x9"));
    EXPECT_EQ(Balloon(), Str(IDS_PIN_CHANGED));
}

TEST_F(MainWindowPinTest, AKeyWithoutTriesOpensNoPinDialog) {
    SetPin("PB", kChangedPin, false, 0);
    Insert("PB");
    SelectKey("PB");
    std::wstring message;
    bool pinDialogSeen = false;
    Play(
        [&] {
            HWND msg = WaitDialog(IDC_TEXT);
            pinDialogSeen = DialogWith(IDC_OLD_PIN) != nullptr;
            message = msg ? Text(GetDlgItem(msg, IDC_TEXT)) : L"";
            Answer(true);
        },
        [&] { Command(IDC_MODIFY_PIN); });
    PumpFor(200);
    EXPECT_EQ(message, Str(IDS_PIN_LOCKED));
    EXPECT_FALSE(pinDialogSeen);
    EXPECT_EQ(Balloon(), Str(IDS_PIN_LOCKED));
}

TEST_F(MainWindowPinTest, PullingTheKeyClosesTheDialogAndTheDimmingWithoutSuccess) {
    SetPin("PC", kChangedPin, false);
    Insert("PC");
    SelectKey("PC");
    bool closed = false;
    Play(
        [&] {
            HWND pin = WaitDialog(IDC_OLD_PIN);
            WaitFocus(pin, IDC_OLD_PIN);
            Type("1234");
            PullOut(dlg_->Handle(), "PC");
            closed = WaitFor([&] { return !IsWindow(pin) && !DialogWith(IDOK); });
        },
        [&] { Command(IDC_MODIFY_PIN); });
    WaitIdle();
    EXPECT_TRUE(closed);
    EXPECT_NE(Balloon(), Str(IDS_PIN_CHANGED));
    EXPECT_EQ(Dev("PC"), nullptr);
    EXPECT_TRUE(PinIs("PC", kChangedPin));
}

TEST_F(MainWindowPinTest, TheFactoryPinPromptComesOnInsertAndLeadsToTheDialog) {
    SetPin("PA", kFactoryPin, true);
    std::wstring caption, text;
    bool pinDialog = false;
    Play(
        [&] {
            HWND prompt = WaitDialog(IDC_TEXT);
            if (!prompt) return;
            caption = Text(prompt);
            text = Text(GetDlgItem(prompt, IDC_TEXT));
            Answer(true);
            HWND pin = WaitDialog(IDC_OLD_PIN);
            pinDialog = pin != nullptr;
            Press(VK_ESCAPE);
        },
        [&] {
            PlugIn(dlg_->Handle(), "PA");
            // The prompt comes as a posted message once the key is read.
            PumpUntil([&] { return DialogWith(IDC_TEXT) != nullptr || pinDialog; }, 20000);
            PumpFor(3000);
        });
    EXPECT_EQ(caption, L"PA");
    EXPECT_EQ(text, Str(IDS_DEFAULT_PIN_PROMPT));
    EXPECT_TRUE(pinDialog);
}

TEST_F(MainWindowPinTest, NoPromptOnASilentRefreshOrALanguageSwitchButOnARefresh) {
    SetPin("PA", kFactoryPin, true);
    SetPresent("PA", true);
    // Runs a command and answers Cancel to a prompt that comes within two seconds.
    auto prompted = [&](int command) {
        bool seen = false;
        Play(
            [&] {
                if (WaitFor([] { return DialogWith(IDC_TEXT) != nullptr; }, 2500)) {
                    seen = true;
                    Answer(false);
                }
            },
            [&] {
                Command(command);
                WaitIdle();
                PumpFor(3000);
            });
        return seen;
    };
    EXPECT_FALSE(prompted(ID_SILENT_REFRESH));
    EXPECT_FALSE(prompted(ID_LANG_ZH_CN));
    EXPECT_TRUE(prompted(IDC_REFRESH));  // a refresh the user asked for prompts again
}
