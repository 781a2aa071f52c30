// Keywarden's process entry: single instance, configuration, log, device library binding, the
// main dialog and its message loop, and the teardown.
#pragma once

#include <windows.h>

#include <memory>

#include "keywarden_window.h"

constexpr char kSingleInstanceMutex[] = "KEVA_UKEY_MAIN_DIALOG_SIGNLE_FLAG";
constexpr char kLogPathPrefix[] = "C:\\pvarel\\KEVA_QMB4410_Client";

constexpr char kMainWindowClass[] = KEYWARDEN_WINDOW_CLASS;

// The program's one top-level window as the entry sees it: created hidden, its messages run
// by the entry's loop, destroyed (with every key it holds) when the object goes.
class IMainWindow {
  public:
    virtual ~IMainWindow() = default;
    virtual HWND Create(HINSTANCE instance) = 0;
    virtual HWND Handle() const = 0;
};
using MainWindowFactory = std::unique_ptr<IMainWindow> (*)();

// Runs the program; returns the process exit code. arguments is the command-line text after
// the program name.
int KeywardenMain(HINSTANCE instance, const char* arguments, MainWindowFactory makeMainWindow);

// Registers the main window's class "KEVAClientClass" as a copy of the system dialog class.
bool RegisterMainWindowClass(HINSTANCE instance);

// Whatever way the program ends, the certificates it registered leave the store: an exception
// nobody handles (any thread) and a C++ exception that reaches std::terminate remove them
// before the process goes. Installed once by the entry.
void InstallCrashCleanup();

// "<folder of the executable>\config.ini".
void GetConfigPath(char* path, size_t size);
// The start-up wait for the argument text: 1500 ms for "/min" (any case), else 500 ms.
DWORD StartupWaitFor(const char* arguments);
