/* A module planted where the kit must never look for code: the host's current folder, a folder on
 * PATH. Copied under the file names of the outside modules the kit loads, it leaves a marker
 * file the moment anything loads it, named after the folder it lies in and its own file name
 * ("cwd_RZLog.dll"), in the folder that KIT_PLANT_MARKERS names. Its exports stand for those of
 * the modules it poses as and answer success, the way a hostile module would. */
#include <windows.h>
#include <stdint.h>

static void leave_marker(HMODULE self) {
    wchar_t path[MAX_PATH], folder[MAX_PATH], marker[2 * MAX_PATH];
    DWORD n = GetModuleFileNameW(self, path, MAX_PATH);
    if (n == 0 || n >= MAX_PATH) return;
    if (!GetEnvironmentVariableW(L"KIT_PLANT_MARKERS", folder, MAX_PATH)) return;
    wchar_t* file = path + n;
    while (file > path && file[-1] != L'\\' && file[-1] != L'/') --file;
    if (file == path) return;
    file[-1] = 0;
    const wchar_t* parent = file - 1;
    while (parent > path && parent[-1] != L'\\' && parent[-1] != L'/') --parent;
    wsprintfW(marker, L"%s\\%s_%s", folder, parent, file);
    HANDLE h = CreateFileW(marker, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (h != INVALID_HANDLE_VALUE) CloseHandle(h);
}

BOOL WINAPI DllMain(HINSTANCE self, DWORD reason, LPVOID reserved) {
    (void)reserved;
    if (reason == DLL_PROCESS_ATTACH) leave_marker(self);
    return TRUE;
}

/* Every export is a C-convention function: a caller that passes arguments also removes them. */
#define PLANTED(name) \
    __declspec(dllexport) intptr_t __cdecl name(void) { return 0; }

PLANTED(ExtendOutputDebugString) /* trace library */
PLANTED(SKFVerifyData)           /* certificate SDK: 0 = the signature is valid */
PLANTED(SymmetryDecryption_File) /* file cipher: 0 = decrypted */
PLANTED(OpenDevice)              /* key driver */
PLANTED(CloseDevice)
PLANTED(ECCSignExt)
PLANTED(InstallShieldHotKeyHook) /* hot-key shield */
PLANTED(UnInstallShieldHotKeyHook)
PLANTED(ukGetFunctionList) /* device library */
