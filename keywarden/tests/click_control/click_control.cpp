// The control for the PIN suite's soft-keyboard clicks: the same windows as the PIN change (a
// topmost, layered, full-screen host; a modal dialog on it; a modeless keyboard window it owns
// that hands the focus back to the dialog's field after each click), clicked from another thread
// the same way and as often as the suite clicks the soft keyboard. It says how many clicks the
// keyboard took, and for a lost one which window was under the point; it exits 0 only when every
// click arrived.
#include <windows.h>

#include <atomic>
#include <cstdio>
#include <string>
#include <thread>

#include "../mouse_input.h"

namespace {

constexpr int kHost = 100, kPin = 101, kKeyboard = 102;
constexpr int kField = 1001, kToggle = 1002, kFirstKey = 1025, kKeys = 8;
constexpr UINT kStartPin = WM_APP + 1;
constexpr int kRounds = 14, kClicksPerRound = 20;

std::atomic<HWND> g_host{nullptr}, g_pin{nullptr}, g_keyboard{nullptr};
// What the keys' buttons saw of the mouse: presses (a double click counts) and releases.
std::atomic<int> g_downs{0}, g_ups{0};
// --noactivate: a click on the keyboard does not activate it (WM_MOUSEACTIVATE answered with
// MA_NOACTIVATE), so the focus has less to come back from.
bool g_noActivate = false;
WNDPROC g_buttonProc = nullptr;

LRESULT CALLBACK KeyButtonProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM lParam) {
    if (msg == WM_LBUTTONDOWN || msg == WM_LBUTTONDBLCLK) ++g_downs;
    if (msg == WM_LBUTTONUP) ++g_ups;
    return CallWindowProcW(g_buttonProc, hwnd, msg, wParam, lParam);
}

INT_PTR CALLBACK KeyboardProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        HWND owner = GetWindow(hwnd, GW_OWNER);
        RECT o;
        GetWindowRect(owner, &o);
        SetWindowPos(hwnd, nullptr, o.right - 30, o.top + 100, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
        SetLayeredWindowAttributes(hwnd, 0, 252, LWA_ALPHA);
        for (int i = 0; i < kKeys; ++i)
            g_buttonProc = reinterpret_cast<WNDPROC>(
                SetWindowLongPtrW(GetDlgItem(hwnd, kFirstKey + i), GWLP_WNDPROC,
                                  reinterpret_cast<LONG_PTR>(KeyButtonProc)));
        return FALSE;
    }
    if (msg == WM_MOUSEACTIVATE && g_noActivate) {
        SetWindowLongPtrW(hwnd, DWLP_MSGRESULT, MA_NOACTIVATE);
        return TRUE;
    }
    if (msg == WM_COMMAND && HIWORD(wParam) == BN_CLICKED) {
        int id = LOWORD(wParam);
        if (id >= kFirstKey && id < kFirstKey + kKeys) {
            HWND field = GetDlgItem(GetWindow(hwnd, GW_OWNER), kField);
            SendMessageW(field, EM_REPLACESEL, FALSE, reinterpret_cast<LPARAM>(L"x"));
            SetFocus(field);  // the focus goes back to the field after each key
        }
        return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK PinProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    switch (msg) {
        case WM_INITDIALOG: {
            RECT o, r;
            GetWindowRect(GetWindow(hwnd, GW_OWNER), &o);
            GetWindowRect(hwnd, &r);
            SetWindowPos(hwnd, nullptr, (o.right - (r.right - r.left)) / 2,
                         (o.bottom - (r.bottom - r.top)) / 2, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
            SetWindowLongPtrW(hwnd, GWL_EXSTYLE,
                              GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
            SetLayeredWindowAttributes(hwnd, 0, 252, LWA_ALPHA);
            HWND toggle =
                CreateWindowW(L"BUTTON", L"Keys", WS_CHILD | WS_VISIBLE | BS_PUSHBUTTON, 300, 40,
                              60, 24, hwnd, reinterpret_cast<HMENU>(kToggle), nullptr, nullptr);
            (void)toggle;
            g_keyboard = CreateDialogParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kKeyboard),
                                            hwnd, KeyboardProc, 0);
            SetFocus(GetDlgItem(hwnd, kField));
            g_pin = hwnd;
            return FALSE;
        }
        case WM_COMMAND:
            if (LOWORD(wParam) == kToggle) {
                ShowWindow(g_keyboard, SW_SHOWNA);
                SetFocus(GetDlgItem(hwnd, kField));
            } else if (LOWORD(wParam) == IDCANCEL) {
                DestroyWindow(g_keyboard);
                g_keyboard = nullptr;
                g_pin = nullptr;
                EndDialog(hwnd, IDCANCEL);
            }
            return TRUE;
    }
    return FALSE;
}

INT_PTR CALLBACK HostProc(HWND hwnd, UINT msg, WPARAM, LPARAM) {
    static HBRUSH s_black = CreateSolidBrush(RGB(0, 0, 0));
    switch (msg) {
        case WM_INITDIALOG:
            SetWindowPos(hwnd, nullptr, 0, 0, GetSystemMetrics(SM_CXSCREEN),
                         GetSystemMetrics(SM_CYSCREEN), SWP_NOZORDER);
            SetWindowLongPtrW(hwnd, GWL_EXSTYLE,
                              GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
            SetLayeredWindowAttributes(hwnd, 0, 127, LWA_ALPHA);
            SetWindowPos(hwnd, HWND_TOPMOST, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE);
            SetForegroundWindow(hwnd);
            SetFocus(hwnd);
            g_host = hwnd;
            std::thread([hwnd] {
                Sleep(50);
                PostMessageW(hwnd, kStartPin, 0, 0);
            }).detach();
            return FALSE;
        case WM_CTLCOLORDLG:
            return reinterpret_cast<INT_PTR>(s_black);
        case kStartPin:
            DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kPin), hwnd, PinProc, 0);
            g_host = nullptr;
            EndDialog(hwnd, 0);
            return TRUE;
    }
    return FALSE;
}

// The other way of clicking: the move alone, then the buttons once the system's cursor is at
// the point.
bool g_awaited = false;
void ClickAwaited(HWND dlg, int control);

template <class Done>
bool WaitFor(const Done& done, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (!done()) {
        if (GetTickCount() > end) return false;
        Sleep(15);
    }
    return true;
}

void ClickAwaited(HWND dlg, int control) {
    RECT r;
    HWND c = GetDlgItem(dlg, control);
    GetClientRect(c, &r);
    POINT p = {r.right / 2, r.bottom / 2};
    ClientToScreen(c, &p);
    INPUT in = {};
    in.type = INPUT_MOUSE;
    in.mi.dx = MulDiv(p.x, 65535, GetSystemMetrics(SM_CXSCREEN) - 1);
    in.mi.dy = MulDiv(p.y, 65535, GetSystemMetrics(SM_CYSCREEN) - 1);
    in.mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE;
    SendInput(1, &in, sizeof in);
    WaitFor(
        [&] {
            POINT at;
            return GetCursorPos(&at) && at.x == p.x && at.y == p.y;
        },
        1000);
    in.mi.dwFlags = MOUSEEVENTF_LEFTDOWN;
    SendInput(1, &in, sizeof in);
    in.mi.dwFlags = MOUSEEVENTF_LEFTUP;
    SendInput(1, &in, sizeof in);
}

std::string Describe(HWND w) {
    if (!w) return "no window";
    if (w == g_host.load()) return "the dimmed host";
    if (w == g_pin.load()) return "the dialog";
    if (w == g_keyboard.load()) return "the keyboard window";
    if (GetParent(w) == g_keyboard.load()) return "a key";
    if (GetParent(w) == g_pin.load()) return "a control of the dialog";
    wchar_t cls[64] = {};
    GetClassNameW(w, cls, 64);
    char narrow[64] = {};
    WideCharToMultiByte(CP_ACP, 0, cls, -1, narrow, 64, nullptr, nullptr);
    return std::string("a window of class ") + narrow;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        g_awaited |= std::string(argv[i]) == "--awaited";
        g_noActivate |= std::string(argv[i]) == "--noactivate";
    }
    // The owner every dialog hangs from, hidden as Keywarden's main window is at start.
    HWND main = CreateWindowW(L"STATIC", L"main", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr,
                              nullptr);
    std::atomic<int> taken{0}, clicks{0}, lostRounds{0};
    std::atomic<bool> done{false};
    const DWORD uiThread = GetCurrentThreadId();
    std::thread user([&] {
        for (int round = 0; round < kRounds; ++round) {
            if (!WaitFor([] { return g_pin.load() && g_keyboard.load(); }, 10000)) break;
            HWND pin = g_pin, keyboard = g_keyboard;
            HWND field = GetDlgItem(pin, kField);
            WaitFor(
                [&] {
                    GUITHREADINFO gti = {};
                    gti.cbSize = sizeof gti;
                    return GetGUIThreadInfo(uiThread, &gti) && gti.hwndFocus == field;
                },
                2000);
            int toggles = 0;
            while (!IsWindowVisible(keyboard) && toggles < 3) {
                ++toggles;
                kwtest::ClickControl(pin, kToggle);
                WaitFor([&] { return IsWindowVisible(keyboard) != FALSE; }, 1500);
            }
            int roundTaken = 0;
            std::string firstLost;
            for (int i = 0; i < kClicksPerRound; ++i) {
                const int key = kFirstKey + i % kKeys;
                const int before = GetWindowTextLengthW(field);
                RECT r;
                GetWindowRect(GetDlgItem(keyboard, key), &r);
                POINT at = {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
                const int downs = g_downs, ups = g_ups;
                if (g_awaited)
                    ClickAwaited(keyboard, key);
                else
                    kwtest::ClickControl(keyboard, key);
                ++clicks;
                if (WaitFor([&] { return GetWindowTextLengthW(field) == before + 1; }, 1500)) {
                    ++roundTaken;
                } else {
                    char seen[160];
                    POINT cursor = {};
                    GetCursorPos(&cursor);
                    std::snprintf(seen, sizeof seen,
                                  " [click %d: %s under the point, the key saw %d press(es) and "
                                  "%d release(s), cursor %ld,%ld for %ld,%ld]",
                                  i + 1, Describe(WindowFromPoint(at)).c_str(), g_downs - downs,
                                  g_ups - ups, cursor.x, cursor.y, at.x, at.y);
                    firstLost += seen;
                }
            }
            taken += roundTaken;
            if (roundTaken < kClicksPerRound) ++lostRounds;
            std::printf(
                "round %d: toggle clicked %d times, keyboard %s, %d of %d clicks taken%s%s\n",
                round + 1, toggles, IsWindowVisible(keyboard) ? "shown" : "not shown", roundTaken,
                kClicksPerRound, firstLost.empty() ? "" : "; lost:", firstLost.c_str());
            std::fflush(stdout);
            PostMessageW(pin, WM_COMMAND, IDCANCEL, 0);
            WaitFor([] { return g_host.load() == nullptr; }, 10000);
        }
        done = true;
    });
    for (int round = 0; round < kRounds && !done; ++round)
        DialogBoxParamW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(kHost), main, HostProc, 0);
    user.join();
    DestroyWindow(main);
    std::printf(
        "click control: %d of %d clicks reached the soft keyboard; %d of %d dialogs lost some\n",
        taken.load(), clicks.load(), lostRounds.load(), kRounds);
    return taken == clicks && clicks == kRounds * kClicksPerRound ? 0 : 1;
}
