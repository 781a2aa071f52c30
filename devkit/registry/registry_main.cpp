// sealregistry: the seal registry service on 127.0.0.1, for the demo and manual tries.
//   sealregistry [--port N] [--port-file FILE] [--behaviour
//   normal|500|garbage|slow|silent|oversized]
//                [--delay MS] [--log FILE] [--tls CHAIN.pem KEY.pem] [CODE=STATUS ...]
// Prints the service URL, then serves until SIGINT or SIGTERM. With --tls it serves HTTPS with
// that certificate chain (server certificate first) and key. With --log, every request is
// appended to FILE once read: its request line, its header lines, an empty line, its body and a
// line feed (tests of clients that run in another process read it).
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "seal_registry.h"

namespace {
volatile std::sig_atomic_t g_stop = 0;
void on_signal(int) { g_stop = 1; }

int usage() {
    std::fputs(
        "usage: sealregistry [--port N] [--port-file FILE] "
        "[--behaviour normal|500|garbage|slow|silent|oversized] [--delay MS] [--log FILE] "
        "[--tls CHAIN.pem KEY.pem] [CODE=STATUS ...]\n",
        stderr);
    return 2;
}
}  // namespace

int main(int argc, char** argv) {
    registry::SealRegistry server;
    long port = 0;
    int delay = 0;
    std::string port_file, log_file, tls_chain, tls_key;
    registry::Behaviour behaviour = registry::Behaviour::Normal;
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        bool has_value = i + 1 < argc;
        if (a == "--port" && has_value) {
            port = std::strtol(argv[++i], nullptr, 10);
            if (port < 0 || port > 65535) return usage();
        } else if (a == "--port-file" && has_value) {
            port_file = argv[++i];
        } else if (a == "--behaviour" && has_value) {
            if (!registry::parse_behaviour(argv[++i], behaviour)) return usage();
        } else if (a == "--log" && has_value) {
            log_file = argv[++i];
        } else if (a == "--tls" && i + 2 < argc) {
            tls_chain = argv[++i];
            tls_key = argv[++i];
        } else if (a == "--delay" && has_value) {
            delay = std::atoi(argv[++i]);
        } else if (size_t eq = a.find('='); eq != std::string::npos && eq > 0 && a[0] != '-') {
            server.set_status(a.substr(0, eq), std::atoi(a.c_str() + eq + 1));
        } else {
            return usage();
        }
    }
    server.set_behaviour(behaviour, delay);
    std::string error;
    if (!tls_chain.empty() && !server.use_tls(tls_chain, tls_key, error)) {
        std::fprintf(stderr, "sealregistry: cannot use %s and %s: %s\n", tls_chain.c_str(),
                     tls_key.c_str(), error.c_str());
        return 1;
    }
    if (!server.start(static_cast<uint16_t>(port), error)) {
        std::fprintf(stderr, "sealregistry: cannot listen: %s\n", error.c_str());
        return 1;
    }
    std::signal(SIGINT, on_signal);
    std::signal(SIGTERM, on_signal);
    if (!port_file.empty()) {
        std::string text = std::to_string(server.port()) + "\n";
        if (!kit::write_whole_file(port_file, text.data(), text.size())) {
            std::fprintf(stderr, "sealregistry: cannot write %s\n", port_file.c_str());
            return 1;
        }
    }
    std::printf("%s\n", server.url().c_str());
    std::fflush(stdout);
    size_t logged = 0;
    while (!g_stop) {
        ::usleep(20 * 1000);
        if (log_file.empty() || server.request_count() == logged) continue;
        std::vector<registry::Request> requests = server.requests();
        std::string text;
        for (; logged < requests.size(); ++logged) {
            const registry::Request& r = requests[logged];
            text += r.method + " " + r.target + " " + r.version + "\n";
            for (const std::string& line : r.header_lines) text += line + "\n";
            text += "\n" + r.body + "\n";
        }
        if (FILE* f = std::fopen(log_file.c_str(), "ab")) {
            std::fwrite(text.data(), 1, text.size(), f);
            std::fclose(f);
        }
    }
    server.stop();
    return 0;
}
