// The dimmed host of the PIN change and what the PIN screen keeps from others: the whole screen
// dimmed above everything, the system's hot keys shielded, the dialog and keyboard left out of
// screen captures, and no PIN in any log or debug output. Real input under Wine, as in the rest
// of the PIN suite.
#include "capture_exclusion.h"
#include "pin_support.h"

using namespace pintest;

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
