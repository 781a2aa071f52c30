// A left click as the user's mouse gives it, injected into the system's input stream: one
// absolute move to the point, then the buttons. Shared by the PIN suite and the click control.
#pragma once

#include <windows.h>

namespace kwtest {

inline void ClickAt(HWND window, int x, int y, DWORD down, DWORD up) {
    POINT p = {x, y};
    ClientToScreen(window, &p);
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

// A left click in the middle of a control.
inline void ClickControl(HWND dlg, int control) {
    RECT r;
    HWND c = GetDlgItem(dlg, control);
    GetClientRect(c, &r);
    ClickAt(c, r.right / 2, r.bottom / 2, MOUSEEVENTF_LEFTDOWN, MOUSEEVENTF_LEFTUP);
}

}  // namespace kwtest
