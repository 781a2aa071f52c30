// The PIN change under Wine with real input: keys go through SendInput to the focused field, so
// they take the path a user's keys take (the field's low-level hook, the dialog manager). The
// user interface runs modally on the test's main thread; a script thread plays the user.
#include "capture_exclusion.h"
#include "pin_support.h"

using namespace pintest;

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
        [&] { EXPECT_FALSE(RunHost(Device("PB"))); });
    EXPECT_EQ(message, L"PIN is incorrect, you have 9 times left to reenter, please input again.");
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
        [&] { RunHost(Device("PC")); });
    ASSERT_EQ(messages.size(), 4u);
    EXPECT_EQ(messages[0], L"The two PIN entered do not match, please input again.");
    EXPECT_EQ(messages[1], L"The new PIN is invalid.");
    EXPECT_EQ(messages[2], L"The new PIN is same to the old PIN, please input again.");
    EXPECT_EQ(messages[3], L"Your new PIN is too simple. Are you sure to use the PIN?");
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
            // The OK button's state once the fields hold the lengths typed so far (the dialog
            // sets it as each change comes).
            auto ok = [&](int old, int fresh, int again) {
                EXPECT_TRUE(WaitFor([&] {
                    return GetWindowTextLengthW(GetDlgItem(pin, IDC_OLD_PIN)) == old &&
                           GetWindowTextLengthW(GetDlgItem(pin, IDC_NEW_PIN)) == fresh &&
                           GetWindowTextLengthW(GetDlgItem(pin, IDC_NEW_PIN2)) == again;
                })) << old
                    << " " << fresh << " " << again;
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
            states.push_back(ok(6, 5, 5));
            typeInto(IDC_NEW_PIN, "f");
            typeInto(IDC_NEW_PIN2, "f");
            states.push_back(ok(6, 6, 6));
            Type("g");
            states.push_back(ok(6, 6, 7));
            typeInto(IDC_OLD_PIN, "");
            Press(VK_BACK);
            Press(VK_BACK);
            typeInto(IDC_NEW_PIN, "g");
            states.push_back(ok(4, 7, 7));
            Press(VK_ESCAPE);
        },
        [&] { RunHost(Device("PB")); });
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
        [&] { RunHost(Device("PD"), &changed); });
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
        [&] { RunHost(Device("PB")); });
    EXPECT_EQ(message, L"PIN is locked, please contact the manager.");
    EXPECT_EQ(Balloon(), L"PIN is locked, please contact the manager.");
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
// the click. Wine loses an injected click now and then: the click control (click_control.exe,
// the same windows without Keywarden, clicked the same way) lost 4 of 1120 clicks, never more
// than one in a dialog, each time with a key under the point. A lost click is clicked once more;
// a second loss presses that key with its own BM_CLICK (the same button and keyboard code) and
// is counted: the keyboard must have taken most of its clicks from the mouse.
int g_mouseClicks = 0, g_lostClicks = 0;
// What holds the user-interface thread's input when a key does nothing: modal loops, capture,
// focus, and the window under the key's middle.
std::string UiThreadState(HWND key) {
    GUITHREADINFO gti = {};
    gti.cbSize = sizeof gti;
    GetGUIThreadInfo(g_uiThread, &gti);
    RECT r;
    GetWindowRect(key, &r);
    POINT mid = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
    auto name = [](HWND w) {
        wchar_t cls[64] = {};
        if (w) GetClassNameW(w, cls, 64);
        char out[160];
        std::snprintf(out, sizeof out, "%p(%ls)", static_cast<void*>(w), cls);
        return std::string(out);
    };
    char flags[96];
    std::snprintf(flags, sizeof flags, "flags %#lx%s%s%s", gti.flags,
                  gti.flags & GUI_INMOVESIZE ? " move/size" : "",
                  gti.flags & GUI_INMENUMODE ? " menu" : "",
                  gti.flags & GUI_POPUPMENUMODE ? " popup-menu" : "");
    return std::string(flags) + ", capture " + name(gti.hwndCapture) + ", move/size " +
           name(gti.hwndMoveSize) + ", active " + name(gti.hwndActive) + ", focus " +
           name(gti.hwndFocus) + ", key " + name(key) + ", under its middle " +
           name(WindowFromPoint(mid)) + (IsWindowEnabled(key) ? "" : ", key disabled");
}
void ClickSoftKey(HWND keyboard, int control, const std::function<bool()>& done) {
    for (int attempt = 0; attempt < 2; ++attempt) {
        ++g_mouseClicks;
        ClickControl(keyboard, control);
        if (WaitFor(done, 1500)) return;
        ++g_lostClicks;
        std::printf("soft key %d: the mouse click was lost; %s\n", control,
                    UiThreadState(GetDlgItem(keyboard, control)).c_str());
    }
    SendMessageW(GetDlgItem(keyboard, control), BM_CLICK, 0, 0);
    if (!WaitFor(done, 1500))
        ADD_FAILURE() << "the soft key " << control << " did nothing; "
                      << UiThreadState(GetDlgItem(keyboard, control));
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
    g_mouseClicks = g_lostClicks = 0;
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
        [&] { RunHost(Device("PD"), &changed); });
    // Lost clicks are rare (about one in a hundred in the control): a keyboard that takes no
    // real click fails here.
    EXPECT_LE(g_lostClicks * 10, g_mouseClicks)
        << g_lostClicks << " of " << g_mouseClicks << " mouse clicks were lost";
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
            [&] { RunHost(Device("PB")); });
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
        [&] { RunHost(Device("PB")); });
    EXPECT_EQ(r.left, 0);
    EXPECT_EQ(r.top, 0);
    EXPECT_EQ(r.right, GetSystemMetrics(SM_CXSCREEN));
    EXPECT_EQ(r.bottom, GetSystemMetrics(SM_CYSCREEN));
    EXPECT_EQ(alpha, 127);
    EXPECT_TRUE(flags & LWA_ALPHA);
    EXPECT_TRUE(ex & WS_EX_TOPMOST);
    EXPECT_TRUE(ex & WS_EX_LAYERED);
}

namespace {
// What reaches a low-level keyboard hook installed before the PIN screen: the shield, installed
// later, is asked first and keeps the Windows key from it.
std::atomic<bool> g_winKeySeen{false}, g_probeSeen{false};
LRESULT CALLBACK RecordWinKey(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION && message == WM_KEYDOWN) {
        DWORD vk = reinterpret_cast<const KBDLLHOOKSTRUCT*>(data)->vkCode;
        if (vk == VK_LWIN) g_winKeySeen = true;
        if (vk == VK_F24) g_probeSeen = true;
    }
    return CallNextHookEx(nullptr, code, message, data);
}
// Presses the Windows key, then a key nobody shields: once the probe is seen, so is the
// Windows key unless something kept it.
bool WinKeyGetsThrough() {
    g_winKeySeen = g_probeSeen = false;
    Press(VK_LWIN);
    Press(VK_F24);
    if (!WaitFor([] { return g_probeSeen.load(); })) ADD_FAILURE() << "the probe key was lost";
    return g_winKeySeen;
}
}  // namespace

// The dimmed screen shields the system's hot keys while the PIN is typed and gives them back
// when it ends; without the shield's module beside the program the change works all the same.
TEST_F(PinChangeTest, TheHostShieldsHotKeysWhileItRunsAndChangesThePinWithoutTheShield) {
    SetPin("PB", kChangedPin, false);
    Insert("PB");
    HHOOK recorder = SetWindowsHookExW(WH_KEYBOARD_LL, RecordWinKey, GetModuleHandleW(nullptr), 0);
    ASSERT_NE(recorder, nullptr);
    bool throughDuring = true, throughAfter = false;
    Play(
        [&] {
            WaitDialog(IDC_OLD_PIN);
            throughDuring = WinKeyGetsThrough();
            Press(VK_ESCAPE);
        },
        [&] { RunHost(Device("PB")); });
    Play([&] { throughAfter = WinKeyGetsThrough(); }, [] {});
    EXPECT_FALSE(throughDuring);
    EXPECT_TRUE(throughAfter);

    const std::string shield = ProgramDir() + "\\ShieldHotKey.dll", away = shield + ".away";
    ASSERT_TRUE(MoveFileA(shield.c_str(), away.c_str()));
    bool changed = false;
    Play(
        [&] {
            WaitDialog(IDC_OLD_PIN);
            throughDuring = WinKeyGetsThrough();
            FillIn(kChangedPin, "Sh7pQ2x9", "Sh7pQ2x9");
        },
        [&] { RunHost(Device("PB"), &changed); });
    MoveFileA(away.c_str(), shield.c_str());
    UnhookWindowsHookEx(recorder);
    EXPECT_TRUE(throughDuring);
    EXPECT_TRUE(changed);
    EXPECT_TRUE(PinIs("PB", "Sh7pQ2x9"));
    SetPin("PB", kChangedPin, false);
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
            [&] { RunHost(Device("PB")); });
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
        [&] { RunHost(Device("PD"), &changed); });
    EXPECT_TRUE(changed);
    // The listener has everything written before a last marker once it has the marker.
    OutputDebugStringA("debug-output-listener-end");
    EXPECT_TRUE(PumpUntil(
        [&] { return debug.Text().find("debug-output-listener-end") != std::string::npos; },
        10000));
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
        [&] { RunHost(Device("PB")); });
}
