// Arbitrary bytes through the seal decoder and the XML description: no crash, no leak, and a
// seal that decodes re-encodes without failing (its times may be unreadable, so only a
// decode of our own output is compared).
#include <cstddef>
#include <cstdint>
#include <string>

#include "seal_codec.h"
#include "sealform.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    int length = static_cast<int>(size);
    char* xml = ParsingSeal(data, &length);
    if (xml && std::string(xml).size() != static_cast<size_t>(length)) __builtin_trap();
    ReleaseSealInfo();

    sealform::SealPtr seal = sealform::decode_seal(data, size);
    if (seal) {
        std::vector<uint8_t> der;
        if (sealform::der_encode(&asn_DEF_SESeal, seal.get(), der)) {
            if (!sealform::decode_seal(der.data(), der.size())) __builtin_trap();
        }
    }
    return 0;
}
