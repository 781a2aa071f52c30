#include "app.h"

#include <commctrl.h>
#include <objbase.h>
#include <stdio.h>
#include <string.h>

#include "device_library.h"
#include "log.h"
#include "main_dlg.h"
#include "png_loader.h"
#include "resources.h"

namespace {

constexpr int kBindAttempts = 3;
constexpr DWORD kBindRetryWaitMs = 3000;

// Enter, Escape and Space do nothing in the main window; everything else is dialog input.
bool PreTranslate(HWND dialog, MSG* msg) {
    if (msg->message == WM_KEYDOWN &&
        (msg->wParam == VK_RETURN || msg->wParam == VK_ESCAPE || msg->wParam == VK_SPACE))
        return true;
    return dialog && IsWindow(dialog) && IsDialogMessageW(dialog, msg);
}

}  // namespace

void GetConfigPath(char* path, size_t size) {
    char module[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (char* slash = strrchr(module, '\\')) *slash = 0;
    snprintf(path, size, "%s\\config.ini", module);
}

DWORD StartupWaitFor(const char* arguments) {
    return arguments && _stricmp(arguments, "/min") == 0 ? 1500 : 500;
}

int KeywardenMain(HINSTANCE instance, const char* arguments, MainDlgFactory makeMainDlg) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetKeywardenInstance(instance);

    HANDLE single = CreateMutexA(nullptr, FALSE, kSingleInstanceMutex);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (single) CloseHandle(single);
        CoUninitialize();
        return 1;
    }

    char config[MAX_PATH + 32];
    GetConfigPath(config, sizeof config);
    int level = static_cast<int>(GetPrivateProfileIntA("exe_config", "loglevel", 1, config));
    LogInit(level, "CLIENT", kLogPathPrefix);

    Sleep(StartupWaitFor(arguments));

    ULONG bound = 1;
    for (int attempt = 0; attempt < kBindAttempts && bound != 0; ++attempt) {
        bound = BindDeviceLibrary();
        if (bound != 0) Sleep(kBindRetryWaitMs);
    }
    if (bound != 0) {
        if (single) CloseHandle(single);
        CoUninitialize();
        return 0;
    }

    INITCOMMONCONTROLSEX icc = {sizeof icc, ICC_BAR_CLASSES | ICC_TREEVIEW_CLASSES};
    InitCommonControlsEx(&icc);
    GdiplusSession gdiplus;

    int exitCode = 0;
    CMainDlg* dlg = nullptr;
    if (CMainDlg::RegisterWindowClass(instance)) {
        dlg = makeMainDlg ? makeMainDlg() : new CMainDlg();
        if (dlg->Create(instance)) {
            MSG msg;
            BOOL got;
            while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
                if (got == -1) break;
                if (PreTranslate(dlg->m_hWnd, &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (got == 0) exitCode = static_cast<int>(msg.wParam);
        }
    }

    delete dlg;  // releases every key: their certificates leave the store
    UnbindDeviceLibrary();
    if (single) CloseHandle(single);
    CoUninitialize();
    return exitCode;
}
