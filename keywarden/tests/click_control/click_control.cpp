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

INT_PTR CALLBACK KeyboardProc(HWND hwnd, UINT msg, WPARAM wParam, LPARAM) {
    if (msg == WM_INITDIALOG) {
        HWND owner = GetWindow(hwnd, GW_OWNER);
        RECT o;
        GetWindowRect(owner, &o);
        SetWindowPos(hwnd, nullptr, o.right - 30, o.top + 100, 0, 0,
                     SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
        SetWindowLongPtrW(hwnd, GWL_EXSTYLE, GetWindowLongPtrW(hwnd, GWL_EXSTYLE) | WS_EX_LAYERED);
        SetLayeredWindowAttributes(hwnd, 0, 252, LWA_ALPHA);
        return FALSE;
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

template <class Done>
bool WaitFor(const Done& done, DWORD ms) {
    const DWORD end = GetTickCount() + ms;
    while (!done()) {
        if (GetTickCount() > end) return false;
        Sleep(15);
    }
    return true;
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

int main() {
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
                5000);
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
                kwtest::ClickControl(keyboard, key);
                ++clicks;
                if (WaitFor([&] { return GetWindowTextLengthW(field) == before + 1; }, 1500)) {
                    ++roundTaken;
                } else if (firstLost.empty()) {
                    firstLost = Describe(WindowFromPoint(at));
                }
            }
            taken += roundTaken;
            if (roundTaken < kClicksPerRound) ++lostRounds;
            std::printf(
                "round %d: toggle clicked %d times, keyboard %s, %d of %d clicks taken%s%s\n",
                round + 1, toggles, IsWindowVisible(keyboard) ? "shown" : "not shown", roundTaken,
                kClicksPerRound, firstLost.empty() ? "" : "; under the point: ", firstLost.c_str());
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
