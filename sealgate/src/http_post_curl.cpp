// PostDataByHttp on libcurl. The header lines are the client's own, in the service's order; curl
// adds none of its own (no user agent, no "Expect", its Host line cleared), so the request
// carries exactly these, over http as over https.
//
// Over https the peer's certificate and host name are checked against the system's CA bundle,
// or against the PEM file SEALGATE_REGISTRY_CA_FILE names instead. An answer whose channel is
// not authenticated is worth nothing, so a TLS failure ends the exchange.
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

// Verdicts on a peer's certificate as libcurl (OpenSSL back end) reports them: OpenSSL's codes,
// and 1, curl's mark before it reads OpenSSL's verdict, left in place when its own check of the
// host name fails first.
constexpr long kVerifiedOk = 0;
constexpr long kNotReadYet = 1;
constexpr long kCertNotYetValid = 9;
constexpr long kCertHasExpired = 10;
constexpr long kHostnameMismatch = 62;

// The TLS failure behind a failed transfer, in the words of the trace step; null when the
// transfer failed for another reason.
const char* tls_failure(CURL* c, CURLcode code) {
    switch (code) {
        case CURLE_PEER_FAILED_VERIFICATION: {
            long verdict = kVerifiedOk;
            curl_easy_getinfo(c, CURLINFO_SSL_VERIFYRESULT, &verdict);
            if (verdict == kCertHasExpired || verdict == kCertNotYetValid)
                return "expired certificate";
            if (verdict == kVerifiedOk || verdict == kNotReadYet || verdict == kHostnameMismatch)
                return "wrong host name";
            return "untrusted issuer";
        }
        case CURLE_SSL_CACERT_BADFILE:
        case CURLE_SSL_ISSUER_ERROR:
            return "untrusted issuer";
        case CURLE_SSL_CONNECT_ERROR:
        case CURLE_SSL_CERTPROBLEM:
        case CURLE_SSL_CIPHER:
        case CURLE_SSL_ENGINE_NOTFOUND:
        case CURLE_SSL_ENGINE_SETFAILED:
        case CURLE_SSL_ENGINE_INITFAILED:
        case CURLE_SSL_SHUTDOWN_FAILED:
        case CURLE_SSL_CRL_BADFILE:
        case CURLE_SSL_PINNEDPUBKEYNOTMATCH:
        case CURLE_SSL_INVALIDCERTSTATUS:
        case CURLE_SSL_CLIENTCERT:
        case CURLE_USE_SSL_FAILED:
            return "handshake failed";
        default:
            return nullptr;
    }
}

// Host and scheme of an http or https URL; false for any other.
bool split_url(const std::string& url, std::string& host, bool& secure) {
    std::unique_ptr<CURLU, CurlFree> u(curl_url());
    if (!u || curl_url_set(u.get(), CURLUPART_URL, url.c_str(), 0) != CURLUE_OK) return false;
    char* h = nullptr;
    if (curl_url_get(u.get(), CURLUPART_HOST, &h, 0) != CURLUE_OK) return false;
    host = h;
    curl_free(h);
    char* scheme = nullptr;
    std::string name;
    if (curl_url_get(u.get(), CURLUPART_SCHEME, &scheme, 0) == CURLUE_OK) name = scheme;
    curl_free(scheme);
    secure = name == "https";
    return (secure || name == "http") && !host.empty();
}

}  // namespace

bool PostDataByHttp(const std::string& url, const std::string& user, const std::string& password,
                    long body_length, std::string& response_path, const char* body) {
    try {
        kit::trace_function()("PostDataByHttp...1");
        step("1");
        static const bool initialised = curl_global_init(CURL_GLOBAL_DEFAULT) == CURLE_OK;
        std::string host;
        bool secure = false;
        if (!initialised || !body || body_length < 0 || !split_url(url, host, secure)) return false;
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
        curl_easy_setopt(c, CURLOPT_PROTOCOLS_STR, "http,https");
        curl_easy_setopt(c, CURLOPT_FOLLOWLOCATION, 0L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYPEER, 1L);
        curl_easy_setopt(c, CURLOPT_SSL_VERIFYHOST, 2L);
        const std::string ca_file = registry_ca_file();
        if (!ca_file.empty()) {
            // That file in place of the system's bundle and folder, not beside them.
            curl_easy_setopt(c, CURLOPT_CAINFO, ca_file.c_str());
            curl_easy_setopt(c, CURLOPT_CAPATH, nullptr);
        }
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
        char error[CURL_ERROR_SIZE] = {};
        curl_easy_setopt(c, CURLOPT_ERRORBUFFER, error);
        if (!user.empty()) {
            curl_easy_setopt(c, CURLOPT_USERNAME, user.c_str());
            curl_easy_setopt(c, CURLOPT_PASSWORD, password.c_str());
        }
        step("4");
        step("5");
        CURLcode sent = curl_easy_perform(c);
        if (sent != CURLE_OK) {
            step("5.1");
            if (const char* failure = secure ? tls_failure(c, sent) : nullptr)
                http::tls_failed(failure);
            http::debug_format("%s", error[0] ? error : curl_easy_strerror(sent));
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
