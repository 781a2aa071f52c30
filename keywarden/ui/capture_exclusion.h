// Keeps a window out of screen captures. The PIN screen shows which shuffled soft key lies where
// and where the user clicks: a program that records the screen would learn the PIN from it.
#pragma once

#include <windows.h>

// The call that sets a window's display affinity (SetWindowDisplayAffinity). Replaceable so that
// tests see which window is asked for which value; null restores the system's call.
using DisplayAffinityFn = BOOL(WINAPI*)(HWND window, DWORD affinity);
void SetDisplayAffinityCall(DisplayAffinityFn call);

// Asks that the window (top-level, of this process) be left out of every capture:
// WDA_EXCLUDEFROMCAPTURE first, WDA_MONITOR (captures show it empty) where that is refused. Where
// a layered window is refused both, its layering is dropped if the window is taken without it.
// False, with the last error of the refusal, when the window stays capturable.
bool ExcludeFromCapture(HWND window);
