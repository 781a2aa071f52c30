#include "pin_rules.h"

bool IsInvalidPINChar(const unsigned char* pin, size_t length) {
    if (!pin) return false;
    for (size_t i = 0; i < length; ++i) {
        unsigned char c = pin[i];
        bool ok = (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z');
        if (!ok) return true;
    }
    return false;
}

namespace {

// True when every byte after the first is the previous one plus step.
bool IsRun(const unsigned char* pin, size_t length, int step) {
    for (size_t i = 1; i < length; ++i)
        if (static_cast<int>(pin[i]) != static_cast<int>(pin[i - 1]) + step) return false;
    return true;
}

}  // namespace

bool IsTooSimplePIN(const unsigned char* pin, size_t length) {
    if (!pin || length == 0) return false;
    if (length > 1 && IsRun(pin, length, 0)) return true;  // one character repeated
    if (IsRun(pin, length, 1) || IsRun(pin, length, -1)) return true;
    // Two characters taking turns (a one-byte PIN passes this test trivially).
    for (size_t i = 0; i < length; ++i)
        if (pin[i] != pin[i % 2]) return false;
    return true;
}
