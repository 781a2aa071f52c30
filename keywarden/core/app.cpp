#include "app.h"

#include <commctrl.h>
#include <objbase.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <exception>

#include "device_library.h"
#include "items.h"
#include "log.h"
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

std::terminate_handler g_previousTerminate = nullptr;

// The certificates of connected keys are all bound to the key provider and only one Keywarden
// runs: removing the provider's certificates removes exactly what this process registered.
LONG WINAPI CleanUpOnCrash(EXCEPTION_POINTERS*) {
    SweepProviderCertificates();
    return EXCEPTION_EXECUTE_HANDLER;  // the process ends without the system's crash dialog
}

[[noreturn]] void CleanUpOnTerminate() {
    SweepProviderCertificates();
    if (g_previousTerminate) g_previousTerminate();
    abort();
}

}  // namespace

void InstallCrashCleanup() {
    SetUnhandledExceptionFilter(CleanUpOnCrash);
    std::terminate_handler previous = std::set_terminate(CleanUpOnTerminate);
    if (previous != CleanUpOnTerminate) g_previousTerminate = previous;
}

bool RegisterMainWindowClass(HINSTANCE instance) {
    WNDCLASSEXW wc = {};
    wc.cbSize = sizeof wc;
    if (!GetClassInfoExW(instance, L"#32770", &wc)) return false;
    wc.hInstance = instance;
    wc.lpszClassName = L"KEVAClientClass";
    return RegisterClassExW(&wc) != 0 || GetLastError() == ERROR_CLASS_ALREADY_EXISTS;
}

void GetConfigPath(char* path, size_t size) {
    char module[MAX_PATH + 1] = {};
    GetModuleFileNameA(nullptr, module, MAX_PATH);
    if (char* slash = strrchr(module, '\\')) *slash = 0;
    snprintf(path, size, "%s\\config.ini", module);
}

DWORD StartupWaitFor(const char* arguments) {
    return arguments && _stricmp(arguments, "/min") == 0 ? 1500 : 500;
}

int KeywardenMain(HINSTANCE instance, const char* arguments, MainWindowFactory makeMainWindow) {
    CoInitializeEx(nullptr, COINIT_APARTMENTTHREADED);
    SetKeywardenInstance(instance);

    HANDLE single = CreateMutexA(nullptr, FALSE, kSingleInstanceMutex);
    if (GetLastError() == ERROR_ALREADY_EXISTS) {
        if (single) CloseHandle(single);
        CoUninitialize();
        return 1;
    }

    InstallCrashCleanup();
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
    std::unique_ptr<IMainWindow> window;
    if (makeMainWindow && RegisterMainWindowClass(instance)) {
        window = makeMainWindow();
        if (window->Create(instance)) {
            MSG msg;
            BOOL got;
            while ((got = GetMessageW(&msg, nullptr, 0, 0)) != 0) {
                if (got == -1) break;
                if (PreTranslate(window->Handle(), &msg)) continue;
                TranslateMessage(&msg);
                DispatchMessageW(&msg);
            }
            if (got == 0) exitCode = static_cast<int>(msg.wParam);
        }
    }

    window.reset();  // releases every key: their certificates leave the store
    UnbindDeviceLibrary();
    // The last line of a run: a setup that replaces the files only after the program ended can
    // be checked against it.
    LogMessage(LOG_LEVEL_INFO, "Keywarden exit[%d]", exitCode);
    if (single) CloseHandle(single);
    CoUninitialize();
    return exitCode;
}
