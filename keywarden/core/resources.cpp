#include "resources.h"

#include <stdio.h>

#include <vector>

namespace {
HINSTANCE g_instance = nullptr;
}

HINSTANCE KeywardenInstance() { return g_instance ? g_instance : GetModuleHandleW(nullptr); }

void SetKeywardenInstance(HINSTANCE instance) { g_instance = instance; }

bool GetVersionText(wchar_t* buffer, size_t size) {
    if (!buffer || size == 0) return false;
    buffer[0] = 0;
    wchar_t path[MAX_PATH + 1] = {};
    if (!GetModuleFileNameW(KeywardenInstance(), path, MAX_PATH)) return false;
    DWORD ignored = 0;
    DWORD n = GetFileVersionInfoSizeW(path, &ignored);
    if (n == 0) return false;
    std::vector<BYTE> data(n);
    if (!GetFileVersionInfoW(path, 0, n, data.data())) return false;
    VS_FIXEDFILEINFO* info = nullptr;
    UINT len = 0;
    if (!VerQueryValueW(data.data(), L"\\", reinterpret_cast<void**>(&info), &len) || !info)
        return false;
    snwprintf(buffer, size, L"%d.%d.%d.%d", HIWORD(info->dwProductVersionMS),
              LOWORD(info->dwProductVersionMS), HIWORD(info->dwProductVersionLS),
              LOWORD(info->dwProductVersionLS));
    buffer[size - 1] = 0;
    return true;
}
