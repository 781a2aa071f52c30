// A session on the test key with the devkit's registry service on loopback as the status
// service, reached without a proxy and waited for at most `timeout_seconds`.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <string>

#include "seal_registry.h"
#include "sealgate_test_env.h"

namespace sgtest {

class RegistrySessionTest : public SessionTest {
  protected:
    // Call from SetUp, then open the session.
    void start_registry(const char* timeout_seconds) {
        std::string error;
        ASSERT_TRUE(registry_.start(0, error)) << error;
        set_env("SEALGATE_REGISTRY_URL", registry_.url());
        set_env("SEALGATE_HTTP_TIMEOUT", timeout_seconds);
        set_env("no_proxy", "127.0.0.1");
        unsetenv("http_proxy");
    }
    void TearDown() override {
        if (device_) sg_.CloseSession(device_);
        registry_.stop();
        for (const char* v : {"SEALGATE_REGISTRY_URL", "SEALGATE_ONLINE", "SEALGATE_HTTP_TIMEOUT"})
            unsetenv(v);
        SessionTest::TearDown();
    }

    registry::SealRegistry registry_;
    void* device_ = nullptr;
};

}  // namespace sgtest
