// PostDataByHttp on libcurl. The header lines are the client's own, in the service's order; curl
// adds none of its own (no user agent, no "Expect", its Host line cleared), so the request
// carries exactly these.
#include <curl/curl.h>
#include <dlfcn.h>

#include <memory>
#include <vector>

#include "http_exchange.h"
#include "http_post.h"
#include "kit/trace.h"
#include "service_settings.h"

namespace sealgate {
namespace {

using http::kMaxResponseBytes;
using http::step;

struct CurlFree {
    void operator()(CURL* c) const { curl_easy_cleanup(c); }
    void operator()(CURLU* u) const { curl_url_cleanup(u); }
    void operator()(curl_slist* l) const { curl_slist_free_all(l); }
};

// The HTTP client and the TLS libraries under it stay loaded for the life of the process, even
// when the host unloads Sealgate: they are not made to be unloaded and loaded again (their
// global set-up and their threads' storage outlive an unload).
__attribute__((constructor)) void keep_http_client_loaded() {
    dlopen("libcurl.so.4", RTLD_LAZY | RTLD_NOLOAD | RTLD_NODELETE);
}

size_t collect(char* data, size_t size, size_t count, void* user) {
    auto* body = static_cast<std::vector<char>*>(user);
    size_t n = size * count;
    if (body->size() + n > kMaxResponseBytes) return 0;  // ends the transfer
    body->insert(body->end(), data, data + n);
    return n;
}

bool split_url(const std::string& url, std::string& host) {
    std::unique_ptr<CURLU, CurlFree> u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    char* h = nullptr;
    if (curl_url_get(u.get(), CURLUPART_HOST, &h, 0) != CURLUE_OK) return false;
    host = h;
    curl_free(h);
    char* scheme = nullptr;
    bool http = curl_url_get(u.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK &&
                std::string(scheme) == "http";
    curl_free(scheme);
    return http && !host.empty();
}

}  // namespace

bool PostDataByHttp(const std::string& url, const std::string& user, const std::string& password,
                    long body_length, std::string& response_path, const char* body) {
    try {
        kit::trace_function()("PostDataByHttp...1");
        step("1");
        static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        std::string host;
        if (!initialised || !body || body_length < 0 || !split_url(url, host)) return false;
        step("2");

        // "Host:" without a value first: curl then sends no Host line of its own, and the
        // service's Host line goes out in its place in the list instead of ahead of all others.
        // "Expect:" keeps curl from adding its own.
        std::vector<std::string> lines = http::header_lines(host, body_length);
        lines.insert(lines.begin(), "Host:");
        lines.push_back("Expect:");
        std::unique_ptr<curl_slist, CurlFree> headers;
        for (const std::string& line : lines) {
            curl_slist* next = curl_slist_append(headers.get(), line.c_str());
            if (!next) return false;
            headers.release();
            headers.reset(next);
        }
        step("3");

        std::unique_ptr<CURL, CurlFree> curl(curl_easy_init());
        if (!curl) return false;
        std::vector<char> response;
        CURL* c = curl.get();
        curl_easy_setopt(c, CURLOPT_URL, url.c_str());
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http");
        curl_easy_setopt(c, CURLOPT_HTTP_VERSION, CURL_HTTP_VERSION_1_1);
        curl_easy_setopt(c, CURLOPT_NOSIGNAL, 1L);
        curl_easy_setopt(c, CURLOPT_POST, 1L);
        curl_easy_setopt(c, CURLOPT_POSTFIELDS, body);
        curl_easy_setopt(c, CURLOPT_POSTFIELDSIZE, body_length);
        curl_easy_setopt(c, CURLOPT_HTTPHEADER, headers.get());
        curl_easy_setopt(c, CURLOPT_CONNECTTIMEOUT_MS, http_connect_timeout_ms());
        curl_easy_setopt(c, CURLOPT_TIMEOUT_MS, http_total_timeout_ms());
        curl_easy_setopt(c, CURLOPT_WRITEFUNCTION, &collect);
        curl_easy_setopt(c, CURLOPT_WRITEDATA, &response);
        if (!user.empty()) {
            curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
        }
        step("4");
        step("5");
        CURLcode sent = curl_easy_perform(c);
        if (sent != CURLE_OK) {
            step("5.1");
            http::debug_format("%s", curl_easy_strerror(sent));
            return false;
        }
        step("6");
        long status = 0;
        curl_easy_getinfo(c, CURLINFO_RESPONSE_CODE, &status);
        step("7");
        if (status != 200) {
            http::debug_format("%d %d", static_cast<int>(status), 200);
            step("8");
            return false;
        }
        return http::keep_response(response, response_path);
    } catch (...) {
        kit::debug_output("PostData.........Exception");
        return false;
    }
}

}  // namespace sealgate
