// The texts the window shows for the key model: a key's name in the tree and the certificate
// notice about certificates near or past their end of validity.
#pragma once

#include <windows.h>

#include <cstddef>

#include "items.h"

// The name of a key in the tree and in the label dialog: its label, or string 210 for a key
// that is not formatted. buffer260 holds 260 wide characters.
void KeyDisplayName(const CDevObject& dev, wchar_t* buffer260);

// The notice line of one certificate (strings 250-252 with its serial and days), in the
// calling thread's language; empty for EXPIRY_NONE.
void ExpiryLine(const ExpiryFact& fact, wchar_t* out, size_t size);

constexpr size_t kCertNoticeSize = 2048;
constexpr size_t kCertNoticeClosingRoom = 128;

// The certificate notice: lines about certificates near or past their end of validity. At most
// kCertNoticeSize wide characters with the terminator; room is always kept for the closing
// sentence.
class CertNotice {
  public:
    void Clear();
    void AppendLine(const wchar_t* line);
    // Appends string 253 and returns true when the notice has lines.
    bool Finish();
    bool IsEmpty() const { return m_text[0] == 0; }
    void Copy(wchar_t* out, size_t size) const;
    // Clears, then one line per fact and the closing sentence when there is any.
    void Build(const ExpiryFacts& facts);

  private:
    wchar_t m_text[kCertNoticeSize] = {};
    bool m_hasLines = false;
    // Set once the closing sentence is written: a line after it starts a new notice instead of
    // trailing the closing sentence.
    bool m_finished = false;
};
