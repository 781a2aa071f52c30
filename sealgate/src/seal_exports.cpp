// GetSealCount and GetSealInfo: the seals of the key, read through the key driver and described
// by Sealform (loaded per call).
#include <cstring>
#include <string>
#include <vector>

#include "driver_binding.h"
#include "kit/base64.h"
#include "kit/trace.h"
#include "seal_info.h"
#include "seal_record.h"
#include "sealform_binding.h"
#include "sealgate.h"
#include "xml_doc.h"

namespace sealgate {

int seal_count(void* device) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "GetSealCount";
    trace("%s---------------------------1", name);
    std::string text;
    {
        DriverCall call(device);
        auto enum_seal = call.function<EnumSealFn>("EnumSeal");
        if (!enum_seal) return 0;
        trace("%s---------------------------2", name);
        const char* answer = enum_seal(device);
        if (!answer) return 0;
        text = answer;  // the driver keeps its answer only until the session's next call
    }
    trace("%s---------------------------3::%s", name, text.c_str());
    std::vector<uint8_t> list = kit::base64_decode(text);
    CXmlDoc doc;
    if (!doc.SetDoc(kit::to_utf16(std::string(list.begin(), list.end())))) return 0;
    if (!doc.FindElem() || doc.GetTagName() != u"seallist") return 0;
    doc.IntoElem();
    int count = 0;
    while (doc.FindElem(u"seal")) ++count;
    trace("%s---------------------------4::%d", name, count);
    return count;
}

void trace_seal_info_entry(int mode) {
    // The separator is two full-width colons, in code page 936.
    kit::trace_function()("%s---------------------------1\xA3\xBA\xA3\xBA%d", "GetSealInfo", mode);
}

int seal_info(void* device, int index, int mode, unsigned char* buffer, int* length,
              size_t capacity) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "GetSealInfo";
    if (!buffer || !length) return 0;
    std::string text;
    {
        DriverCall call(device);
        auto read_seal = call.function<ReadSealFn>("ReadSeal");
        if (!read_seal) return 0;
        trace("%s---------------------------1.1", name);
        const char* stored = read_seal(device, index);
        if (!stored) return 0;
        trace("%s---------------------------1.2::%d", name, index);
        text = stored;  // the driver keeps its answer only until the session's next call
    }

    auto deliver = [&](const void* data, size_t size) {
        if (size > capacity) return 0;  // the caller's buffer cannot hold it
        if (size) std::memcpy(buffer, data, size);
        *length = static_cast<int>(size);
        return 1;
    };
    if (mode == 1) return deliver(text.data(), text.size());

    std::string xml;
    if (mode == 0 || mode == 2) {
        std::vector<uint8_t> der = kit::base64_decode(text);
        int rc = parse_seal_with_key(der, xml);
        trace("%s---------------------------2::%d", name, rc);
        if (rc != kSealformOk) return 0;
    }
    if (mode == 2) {
        std::string code;
        if (!seal_code_of(xml, code)) return 0;
        if (!deliver(code.data(), code.size())) return 0;
        trace("%s---------------------------4::%s::%d", name, code.c_str(), *length);
        return 1;
    }
    if (mode != 0) return 0;
    std::vector<uint8_t> record;
    if (!build_seal_record(xml, record)) return 0;
    if (!deliver(record.data(), record.size())) return 0;
    trace("%s---------------------------4", name);
    return 1;
}

}  // namespace sealgate

using namespace sealgate;

extern "C" SEALGATE_API int SEALGATE_CALL GetSealCount(void* device) {
    try {
        return seal_count(device);
    } catch (...) {
        return 0;
    }
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealInfo(void* device, int index, int mode,
                                                      unsigned char* buffer, int* length) {
    try {
        trace_seal_info_entry(mode);
        if (!length) return 0;
        if (!buffer) {
            *length = SEALGATE_SEALINFO_SIZE;
            return 1;
        }
        return seal_info(device, index, mode, buffer, length, SEALGATE_SEALINFO_SIZE);
    } catch (...) {
        return 0;
    }
}
