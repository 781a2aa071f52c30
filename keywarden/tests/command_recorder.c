/* Stands in for a program Keywarden starts: writes the command line it was started with, in
   UTF-8, to the file named by KW_RECORDED_COMMAND, and ends. */
#include <windows.h>

int main(void) {
    wchar_t path[MAX_PATH];
    if (!GetEnvironmentVariableW(L"KW_RECORDED_COMMAND", path, MAX_PATH)) return 1;
    char text[4096];
    int size =
        WideCharToMultiByte(CP_UTF8, 0, GetCommandLineW(), -1, text, sizeof text, NULL, NULL);
    if (size <= 0) return 1;
    HANDLE file = CreateFileW(path, GENERIC_WRITE, 0, NULL, CREATE_ALWAYS, 0, NULL);
    if (file == INVALID_HANDLE_VALUE) return 1;
    DWORD written = 0;
    WriteFile(file, text, (DWORD)(size - 1), &written, NULL);
    CloseHandle(file);
    return 0;
}
