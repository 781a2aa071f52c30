#include "seal_record.h"

#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cmath>
#include <cstdlib>
#include <cstring>

#include "kit/base64.h"
#include "kit/picture.h"
#include "kit/platform.h"
#include "kit/trace.h"
#include "xml_doc.h"

namespace sealgate {
namespace {

constexpr const char kName[] = "GetSealInfo";

void put32(std::vector<uint8_t>& out, size_t at, int32_t value) {
    uint32_t v = static_cast<uint32_t>(value);
    for (int i = 0; i < 4; ++i) out[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

void put_text(std::vector<uint8_t>& out, size_t at, size_t field, const std::string& text) {
    size_t n = std::min(text.size(), field - 1);
    std::memcpy(out.data() + at, text.data(), n);
}

// The keys the platform's X.500 name strings use.
const char* x500_key(int nid) {
    switch (nid) {
        case NID_commonName:
            return "CN";
        case NID_localityName:
            return "L";
        case NID_organizationName:
            return "O";
        case NID_organizationalUnitName:
            return "OU";
        case NID_pkcs9_emailAddress:
            return "E";
        case NID_countryName:
            return "C";
        case NID_stateOrProvinceName:
            return "S";
        case NID_streetAddress:
            return "STREET";
        case NID_title:
            return "T";
        case NID_givenName:
            return "G";
        case NID_initials:
            return "I";
        case NID_surname:
            return "SN";
        case NID_domainComponent:
            return "DC";
        case NID_serialNumber:
            return "SERIALNUMBER";
        default:
            return nullptr;
    }
}

// A value as the X.500 string form writes it: in quotes (inner quotes doubled) when it starts
// or ends with a blank, is empty, or holds one of , + = " \n < > # ;
std::string x500_value(const std::string& v) {
    bool quote = v.empty() || v.front() == ' ' || v.back() == ' ' ||
                 v.find_first_of(",+=\"\n<>#;") != std::string::npos;
    if (!quote) return v;
    std::string out = "\"";
    for (char c : v) {
        if (c == '"') out += '"';
        out += c;
    }
    return out + "\"";
}

std::string entry_value(const X509_NAME_ENTRY* entry) {
    const ASN1_STRING* data = X509_NAME_ENTRY_get_data(entry);
    int type = ASN1_STRING_type(data);
    bool text = type == V_ASN1_UTF8STRING || type == V_ASN1_PRINTABLESTRING ||
                type == V_ASN1_IA5STRING || type == V_ASN1_T61STRING || type == V_ASN1_BMPSTRING ||
                type == V_ASN1_UNIVERSALSTRING || type == V_ASN1_NUMERICSTRING ||
                type == V_ASN1_VISIBLESTRING;
    if (text) {
        unsigned char* utf8 = nullptr;
        int n = ASN1_STRING_to_UTF8(&utf8, data);
        if (n >= 0) {
            std::string s(reinterpret_cast<char*>(utf8), static_cast<size_t>(n));
            OPENSSL_free(utf8);
            return kit::from_utf8(s);
        }
    }
    // Other types: "#" and the hex of the encoded value.
    unsigned char* der = nullptr;
    ASN1_TYPE* t = ASN1_TYPE_new();
    std::string out = "#";
    if (t && ASN1_TYPE_set1(t, type, data)) {
        int len = i2d_ASN1_TYPE(t, &der);
        static const char digits[] = "0123456789ABCDEF";
        for (int i = 0; i < len; ++i) {
            out += digits[der[i] >> 4];
            out += digits[der[i] & 15];
        }
        OPENSSL_free(der);
    }
    ASN1_TYPE_free(t);
    return out;
}

std::u16string data_at(const CXmlDoc& doc, const char16_t* path) { return doc.GetDataByPath(path); }

// Moves past one element's header; false on malformed DER. `content` gets its content length.
bool enter(const unsigned char*& p, long& left, long& content, int& tag) {
    const unsigned char* start = p;
    int cls = 0;
    int r = ASN1_get_object(&p, &content, &tag, &cls, left);
    if (r & 0x80) return false;
    left -= static_cast<long>(p - start);
    return content <= left;
}

// The subject Name (complete DER element) of a certificate, found by walking the certificate's
// structure: the subject is all the holder name needs, and decoding the whole certificate
// would also decode its public key, the most costly part. False when the bytes are not a
// certificate (cut short, or the fields before the subject missing).
bool subject_of_certificate(const std::vector<uint8_t>& der, const unsigned char*& subject,
                            long& subject_length) {
    const unsigned char* p = der.data();
    long left = static_cast<long>(der.size()), len = 0;
    int tag = 0;
    if (der.empty() || !enter(p, left, len, tag) || tag != V_ASN1_SEQUENCE) return false;
    left = len;
    if (!enter(p, left, len, tag) || tag != V_ASN1_SEQUENCE) return false;  // tbsCertificate
    left = len;
    // [0] version (optional), serialNumber, signature, issuer, validity, then the subject.
    if (!enter(p, left, len, tag)) return false;
    if (tag == 0) {
        p += len;
        left -= len;
        if (!enter(p, left, len, tag)) return false;
    }
    if (tag != V_ASN1_INTEGER) return false;
    for (int skip = 0; skip < 3; ++skip) {
        p += len;
        left -= len;
        if (!enter(p, left, len, tag) || tag != V_ASN1_SEQUENCE) return false;
    }
    p += len;
    left -= len;
    const unsigned char* element = p;
    if (!enter(p, left, len, tag) || tag != V_ASN1_SEQUENCE) return false;
    subject = element;
    subject_length = static_cast<long>(p - element) + len;
    return true;
}

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
    const unsigned char* subject_der = nullptr;
    long subject_length = 0;
    X509_NAME* subject = nullptr;
    if (subject_of_certificate(der, subject_der, subject_length))
        subject = d2i_X509_NAME(nullptr, &subject_der, subject_length);
    if (!subject) {
        trace("_GetDN...1");
        return 1;
    }
    std::string out;
    int last_set = -1;
    for (int i = 0; i < X509_NAME_entry_count(subject); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(subject, i);
        int set = X509_NAME_ENTRY_set(e);
        if (i > 0) out += set == last_set ? " + " : ", ";
        last_set = set;
        const ASN1_OBJECT* obj = X509_NAME_ENTRY_get_object(e);
        if (const char* key = x500_key(OBJ_obj2nid(obj))) {
            out += key;
        } else {
            char oid[128];
            OBJ_obj2txt(oid, sizeof oid, obj, 1);
            out += std::string("OID.") + oid;
        }
        out += "=" + x500_value(entry_value(e));
    }
    X509_NAME_free(subject);
    if (out.empty()) {
        trace("_GetDN...2:%d", 0);
        return 2;
    }
    name = out;
    trace("_GetDN...3:%d", 0);
    return 0;
}

std::string holder_from_subject(const std::string& subject) {
    size_t at = subject.find("CN=");
    return at == std::string::npos ? subject : subject.substr(at + 3);
}

uint32_t GetImgInfo(const std::vector<uint8_t>& picture, double* width, double* height) {
    double w = 0, h = 0;
    uint32_t rc = kit::GetImgInfo(picture.data(), picture.size(), &w, &h);
    if (rc != 0) return rc;
    if (width) *width = w * 100;
    if (height) *height = h * 100;
    return 0;
}

bool seal_code_of(const std::string& xml, std::string& code) {
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

bool build_seal_record(const std::string& xml, std::vector<uint8_t>& record) {
    const kit::TraceFunction trace = kit::trace_function();
    CXmlDoc doc;
    if (!doc.SetDoc(kit::to_utf16(xml))) return false;
    trace("%s---------------------------3", kName);

    std::string version = kit::from_utf16(data_at(doc, u"sealinfo\\version"));
    std::string user = kit::from_utf16(data_at(doc, u"sealinfo\\username"));
    std::string type = kit::from_utf16(data_at(doc, u"sealinfo\\sealtype"));
    std::string seal_name = kit::from_utf16(data_at(doc, u"sealinfo\\sealname"));
    std::string valid_from =
        reformat_validity(kit::from_utf16(data_at(doc, u"sealinfo\\validstart")));
    std::string valid_to = reformat_validity(kit::from_utf16(data_at(doc, u"sealinfo\\validend")));
    std::string picture_text = kit::from_utf16(data_at(doc, u"sealinfo\\imgdata"));
    std::string holder_cert = kit::from_utf16(data_at(doc, u"sealinfo\\usercertlist\\usercert"));
    // The user name re-read as UTF-8 and written in code page 936, as a reader of the trace
    // with either idea of the bytes can read one of the two.
    std::string user_redecoded = kit::from_utf8(user, 936);
    trace("%s---------------------------3::%s::%s::%s::%s::%s::%s::%s::%s", kName,
          valid_from.c_str(), valid_to.c_str(), user.c_str(), user_redecoded.c_str(), type.c_str(),
          seal_name.c_str(), user.c_str(), user.c_str());

    std::vector<uint8_t> picture = kit::base64_decode(picture_text);
    // Measured from memory; a picture that cannot be measured gives 0 x 0.
    double width = 0, height = 0;
    GetImgInfo(picture, &width, &height);

    std::string subject;
    if (_GetDN(holder_cert, subject) != 0) return false;
    trace("%s---------------------------3.1::%s", kName, subject.c_str());
    std::string holder = cut_text(holder_from_subject(subject), kRecordTextField - 1);
    trace("%s---------------------------3.2::%s", kName, holder.c_str());

    const size_t total = picture.size() + kRecordOverhead;
    if (total > static_cast<size_t>(INT32_MAX)) return false;
    std::vector<uint8_t> out(total, 0);
    put32(out, 0, std::atoi(version.c_str()));
    put32(out, 4, static_cast<int32_t>(total));
    put_text(out, 8, kRecordTextField, holder);
    put32(out, 72, std::atoi(type.c_str()));
    put32(out, 76, 0);
    // Unmeasurable pictures give 0 (the record was zeroed).
    put32(out, 80, record_measure(width));
    put32(out, 84, record_measure(height));
    put_text(out, 88, kRecordTextField, cut_text(seal_name, kRecordTextField - 1));
    put_text(out, 152, kRecordTextField, holder);
    put_text(out, 216, kRecordTimeField, valid_from);
    put_text(out, 240, kRecordTimeField, valid_to);
    if (!picture.empty())
        std::memcpy(out.data() + kRecordFixedBytes, picture.data(), picture.size());
    trace("%s---------------------------3.3::%d::%d", kName, static_cast<int>(kRecordOverhead),
          static_cast<int>(total));
    record = std::move(out);
    return true;
}

}  // namespace sealgate
