// The module that holds Keywarden's resources (string tables, dialog templates, version).
#pragma once

#include <windows.h>

// The program's own module unless set otherwise at start-up.
HINSTANCE KeywardenInstance();
void SetKeywardenInstance(HINSTANCE instance);

// The product version from the version resource, as "%d.%d.%d.%d". Returns false (and an
// empty text) when there is no version resource.
bool GetVersionText(wchar_t* buffer, size_t size);
