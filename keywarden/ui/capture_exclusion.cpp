#include "capture_exclusion.h"

namespace {

DisplayAffinityFn g_setAffinity = SetWindowDisplayAffinity;

// WDA_EXCLUDEFROMCAPTURE exists from Windows 10 version 2004 on. Asking for it first and taking
// WDA_MONITOR when it is refused needs no version check: earlier systems either refuse the value
// or treat it as WDA_MONITOR, and either way the window ends up as protected as the system can.
bool AskAffinity(HWND window) {
    return g_setAffinity(window, WDA_EXCLUDEFROMCAPTURE) || g_setAffinity(window, WDA_MONITOR);
}

}  // namespace

void SetDisplayAffinityCall(DisplayAffinityFn call) {
    g_setAffinity = call ? call : SetWindowDisplayAffinity;
}

bool ExcludeFromCapture(HWND window) {
    if (AskAffinity(window)) return true;
    DWORD error = GetLastError();
    const LONG_PTR style = GetWindowLongPtrW(window, GWL_EXSTYLE);
    if (!(style & WS_EX_LAYERED)) {
        SetLastError(error);
        return false;
    }
    // The system refuses the affinity for some layered windows. A PIN screen out of captures is
    // worth more than its slight transparency; where the layering was not the reason, it stays.
    COLORREF key = 0;
    BYTE alpha = 255;
    DWORD flags = 0;
    GetLayeredWindowAttributes(window, &key, &alpha, &flags);
    SetWindowLongPtrW(window, GWL_EXSTYLE, style & ~WS_EX_LAYERED);
    if (AskAffinity(window)) return true;
    error = GetLastError();
    SetWindowLongPtrW(window, GWL_EXSTYLE, style);
    SetLayeredWindowAttributes(window, key, alpha, flags);
    SetLastError(error);
    return false;
}
