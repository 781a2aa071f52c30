// Sealgate called from several threads on one session, as multi-threaded hosts call it: every
// answer is the one a single thread gets. Under ASan a driver answer freed by another thread's
// call, or a binding changed under a call, is a report.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "key_seal_maker.h"
#include "sealgate_test_env.h"

namespace sgtest {
namespace {

class SealgateThreadsTest : public SessionTest {
  protected:
    void SetUp() override {
        SessionTest::SetUp();
        for (int i = 0; i < 3; ++i) {
            SealOrder order;
            order.esid = "320100000000" + std::to_string(i);
            order.picture_width = 64 + 32 * i;
            MadeSeal s = make_key_seal(key_, order);
            ASSERT_FALSE(s.der.empty()) << s.error;
            store_seal(store_, key_.serial, s.der);
        }
        ASSERT_EQ(sg_.InitialSession(&device_), 1);
    }
    void TearDown() override {
        if (device_) sg_.CloseSession(device_);
        SessionTest::TearDown();
    }
    std::vector<uint8_t> info(int index, int mode) {
        std::vector<uint8_t> out(SEALGATE_SEALINFO_SIZE);
        int length = 0;
        if (sg_.GetSealInfo(device_, index, mode, out.data(), &length) != 1) return {};
        out.resize(static_cast<size_t>(length));
        return out;
    }
    std::vector<uint8_t> serial() {
        std::vector<uint8_t> out(SEALGATE_SERIAL_SIZE);
        int length = 0;
        if (sg_.GetSerial(device_, out.data(), &length) != 1) return {};
        out.resize(static_cast<size_t>(length));
        return out;
    }
    std::vector<uint8_t> cert() {
        std::vector<uint8_t> out(SEALGATE_SIGNCERT_SIZE);
        int length = 0;
        if (sg_.GetSignCert(device_, out.data(), &length) != 1) return {};
        out.resize(static_cast<size_t>(length));
        return out;
    }
    void* device_ = nullptr;
};

TEST_F(SealgateThreadsTest, TwoAndEightThreadsOnOneSessionGetSingleThreadedAnswers) {
    std::vector<std::vector<uint8_t>> expected[3];
    for (int i = 0; i < 3; ++i)
        for (int mode = 0; mode < 3; ++mode) {
            expected[i].push_back(info(i, mode));
            ASSERT_FALSE(expected[i].back().empty()) << i << " " << mode;
        }
    const std::vector<uint8_t> serial_expected = serial(), cert_expected = cert();
    ASSERT_FALSE(serial_expected.empty());
    ASSERT_FALSE(cert_expected.empty());

    for (int threads : {2, 8}) {
        std::atomic<int> wrong{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&, t] {
                for (int round = 0; round < 6; ++round) {
                    const int index = (t + round) % 3, mode = (t + 2 * round) % 3;
                    if (info(index, mode) != expected[index][size_t(mode)]) ++wrong;
                    if (sg_.GetSealCount(device_) != 3) ++wrong;
                    if (serial() != serial_expected) ++wrong;
                    if (cert() != cert_expected) ++wrong;
                    if (sg_.VerifyUserPin(device_, "580914") != 1) ++wrong;
                }
            });
        }
        for (auto& th : pool) th.join();
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
}

// Sessions closing and opening while other threads read: a call either finds the binding and
// completes, or fails cleanly (0); never a call into an unloaded driver.
TEST_F(SealgateThreadsTest, BindingChangesWaitForRunningCalls) {
    std::atomic<bool> stop{false};
    std::atomic<int> wrong{0}, answered{0};
    const std::vector<uint8_t> expected = info(1, 1);
    ASSERT_FALSE(expected.empty());
    std::atomic<void*> current{device_};
    std::vector<std::thread> readers;
    for (int t = 0; t < 2; ++t)
        readers.emplace_back([&] {
            while (!stop) {
                void* d = current.load();
                std::vector<uint8_t> out(SEALGATE_SEALINFO_SIZE);
                int length = 0;
                if (sg_.GetSealInfo(d, 1, 1, out.data(), &length) == 1) {
                    out.resize(static_cast<size_t>(length));
                    if (out != expected) ++wrong;
                    ++answered;
                }
            }
        });
    // At least 20 changes, and on until the readers have completed 20 reads among them.
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (answered.load() == 0 && std::chrono::steady_clock::now() < give_up)
        std::this_thread::yield();
    const int before = answered.load();
    for (int i = 0; i < 2000 && (i < 20 || answered.load() - before < 20); ++i) {
        void* next = nullptr;
        ASSERT_EQ(sg_.InitialSession(&next), 1);
        sg_.CloseSession(next);  // ends the binding for every handle
        ASSERT_EQ(sg_.InitialSession(&device_), 1);
        current = device_;
    }
    stop = true;
    for (auto& th : readers) th.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_GE(answered.load() - before, 20) << "reads did not complete while the binding changed";
}

}  // namespace
}  // namespace sgtest
