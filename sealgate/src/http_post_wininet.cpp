// PostDataByHttp on WinINet. The request carries the service's header lines in their order and
// no others: no user agent (none is named), WinINet's own Host line removed before the
// service's goes in, no cache flag that adds a line of its own.
//
// An https URL gets INTERNET_FLAG_SECURE and none of the flags that ignore certificate errors:
// WinINet then checks the server's certificate against the machine's trusted roots and its
// host name, and a failure ends the exchange (no user interface, no second try over http).
//
// Time limits: connecting gets the connect limit; sending and the wait for the answer's head get
// what is left of the whole limit, and each read of the body what is left then. WinINet has no
// limit for a whole exchange, so the client sets the per-step limits from one deadline.
#include <windows.h>
#include <wininet.h>

#include <memory>
#include <string>
#include <vector>

#include "http_exchange.h"
#include "http_post.h"
#include "kit/trace.h"
#include "service_settings.h"

namespace sealgate {
namespace {

using http::step;

struct InternetHandleClose {
    void operator()(void* h) const { InternetCloseHandle(static_cast<HINTERNET>(h)); }
};
using InternetHandle = std::unique_ptr<void, InternetHandleClose>;

struct UrlParts {
    std::string host, object;
    INTERNET_PORT port = 0;
    bool secure = false;  // https
};

bool split_url(const std::string& url, UrlParts& parts) {
    char host[INTERNET_MAX_HOST_NAME_LENGTH + 1] = {};
    char path[INTERNET_MAX_PATH_LENGTH + 1] = {};
    char extra[INTERNET_MAX_PATH_LENGTH + 1] = {};
    URL_COMPONENTSA c{};
    c.dwStructSize = sizeof c;
    c.lpszHostName = host;
    c.dwHostNameLength = sizeof host;
    c.lpszUrlPath = path;
    c.dwUrlPathLength = sizeof path;
    c.lpszExtraInfo = extra;
    c.dwExtraInfoLength = sizeof extra;
    if (!InternetCrackUrlA(url.c_str(), 0, 0, &c) ||
        (c.nScheme != INTERNET_SCHEME_HTTP && c.nScheme != INTERNET_SCHEME_HTTPS) ||
        c.dwHostNameLength == 0)
        return false;
    parts.secure = c.nScheme == INTERNET_SCHEME_HTTPS;
    parts.host.assign(host, c.dwHostNameLength);
    parts.object.assign(path, c.dwUrlPathLength);
    parts.object.append(extra, c.dwExtraInfoLength);
    if (parts.object.empty()) parts.object = "/";
    parts.port = c.nPort;
    return true;
}

// Milliseconds left until `deadline` (GetTickCount64 time), at least 1 while any is left.
DWORD left_until(ULONGLONG deadline) {
    ULONGLONG now = GetTickCount64();
    return now >= deadline ? 0 : static_cast<DWORD>(deadline - now);
}

bool set_limit(HINTERNET h, DWORD option, DWORD ms) {
    return InternetSetOptionA(h, option, &ms, sizeof ms) != FALSE;
}

// The TLS failure behind a WinINet error, in the words of the trace step; null for others.
const char* tls_failure(DWORD error) {
    switch (error) {
        case ERROR_INTERNET_INVALID_CA:
        // An issuer WinINet cannot find at all (the chain ends short of any root) comes back as
        // a failed revocation check; WinINet checks no revocation unless asked to.
        case ERROR_INTERNET_SEC_CERT_REV_FAILED:
            return "untrusted issuer";
        case ERROR_INTERNET_SEC_CERT_CN_INVALID:
            return "wrong host name";
        case ERROR_INTERNET_SEC_CERT_DATE_INVALID:
            return "expired certificate";
        case ERROR_INTERNET_SECURITY_CHANNEL_ERROR:
        case ERROR_INTERNET_SEC_CERT_ERRORS:
        case ERROR_INTERNET_SEC_CERT_NO_REV:
        case ERROR_INTERNET_SEC_CERT_REVOKED:
        case ERROR_INTERNET_SEC_INVALID_CERT:
        case ERROR_INTERNET_CLIENT_AUTH_CERT_NEEDED:
            return "handshake failed";
        default:
            return nullptr;
    }
}

// A failed call's system error (read by the caller at once: the debugger output and the trace
// change the thread's last error) to the debugger output; over TLS its failure to the trace.
void report_system_error(DWORD error, bool secure) {
    if (const char* failure = secure ? tls_failure(error) : nullptr) http::tls_failed(failure);
    http::debug_format("%lu", static_cast<unsigned long>(error));
}

}  // namespace

bool PostDataByHttp(const std::string& url, const std::string& user, const std::string& password,
                    long body_length, std::string& response_path, const char* body) {
    try {
        kit::trace_function()("PostDataByHttp...1");
        step("1");
        UrlParts parts;
        if (!body || body_length < 0 || !split_url(url, parts)) return false;
        step("2");

        std::string headers;
        for (const std::string& line : http::header_lines(parts.host, body_length))
            headers += line + "\r\n";
        headers += "\r\n";
        step("3");

        const ULONGLONG deadline =
            GetTickCount64() + static_cast<ULONGLONG>(http_total_timeout_ms());
        InternetHandle session(
            InternetOpenA(nullptr, INTERNET_OPEN_TYPE_PRECONFIG, nullptr, nullptr, 0));
        if (!session) return false;
        set_limit(session.get(), INTERNET_OPTION_CONNECT_TIMEOUT,
                  static_cast<DWORD>(http_connect_timeout_ms()));
        set_limit(session.get(), INTERNET_OPTION_CONNECT_RETRIES, 1);
        InternetHandle connection(InternetConnectA(
            session.get(), parts.host.c_str(), parts.port, user.empty() ? nullptr : user.c_str(),
            user.empty() ? nullptr : password.c_str(), INTERNET_SERVICE_HTTP, 0, 0));
        step("4");
        if (!connection) return false;
        // No cache flags: INTERNET_FLAG_RELOAD, and INTERNET_FLAG_NO_CACHE_WRITE on any verb but
        // GET, each make WinINet send a "Cache-Control: no-cache" line of its own, which is not
        // one of the service's lines. The service's own "Pragma: no-cache" line asks proxies not
        // to answer from a cache, and a POST answer is never read from WinINet's cache.
        const DWORD flags = INTERNET_FLAG_NO_COOKIES | INTERNET_FLAG_NO_UI |
                            INTERNET_FLAG_NO_AUTO_REDIRECT |
                            (parts.secure ? INTERNET_FLAG_SECURE : 0);
        InternetHandle request(HttpOpenRequestA(connection.get(), "POST", parts.object.c_str(),
                                                "HTTP/1.1", nullptr, nullptr, flags, 0));
        step("5");
        if (!request) return false;
        HINTERNET r = request.get();
        // WinINet's own Host line goes, so that the service's stands in its place in the order.
        HttpAddRequestHeadersA(r, "Host:", static_cast<DWORD>(-1), HTTP_ADDREQ_FLAG_REPLACE);
        DWORD left = left_until(deadline);
        set_limit(r, INTERNET_OPTION_SEND_TIMEOUT, left);
        set_limit(r, INTERNET_OPTION_RECEIVE_TIMEOUT, left);
        if (!HttpSendRequestA(r, headers.c_str(), static_cast<DWORD>(headers.size()),
                              const_cast<char*>(body), static_cast<DWORD>(body_length))) {
            DWORD error = GetLastError();
            step("5.1");
            report_system_error(error, parts.secure);
            return false;
        }
        step("6");
        DWORD status = 0, size = sizeof status;
        if (!HttpQueryInfoA(r, HTTP_QUERY_STATUS_CODE | HTTP_QUERY_FLAG_NUMBER, &status, &size,
                            nullptr))
            status = 0;
        step("7");
        if (status != 200) {
            http::debug_format("%d %d", static_cast<int>(status), 200);
            step("8");
            return false;
        }

        std::vector<char> response;
        char chunk[512];
        for (;;) {
            DWORD ms = left_until(deadline);
            if (ms == 0 || !set_limit(r, INTERNET_OPTION_RECEIVE_TIMEOUT, ms)) return false;
            DWORD got = 0;
            if (!InternetReadFile(r, chunk, sizeof chunk, &got)) {
                report_system_error(GetLastError(), parts.secure);
                return false;
            }
            if (got == 0) break;
            if (response.size() + got > http::kMaxResponseBytes) return false;
            response.insert(response.end(), chunk, chunk + got);
        }
        return http::keep_response(response, response_path);
    } catch (...) {
        kit::debug_output("PostData.........Exception");
        return false;
    }
}

}  // namespace sealgate
