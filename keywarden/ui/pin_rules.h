// The rules a new PIN must pass. A PIN here is a byte string in the system's ANSI code page.
#pragma once

#include <cstddef>

// True at the first byte that is not a digit 0-9, an upper-case A-Z or a lower-case a-z.
bool IsInvalidPINChar(const unsigned char* pin, size_t length);

// True when the PIN is one character repeated, an ascending or a descending run of byte values
// (each byte the previous one plus or minus 1), or two characters taking turns. Bytes compare
// exactly, so a run that mixes cases is no run. A one-byte PIN counts as too simple; an empty
// one does not.
bool IsTooSimplePIN(const unsigned char* pin, size_t length);
