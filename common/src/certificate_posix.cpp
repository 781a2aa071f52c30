// Certificates on OpenSSL. The subject string follows CertNameToStrA's X.500 form, so that the
// same certificate gives the same text here and on Windows.
#include <openssl/asn1.h>
#include <openssl/objects.h>
#include <openssl/x509.h>

#include <cstring>
#include <vector>

#include "kit/certificate.h"
#include "kit/platform.h"

namespace kit {

// The leading members of crypt32's CERT_CONTEXT, which the certificate SDK reads.
struct CertificateContext {
    uint32_t encoding_type;
    unsigned char* encoded;
    uint32_t encoded_size;
    void* info;
    void* store;
};

struct Certificate::Impl {
    std::vector<uint8_t> der;
    CertificateContext context{};
};

Certificate::Certificate() = default;
Certificate::~Certificate() = default;
Certificate::Certificate(Certificate&&) noexcept = default;
Certificate& Certificate::operator=(Certificate&&) noexcept = default;
Certificate::operator bool() const { return impl_ != nullptr; }
const void* Certificate::context() const { return impl_ ? &impl_->context : nullptr; }

Certificate Certificate::decode(const uint8_t* der, size_t size) {
    Certificate out;
    if (!der || size == 0 || size > static_cast<size_t>(INT32_MAX)) return out;
    const unsigned char* p = der;
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(size));
    if (!x509) return out;
    X509_free(x509);
    out.impl_ = std::make_unique<Impl>();
    // Only the certificate's own bytes, as crypt32 keeps them (trailing bytes are not part of it).
    out.impl_->der.assign(der, der + (p - der));
    constexpr uint32_t kX509AndPkcs7 = 0x10001;  // X509_ASN_ENCODING | PKCS_7_ASN_ENCODING
    out.impl_->context = {kX509AndPkcs7, out.impl_->der.data(),
                          static_cast<uint32_t>(out.impl_->der.size()), nullptr, nullptr};
    return out;
}

namespace {

// The keys the X.500 name strings use.
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
            return from_utf8(s);
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
// structure: the subject is all the name string needs, and decoding the whole certificate
// would also decode its public key, the most costly part. False when the bytes are not a
// certificate (cut short, or the fields before the subject missing).
bool subject_of_certificate(const uint8_t* der, size_t size, const unsigned char*& subject,
                            long& subject_length) {
    const unsigned char* p = der;
    long left = static_cast<long>(size), len = 0;
    int tag = 0;
    if (!der || size == 0 || size > static_cast<size_t>(INT32_MAX) || !enter(p, left, len, tag) ||
        tag != V_ASN1_SEQUENCE)
        return false;
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

SubjectResult certificate_subject(const uint8_t* der, size_t size, std::string& subject) {
    const unsigned char* subject_der = nullptr;
    long subject_length = 0;
    X509_NAME* name = nullptr;
    if (subject_of_certificate(der, size, subject_der, subject_length))
        name = d2i_X509_NAME(nullptr, &subject_der, subject_length);
    if (!name) return SubjectResult::kNotACertificate;
    std::string out;
    int last_set = -1;
    for (int i = 0; i < X509_NAME_entry_count(name); ++i) {
        const X509_NAME_ENTRY* e = X509_NAME_get_entry(name, i);
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
    X509_NAME_free(name);
    if (out.empty()) return SubjectResult::kEmptySubject;
    subject = out;
    return SubjectResult::kOk;
}

}  // namespace kit
