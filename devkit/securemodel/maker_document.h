// Encrypted maker documents as a seal maker's issuing office prepares them: the maker's
// certificate and SM2 key material in a "sealmakercert" document, encrypted with the file
// cipher under the key text the seal library knows, then Base64-encoded for the "sealmakercert"
// element of a seal parameter document.
#pragma once

#include <openssl/evp.h>

#include <map>
#include <string>
#include <vector>

namespace securemodel {

// The plain document: <sealmakercert><cer/><moldlen/><privatekey/><x/><y/></sealmakercert>
// with the certificate in Base64, "256" as the key size, the private scalar and the public
// point's coordinates as 64 hex digits each.
std::string maker_document_xml(EVP_PKEY* sm2_key, const std::vector<uint8_t>& cert_der);

// The document encrypted and Base64-encoded; throws std::runtime_error when the cipher fails.
std::string encrypted_maker_document(EVP_PKEY* sm2_key, const std::vector<uint8_t>& cert_der);

// Any text encrypted and Base64-encoded as a maker document is (for documents of other forms).
std::string encrypted_document(const std::string& plain);

// A "sealinfo" parameter document for MakeSeal_SignWithKey: its elements in the order a seal
// maker writes them, each with its text from `values` (empty when it has none), usercertlist
// with one usercert per entry of `certs`; an element named in `omit` is left out.
struct SealInfoDocument {
    std::map<std::string, std::string> values;
    std::vector<std::string> certs;  // Base64 texts
    std::vector<std::string> omit;

    // Every element filled: the picture as BMP, the holder certificate, the maker document of
    // `maker_key` and `maker_cert`, seal 3201000000001 valid from 2021-05-13 to 2031-05-13,
    // named "测试印章" in GBK.
    static SealInfoDocument standard(EVP_PKEY* maker_key, const std::vector<uint8_t>& maker_cert,
                                     const std::vector<uint8_t>& picture_bmp,
                                     const std::vector<uint8_t>& holder_cert);
    std::string xml() const;
};

}  // namespace securemodel
