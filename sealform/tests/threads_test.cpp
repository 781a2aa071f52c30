// Sealform called from several threads, as multi-threaded hosts call it: each thread's result
// stays its own until that thread calls again or releases it. Under ASan a result freed by
// another thread's call is a report.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>
#include <vector>

#include "maker_fixture.h"
#include "seal_fixture.h"
#include "sealform_host.h"

namespace sealform::testing {
namespace {

class SealformThreadsTest : public SealformHost {};

TEST_F(SealformThreadsTest, TwoAndEightThreadsKeepTheirOwnResults) {
    std::vector<Bytes> seals;
    for (int t = 0; t < 8; ++t) {
        SealSpec spec;
        spec.seal_id = "320100000000" + std::to_string(t);
        spec.picture.assign(static_cast<size_t>(100 + 300 * t), static_cast<uint8_t>(t));
        seals.push_back(encode_seal(spec));
    }
    for (int threads : {2, 8}) {
        std::atomic<int> wrong{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&, t] {
                const std::string id = "<esid>320100000000" + std::to_string(t) + "</esid>";
                for (int round = 0; round < 40; ++round) {
                    int length = static_cast<int>(seals[size_t(t)].size());
                    char* xml = parse_(seals[size_t(t)].data(), &length);
                    if (!xml) {
                        ++wrong;
                        continue;
                    }
                    std::this_thread::yield();  // other threads parse and release meanwhile
                    std::string text(xml, static_cast<size_t>(length));
                    if (text.find(id) == std::string::npos) ++wrong;
                    if (round % 3 == 0) release_info_();
                }
                release_info_();
            });
        }
        for (auto& th : pool) th.join();
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
}

TEST_F(SealformThreadsTest, MadeSealsStayWithTheirThread) {
    const MakerMaterial& material = MakerMaterial::shared();
    for (int threads : {2, 8}) {
        std::atomic<int> wrong{0};
        std::vector<std::thread> pool;
        for (int t = 0; t < threads; ++t) {
            pool.emplace_back([&, t] {
                SealParams params = SealParams::standard(material);
                params.values["esid"] = "3201000000" + std::to_string(100 + t);
                const std::string xml = params.xml();
                for (int round = 0; round < 3; ++round) {
                    int length = 0;
                    unsigned char* seal = make_(xml.c_str(), &length);
                    if (!seal) {
                        ++wrong;
                        continue;
                    }
                    std::this_thread::yield();
                    Bytes mine(seal, seal + length);
                    int parsed = length;
                    char* text = parse_(mine.data(), &parsed);
                    if (!text || std::string(text).find(params.values["esid"]) == std::string::npos)
                        ++wrong;
                    release_info_();
                }
                release_();
            });
        }
        for (auto& th : pool) th.join();
        EXPECT_EQ(wrong.load(), 0) << threads << " threads";
    }
}

}  // namespace
}  // namespace sealform::testing
