// GetSealStatus's work: whether a seal on the key may be used, by its validity, the registry
// service (online) or its maker's signature (offline). Its readings go through the seal reader
// and are traced as GetSealCount and GetSealInfo trace them.
#include "seal_status.h"

#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "export_trace.h"
#include "kit/base64.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "seal_reader.h"
#include "seal_record.h"
#include "service_settings.h"
#include "status_check.h"

namespace sealgate {
namespace {

constexpr int kOfflineValid = 1;
constexpr int kExpired = 3;
constexpr int kUnusable = kSealUnusable;

}  // namespace

int seal_status(void* device, int index) {
    const kit::TraceFunction trace = kit::trace_function();
    const char* name = "GetSealStatus";
    if (!device) return 0;
    trace("%s---------------------------2", name);
    trace_entry("GetSealCount");
    if (seal_count(device) <= 0) return kUnusable;
    trace("%s---------------------------3", name);

    // The record, the seal code and the stored text are read whole, however large the seal.
    std::vector<uint8_t> record;
    trace_entry("GetSealInfo", 0);
    if (!read_seal_info(device, index, 0, record) || record.size() < kRecordOverhead)
        return kUnusable;
    trace_seal_info_delivered(0, record);
    trace("%s---------------------------4", name);

    // Valid to, at offset 240, against the local time in the same form; equal is still valid.
    std::string valid_to(
        reinterpret_cast<const char*>(record.data() + kRecordValidTo),
        strnlen(reinterpret_cast<const char*>(record.data() + kRecordValidTo), kRecordTimeField));
    std::tm now{};
    if (!kit::local_time(std::time(nullptr), now)) return kUnusable;
    char now_text[80];
    std::snprintf(now_text, sizeof now_text, "%04d/%02d/%02d %02d:%02d:%02d", now.tm_year + 1900,
                  now.tm_mon + 1, now.tm_mday, now.tm_hour, now.tm_min, now.tm_sec);
    if (valid_to.compare(now_text) < 0) return kExpired;
    trace("%s---------------------------5", name);

    if (connected_state()) {
        trace("%s---------------------------8::%s", name, kit::from_utf8("有网络环境").c_str());
        std::vector<uint8_t> code;
        trace_entry("GetSealInfo", 2);
        if (!read_seal_info(device, index, 2, code)) return kUnusable;
        trace_seal_info_delivered(2, code);
        trace("%s---------------------------8.1", name);
        std::u16string wide_code = kit::to_utf16(std::string(code.begin(), code.end()));
        int status = 0;
        if (!verifySealStatus(wide_code, status)) return kUnusable;
        trace("%s---------------------------9::%d", name, status);
        return status;
    }
    trace("%s---------------------------10::%s", name, kit::from_utf8("无网络环境").c_str());
    std::vector<uint8_t> text;
    trace_entry("GetSealInfo", 1);
    if (!read_seal_info(device, index, 1, text)) return kUnusable;
    std::vector<uint8_t> der = kit::base64_decode(
        std::string_view(reinterpret_cast<const char*>(text.data()), text.size()));
    return verifySealSign(der) ? kOfflineValid : kUnusable;
}

}  // namespace sealgate
