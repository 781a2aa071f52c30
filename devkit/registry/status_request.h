// The form body of a seal status request as the registry reads it, for the tests of both sides:
//   appkeyid=APPKEY&request=<Base64 of the request document>&sign=SIGN
// where the request document is "<request>\r\n<sealcode>CODE</sealcode>\r\n</request>\r\n".
#pragma once

#include <cstdint>
#include <string>

#include "kit/base64.h"

namespace registry {

inline std::string status_request_form(const std::string& code,
                                       const std::string& appkey = "tolvimar",
                                       const std::string& sign = "7D1A64E0C93B") {
    const std::string doc = "<request>\r\n<sealcode>" + code + "</sealcode>\r\n</request>\r\n";
    return "appkeyid=" + appkey + "&request=" +
           kit::base64_encode(reinterpret_cast<const uint8_t*>(doc.data()), doc.size()) +
           "&sign=" + sign;
}

}  // namespace registry
