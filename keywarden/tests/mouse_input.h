// A left click as the user's mouse gives it, injected into the system's input stream: the cursor
// on the point, then the buttons, each carrying the point. Shared by the PIN suite and the click
// control.
#pragma once

#include <windows.h>

namespace kwtest {

// A screen pixel in the units of an absolute mouse event (0 to 65535 across the screen), rounded
// up so that the system's way back (units * extent / 65536, rounded down) gives the same pixel.
inline LONG AbsoluteUnits(LONG pixel, int extent) {
    return static_cast<LONG>((pixel * 65536LL + extent - 1) / extent);
}

inline void ClickAt(HWND window, int x, int y, DWORD down, DWORD up) {
    POINT p = {x, y};
    ClientToScreen(window, &p);
    // The cursor goes to the point (the X pointer with it), and each button event carries the
    // point as well. A button event without a move is pressed wherever the cursor is when it is
    // queued, and under Wine a window's thread may move the cursor back in between: it takes a
    // crossing event from the X server late, sent when a window was mapped under the pointer's old
    // place. Seen in the PIN suite: the dimmed host mapped under the pointer the last test left at
    // (679,525) ("X11DRV_EnterNotify ... pos 679,525" in a +cursor trace); a click placed at
    // (679,495) then came as "click@1011(679,525)", on the field below the one aimed at.
    SetCursorPos(p.x, p.y);
    INPUT in[2] = {};
    for (INPUT& event : in) {
        event.type = INPUT_MOUSE;
        event.mi.dx = AbsoluteUnits(p.x, GetSystemMetrics(SM_CXSCREEN));
        event.mi.dy = AbsoluteUnits(p.y, GetSystemMetrics(SM_CYSCREEN));
    }
    in[0].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | down;
    in[1].mi.dwFlags = MOUSEEVENTF_MOVE | MOUSEEVENTF_ABSOLUTE | up;
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
