// Shared by the PIN suites: the user's input and waiting (played from a script thread while the
// user interface runs modally on the test's main thread), the software keys' PINs, and the
// fixture that runs the PIN change against a main window.
#pragma once

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
#include "main_window_fixture.h"
#include "mouse_input.h"
#include "pin_dialog.h"
#include "resources.h"
#include "softkey_store.h"
#include "support.h"

namespace pintest {

using namespace kwtest;

constexpr char kFactoryPin[] = "580914";
constexpr char kChangedPin[] = "12345678";  // the test keys' PIN when not the factory one

inline DWORD g_uiThread = 0;

// ---- the user: input and waiting, from the script thread ------------------------------------

inline bool WaitFor(const std::function<bool()>& done, DWORD timeoutMs = 5000) {
    DWORD end = GetTickCount() + timeoutMs;
    while (!done()) {
        if (GetTickCount() > end) return false;
        Sleep(15);
    }
    return true;
}

inline void SendKey(WORD vk, bool up) {
    INPUT in = {};
    in.type = INPUT_KEYBOARD;
    in.ki.wVk = vk;
    in.ki.wScan = static_cast<WORD>(MapVirtualKeyW(vk, MAPVK_VK_TO_VSC));
    in.ki.dwFlags = up ? KEYEVENTF_KEYUP : 0;
    if (vk >= VK_PRIOR && vk <= VK_DELETE) in.ki.dwFlags |= KEYEVENTF_EXTENDEDKEY;
    SendInput(1, &in, sizeof in);
    Sleep(10);
}
inline void Press(WORD vk) {
    SendKey(vk, false);
    SendKey(vk, true);
}
inline void Chord(WORD modifier, WORD vk) {
    SendKey(modifier, false);
    Sleep(40);  // the thread reads the modifier before the key comes
    Press(vk);
    SendKey(modifier, true);
}
// Types letters, digits and the underscore as keys (upper-case letters and "_" with Shift).
inline void Type(const std::string& text) {
    for (char c : text) {
        if (c == '_')
            Chord(VK_SHIFT, VK_OEM_MINUS);
        else if (c >= 'A' && c <= 'Z')
            Chord(VK_SHIFT, static_cast<WORD>(c));
        else
            Press(static_cast<WORD>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
}

struct FindDialog {
    int control;
    HWND found;
};
inline BOOL CALLBACK FindDialogProc(HWND hwnd, LPARAM data) {
    auto* f = reinterpret_cast<FindDialog*>(data);
    if (IsWindowVisible(hwnd) && GetDlgItem(hwnd, f->control)) {
        f->found = hwnd;
        return FALSE;
    }
    return TRUE;
}
// The visible top-level window of the user-interface thread that holds a control.
inline HWND DialogWith(int control) {
    FindDialog f = {control, nullptr};
    EnumThreadWindows(g_uiThread, FindDialogProc, reinterpret_cast<LPARAM>(&f));
    return f.found;
}
// Waits until the control of a dialog has the user-interface thread's focus.
inline bool WaitFocus(HWND dlg, int control) {
    return WaitFor([&] {
        GUITHREADINFO gti = {};
        gti.cbSize = sizeof gti;
        return GetGUIThreadInfo(g_uiThread, &gti) && gti.hwndFocus == GetDlgItem(dlg, control);
    });
}
// ---- clicks that reach their control ----------------------------------------------------------
// A click is lost on the way rarely, if ever: the click control (click_control.exe, the same
// windows without Keywarden, clicked the same way) took 1400 of 1400 clicks, 280 of them beside
// three busy loops. The suite saw one press that never reached the user-interface thread: the
// toggle's, beside three busy loops, when a press still went wherever the cursor was; clicked
// again, it was taken. So a lost click may be clicked again; a late one must not be, or its effect
// comes twice (a toggle shows the keyboard and hides it again, a key types twice). On a busy
// machine the user-interface thread can take seconds to come to a click, so a click counts as lost
// only when its button release never reached the control: a message hook on that thread records
// every release it takes from its queue.
inline std::atomic<HWND> g_releasedOn{nullptr};
inline std::atomic<unsigned> g_releases{0};
// The keys and button presses the thread took since the script began, in order ("key0x9@1010":
// Tab while control 1010 had the focus; "click@1011(679,525)": a press on control 1011 with the
// cursor at that screen point), for a test that finds typing in another field.
inline std::mutex g_takenLock;
inline std::string g_taken;
inline LRESULT CALLBACK RecordInput(int code, WPARAM removed, LPARAM message) {
    const auto* m = reinterpret_cast<const MSG*>(message);
    if (code == HC_ACTION && removed == PM_REMOVE) {
        if (m->message == WM_LBUTTONUP) {
            g_releasedOn = m->hwnd;
            ++g_releases;
        }
        if (m->message == WM_KEYDOWN || m->message == WM_SYSKEYDOWN ||
            m->message == WM_LBUTTONDOWN) {
            // A click names the screen point the thread saw the cursor at.
            char entry[64];
            if (m->message == WM_LBUTTONDOWN)
                std::snprintf(entry, sizeof entry, " click@%d(%ld,%ld)", GetDlgCtrlID(m->hwnd),
                              m->pt.x, m->pt.y);
            else
                std::snprintf(entry, sizeof entry, " key%#x@%d", static_cast<unsigned>(m->wParam),
                              GetDlgCtrlID(m->hwnd));
            std::lock_guard<std::mutex> hold(g_takenLock);
            if (g_taken.size() < 4000) g_taken += entry;
        }
    }
    return CallNextHookEx(nullptr, code, removed, message);
}
// Starts recording what the user-interface thread takes (once per thread) and empties the record.
inline void WatchUiThreadInput() {
    static DWORD hooked = 0;
    if (hooked != g_uiThread &&
        SetWindowsHookExW(WH_GETMESSAGE, RecordInput, nullptr, g_uiThread) != nullptr)
        hooked = g_uiThread;
    std::lock_guard<std::mutex> hold(g_takenLock);
    g_taken.clear();
}
inline std::string InputTaken() {
    std::lock_guard<std::mutex> hold(g_takenLock);
    return g_taken;
}
// Clicks a control with the mouse; true when the release reached it (waiting as long as a busy
// machine may take), false when the click was lost on the way.
inline bool ClickReaches(HWND dlg, int control) {
    const unsigned before = g_releases;
    HWND target = GetDlgItem(dlg, control);
    RECT aimed;
    GetWindowRect(target, &aimed);
    ClickControl(dlg, control);
    if (WaitFor([&] { return g_releases != before && g_releasedOn == target; }, 15000)) return true;
    RECT now;
    GetWindowRect(target, &now);
    std::printf(
        "click on control %d missed: aimed at (%ld,%ld), the control at (%ld,%ld)-(%ld,%ld) "
        "then, (%ld,%ld)-(%ld,%ld) now; input the thread took:%s\n",
        control, (aimed.left + aimed.right) / 2, (aimed.top + aimed.bottom) / 2, aimed.left,
        aimed.top, aimed.right, aimed.bottom, now.left, now.top, now.right, now.bottom,
        InputTaken().c_str());
    return false;
}

// Clicks a control; a click lost on the way is clicked again, three clicks at most. True when
// one reached the control.
inline bool ClickUntilReached(HWND dlg, int control) {
    for (int attempt = 0; attempt < 3; ++attempt)
        if (ClickReaches(dlg, control)) return true;
    return false;
}

// Clicks the soft keyboard toggle; the keyboard that shows, or none.
inline HWND ShowSoftKeyboard(HWND pin) {
    if (!ClickUntilReached(pin, IDC_SOFTKB_TOGGLE)) return nullptr;
    HWND kb = nullptr;
    WaitFor([&] { return (kb = DialogWith(IDC_SOFTKB_SHIFT)) != nullptr; }, 15000);
    return kb;
}
inline BOOL CALLBACK FindKeyboardProc(HWND hwnd, LPARAM data) {
    if (!GetDlgItem(hwnd, IDC_SOFTKB_SHIFT)) return TRUE;
    *reinterpret_cast<HWND*>(data) = hwnd;
    return FALSE;
}
// The soft keyboard of the user-interface thread, shown or not.
inline HWND SoftKeyboard() {
    HWND found = nullptr;
    EnumThreadWindows(g_uiThread, FindKeyboardProc, reinterpret_cast<LPARAM>(&found));
    return found;
}
inline HWND WaitDialog(int control) {
    HWND d = nullptr;
    WaitFor([&] { return (d = DialogWith(control)) != nullptr; });
    return d;
}
inline std::wstring Text(HWND w) {
    wchar_t buf[1024] = {};
    SendMessageW(w, WM_GETTEXT, 1024, reinterpret_cast<LPARAM>(buf));
    return buf;
}
inline std::wstring Str(int id) { return UiText(id).c_str(); }

// Runs the script on a thread of its own while ui runs on this one; waits for both.
inline BOOL CALLBACK CancelDialog(HWND hwnd, LPARAM) {
    wchar_t cls[16] = {};
    GetClassNameW(hwnd, cls, 16);
    if (IsWindowVisible(hwnd) && wcscmp(cls, L"#32770") == 0)
        PostMessageW(hwnd, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
    return TRUE;
}

// Runs the script on a thread of its own while ui runs on this one; waits for both. A script
// that ends (or gives up) while dialogs still run has them cancelled, so that a failing test
// fails instead of hanging.
inline void Play(const std::function<void()>& script, const std::function<void()>& ui) {
    g_uiThread = GetCurrentThreadId();
    WatchUiThreadInput();
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

inline softkey::KeyRecord Key(const std::string& serial) {
    return softkey::Store(softkey::Store::default_root()).load(serial);
}
inline bool PinIs(const std::string& serial, const std::string& pin) {
    return softkey::pin_matches(Key(serial).pin, pin);
}
inline void SetPin(const std::string& serial, const std::string& pin, bool isDefault,
                   int tries = 10) {
    softkey::Store(softkey::Store::default_root()).update(serial, [&](softkey::KeyRecord& r) {
        softkey::set_pin(r.pin, pin, isDefault);
        r.pin.retries_left = tries;
    });
}

class PinChangeTest : public MainWindowTest {
  protected:
    void SetUp() override {
        ASSERT_NO_FATAL_FAILURE(OpenWindow("pin", 9));
        WaitIdle();
    }
    // Runs the PIN change for a key the way its button does; true when the PIN changed (the
    // success balloon came). What the change posted (the balloon) is handled first.
    bool RunHost(const DevicePtr& dev, bool* changed = nullptr) {
        dlg_->Dialogs().ModifyPIN(dev);
        WaitIdle();
        bool ok = Balloon() == L"Change PIN successfully.";
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
};

}  // namespace pintest
