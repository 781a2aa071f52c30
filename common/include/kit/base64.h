// Base64 with the RFC 4648 alphabet, "=" padding and no line breaks: the one codec both
// libraries use for every binary value inside XML and between the library, the key driver
// and the status service.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "kit/kept.h"
#include "kit/secure.h"

namespace kit {

// Encodes three bytes at a time; a final group of one or two bytes is padded to four
// characters. Empty input gives empty text.
std::string base64_encode(const uint8_t* data, size_t size);

// Characters the encoding of `size` bytes takes.
constexpr size_t base64_encoded_size(size_t size) { return (size + 2) / 3 * 4; }

// Writes the encoding of `size` bytes to `out`, which has room for base64_encoded_size(size)
// characters (no terminator is written); returns the end of what was written. Lets a writer
// put the text straight where it goes instead of through a string of its own.
char* base64_encode_to(char* out, const uint8_t* data, size_t size);
inline std::string base64_encode(const std::vector<uint8_t>& data) {
    return base64_encode(data.data(), data.size());
}

// Reads from the start and stops at the first "=" or at the first character outside the
// alphabet (so a line break ends the data). Every four characters give three bytes; a last
// group of two or three characters gives one or two bytes, a lone last character nothing.
std::vector<uint8_t> base64_decode(std::string_view text);

// The same into a given buffer (reserved once): a SecureBytes for secrets, a RawBytes kept
// between calls (not zero-filled first).
template <class Bytes>
void base64_decode_into(std::string_view text, Bytes& out);
extern template void base64_decode_into(std::string_view, std::vector<uint8_t>&);
extern template void base64_decode_into(std::string_view, SecureBytes&);
extern template void base64_decode_into(std::string_view, RawBytes&);

}  // namespace kit
