// "ShieldHotKey.dll": while installed, a low-level keyboard hook swallows the keys that would
// take the user away from the PIN host: the Windows keys, Alt+Tab, Alt+Esc and Ctrl+Esc.
// Keywarden loads the library by name and relies on none of the results.
#pragma once

#include <windows.h>

#ifdef __cplusplus
extern "C" {
#endif

// Installs the hook on the calling thread (which must pump messages) for the given window, and
// shields only while that window exists;
// TRUE when it is installed. A second call while installed only changes the window.
__declspec(dllexport) BOOL __cdecl InstallShieldHotKeyHook(HWND window);
// Removes the hook; TRUE when one was installed.
__declspec(dllexport) BOOL __cdecl UnInstallShieldHotKeyHook(void);

#ifdef __cplusplus
}
#endif
