#include "shieldhotkey.h"

namespace {

HHOOK g_hook = nullptr;
HWND g_window = nullptr;
HMODULE g_module = nullptr;

bool Down(int vk) { return (GetAsyncKeyState(vk) & 0x8000) != 0; }

// True for a key event the shield keeps from the system. Releases of the Windows keys are
// swallowed too, so that the Start menu never sees a lone press and release.
bool IsShielded(const KBDLLHOOKSTRUCT& key) {
    const bool alt = (key.flags & LLKHF_ALTDOWN) != 0 || Down(VK_MENU);
    switch (key.vkCode) {
        case VK_LWIN:
        case VK_RWIN:
            return true;
        case VK_TAB:
            return alt;
        case VK_ESCAPE:
            return alt || Down(VK_CONTROL);
    }
    return false;
}

// The shield holds only while the window it was installed for exists: a host that died
// without removing it leaves the keys alone.
LRESULT CALLBACK ShieldProc(int code, WPARAM message, LPARAM data) {
    if (code == HC_ACTION && data && IsWindow(g_window) &&
        IsShielded(*reinterpret_cast<const KBDLLHOOKSTRUCT*>(data)))
        return 1;
    return CallNextHookEx(g_hook, code, message, data);
}

}  // namespace

BOOL APIENTRY DllMain(HMODULE module, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        g_module = module;
        DisableThreadLibraryCalls(module);
    } else if (reason == DLL_PROCESS_DETACH && g_hook) {
        UnhookWindowsHookEx(g_hook);
        g_hook = nullptr;
    }
    return TRUE;
}

extern "C" BOOL __cdecl InstallShieldHotKeyHook(HWND window) {
    g_window = window;
    if (g_hook) return TRUE;
    g_hook = SetWindowsHookExW(WH_KEYBOARD_LL, ShieldProc, g_module, 0);
    return g_hook != nullptr;
}

extern "C" BOOL __cdecl UnInstallShieldHotKeyHook(void) {
    g_window = nullptr;
    if (!g_hook) return FALSE;
    UnhookWindowsHookEx(g_hook);
    g_hook = nullptr;
    return TRUE;
}
