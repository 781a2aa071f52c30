// Both Base64 decoders on arbitrary text: the kit's (Sealgate, Sealform, the status answer) and
// the signer module's Base64_decode (Sealform's makers). No crash, lengths as promised, and the
// two agree wherever the text is clean Base64; encoding what was decoded gives the same bytes
// back.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "fenced.h"
#include "kit/base64.h"
#include "kit/secure.h"
#include "signaturemodule.h"

namespace {

using fuzz::check;

bool alphabet(char c) {
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '+' ||
           c == '/';
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string_view text(reinterpret_cast<const char*>(data), size);

    // The kit's decoder stops at the first character outside the alphabet.
    size_t clean = 0;
    while (clean < text.size() && alphabet(text[clean])) ++clean;
    std::vector<uint8_t> kit_bytes = kit::base64_decode(text);
    check(kit_bytes.size() == clean / 4 * 3 + (clean % 4 == 0 ? 0 : clean % 4 - 1));
    kit::SecureBytes secure;
    kit::base64_decode_into(text, secure);
    check(std::vector<uint8_t>(secure.begin(), secure.end()) == kit_bytes);
    // Re-encoding gives the same bytes back (the text itself only when it was canonical).
    check(kit::base64_decode(kit::base64_encode(kit_bytes)) == kit_bytes);

    // The signer's decoder: a length query, then the bytes, never more than it announced.
    const std::string copy(text);
    int needed = 0;
    int rc = Base64_decode(copy.c_str(), static_cast<int>(copy.size()), nullptr, &needed);
    if (rc == 0) {
        check(needed >= 0);
        std::vector<uint8_t> out(static_cast<size_t>(needed) + 16, 0xFD);
        int length = needed;
        rc = Base64_decode(copy.c_str(), static_cast<int>(copy.size()), out.data(), &length);
        check(rc == 0 && length >= 0 && length <= needed);
        for (size_t i = static_cast<size_t>(needed); i < out.size(); ++i) check(out[i] == 0xFD);
        // Clean, padded-or-complete Base64: both decoders read the same bytes.
        if (clean == text.size() && clean % 4 == 0)
            check(std::vector<uint8_t>(out.begin(), out.begin() + length) == kit_bytes);
    }
    return 0;
}
