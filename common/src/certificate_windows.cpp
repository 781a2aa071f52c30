// Certificates through crypt32: the certificate context and CertNameToStrA.
#include <windows.h>
// wincrypt.h needs the base types of windows.h first.
#include <wincrypt.h>

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

SubjectResult certificate_subject(const uint8_t* der, size_t size, std::string& subject) {
    Certificate cert = Certificate::decode(der, size);
    if (!cert) return SubjectResult::kNotACertificate;
    auto context = static_cast<PCCERT_CONTEXT>(cert.context());
    CERT_NAME_BLOB* name = &context->pCertInfo->Subject;
    const DWORD type = CERT_X500_NAME_STR;
    // The length with the terminator; 1 (the terminator alone) for an empty subject.
    DWORD length = CertNameToStrA(X509_ASN_ENCODING, name, type, nullptr, 0);
    if (length <= 1) return SubjectResult::kEmptySubject;
    std::string text(length, '\0');
    length = CertNameToStrA(X509_ASN_ENCODING, name, type, text.data(), length);
    text.resize(length > 0 ? length - 1 : 0);
    if (text.empty()) return SubjectResult::kEmptySubject;
    subject = text;
    return SubjectResult::kOk;
}

}  // namespace kit
