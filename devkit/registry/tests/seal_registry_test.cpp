// The registry service over real sockets on loopback: the form it accepts, its answers, and
// each way it can be told to misbehave.
#include "seal_registry.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <string>

#include "kit/base64.h"
#include "status_request.h"

namespace {

using Clock = std::chrono::steady_clock;

struct Reply {
    bool answered = false;
    int code = 0;
    std::string body;
};

// Sends `request` and reads until the server closes or `timeout_ms` pass without a byte.
Reply exchange(uint16_t port, const std::string& request, int timeout_ms = 3000) {
    Reply r;
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in addr{};
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    if (::connect(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0) {
        ::close(fd);
        return r;
    }
    ::send(fd, request.data(), request.size(), MSG_NOSIGNAL);
    std::string data;
    pollfd p{fd, POLLIN, 0};
    while (::poll(&p, 1, timeout_ms) > 0) {
        char buf[4096];
        ssize_t n = ::recv(fd, buf, sizeof buf, 0);
        if (n <= 0) break;
        data.append(buf, static_cast<size_t>(n));
    }
    ::close(fd);
    if (data.compare(0, 9, "HTTP/1.1 ") != 0) return r;
    r.answered = true;
    r.code = std::atoi(data.c_str() + 9);
    size_t at = data.find("\r\n\r\n");
    if (at != std::string::npos) r.body = data.substr(at + 4);
    return r;
}

std::string post(const std::string& body,
                 const std::string& path = "/pekorl/sealrecord/clientGetSealStatus",
                 const std::string& method = "POST") {
    return method + " " + path +
           " HTTP/1.1\r\nAccept: */*\r\n"
           "Content-Type: application/x-www-form-urlencoded\r\nContent-Length: " +
           std::to_string(body.size()) + "\r\nHost: 127.0.0.1\r\n\r\n" + body;
}

std::string decoded(const std::string& body) {
    std::vector<uint8_t> b = kit::base64_decode(body);
    return std::string(b.begin(), b.end());
}

class RegistryTest : public ::testing::Test {
  protected:
    void SetUp() override {
        std::string error;
        ASSERT_TRUE(server_.start(0, error)) << error;
        server_.set_status("3201000000001", 2);
        server_.set_status("3201000000002", 7);
    }
    registry::SealRegistry server_;
};

TEST_F(RegistryTest, AnswersKnownAndUnknownSealCodes) {
    EXPECT_NE(server_.port(), 0);
    EXPECT_EQ(server_.url(), "http://127.0.0.1:" + std::to_string(server_.port()) +
                                 "/pekorl/sealrecord/clientGetSealStatus");
    Reply r = exchange(server_.port(), post(registry::status_request_form("3201000000002")));
    ASSERT_TRUE(r.answered);
    EXPECT_EQ(r.code, 200);
    EXPECT_EQ(decoded(r.body), registry::SealRegistry::answer_for(7));
    r = exchange(server_.port(), post(registry::status_request_form("999")));
    EXPECT_EQ(r.code, 200);
    EXPECT_NE(decoded(r.body).find("<status>1001</status>"), std::string::npos);
    ASSERT_EQ(server_.request_count(), 2u);
    registry::Request seen = server_.requests()[0];
    EXPECT_EQ(seen.method, "POST");
    EXPECT_EQ(seen.header_lines.front(), "Accept: */*");
    EXPECT_EQ(seen.body, registry::status_request_form("3201000000002"));
}

TEST_F(RegistryTest, RefusesRequestsOfTheWrongForm) {
    EXPECT_EQ(exchange(server_.port(), post(registry::status_request_form("1", "someone"))).code,
              400);
    EXPECT_EQ(
        exchange(server_.port(), post(registry::status_request_form("1", "tolvimar", "0000"))).code,
        400);
    EXPECT_EQ(
        exchange(server_.port(), post("appkeyid=tolvimar&request=!!!&sign=7D1A64E0C93B")).code,
        400);
    EXPECT_EQ(exchange(server_.port(), post(registry::status_request_form("1"), "/other")).code,
              404);
    EXPECT_EQ(exchange(server_.port(), post(registry::status_request_form("1"),
                                            "/pekorl/sealrecord/clientGetSealStatus", "GET"))
                  .code,
              405);
    std::string no_form = post(registry::status_request_form("3201000000001"));
    no_form.replace(no_form.find("application/x-www-form-urlencoded"), 33,
                    "text/plain; a=bcdefghijklmnopqr");
    EXPECT_EQ(exchange(server_.port(), no_form).code, 400);
}

TEST_F(RegistryTest, MisbehavesOnRequest) {
    server_.set_behaviour(registry::Behaviour::ServerError);
    EXPECT_EQ(exchange(server_.port(), post(registry::status_request_form("3201000000001"))).code,
              500);

    server_.set_behaviour(registry::Behaviour::Garbage);
    Reply g = exchange(server_.port(), post(registry::status_request_form("3201000000001")));
    EXPECT_EQ(g.code, 200);
    EXPECT_EQ(decoded(g.body).find("<response>"), std::string::npos);

    server_.set_behaviour(registry::Behaviour::Slow, 400);
    auto start = Clock::now();
    Reply s = exchange(server_.port(), post(registry::status_request_form("3201000000001")));
    EXPECT_EQ(s.code, 200);
    EXPECT_GE(Clock::now() - start, std::chrono::milliseconds(380));

    server_.set_behaviour(registry::Behaviour::Silent);
    Reply quiet =
        exchange(server_.port(), post(registry::status_request_form("3201000000001")), 500);
    EXPECT_FALSE(quiet.answered);
    // A held connection does not keep the server from stopping.
    start = Clock::now();
    server_.stop();
    EXPECT_LT(Clock::now() - start, std::chrono::seconds(3));
}

TEST(RegistryBehaviourNames, ParseTheCommandLineWords) {
    registry::Behaviour b;
    ASSERT_TRUE(registry::parse_behaviour("silent", b));
    EXPECT_EQ(b, registry::Behaviour::Silent);
    ASSERT_TRUE(registry::parse_behaviour("500", b));
    EXPECT_EQ(b, registry::Behaviour::ServerError);
    EXPECT_FALSE(registry::parse_behaviour("loud", b));
}

}  // namespace
