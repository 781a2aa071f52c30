#include "sealform_binding.h"

#include <climits>

#include "kit/platform.h"
#include "kit/trace.h"
#include "sealform.h"

namespace sealgate {

size_t description_size_guess(size_t der_size) {
    // The description holds the seal's binary members in Base64 (4 characters for 3 bytes)
    // and a few hundred bytes of tags and short texts.
    return der_size / 3 * 4 + 4096;
}

int parse_seal_with_key(const uint8_t* der, size_t der_size, kit::RawChars& xml) {
    static const char kExport[] = "ParsingSeal_SignWithKey";
    const kit::TraceFunction trace = kit::trace_function();
    trace("---------------------------0::%s", kExport);
    kit::Module sealform = kit::Module::load("Sealform.dll");
    if (!sealform) return kSealformNotLoaded;
    trace("---------------------------1::%s", kExport);
    auto parse = sealform.function<ParsingSeal_SignWithKey_fn>(kExport);
    if (!parse) return kSealformNoExport;
    if (der_size > static_cast<size_t>(INT_MAX)) return kSealformFailed;

    // A buffer of the size the description will take (not zero-filled: Sealform writes it);
    // should the guess be short, Sealform answers with the size it needs and the second call
    // gets exactly that.
    xml.resize(description_size_guess(der_size));
    for (int attempt = 0; attempt < 2; ++attempt) {
        if (xml.size() > static_cast<size_t>(INT_MAX)) return kSealformFailed;
        int length = static_cast<int>(xml.size());
        int rc = parse(der, static_cast<int>(der_size), xml.data(), &length);
        if (rc == SEALFORM_BUFFER_TOO_SMALL && length > 0 &&
            static_cast<size_t>(length) > xml.size()) {
            xml.resize(static_cast<size_t>(length));
            continue;
        }
        if (rc != 0 || length < 0 || static_cast<size_t>(length) > xml.size())
            return kSealformFailed;
        xml.resize(static_cast<size_t>(length));
        trace("%s---------------------------2::%d", kExport, 0);
        return kSealformOk;
    }
    return kSealformFailed;
}

int parse_seal_with_key(const std::vector<uint8_t>& der, std::string& xml) {
    kit::RawChars text;
    int rc = parse_seal_with_key(der.data(), der.size(), text);
    if (rc == kSealformOk) xml.assign(text.begin(), text.end());
    return rc;
}

}  // namespace sealgate
