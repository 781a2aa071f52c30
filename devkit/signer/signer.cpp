// The PFX signer on OpenSSL: reads PKCS #12 files and signs with their SM2 key.
#include <openssl/bio.h>
#include <openssl/bn.h>
#include <openssl/ecdsa.h>
#include <openssl/err.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

#include <cstdio>
#include <cstring>
#include <ctime>
#include <memory>
#include <string>
#include <vector>

#include "kit/base64.h"
#include "kit/platform.h"
#include "kit/secure.h"
#include "signaturemodule.h"
#include "sm2_raw.h"

namespace {

template <class T, void (*Free)(T*)>
struct Deleter {
    void operator()(T* p) const { Free(p); }
};
using Pkcs12Ptr = std::unique_ptr<PKCS12, Deleter<PKCS12, PKCS12_free>>;
using PkeyPtr = std::unique_ptr<EVP_PKEY, Deleter<EVP_PKEY, EVP_PKEY_free>>;
using X509Ptr = std::unique_ptr<X509, Deleter<X509, X509_free>>;
using BioPtr = std::unique_ptr<BIO, Deleter<BIO, BIO_free_all>>;

void free_cert_stack(STACK_OF(X509) * s) { sk_X509_pop_free(s, X509_free); }

// The key and certificate of a PFX file, or the reason they could not be read.
struct PfxContents {
    int status = SIGNATUREMODULE_OK;
    PkeyPtr key;
    X509Ptr cert;
};

PfxContents open_pfx(const char* path, const char* password) {
    PfxContents out;
    kit::SecureBytes der;  // the PFX holds the key: no copy is left in freed memory
    if (!kit::read_secret_file(path, der) || der.empty()) {
        out.status = SIGNATUREMODULE_NO_FILE;
        return out;
    }
    const unsigned char* p = der.data();
    Pkcs12Ptr p12(d2i_PKCS12(nullptr, &p, static_cast<long>(der.size())));
    if (!p12) {
        out.status = SIGNATUREMODULE_NOT_PFX;
        return out;
    }
    if (PKCS12_mac_present(p12.get()) && !PKCS12_verify_mac(p12.get(), password, -1)) {
        out.status = SIGNATUREMODULE_BAD_PASSWORD;
        return out;
    }
    EVP_PKEY* key = nullptr;
    X509* cert = nullptr;
    STACK_OF(X509)* chain = nullptr;
    if (!PKCS12_parse(p12.get(), password, &key, &cert, &chain)) {
        out.status = SIGNATUREMODULE_BAD_PASSWORD;
        return out;
    }
    free_cert_stack(chain);
    out.key.reset(key);
    out.cert.reset(cert);
    if (!out.key || !out.cert) out.status = SIGNATUREMODULE_NO_KEY;
    return out;
}

std::string xml_escape(const std::string& text) {
    std::string out;
    for (char c : text) {
        switch (c) {
            case '&':
                out += "&amp;";
                break;
            case '<':
                out += "&lt;";
                break;
            case '>':
                out += "&gt;";
                break;
            default:
                out += c;
        }
    }
    return out;
}

std::string subject_text(X509* cert) {
    BioPtr bio(BIO_new(BIO_s_mem()));
    if (!bio) return {};
    X509_NAME_print_ex(bio.get(), X509_get_subject_name(cert), 0,
                       XN_FLAG_RFC2253 & ~ASN1_STRFLGS_ESC_MSB);
    char* data = nullptr;
    long n = BIO_get_mem_data(bio.get(), &data);
    return n > 0 ? std::string(data, static_cast<size_t>(n)) : std::string();
}

std::string serial_text(X509* cert) {
    BIGNUM* bn = ASN1_INTEGER_to_BN(X509_get0_serialNumber(cert), nullptr);
    if (!bn) return {};
    char* hex = BN_bn2hex(bn);
    std::string out = hex ? hex : "";
    OPENSSL_free(hex);
    BN_free(bn);
    return out;
}

// "YYYYMMDDHHMMSSZ" in UTC.
std::string time_text(const ASN1_TIME* t) {
    std::tm tm{};
    if (!t || !ASN1_TIME_to_tm(t, &tm)) return {};
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02dZ", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string certificate_info(X509* cert) {
    int n = i2d_X509(cert, nullptr);
    if (n <= 0) return {};
    std::vector<uint8_t> der(static_cast<size_t>(n));
    unsigned char* p = der.data();
    i2d_X509(cert, &p);
    return "<infos><cer>" + kit::base64_encode(der) + "</cer><subject>" +
           xml_escape(subject_text(cert)) + "</subject><serial>" + serial_text(cert) +
           "</serial><notbefore>" + time_text(X509_get0_notBefore(cert)) +
           "</notbefore><notafter>" + time_text(X509_get0_notAfter(cert)) + "</notafter></infos>";
}

}  // namespace

extern "C" SIGNATUREMODULE_API int VENDOR_CALL Base64_decode(const char* text, int text_length,
                                                             unsigned char* out, int* out_length) {
    if (!text || !out_length) return SIGNATUREMODULE_BAD_ARGUMENT;
    size_t size = text_length < 0 ? std::strlen(text) : static_cast<size_t>(text_length);
    if (!out) {
        // Length only: count the characters that carry data.
        size_t digits = 0;
        for (size_t i = 0; i < size; ++i) {
            char c = text[i];
            if (c == '\r' || c == '\n' || c == ' ' || c == '\t') continue;
            bool alphabet = (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                            (c >= '0' && c <= '9') || c == '+' || c == '/';
            if (!alphabet) break;
            ++digits;
        }
        size_t rest = digits % 4;
        *out_length = static_cast<int>(digits / 4 * 3 + (rest == 2 ? 1 : rest == 3 ? 2 : 0));
        return SIGNATUREMODULE_OK;
    }
    // The text may carry key material (a PFX): every work copy wipes itself.
    kit::SecureString compact;
    compact.reserve(size + sizeof(kit::SecureString));  // past the inline buffer, never regrown
    for (size_t i = 0; i < size; ++i) {
        char c = text[i];
        if (c != '\r' && c != '\n' && c != ' ' && c != '\t') compact.push_back(c);
    }
    kit::SecureBytes bytes;
    kit::base64_decode_into(std::string_view(compact.data(), compact.size()), bytes);
    if (!bytes.empty()) std::memcpy(out, bytes.data(), bytes.size());
    *out_length = static_cast<int>(bytes.size());
    return SIGNATUREMODULE_OK;
}

extern "C" SIGNATUREMODULE_API int VENDOR_CALL ParsePfxFile(const char* pfx_path,
                                                            const char* password, char* info,
                                                            int* info_length) {
    if (!pfx_path || !password || !info || !info_length) return SIGNATUREMODULE_BAD_ARGUMENT;
    PfxContents pfx = open_pfx(pfx_path, password);
    ERR_clear_error();
    if (pfx.status != SIGNATUREMODULE_OK) return pfx.status;
    std::string text = certificate_info(pfx.cert.get());
    if (text.empty()) return SIGNATUREMODULE_NO_KEY;
    if (text.size() >= SIGNATUREMODULE_INFO_SIZE) return SIGNATUREMODULE_TOO_LARGE;
    std::memcpy(info, text.c_str(), text.size() + 1);
    *info_length = static_cast<int>(text.size());
    return SIGNATUREMODULE_OK;
}

extern "C" SIGNATUREMODULE_API int VENDOR_CALL PfxSign(const char* pfx_path, const char* password,
                                                       const unsigned char* data, int data_length,
                                                       unsigned char* signature,
                                                       int* signature_length) {
    if (!pfx_path || !password || (!data && data_length != 0) || data_length < 0 || !signature ||
        !signature_length)
        return SIGNATUREMODULE_BAD_ARGUMENT;
    PfxContents pfx = open_pfx(pfx_path, password);
    ERR_clear_error();
    if (pfx.status != SIGNATUREMODULE_OK) return pfx.status;
    if (!devkit::sm2::is_sm2(pfx.key.get())) return SIGNATUREMODULE_NOT_SM2;
    std::vector<uint8_t> sig;
    bool signed_ok = devkit::sm2::sign(pfx.key.get(), data, static_cast<size_t>(data_length), sig);
    ERR_clear_error();
    if (!signed_ok) return SIGNATUREMODULE_SIGN_FAILED;
    if (sig.size() > SIGNATUREMODULE_SIGN_SIZE) return SIGNATUREMODULE_TOO_LARGE;
    std::memcpy(signature, sig.data(), sig.size());
    *signature_length = static_cast<int>(sig.size());
    return SIGNATUREMODULE_OK;
}
