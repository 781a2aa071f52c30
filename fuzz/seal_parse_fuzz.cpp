// The three seal readers on arbitrary bytes, each with a small, an exact and a generous
// capacity: no crash, no leak, no byte written past the capacity told (every buffer is fenced),
// and the three agree: a seal that one reads, all read, with the same pieces.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "fenced.h"
#include "seal_codec.h"
#include "sealform.h"

namespace {

using fuzz::check;
using fuzz::Fenced;

// ParsingSeal_SignWithKey with a capacity: the XML, or empty when refused (`rc` says why).
std::string sign_with_key_xml(const uint8_t* data, int size, int capacity, int& rc) {
    Fenced out(static_cast<size_t>(capacity));
    int length = capacity;
    rc = ParsingSeal_SignWithKey(data, size, reinterpret_cast<char*>(out.data()), &length);
    check(out.fence_intact());
    if (rc != 0) {
        check(rc == SEALFORM_NOT_A_SEAL || rc == SEALFORM_BUFFER_TOO_SMALL);
        check(out.untouched());
        if (rc == SEALFORM_BUFFER_TOO_SMALL) check(length > capacity);
        return {};
    }
    check(length >= 0 && length <= capacity);
    return std::string(reinterpret_cast<char*>(out.data()), static_cast<size_t>(length));
}

struct Pieces {
    std::vector<uint8_t> info, cert, sign;
};

int for_verify(const uint8_t* data, int size, const int capacity[3], Pieces& pieces) {
    Fenced info(static_cast<size_t>(capacity[0])), cert(static_cast<size_t>(capacity[1])),
        sign(static_cast<size_t>(capacity[2]));
    int lengths[3] = {capacity[0], capacity[1], capacity[2]};
    int rc = ParsingSeal_ForVerify(data, size, info.data(), &lengths[0], cert.data(), &lengths[1],
                                   sign.data(), &lengths[2]);
    check(info.fence_intact() && cert.fence_intact() && sign.fence_intact());
    if (rc != 0) {
        check(rc == SEALFORM_NOT_A_SEAL || rc == SEALFORM_BUFFER_TOO_SMALL);
        check(info.untouched() && cert.untouched() && sign.untouched());
        return rc;
    }
    for (int i = 0; i < 3; ++i) check(lengths[i] >= 0 && lengths[i] <= capacity[i]);
    pieces.info.assign(info.bytes.begin(), info.bytes.begin() + lengths[0]);
    pieces.cert.assign(cert.bytes.begin(), cert.bytes.begin() + lengths[1]);
    pieces.sign.assign(sign.bytes.begin(), sign.bytes.begin() + lengths[2]);
    return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size > (1u << 20)) return 0;
    const int n = static_cast<int>(size);

    // ParsingSeal: the library's own text, its length exact; a refusal keeps the length.
    int length = n;
    char* xml = ParsingSeal(data, &length);
    const bool is_seal = xml != nullptr;
    if (xml)
        check(std::strlen(xml) == static_cast<size_t>(length));
    else
        check(length == n);
    ReleaseSealInfo();

    // ParsingSeal_SignWithKey: the size query, then small, exact and generous buffers.
    int needed = -1;
    int rc = ParsingSeal_SignWithKey(data, n, nullptr, &needed);
    check(rc == 0 || rc == SEALFORM_NOT_A_SEAL);
    check((rc == 0) == is_seal);
    if (rc == 0) {
        check(needed >= 0);
        int small_rc = 0;
        if (needed > 0) {
            check(sign_with_key_xml(data, n, needed - 1, small_rc).empty());
            check(small_rc == SEALFORM_BUFFER_TOO_SMALL);
        }
        int exact_rc = 0, generous_rc = 0;
        std::string exact = sign_with_key_xml(data, n, needed, exact_rc);
        std::string generous = sign_with_key_xml(data, n, needed + 4096, generous_rc);
        check(exact_rc == 0 && generous_rc == 0);
        check(exact == generous && exact.size() == static_cast<size_t>(needed));
    }

    // ParsingSeal_ForVerify: generous, then exact, then one short in each output.
    Pieces wide;
    const int generous[3] = {n + 64, n + 64, n + 64};
    rc = for_verify(data, n, generous, wide);
    check((rc == 0) == is_seal);
    if (rc == 0) {
        sealform::SealPtr seal = sealform::decode_seal(data, size);
        check(seal != nullptr);
        check(wide.sign == std::vector<uint8_t>(seal->signedMsg.buf,
                                                seal->signedMsg.buf + seal->signedMsg.size));
        check(wide.cert == sealform::member_bytes(seal->cert));
        // The signed bytes are the seal information exactly as it stands in the seal.
        check(!wide.info.empty() &&
              std::search(data, data + size, wide.info.begin(), wide.info.end()) != data + size);
        const int exact[3] = {static_cast<int>(wide.info.size()),
                              static_cast<int>(wide.cert.size()),
                              static_cast<int>(wide.sign.size())};
        Pieces same;
        check(for_verify(data, n, exact, same) == 0);
        check(same.info == wide.info && same.cert == wide.cert && same.sign == wide.sign);
        for (int i = 0; i < 3; ++i) {
            if (exact[i] == 0) continue;
            int shorter[3] = {exact[0], exact[1], exact[2]};
            --shorter[i];
            Pieces none;
            check(for_verify(data, n, shorter, none) == SEALFORM_BUFFER_TOO_SMALL);
        }
    }

    // A seal that decodes re-encodes, and our own encoding decodes again.
    if (sealform::SealPtr seal = sealform::decode_seal(data, size)) {
        check(seal->signedMsg.bits_unused >= 0 && seal->signedMsg.bits_unused <= 7);
        std::vector<uint8_t> der;
        if (sealform::der_encode(&asn_DEF_SESeal, seal.get(), der))
            check(sealform::decode_seal(der.data(), der.size()) != nullptr);
    }
    return 0;
}
