#include "resources.h"

#include <stdio.h>

#include <atomic>
#include <vector>

namespace {
HINSTANCE g_instance = nullptr;
std::atomic<int> g_languageChoice{0};
}  // namespace

int LanguageChoice() { return g_languageChoice.load(); }

void SetLanguageChoice(int choice) { g_languageChoice = choice; }

void ApplyLanguage(int choice) {
    LANGID lang = choice == 1 ? 2052 : choice == 2 ? 1028 : choice == 9 ? 1033 : 0;
    if (!lang) return;
    SetThreadUILanguage(lang);
    SetThreadLocale(MAKELCID(lang, SORT_DEFAULT));
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
