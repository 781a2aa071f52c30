// The HTTP exchange with the seal status service.
#pragma once

#include <string>

namespace sealgate {

// POSTs `body` (`body_length` bytes) to `url` (http or https) with the service's header lines,
// as user `user` with `password` (empty: none). Over https the server's certificate must chain
// to a trusted root and name the URL's host; a failure there ends the exchange (traced, see
// http_exchange.h), with no second try over http. Redirections are not followed. True when the
// service answered 200: its body is then in a new temporary file whose path is stored in
// `response_path` (the caller removes it). Time limits: service_settings.h. Never throws.
bool PostDataByHttp(const std::string& url, const std::string& user, const std::string& password,
                    long body_length, std::string& response_path, const char* body);

}  // namespace sealgate
