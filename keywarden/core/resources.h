// The module that holds Keywarden's resources (string tables, dialog templates, version).
#pragma once

#include <windows.h>

// The program's own module unless set otherwise at start-up.
HINSTANCE KeywardenInstance();
void SetKeywardenInstance(HINSTANCE instance);

// The product version from the version resource, as "%d.%d.%d.%d". Returns false (and an
// empty text) when there is no version resource.
bool GetVersionText(wchar_t* buffer, size_t size);

// The language the user chose from the tray menu: 0 = the system decides (start value), 1 =
// Simplified Chinese, 2 = Traditional Chinese, 9 = English. Process-wide; any thread reads it.
int LanguageChoice();
void SetLanguageChoice(int choice);
// Sets the calling thread's user-interface language and locale for a choice (0: nothing), so
// that strings loaded on this thread come from the chosen table.
void ApplyLanguage(int choice);
