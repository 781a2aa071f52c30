#include "http_exchange.h"

#include <cstdarg>
#include <cstdio>

#include "kit/platform.h"
#include "kit/trace.h"

namespace sealgate::http {

void step(const char* label) {
    std::string text = "PostData" + std::string(27, '.') + label;
    kit::debug_output(text.c_str());
}

void tls_failed(const char* failure) {
    kit::trace_function()("PostDataByHttp...5.1::TLS::%s", failure);
}

void debug_format(const char* format, ...) {
    char buf[4096];
    va_list args;
    va_start(args, format);
    std::vsnprintf(buf, sizeof buf, format, args);
    va_end(args);
    kit::debug_output(buf);
}

std::vector<std::string> header_lines(const std::string& host, long body_length) {
    return {"Accept: */*",
            "Content-Type: application/x-www-form-urlencoded",
            "Content-Length: " + std::to_string(body_length),
            "Character-Encoding: binary",
            "Host: " + host,
            "Connection: Keep-Alive",
            "Pragma: no-cache"};
}

bool keep_response(const std::vector<char>& body, std::string& response_path) {
    // "7。00" and "7。01" with the full stop of code page 936.
    step(
        "7\xA1\xA3"
        "00");
    std::string path = kit::make_temp_file();
    step(
        "7\xA1\xA3"
        "01");
    if (path.empty() || !kit::write_whole_file(path, body.data(), body.size())) {
        if (!path.empty()) kit::remove_file(path);
        kit::trace_function()("PostDataByHttp...3.4");
        return false;
    }
    kit::trace_function()("PostDataByHttp...3.3");
    response_path = path;
    kit::trace_function()("PostDataByHttp...6");
    return true;
}

}  // namespace sealgate::http
