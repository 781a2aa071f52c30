#include "seal_registry.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <openssl/err.h>
#include <openssl/ssl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstring>
#include <pugixml.hpp>

#include "kit/base64.h"

namespace registry {
namespace {

constexpr const char kPath[] = "/pekorl/sealrecord/clientGetSealStatus";
constexpr size_t kMaxHead = 16 * 1024;
constexpr size_t kMaxBody = 256 * 1024;
constexpr int kReadTimeoutMs = 5000;

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

// One client's connection: the socket itself, or a TLS session over it.
class Link {
  public:
    explicit Link(int fd) : fd_(fd) {}
    ~Link() {
        if (!ssl_) return;
        SSL_shutdown(ssl_);
        SSL_free(ssl_);
    }
    Link(const Link&) = delete;
    Link& operator=(const Link&) = delete;

    // The TLS handshake as the server. The socket gets time limits first, so that a client that
    // stops half-way through a record cannot hold the thread for ever.
    bool accept_tls(SSL_CTX* ctx) {
        timeval limit{kReadTimeoutMs / 1000, 0};
        ::setsockopt(fd_, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit);
        ::setsockopt(fd_, SOL_SOCKET, SO_SNDTIMEO, &limit, sizeof limit);
        ssl_ = SSL_new(ctx);
        if (!ssl_ || SSL_set_fd(ssl_, fd_) != 1) return false;
        if (SSL_accept(ssl_) == 1) return true;
        ERR_clear_error();  // a client that refused the certificate: nothing to serve
        return false;
    }
    int fd() const { return fd_; }
    // Bytes already decrypted and waiting: a poll of the socket does not see them.
    bool pending() const { return ssl_ && SSL_pending(ssl_) > 0; }
    ssize_t recv(char* buf, size_t n) {
        if (!ssl_) return ::recv(fd_, buf, n, 0);
        int got = SSL_read(ssl_, buf, static_cast<int>(n));
        return got > 0 ? got : -1;
    }
    ssize_t send(const char* data, size_t n) {
        if (!ssl_) return ::send(fd_, data, n, MSG_NOSIGNAL);
        int put = SSL_write(ssl_, data, static_cast<int>(n));
        return put > 0 ? put : -1;
    }

  private:
    int fd_;
    SSL* ssl_ = nullptr;
};

// Reads until `have` holds `needed` bytes or the peer stops; false on time-out or close.
bool read_more(Link& link, std::string& have, const std::atomic<bool>& stopping) {
    pollfd p{link.fd(), POLLIN, 0};
    int waited = 0;
    while (!stopping) {
        int r = link.pending() ? 1 : ::poll(&p, 1, 100);
        if (r < 0) return false;
        if (r == 0) {
            waited += 100;
            if (waited >= kReadTimeoutMs) return false;
            continue;
        }
        char buf[4096];
        ssize_t n = link.recv(buf, sizeof buf);
        if (n <= 0) return false;
        have.append(buf, static_cast<size_t>(n));
        return true;
    }
    return false;
}

void send_all(Link& link, const std::string& data) {
    size_t sent = 0;
    while (sent < data.size()) {
        ssize_t n = link.send(data.data() + sent, data.size() - sent);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

std::string http_response(int code, const char* reason, const std::string& body) {
    return "HTTP/1.1 " + std::to_string(code) + " " + reason +
           "\r\nContent-Type: text/plain\r\nContent-Length: " + std::to_string(body.size()) +
           "\r\nConnection: close\r\n\r\n" + body;
}

// The value of one form field (no URL decoding: the Base64 text travels as it is).
bool form_field(const std::string& body, const std::string& name, std::string& value) {
    size_t at = 0;
    while (at <= body.size()) {
        size_t end = body.find('&', at);
        if (end == std::string::npos) end = body.size();
        std::string pair = body.substr(at, end - at);
        if (pair.compare(0, name.size() + 1, name + "=") == 0) {
            value = pair.substr(name.size() + 1);
            return true;
        }
        at = end + 1;
    }
    return false;
}

}  // namespace

bool parse_behaviour(const std::string& text, Behaviour& out) {
    static const std::map<std::string, Behaviour> names = {
        {"normal", Behaviour::Normal},   {"500", Behaviour::ServerError},
        {"garbage", Behaviour::Garbage}, {"slow", Behaviour::Slow},
        {"silent", Behaviour::Silent},   {"oversized", Behaviour::Oversized}};
    auto it = names.find(text);
    if (it == names.end()) return false;
    out = it->second;
    return true;
}

SealRegistry::SealRegistry() = default;
SealRegistry::~SealRegistry() {
    stop();
    SSL_CTX_free(tls_);
}

bool SealRegistry::use_tls(const std::string& chain_pem, const std::string& key_pem,
                           std::string& error) {
    // OpenSSL writes to the socket with write(): a client that hangs up mid-answer would
    // otherwise end the whole process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    SSL_CTX* ctx = SSL_CTX_new(TLS_server_method());
    if (ctx && SSL_CTX_use_certificate_chain_file(ctx, chain_pem.c_str()) == 1 &&
        SSL_CTX_use_PrivateKey_file(ctx, key_pem.c_str(), SSL_FILETYPE_PEM) == 1 &&
        SSL_CTX_check_private_key(ctx) == 1) {
        SSL_CTX_free(tls_);
        tls_ = ctx;
        return true;
    }
    char text[256];
    ERR_error_string_n(ERR_get_error(), text, sizeof text);
    error = text;
    ERR_clear_error();
    SSL_CTX_free(ctx);
    return false;
}

bool SealRegistry::start(uint16_t port, std::string& error) {
    listen_fd_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (listen_fd_ < 0) {
        error = std::strerror(errno);
        return false;
    }
    int one = 1;
    ::setsockopt(listen_fd_, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    socklen_t len = sizeof addr;
    if (::bind(listen_fd_, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 ||
        ::listen(listen_fd_, 16) != 0 ||
        ::getsockname(listen_fd_, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        error = std::strerror(errno);
        ::close(listen_fd_);
        listen_fd_ = -1;
        return false;
    }
    port_ = ntohs(addr.sin_port);
    stopping_ = false;
    acceptor_ = std::thread([this] { accept_loop(); });
    return true;
}

void SealRegistry::stop() {
    if (listen_fd_ < 0) return;
    {
        std::lock_guard<std::mutex> g(lock_);
        stopping_ = true;
    }
    wake_.notify_all();
    if (acceptor_.joinable()) acceptor_.join();
    std::vector<std::thread> workers;
    {
        std::lock_guard<std::mutex> g(lock_);
        workers.swap(workers_);
    }
    for (std::thread& t : workers) t.join();
    ::close(listen_fd_);
    listen_fd_ = -1;
}

std::string SealRegistry::url() const {
    return (tls_ ? "https://localhost:" : "http://127.0.0.1:") + std::to_string(port_) + kPath;
}

void SealRegistry::set_status(const std::string& code, int status) {
    set_status_text(code, std::to_string(status));
}

void SealRegistry::set_status_text(const std::string& code, const std::string& status) {
    std::lock_guard<std::mutex> g(lock_);
    statuses_[code] = status;
}

void SealRegistry::set_behaviour(Behaviour b, int delay_ms) {
    std::lock_guard<std::mutex> g(lock_);
    behaviour_ = b;
    delay_ms_ = delay_ms;
}

std::vector<Request> SealRegistry::requests() const {
    std::lock_guard<std::mutex> g(lock_);
    return requests_;
}

size_t SealRegistry::request_count() const {
    std::lock_guard<std::mutex> g(lock_);
    return requests_.size();
}

std::string SealRegistry::answer_for(int status) { return answer_for(std::to_string(status)); }

std::string SealRegistry::answer_for(const std::string& status) {
    return "<response><status>0000</status><data><sealstatus>" + status +
           "</sealstatus></data></response>";
}

void SealRegistry::accept_loop() {
    pollfd p{listen_fd_, POLLIN, 0};
    while (!stopping_) {
        if (::poll(&p, 1, 100) <= 0) continue;
        int fd = ::accept4(listen_fd_, nullptr, nullptr, SOCK_CLOEXEC);
        if (fd < 0) continue;
        std::lock_guard<std::mutex> g(lock_);
        workers_.emplace_back([this, fd] {
            serve(fd);
            ::close(fd);
        });
    }
}

bool SealRegistry::wait_or_stop(int ms) {
    std::unique_lock<std::mutex> g(lock_);
    return !wake_.wait_for(g, std::chrono::milliseconds(ms), [this] { return stopping_.load(); });
}

void SealRegistry::serve(int fd) {
    Link link(fd);
    if (tls_ && !link.accept_tls(tls_)) return;
    std::string data;
    size_t head_end;
    while ((head_end = data.find("\r\n\r\n")) == std::string::npos) {
        if (data.size() > kMaxHead || !read_more(link, data, stopping_)) return;
        if (!std::isupper(static_cast<unsigned char>(data[0]))) {
            send_all(link, http_response(400, "Bad Request", "not an HTTP request"));
            return;
        }
    }
    Request r;
    std::string head = data.substr(0, head_end);
    size_t line_end = head.find("\r\n");
    std::string first = head.substr(0, line_end);
    size_t s1 = first.find(' '), s2 = first.rfind(' ');
    if (s1 == std::string::npos || s2 == s1) {
        send_all(link, http_response(400, "Bad Request", "bad request line"));
        return;
    }
    r.method = first.substr(0, s1);
    r.target = first.substr(s1 + 1, s2 - s1 - 1);
    r.version = first.substr(s2 + 1);
    size_t content_length = 0;
    size_t at = line_end == std::string::npos ? head.size() : line_end + 2;
    while (at < head.size()) {
        size_t end = head.find("\r\n", at);
        if (end == std::string::npos) end = head.size();
        std::string line = head.substr(at, end - at);
        r.header_lines.push_back(line);
        if (lower(line).compare(0, 15, "content-length:") == 0)
            content_length = std::strtoul(line.c_str() + 15, nullptr, 10);
        at = end + 2;
    }
    if (content_length > kMaxBody) {
        send_all(link, http_response(413, "Payload Too Large", "body too large"));
        return;
    }
    data.erase(0, head_end + 4);
    while (data.size() < content_length)
        if (!read_more(link, data, stopping_)) break;
    r.body = data.substr(0, content_length);

    Behaviour behaviour;
    int delay;
    {
        std::lock_guard<std::mutex> g(lock_);
        requests_.push_back(r);
        behaviour = behaviour_;
        delay = delay_ms_;
    }
    switch (behaviour) {
        case Behaviour::Silent:
            // Holds the connection open without a word until the server stops.
            while (wait_or_stop(1000)) {
            }
            return;
        case Behaviour::Slow:
            if (!wait_or_stop(delay)) return;
            break;
        case Behaviour::ServerError:
            send_all(link, http_response(500, "Internal Server Error", "registry failure"));
            return;
        case Behaviour::Garbage:
            send_all(link, http_response(200, "OK", "<<<this is not base64 at all>>>\x01\x02"));
            return;
        case Behaviour::Oversized:
            send_all(link, respond(r, 800 * 1024));  // Base64 makes it over 1 MB
            return;
        case Behaviour::Normal:
            break;
    }
    send_all(link, respond(r));
}

std::string SealRegistry::respond(const Request& r, size_t padding) {
    if (r.target != kPath) return http_response(404, "Not Found", "no such service");
    if (r.method != "POST") return http_response(405, "Method Not Allowed", "POST only");
    bool form = false;
    for (const std::string& h : r.header_lines)
        if (lower(h) == "content-type: application/x-www-form-urlencoded") form = true;
    std::string appkey, request, sign;
    if (!form || !form_field(r.body, "appkeyid", appkey) || appkey != "tolvimar" ||
        !form_field(r.body, "request", request) || !form_field(r.body, "sign", sign) ||
        sign != "7D1A64E0C93B")
        return http_response(400, "Bad Request", "bad form");
    std::vector<uint8_t> xml = kit::base64_decode(request);
    pugi::xml_document doc;
    if (xml.empty() || !doc.load_buffer(xml.data(), xml.size()))
        return http_response(400, "Bad Request", "bad request document");
    pugi::xml_node code = doc.child("request").child("sealcode");
    if (!code) return http_response(400, "Bad Request", "no sealcode");
    std::string answer;
    {
        std::lock_guard<std::mutex> g(lock_);
        auto it = statuses_.find(code.text().get());
        answer = it == statuses_.end()
                     ? "<response><status>1001</status><message>unknown seal</message></response>"
                     : answer_for(it->second);
    }
    if (padding) answer += "<!--" + std::string(padding, ' ') + "-->";
    return http_response(
        200, "OK",
        kit::base64_encode(reinterpret_cast<const uint8_t*>(answer.data()), answer.size()));
}

}  // namespace registry
