// The library-owned results of the exports that return by pointer: the text of the last
// ParsingSeal, and the bytes of the last seal either maker made, one of each per calling
// thread. Each holds until the same thread's release export or next call of its family.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sealform {

// Keeps the text (NUL-terminated in the slot) and returns it.
char* keep_sealinfos(std::string text);
void release_sealinfos();

// Keeps a copy of the bytes and returns it; null when memory runs out.
unsigned char* keep_made_seal(const std::vector<uint8_t>& der);
void release_made_seal();

}  // namespace sealform
