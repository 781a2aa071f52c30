// What the two HTTP clients behind http_post.h share: the service's header lines, the step
// labels on the debugger output, the answer's size limit and where a 200 answer is kept.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

namespace sealgate::http {

// Bodies larger than this are not a status answer; the exchange is cut off.
constexpr size_t kMaxResponseBytes = 1 << 20;

// "PostData" + 27 dots + the step label, to the debugger output.
void step(const char* label);

// The trace step of an exchange that failed in TLS, "PostDataByHttp...5.1::TLS::" + `failure`:
// "untrusted issuer", "wrong host name", "expired certificate", or "handshake failed" for any
// other (no TLS on the port, no common protocol or cipher, a broken record).
void tls_failed(const char* failure);

// printf-style text (at most 4095 bytes) to the debugger output.
void debug_format(const char* format, ...);

// The request's header lines in the service's order, without line ends: Accept, Content-Type,
// Content-Length, Character-Encoding, Host, Connection, Pragma.
std::vector<std::string> header_lines(const std::string& host, long body_length);

// Keeps a 200 answer's body in a new temporary file and stores its path; false (no file left)
// when the file cannot be made or written. Traces the steps of the service's client.
bool keep_response(const std::vector<char>& body, std::string& response_path);

}  // namespace sealgate::http
