// Encrypted maker documents as a seal maker's issuing office prepares them: the maker's
// certificate and SM2 key material in a "sealmakercert" document, encrypted with the file
// cipher under the key text the seal library knows, then Base64-encoded for the "sealmakercert"
// element of a seal parameter document.
#pragma once

#include <openssl/evp.h>

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

}  // namespace securemodel
