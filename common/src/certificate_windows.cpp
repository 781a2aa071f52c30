// Certificates through crypt32: the certificate context and the X.500 subject string.
#include <windows.h>
// wincrypt.h needs the base types of windows.h first.
#include <wincrypt.h>

#include <memory>
#include <string>

#include "kit/certificate.h"

namespace kit {

struct Certificate::Impl {
    PCCERT_CONTEXT context = nullptr;
    ~Impl() {
        if (context) CertFreeCertificateContext(context);
    }
};

Certificate::Certificate() = default;
Certificate::~Certificate() = default;
Certificate::Certificate(Certificate&&) noexcept = default;
Certificate& Certificate::operator=(Certificate&&) noexcept = default;
Certificate::operator bool() const { return impl_ != nullptr; }
const void* Certificate::context() const { return impl_ ? impl_->context : nullptr; }

namespace {

PCCERT_CONTEXT create_context(const uint8_t* der, size_t size) {
    if (!der || size == 0 || size > MAXDWORD) return nullptr;
    return CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, der,
                                        static_cast<DWORD>(size));
}

}  // namespace

Certificate Certificate::decode(const uint8_t* der, size_t size) {
    Certificate out;
    if (PCCERT_CONTEXT context = create_context(der, size)) {
        out.impl_ = std::make_unique<Impl>();
        out.impl_->context = context;
    }
    return out;
}

namespace {

struct LocalFreeDeleter {
    void operator()(void* p) const { LocalFree(p); }
};

// One attribute as "KEY=value" with crypt32's key (CN, O, ..., OID.n.n... for others) and its
// rendering of the value, not yet quoted. The key comes from CertNameToStrW on a name holding
// the attribute alone. A text value comes from CertRDNValueToStrW: CertNameToStrW quotes it
// whatever its flags say under Wine. Other values keep CertNameToStrW's "#" and hex form.
std::wstring attribute_text(const CERT_RDN_ATTR& attribute) {
    CERT_RDN_ATTR copy = attribute;
    CERT_RDN rdn{1, &copy};
    CERT_NAME_INFO one{1, &rdn};
    BYTE* encoded = nullptr;
    DWORD encoded_size = 0;
    if (!CryptEncodeObjectEx(X509_ASN_ENCODING, X509_NAME, &one, CRYPT_ENCODE_ALLOC_FLAG, nullptr,
                             &encoded, &encoded_size))
        return {};
    std::unique_ptr<BYTE, LocalFreeDeleter> owned(encoded);
    CERT_NAME_BLOB blob{encoded_size, encoded};
    const DWORD type = CERT_X500_NAME_STR | CERT_NAME_STR_NO_QUOTING_FLAG;
    DWORD length = CertNameToStrW(X509_ASN_ENCODING, &blob, type, nullptr, 0);
    if (length <= 1) return {};
    std::wstring text(length, L'\0');
    length = CertNameToStrW(X509_ASN_ENCODING, &blob, type, text.data(), length);
    text.resize(length > 0 ? length - 1 : 0);
    size_t equals = text.find(L'=');
    if (equals == std::wstring::npos) return {};
    // An attribute without an X.500 key is written "OID." and its dotted number; Wine's crypt32
    // leaves the prefix out.
    if (text[0] >= L'0' && text[0] <= L'9') {
        text.insert(0, L"OID.");
        equals += 4;
    }
    if (attribute.dwValueType == CERT_RDN_ENCODED_BLOB ||
        attribute.dwValueType == CERT_RDN_OCTET_STRING)
        return text;
    CERT_RDN_VALUE_BLOB value = attribute.Value;
    DWORD value_length = CertRDNValueToStrW(attribute.dwValueType, &value, nullptr, 0);
    std::wstring value_text(value_length > 0 ? value_length : 1, L'\0');
    value_length = CertRDNValueToStrW(attribute.dwValueType, &value, value_text.data(),
                                      static_cast<DWORD>(value_text.size()));
    value_text.resize(value_length > 0 ? value_length - 1 : 0);
    return text.substr(0, equals + 1) + value_text;
}

// A value in quotes (inner quotes doubled) when it is empty, starts or ends with a blank, or
// holds one of , + = " < > # ; or a line break.
std::wstring quoted_value(const std::wstring& v) {
    bool quote = v.empty() || v.front() == L' ' || v.back() == L' ' ||
                 v.find_first_of(L",+=\"\n<>#;") != std::wstring::npos;
    if (!quote) return v;
    std::wstring out = L"\"";
    for (wchar_t c : v) {
        if (c == L'"') out += L'"';
        out += c;
    }
    return out + L"\"";
}

}  // namespace

// crypt32 names each attribute's key and renders its value; the string is put together here.
// CertNameToStrA with CERT_X500_NAME_STR writes this same text on Windows, but Wine's crypt32
// also quotes some Chinese values that hold none of the characters that call for quotes
// (CN=张三 comes out as CN="张三", narrow or wide), and the subject must read the same wherever
// the libraries run. Wine also writes an attribute without an X.500 key without its "OID."
// prefix (below).
SubjectResult certificate_subject(const uint8_t* der, size_t size, std::string& subject) {
    Certificate cert = Certificate::decode(der, size);
    if (!cert) return SubjectResult::kNotACertificate;
    auto context = static_cast<PCCERT_CONTEXT>(cert.context());
    const CERT_NAME_BLOB& name = context->pCertInfo->Subject;
    CERT_NAME_INFO* info = nullptr;
    DWORD info_size = 0;
    if (!CryptDecodeObjectEx(X509_ASN_ENCODING, X509_NAME, name.pbData, name.cbData,
                             CRYPT_DECODE_ALLOC_FLAG, nullptr, &info, &info_size))
        return SubjectResult::kNotACertificate;
    std::unique_ptr<CERT_NAME_INFO, LocalFreeDeleter> owned(info);
    std::wstring wide;
    for (DWORD i = 0; i < info->cRDN; ++i) {
        const CERT_RDN& rdn = info->rgRDN[i];
        for (DWORD j = 0; j < rdn.cRDNAttr; ++j) {
            std::wstring text = attribute_text(rdn.rgRDNAttr[j]);
            size_t equals = text.find(L'=');
            if (equals == std::wstring::npos) return SubjectResult::kNotACertificate;
            if (!wide.empty()) wide += j == 0 ? L", " : L" + ";
            wide += text.substr(0, equals + 1) + quoted_value(text.substr(equals + 1));
        }
    }
    if (wide.empty()) return SubjectResult::kEmptySubject;
    const int wide_length = static_cast<int>(wide.size());
    int narrow_length =
        WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, nullptr, 0, nullptr, nullptr);
    if (narrow_length <= 0) return SubjectResult::kEmptySubject;
    std::string text(static_cast<size_t>(narrow_length), '\0');
    WideCharToMultiByte(CP_ACP, 0, wide.data(), wide_length, text.data(), narrow_length, nullptr,
                        nullptr);
    subject = text;
    return SubjectResult::kOk;
}

}  // namespace kit
