// The seal reader: the seals of the key, read through the key driver and described by Sealform
// (loaded per read).
#include "seal_reader.h"

#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "driver_binding.h"
#include "kit/base64.h"
#include "kit/trace.h"
#include "seal_record.h"
#include "sealform_binding.h"
#include "xml_doc.h"

namespace sealgate {
namespace {

constexpr char kName[] = "GetSealInfo";

}  // namespace

void trace_seal_info_delivered(int mode, const std::vector<uint8_t>& result) {
    trace_seal_info_delivered(mode, result.data(), result.size());
}

void trace_seal_info_delivered(int mode, const uint8_t* result, size_t size) {
    const kit::TraceFunction trace = kit::trace_function();
    if (mode == 2) {
        std::string code(result, result + size);
        trace("%s---------------------------4::%s::%d", kName, code.c_str(),
              static_cast<int>(size));
    } else if (mode == 0) {
        trace("%s---------------------------4", kName);
    }
}

int seal_count(void* device) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "GetSealCount";
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

namespace {

kit::KeptObjects<SealReadWork, kKeptReadWork> g_kept_work;

}  // namespace

struct SealRead::Work : kit::KeptObjects<SealReadWork, kKeptReadWork>::Lease {
    Work() : Lease(g_kept_work) {}
};

SealRead::SealRead() : work_(std::make_unique<Work>()) {}
SealRead::~SealRead() = default;

int SealRead::read(void* device, int index, int mode) {
    SealReadWork& work = **work_;
    mode_ = mode;
    const kit::TraceFunction trace = kit::trace_function();
    {
        DriverCall call(device);
        auto read_seal = call.function<ReadSealFn>("ReadSeal");
        if (!read_seal) return 0;
        trace("%s---------------------------1.1", kName);
        const char* stored = read_seal(device, index);
        if (!stored) return 0;
        trace("%s---------------------------1.2::%d", kName, index);
        // The driver keeps its answer only until the session's next call, which waits for
        // this one: the text is taken (or decoded) straight from the answer.
        if (mode == 1) {
            work.text.assign(stored, stored + std::strlen(stored));
            return 1;
        }
        if (mode == 0 || mode == 2) kit::base64_decode_into(stored, work.der);
    }

    if (mode == 0 || mode == 2) {
        int rc = parse_seal_with_key(work.der.data(), work.der.size(), work.xml);
        trace("%s---------------------------2::%d", kName, rc);
        if (rc != kSealformOk) return 0;
    }
    const std::string_view xml(work.xml.data(), work.xml.size());
    if (mode == 2) {
        std::string code;
        if (!seal_code_of(xml, code)) return 0;
        work.text.assign(code.begin(), code.end());
        return 1;
    }
    if (mode != 0) return 0;
    return record_.prepare(xml, work.picture) ? 1 : 0;
}

size_t SealRead::size() const { return mode_ == 0 ? record_.size() : (**work_).text.size(); }

void SealRead::write(uint8_t* out) const {
    if (mode_ == 0) {
        record_.write(out);
    } else if (!(**work_).text.empty()) {
        std::memcpy(out, (**work_).text.data(), (**work_).text.size());
    }
}

int read_seal_info(void* device, int index, int mode, std::vector<uint8_t>& result) {
    SealRead read;
    if (!read.read(device, index, mode)) return 0;
    result.resize(read.size());
    read.write(result.data());
    return 1;
}

}  // namespace sealgate
