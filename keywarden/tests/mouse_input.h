// A left click as the user's mouse gives it, injected into the system's input stream: the cursor
// on the point, then the buttons. Shared by the PIN suite and the click control.
#pragma once

#include <windows.h>

namespace kwtest {

inline void ClickAt(HWND window, int x, int y, DWORD down, DWORD up) {
    POINT p = {x, y};
    ClientToScreen(window, &p);
    // The cursor is put on the point in screen pixels, then the buttons go down and up where it
    // is. An absolute move in normalised units is scaled by a screen size that Wine did not always
    // agree with the screen metrics on: a click aimed at (679,495) came with the cursor at
    // (679,525), on the next field down, its control unmoved.
    SetCursorPos(p.x, p.y);
    INPUT in[2] = {};
    in[0].type = in[1].type = INPUT_MOUSE;
    in[0].mi.dwFlags = down;
    in[1].mi.dwFlags = up;
    SendInput(2, in, sizeof in[0]);
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
