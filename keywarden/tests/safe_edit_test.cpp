// The protected PIN field on its own under Wine with real input (SendInput through the field's
// low-level hook), and the hot-key shield the PIN host loads.
#include "pin_support.h"

using namespace pintest;

namespace {

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
