#include "sealform_binding.h"

#include "kit/platform.h"
#include "kit/trace.h"
#include "sealform.h"

namespace sealgate {

int parse_seal_with_key(const std::vector<uint8_t>& der, std::string& xml, size_t capacity) {
    static const char kExport[] = "ParsingSeal_SignWithKey";
    const kit::TraceFunction trace = kit::trace_function();
    trace("---------------------------0::%s", kExport);
    kit::Module sealform = kit::Module::load("Sealform.dll");
    if (!sealform) return kSealformNotLoaded;
    trace("---------------------------1::%s", kExport);
    auto parse = sealform.function<ParsingSeal_SignWithKey_fn>(kExport);
    if (!parse) return kSealformNoExport;
    if (capacity > static_cast<size_t>(INT32_MAX)) capacity = INT32_MAX;
    std::string buffer(capacity, '\0');
    int length = static_cast<int>(capacity);
    int rc = parse(der.data(), static_cast<int>(der.size()), buffer.data(), &length);
    if (rc != 0 || length < 0 || static_cast<size_t>(length) > capacity) return kSealformFailed;
    buffer.resize(static_cast<size_t>(length));
    xml = std::move(buffer);
    trace("%s---------------------------2::%d", kExport, 0);
    return kSealformOk;
}

}  // namespace sealgate
