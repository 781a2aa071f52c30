// The two checks behind GetSealStatus: the registry service's answer and, offline, the maker's
// signature.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "kit/trace.h"

namespace sealgate {

// The status request document for a seal code (CR LF line ends, no declaration).
std::u16string status_request_document(const std::u16string& seal_code);
// The form body: "appkeyid=tolvimar&request=<Base64 of the ANSI document>&sign=7D1A64E0C93B".
std::string status_request_body(const std::u16string& seal_code);

// Reads the registry service's answer (the body of its HTTP 200 response, Base64 XML) as every
// HTTP client of the library does: 1 with `status` stored when the root's child "status" says
// "0000"; the number in "response\\data\\sealstatus" is read as a 32-bit long (saturating, 0
// when missing or not a number). 0 for anything else. Traces the decoded text.
int read_status_answer(const std::vector<uint8_t>& answer, int& status, kit::TraceFunction trace);

// Asks the registry service for a seal's status: 1 with `status` stored when the service
// answered "0000", 0 on any failure. The response file is removed once read.
int verifySealStatus(const std::u16string& seal_code, int& status);

// Checks the maker's signature of a seal (DER) with the certificate inside it: 1 valid, 0 not
// valid or not checkable.
int verifySealSign(const std::vector<uint8_t>& seal);

}  // namespace sealgate
