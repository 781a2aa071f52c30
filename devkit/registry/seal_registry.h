// A seal registry service for tests and the demo: an HTTP/1.1 server on 127.0.0.1 that answers
// the status requests of the seal library from a table of seal codes and statuses, over plain
// HTTP or, when given a certificate and key, over TLS (OpenSSL) as an HTTPS service.
//
// Request: POST /pekorl/sealrecord/clientGetSealStatus with a form body
//   appkeyid=tolvimar&request=<Base64 of
//   <request><sealcode>CODE</sealcode></request>>&sign=7D1A64E0C93B
// Answer (HTTP 200): the Base64 of
//   <response><status>0000</status><data><sealstatus>N</sealstatus></data></response>
// for a known seal code, status "1001" for an unknown one. A request of the wrong form gets
// HTTP 400 (wrong path 404, wrong method 405); bytes that do not start an HTTP request line (a
// TLS client's greeting) get HTTP 400 at once, as a plain web server answers them. The server can
// be told to misbehave: answer 500, answer 200 with a body that is not Base64 XML, answer after a
// delay, or never answer.
#pragma once

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

struct ssl_ctx_st;

namespace registry {

// Oversized: the right answer, padded with an XML comment to a body over the 1 MB a client takes.
enum class Behaviour { Normal, ServerError, Garbage, Slow, Silent, Oversized };

// One request as the server read it.
struct Request {
    std::string method, target, version;
    std::vector<std::string> header_lines;  // in order, without CR LF
    std::string body;
};

class SealRegistry {
  public:
    SealRegistry();
    ~SealRegistry();
    SealRegistry(const SealRegistry&) = delete;
    SealRegistry& operator=(const SealRegistry&) = delete;

    // Serves HTTPS from the next start: `chain_pem` holds the server's certificate (then any
    // intermediate ones), `key_pem` its private key, both PEM files. False when they do not load
    // or do not match; `error` then says why.
    bool use_tls(const std::string& chain_pem, const std::string& key_pem, std::string& error);

    // Listens on 127.0.0.1:`port` (0: an ephemeral port). False when the socket cannot be
    // bound; `error` then says why.
    bool start(uint16_t port, std::string& error);
    // Closes the socket, wakes any held connection and joins every thread.
    void stop();

    uint16_t port() const { return port_; }
    // http://127.0.0.1:PORT/pekorl/sealrecord/clientGetSealStatus; over TLS
    // https://localhost:PORT/... (the name test certificates are made for).
    std::string url() const;

    void set_status(const std::string& seal_code, int status);
    // The status as the answer's text, whatever it holds (a number beyond 32 bits, words).
    void set_status_text(const std::string& seal_code, const std::string& status);
    void set_behaviour(Behaviour b, int delay_ms = 0);

    // Requests received so far (complete or not), oldest first.
    std::vector<Request> requests() const;
    size_t request_count() const;

    // The answer text for a request, as the server builds it (also used by tests).
    static std::string answer_for(int status);
    static std::string answer_for(const std::string& status);

  private:
    void accept_loop();
    void serve(int fd);
    // The answer to a request; `padding` bytes of XML comment after the answer document.
    std::string respond(const Request& r, size_t padding = 0);
    bool wait_or_stop(int ms);

    ssl_ctx_st* tls_ = nullptr;  // set: HTTPS
    int listen_fd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};
    std::thread acceptor_;
    mutable std::mutex lock_;
    std::condition_variable wake_;
    std::vector<std::thread> workers_;
    std::map<std::string, std::string> statuses_;
    Behaviour behaviour_ = Behaviour::Normal;
    int delay_ms_ = 0;
    std::vector<Request> requests_;
};

bool parse_behaviour(const std::string& text, Behaviour& out);

}  // namespace registry
