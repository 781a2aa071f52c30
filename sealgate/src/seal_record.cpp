#include "seal_record.h"

#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kit/base64.h"
#include "kit/certificate.h"
#include "kit/picture.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "xml_doc.h"

namespace sealgate {
namespace {

constexpr const char kName[] = "GetSealInfo";

void put32(uint8_t* out, size_t at, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void put_text(uint8_t* out, size_t at, size_t field, const std::string& text) {
    size_t n = std::min(text.size(), field - 1);
    std::memcpy(out + at, text.data(), n);
}

std::u16string data_at(const CXmlDoc& doc, const char16_t* path) { return doc.GetDataByPath(path); }

}  // namespace

int32_t record_measure(double hundredths_mm) {
    // A picture claiming millions of pixels at a tiny dpi measures more than 32 bits hold:
    // the field saturates instead of wrapping (the conversion would be undefined).
    if (!(hundredths_mm > 0)) return 0;
    if (hundredths_mm >= static_cast<double>(INT32_MAX)) return INT32_MAX;
    return static_cast<int32_t>(std::trunc(hundredths_mm));
}

std::string reformat_validity(const std::string& t) {
    auto part = [&](size_t at, size_t n) {
        return at < t.size() ? t.substr(at, n) : std::string();
    };
    return part(0, 4) + "/" + part(4, 2) + "/" + part(6, 2) + " " + part(8, 2) + ":" + part(10, 2) +
           ":" + part(12, 2);
}

std::string cut_text(const std::string& text, size_t max_bytes) {
    if (text.size() <= max_bytes) return text;
    const bool dbcs = kit::ansi_code_page() == 936;
    size_t at = 0;
    while (at < max_bytes) {
        size_t step =
            (dbcs && static_cast<uint8_t>(text[at]) >= 0x81 && at + 1 < text.size()) ? 2 : 1;
        if (at + step > max_bytes) break;
        at += step;
    }
    return text.substr(0, at);
}

int _GetDN(const std::string& cert_base64, std::string& name) {
    const kit::TraceFunction trace = kit::trace_function();
    trace("_GetDN...0");
    std::vector<uint8_t> der = kit::base64_decode(cert_base64);
    switch (kit::certificate_subject(der.data(), der.size(), name)) {
        case kit::SubjectResult::kNotACertificate:
            trace("_GetDN...1");
            return 1;
        case kit::SubjectResult::kEmptySubject:
            trace("_GetDN...2:%d", 0);
            return 2;
        case kit::SubjectResult::kOk:
            break;
    }
    trace("_GetDN...3:%d", 0);
    return 0;
}

std::string holder_from_subject(const std::string& subject) {
    size_t at = subject.find("CN=");
    return at == std::string::npos ? subject : subject.substr(at + 3);
}

uint32_t GetImgInfo(const std::vector<uint8_t>& picture, double* width, double* height) {
    return GetImgInfo(picture.data(), picture.size(), width, height);
}

uint32_t GetImgInfo(const uint8_t* picture, size_t size, double* width, double* height) {
    double w = 0, h = 0;
    uint32_t rc = kit::GetImgInfo(picture, size, &w, &h);
    if (rc != 0) return rc;
    if (width) *width = w * 100;
    if (height) *height = h * 100;
    return 0;
}

bool seal_code_of(std::string_view xml, std::string& code) {
    CXmlDoc doc;
    if (!doc.SetDoc(kit::to_utf16(xml))) return false;
    kit::trace_function()("%s---------------------------3", kName);
    // Sealform writes a control character of the stored code as a character reference that
    // XML does not allow, so the text read back would not be the stored code, and no status
    // request could carry the code unaltered. Such a code is refused, never passed on changed.
    const size_t open = xml.find("<esid>"), close = xml.find("</esid>");
    if (open != std::string::npos && close != std::string::npos && close > open &&
        xml.substr(open, close - open).find("&#") != std::string::npos)
        return false;
    std::string text = kit::from_utf16(data_at(doc, u"sealinfo\\esid"));
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return false;
    code = std::move(text);
    return true;
}

void SealReadWork::trim() {
    kit::keep_at_most(der, kKeptBufferBytes);
    kit::keep_at_most(xml, kKeptBufferBytes);
    kit::keep_at_most(picture, kKeptBufferBytes);
    kit::keep_at_most(text, kKeptBufferBytes);
}

bool SealRecord::prepare(std::string_view xml, kit::RawBytes& picture) {
    const kit::TraceFunction trace = kit::trace_function();
    CXmlDoc doc;
    if (!doc.SetDoc(kit::to_utf16(xml))) return false;
    trace("%s---------------------------3", kName);

    version_ = kit::from_utf16(data_at(doc, u"sealinfo\\version"));
    std::string user = kit::from_utf16(data_at(doc, u"sealinfo\\username"));
    type_ = kit::from_utf16(data_at(doc, u"sealinfo\\sealtype"));
    seal_name_ = kit::from_utf16(data_at(doc, u"sealinfo\\sealname"));
    valid_from_ = reformat_validity(kit::from_utf16(data_at(doc, u"sealinfo\\validstart")));
    valid_to_ = reformat_validity(kit::from_utf16(data_at(doc, u"sealinfo\\validend")));
    std::string picture_text = kit::from_utf16(data_at(doc, u"sealinfo\\imgdata"));
    std::string holder_cert = kit::from_utf16(data_at(doc, u"sealinfo\\usercertlist\\usercert"));
    // The user name re-read as UTF-8 and written in code page 936, as a reader of the trace
    // with either idea of the bytes can read one of the two.
    std::string user_redecoded = kit::from_utf8(user, 936);
    trace("%s---------------------------3::%s::%s::%s::%s::%s::%s::%s::%s", kName,
          valid_from_.c_str(), valid_to_.c_str(), user.c_str(), user_redecoded.c_str(),
          type_.c_str(), seal_name_.c_str(), user.c_str(), user.c_str());

    kit::base64_decode_into(picture_text, picture);
    picture_ = picture.data();
    picture_size_ = picture.size();
    // Measured from memory; a picture that cannot be measured gives 0 x 0.
    GetImgInfo(picture_, picture_size_, &width_, &height_);

    std::string subject;
    if (_GetDN(holder_cert, subject) != 0) return false;
    trace("%s---------------------------3.1::%s", kName, subject.c_str());
    holder_ = cut_text(holder_from_subject(subject), kRecordTextField - 1);
    trace("%s---------------------------3.2::%s", kName, holder_.c_str());

    const size_t total = picture_size_ + kRecordOverhead;
    if (total > static_cast<size_t>(INT32_MAX)) return false;
    trace("%s---------------------------3.3::%d::%d", kName, static_cast<int>(kRecordOverhead),
          static_cast<int>(total));
    return true;
}

void SealRecord::write(uint8_t* out) const {
    // The fixed fields' unused bytes and the four bytes after the picture are zero; the picture
    // is copied once, straight from its decoded bytes.
    std::memset(out, 0, kRecordFixedBytes);
    put32(out, 0, std::atoi(version_.c_str()));
    put32(out, 4, static_cast<int32_t>(size()));
    put_text(out, 8, kRecordTextField, holder_);
    put32(out, 72, std::atoi(type_.c_str()));
    put32(out, 76, 0);
    // Unmeasurable pictures give 0.
    put32(out, 80, record_measure(width_));
    put32(out, 84, record_measure(height_));
    put_text(out, 88, kRecordTextField, cut_text(seal_name_, kRecordTextField - 1));
    put_text(out, 152, kRecordTextField, holder_);
    put_text(out, 216, kRecordTimeField, valid_from_);
    put_text(out, 240, kRecordTimeField, valid_to_);
    if (picture_size_) std::memcpy(out + kRecordFixedBytes, picture_, picture_size_);
    std::memset(out + kRecordFixedBytes + picture_size_, 0, kRecordOverhead - kRecordFixedBytes);
}

bool build_seal_record(const std::string& xml, std::vector<uint8_t>& record) {
    kit::RawBytes picture;
    SealRecord prepared;
    if (!prepared.prepare(xml, picture)) return false;
    record.resize(prepared.size());
    prepared.write(record.data());
    return true;
}

}  // namespace sealgate
