// Seals made the way a seal maker with a key-held maker certificate makes them: Sealform's
// MakeSeal_SignWithKey with the key's own signing certificate and key as the maker document,
// signed through the key driver, then stored on the software key.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "softkey_store.h"

namespace sgtest {

struct SealOrder {
    std::string holder_cn = "Holder One";                       // UTF-8
    std::string name_gbk = "\xB2\xE2\xCA\xD4\xD3\xA1\xD5\xC2";  // "测试印章" in GBK
    std::string esid = "3201000000001";
    std::string version = "4";
    std::string type = "2";
    std::string valid_start = "20210513100248Z";
    std::string valid_end = "20390513100248Z";
    int picture_width = 200;  // pixels of the BMP picture
    int picture_height = 100;
    size_t picture_padding = 0;  // extra bytes after the BMP's pixels (a larger file)
    size_t picture_cut = 0;      // when not 0: only the picture's first bytes (a header)
};

struct MadeSeal {
    std::vector<uint8_t> der;
    std::vector<uint8_t> picture;
    std::vector<uint8_t> holder_cert;
    std::string error;  // why `der` is empty
};

// Makes the seal; an empty `der` and the reason in `error` when Sealform refuses.
MadeSeal make_key_seal(const softkey::KeyRecord& maker_key, const SealOrder& order);

// Appends a seal to the key in the store.
void store_seal(const std::filesystem::path& store, const std::string& serial,
                const std::vector<uint8_t>& der);

std::vector<uint8_t> bmp_picture(int width, int height, size_t padding = 0);

}  // namespace sgtest
