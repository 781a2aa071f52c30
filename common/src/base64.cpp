#include "kit/base64.h"

#include <array>
#include <cstring>

namespace kit {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

constexpr std::array<int8_t, 256> make_decode_table() {
    std::array<int8_t, 256> table{};
    for (auto& v : table) v = -1;
    for (int i = 0; i < 64; ++i) table[static_cast<uint8_t>(kAlphabet[i])] = static_cast<int8_t>(i);
    return table;
}
constexpr auto kDecode = make_decode_table();

// Two output characters per 12 input bits: halves the table look-ups of the encoder.
struct PairTable {
    char pairs[4096][2];
};
constexpr PairTable make_pair_table() {
    PairTable t{};
    for (int i = 0; i < 4096; ++i) {
        t.pairs[i][0] = kAlphabet[i >> 6];
        t.pairs[i][1] = kAlphabet[i & 63];
    }
    return t;
}
constexpr PairTable kPairs = make_pair_table();

}  // namespace

std::string base64_encode(const uint8_t* data, size_t size) {
    std::string out(base64_encoded_size(size), '\0');
    base64_encode_to(out.data(), data, size);
    return out;
}

char* base64_encode_to(char* o, const uint8_t* data, size_t size) {
    size_t i = 0;
    // Six bytes at a time: two groups of 24 bits, four 12-bit look-ups.
    for (; i + 6 <= size; i += 6) {
        uint32_t a = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        uint32_t b = (uint32_t{data[i + 3]} << 16) | (uint32_t{data[i + 4]} << 8) | data[i + 5];
        std::memcpy(o, kPairs.pairs[a >> 12], 2);
        std::memcpy(o + 2, kPairs.pairs[a & 4095], 2);
        std::memcpy(o + 4, kPairs.pairs[b >> 12], 2);
        std::memcpy(o + 6, kPairs.pairs[b & 4095], 2);
        o += 8;
    }
    for (; i + 3 <= size; i += 3) {
        uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8) | data[i + 2];
        std::memcpy(o, kPairs.pairs[v >> 12], 2);
        std::memcpy(o + 2, kPairs.pairs[v & 4095], 2);
        o += 4;
    }
    if (size - i == 1) {
        uint32_t v = uint32_t{data[i]} << 16;
        o[0] = kAlphabet[(v >> 18) & 63];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = '=';
        o[3] = '=';
    } else if (size - i == 2) {
        uint32_t v = (uint32_t{data[i]} << 16) | (uint32_t{data[i + 1]} << 8);
        o[0] = kAlphabet[(v >> 18) & 63];
        o[1] = kAlphabet[(v >> 12) & 63];
        o[2] = kAlphabet[(v >> 6) & 63];
        o[3] = '=';
    }
    return size - i ? o + 4 : o;
}

// The value of a character shifted into its place in a group of four (`shift` 18, 12, 6 or 0
// bits); characters outside the alphabet have the top bit set.
struct DecodeTables {
    uint32_t at[4][256];
};
constexpr DecodeTables make_decode_tables() {
    DecodeTables t{};
    for (int place = 0; place < 4; ++place)
        for (int c = 0; c < 256; ++c)
            t.at[place][c] = kDecode[c] < 0 ? 0x80000000u
                                            : static_cast<uint32_t>(kDecode[c]) << (18 - 6 * place);
    return t;
}
constexpr DecodeTables kDecodeAt = make_decode_tables();

template <class Bytes>
void base64_decode_into(std::string_view text, Bytes& out) {
    out.clear();
    // One block of the most the text can give, written in place and cut to what it gave
    // (growing would leave copies behind).
    out.resize(text.size() / 4 * 3 + 2);
    uint8_t* o = out.data();
    const auto* p = reinterpret_cast<const uint8_t*>(text.data());
    const size_t n = text.size();
    size_t i = 0;
    // Whole groups of four characters of the alphabet.
    for (; i + 4 <= n; i += 4) {
        uint32_t v = kDecodeAt.at[0][p[i]] | kDecodeAt.at[1][p[i + 1]] | kDecodeAt.at[2][p[i + 2]] |
                     kDecodeAt.at[3][p[i + 3]];
        if (v & 0x80000000u) break;
        o[0] = static_cast<uint8_t>(v >> 16);
        o[1] = static_cast<uint8_t>(v >> 8);
        o[2] = static_cast<uint8_t>(v);
        o += 3;
    }
    // The rest, up to the first character outside the alphabet ("=" included).
    uint32_t acc = 0;
    int count = 0;
    for (; i < n; ++i) {
        int8_t v = kDecode[p[i]];
        if (v < 0) break;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        if (++count == 4) {
            o[0] = static_cast<uint8_t>(acc >> 16);
            o[1] = static_cast<uint8_t>(acc >> 8);
            o[2] = static_cast<uint8_t>(acc);
            o += 3;
            acc = 0;
            count = 0;
        }
    }
    if (count == 2) {
        *o++ = static_cast<uint8_t>(acc >> 4);
    } else if (count == 3) {
        *o++ = static_cast<uint8_t>(acc >> 10);
        *o++ = static_cast<uint8_t>(acc >> 2);
    }
    acc = 0;
    out.resize(static_cast<size_t>(o - out.data()));
}

template void base64_decode_into(std::string_view, std::vector<uint8_t>&);
template void base64_decode_into(std::string_view, SecureBytes&);
template void base64_decode_into(std::string_view, RawBytes&);

std::vector<uint8_t> base64_decode(std::string_view text) {
    std::vector<uint8_t> out;
    base64_decode_into(text, out);
    return out;
}

}  // namespace kit
