// X.509 certificates as the platform decodes them: crypt32's certificate context on Windows,
// OpenSSL natively. The subject string is the X.500 form that CertNameToStrA writes with
// CERT_X500_NAME_STR, on both platforms the same text for the same certificate.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace kit {

class Certificate {
  public:
    // Decodes DER bytes (X.509 and PKCS #7 encodings); an empty Certificate when they are not a
    // certificate.
    static Certificate decode(const uint8_t* der, size_t size);

    Certificate();
    ~Certificate();
    Certificate(Certificate&&) noexcept;
    Certificate& operator=(Certificate&&) noexcept;
    Certificate(const Certificate&) = delete;
    Certificate& operator=(const Certificate&) = delete;

    explicit operator bool() const;

    // The platform's certificate context, valid while this object lives: PCCERT_CONTEXT on
    // Windows; natively a structure with the same leading members (encoding type, DER pointer,
    // DER length, info, store), as the certificate SDK's header describes.
    const void* context() const;

  private:
    struct Impl;
    std::unique_ptr<Impl> impl_;
};

enum class SubjectResult { kOk, kNotACertificate, kEmptySubject };

// The subject of a certificate (DER) as an X.500 name string in the system ANSI code page:
// relative names in encoded order joined by ", ", several values of one name by " + ", keys
// CN, O, OU, C, S, L, E, ... (OID.n.n... for others), values in quotes (inner quotes doubled)
// when empty, with blanks at either end or holding one of , + = " < > # ; or a line break.
SubjectResult certificate_subject(const uint8_t* der, size_t size, std::string& subject);

}  // namespace kit
