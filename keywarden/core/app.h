// Keywarden's process entry: single instance, configuration, log, device library binding, the
// main dialog and its message loop, and the teardown.
#pragma once

#include <windows.h>

class CMainDlg;

constexpr char kSingleInstanceMutex[] = "KEVA_UKEY_MAIN_DIALOG_SIGNLE_FLAG";
constexpr char kLogPathPrefix[] = "C:\\pvarel\\KEVA_QMB4410_Client";

using MainDlgFactory = CMainDlg* (*)();

// Runs the program; returns the process exit code. arguments is the command-line text after
// the program name.
int KeywardenMain(HINSTANCE instance, const char* arguments, MainDlgFactory makeMainDlg);

// "<folder of the executable>\config.ini".
void GetConfigPath(char* path, size_t size);
// The start-up wait for the argument text: 1500 ms for "/min" (any case), else 500 ms.
DWORD StartupWaitFor(const char* arguments);
