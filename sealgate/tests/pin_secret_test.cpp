// The PIN a host hands VerifyUserPin leaves no copy in memory the process frees (Sealgate and the
// key driver behind it). Runs with the free scanner preloaded.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <string>

#include "free_scan.h"
#include "sealgate_test_env.h"

namespace sgtest {
namespace {

TEST_F(SessionTest, PinLeavesNoCopyInFreedMemory) {
    auto watch = reinterpret_cast<free_scan_watch_fn>(dlsym(RTLD_DEFAULT, "free_scan_watch"));
    auto arm = reinterpret_cast<free_scan_arm_fn>(dlsym(RTLD_DEFAULT, "free_scan_arm"));
    auto hits = reinterpret_cast<free_scan_hits_fn>(dlsym(RTLD_DEFAULT, "free_scan_hits"));
    ASSERT_TRUE(watch && arm && hits) << "run with the free scanner preloaded";

    const std::string pin = "Kp#93vX!q7Wd", wrong = "Zr$58mQ@t2Hy";
    softkey::Store(store_).change_pin(key_.serial, "580914", pin);
    watch(pin.data(), pin.size());
    watch(wrong.data(), wrong.size());
    // The scanner sees a freed copy when there is one.
    arm(1);
    void* (*volatile allocate)(size_t) = std::malloc;
    void (*volatile release)(void*) = std::free;
    char* copy = static_cast<char*>(allocate(64));
    std::memcpy(copy, pin.c_str(), pin.size() + 1);
    release(copy);
    arm(0);
    ASSERT_EQ(hits(), 1);

    void* device = nullptr;
    ASSERT_EQ(sg_.InitialSession(&device), 1);
    arm(1);
    EXPECT_EQ(sg_.VerifyUserPin(device, wrong.c_str()), 0);
    EXPECT_EQ(sg_.VerifyUserPin(device, pin.c_str()), 1);
    arm(0);
    EXPECT_EQ(hits(), 0);
    sg_.CloseSession(device);
}

}  // namespace
}  // namespace sgtest
