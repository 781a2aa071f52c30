// Keywarden.exe: the tray program for the user of a key.
#include <windows.h>

#include "app.h"
#include "kit/platform.h"
#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    kit::restrict_module_search();
    return KeywardenMain(instance, arguments, MakeMainWindow);
}
