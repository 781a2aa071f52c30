// The library-owned results of the exports that return by pointer: the text of the last
// ParsingSeal, and the bytes of the last seal either maker made, one of each per calling
// thread. Each holds until the same thread's release export or next call of its family.
//
// A released ParsingSeal text's block is kept for the next call (of any thread) when it is at
// most kKeptBlockBytes, up to kKeptBlocks blocks (so at most 2 x 256 KB = 512 KB stays kept): a
// host that reads the same seals again and again takes no new memory from the system and
// touches no fresh pages, while a 1 MB seal's block goes back to the system as soon as it is
// released. A made seal's block is freed when released.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sealform {

constexpr size_t kKeptBlockBytes = 256 * 1024;
constexpr size_t kKeptBlocks = 2;

// Makes the calling thread's ParsingSeal result a block of at least `bytes` bytes (contents
// unspecified) and returns it; the one it replaces is given up. Throws std::bad_alloc when
// memory runs out.
char* sealinfos_block(size_t bytes);
void release_sealinfos();

// Keeps a copy of the bytes and returns it; null when memory runs out.
unsigned char* keep_made_seal(const std::vector<uint8_t>& der);
void release_made_seal();

}  // namespace sealform
