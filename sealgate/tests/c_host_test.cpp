// Runs the C host against the software key, linked to Sealgate as a C program would be.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "key_seal_maker.h"
#include "seal_registry.h"
#include "sealgate_test_env.h"

extern "C" int c_host_read_first_seal(int* count, unsigned char* record, int* record_length,
                                      char* code, int* code_length, int* status);

namespace sgtest {
namespace {

TEST_F(SessionTest, HostInCReadsTheSealAndItsStatus) {
    SealOrder order;
    order.esid = "3201000000777";
    MadeSeal seal = make_key_seal(key_, order);
    ASSERT_FALSE(seal.der.empty()) << seal.error;
    store_seal(store_, key_.serial, seal.der);
    registry::SealRegistry service;
    std::string error;
    ASSERT_TRUE(service.start(0, error)) << error;
    service.set_status(order.esid, 2);
    set_env("SEALGATE_REGISTRY_URL", service.url());
    set_env("SEALGATE_ONLINE", "1");

    int count = 0, record_length = 0, code_length = 0, status = -1;
    std::vector<unsigned char> record(SEALGATE_SEALINFO_SIZE);
    char code[100];
    ASSERT_EQ(
        c_host_read_first_seal(&count, record.data(), &record_length, code, &code_length, &status),
        0);
    EXPECT_EQ(count, 1);
    EXPECT_EQ(static_cast<size_t>(record_length), seal.picture.size() + 268);
    EXPECT_STREQ(reinterpret_cast<char*>(record.data() + 8), "Holder One");
    EXPECT_STREQ(code, "3201000000777");
    EXPECT_EQ(status, 2);
    unsetenv("SEALGATE_REGISTRY_URL");
    unsetenv("SEALGATE_ONLINE");
}

}  // namespace
}  // namespace sgtest
