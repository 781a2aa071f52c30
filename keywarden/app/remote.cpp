// keywarden-remote.exe: sends a running Keywarden (found by its window class) one of the
// requests any program may send, for scripts that show or drive it.
//   keywarden-remote open | hide | menu | lang cn|tw|en | balloon ID | about | command ID |
//                    dismiss | quit
// "command ID" posts a command as a button of the window would; "dismiss" cancels the dialogs
// Keywarden has open.
#include <windows.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include "keywarden_window.h"
#include "kit/platform.h"

namespace {

struct Dismiss {
    HWND main;
    DWORD process;
    int count;
};

BOOL CALLBACK DismissDialog(HWND hwnd, LPARAM param) {
    auto* d = reinterpret_cast<Dismiss*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(hwnd, &process);
    char cls[16] = {};
    GetClassNameA(hwnd, cls, sizeof cls);
    if (hwnd != d->main && process == d->process && strcmp(cls, "#32770") == 0 &&
        IsWindowVisible(hwnd)) {
        PostMessageW(hwnd, WM_COMMAND, IDCANCEL, 0);
        ++d->count;
    }
    return TRUE;
}

}  // namespace

int main(int argc, char** argv) {
    kit::restrict_module_search();
    if (argc < 2) {
        fprintf(stderr,
                "usage: keywarden-remote open|hide|menu|lang cn|tw|en|balloon ID|about|command "
                "ID|dismiss|quit\n");
        return 2;
    }
    HWND window = nullptr;
    for (int i = 0; i < 100 && !window; ++i) {
        window = FindWindowA(KEYWARDEN_WINDOW_CLASS, nullptr);
        if (!window) Sleep(100);
    }
    if (!window) {
        fprintf(stderr, "keywarden-remote: no Keywarden window\n");
        return 1;
    }
    const char* what = argv[1];
    const char* arg = argc > 2 ? argv[2] : "";
    BOOL ok = FALSE;
    if (strcmp(what, "open") == 0) {
        ok = PostMessageW(window, WM_COMMAND, KEYWARDEN_CMD_OPEN, 0);
    } else if (strcmp(what, "hide") == 0) {
        ok = PostMessageW(window, WM_CLOSE, 0, 0);
    } else if (strcmp(what, "menu") == 0) {
        // The tray icon's right-button release, as the shell reports it.
        ok = PostMessageW(window, RegisterWindowMessageA(KEYWARDEN_TRAY_MESSAGE),
                          KEYWARDEN_TRAY_ICON_ID, WM_RBUTTONUP);
    } else if (strcmp(what, "lang") == 0) {
        int id = strcmp(arg, "cn") == 0   ? KEYWARDEN_CMD_LANG_ZH_CN
                 : strcmp(arg, "tw") == 0 ? KEYWARDEN_CMD_LANG_ZH_TW
                                          : KEYWARDEN_CMD_LANG_EN;
        ok = PostMessageW(window, WM_COMMAND, id, 0);
    } else if (strcmp(what, "balloon") == 0) {
        ok = PostMessageW(window, UM_BALLOON, static_cast<WPARAM>(atoi(arg)), 0);
    } else if (strcmp(what, "about") == 0) {
        ok = PostMessageW(window, WM_COMMAND, KEYWARDEN_CMD_ABOUT, 0);
    } else if (strcmp(what, "command") == 0) {
        ok = PostMessageW(window, WM_COMMAND, static_cast<WPARAM>(atoi(arg)), 0);
    } else if (strcmp(what, "dismiss") == 0) {
        Dismiss d = {window, 0, 0};
        GetWindowThreadProcessId(window, &d.process);
        EnumWindows(DismissDialog, reinterpret_cast<LPARAM>(&d));
        ok = TRUE;
    } else if (strcmp(what, "quit") == 0) {
        ok = PostMessageW(window, UM_QUIT, 0, 0);
    } else {
        fprintf(stderr, "keywarden-remote: unknown request %s\n", what);
        return 2;
    }
    return ok ? 0 : 1;
}
