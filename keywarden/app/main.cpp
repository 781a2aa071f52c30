// Keywarden.exe: the tray program for the user of a key.
#include <windows.h>

#include "app.h"
#include "main_window.h"

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR arguments, int) {
    return KeywardenMain(instance, arguments, MakeMainWindow);
}
