// The two checks behind GetSealStatus: the registry service's answer and, offline, the maker's
// signature.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace sealgate {

// The status request document for a seal code (CR LF line ends, no declaration).
std::u16string status_request_document(const std::u16string& seal_code);
// The form body: "appkeyid=tolvimar&request=<Base64 of the ANSI document>&sign=7D1A64E0C93B".
std::string status_request_body(const std::u16string& seal_code);

// Asks the registry service for a seal's status: 1 with `status` stored when the service
// answered "0000", 0 on any failure. The response file is removed once read.
int verifySealStatus(const std::u16string& seal_code, int& status);

// Checks the maker's signature of a seal (DER) with the certificate inside it: 1 valid, 0 not
// valid or not checkable.
int verifySealSign(const std::vector<uint8_t>& seal);

}  // namespace sealgate
