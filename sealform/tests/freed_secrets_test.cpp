// MakeSeal_SignWithKey decrypts the maker's private key: no copy of it may be left in memory the
// process frees (the file read, the maker document, the signing request, the key driver's
// parse of it, the key itself). Runs with the free scanner preloaded, which looks into every
// block freed during the call.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <pugixml.hpp>
#include <sstream>
#include <string>

#include "free_scan.h"
#include "kit/base64.h"
#include "maker_document.h"
#include "maker_fixture.h"
#include "sealform_host.h"
#include "softkey_factory.h"
#include "testpki.h"

namespace sealform::testing {
namespace {

std::string hex(const Bytes& bytes) {
    static const char digits[] = "0123456789ABCDEF";
    std::string out;
    for (uint8_t b : bytes) {
        out += digits[b >> 4];
        out += digits[b & 15];
    }
    return out;
}

class FreedSecretsTest : public SealformHost {
  protected:
    void SetUp() override {
        SealformHost::SetUp();
        watch_ = reinterpret_cast<free_scan_watch_fn>(dlsym(RTLD_DEFAULT, "free_scan_watch"));
        arm_ = reinterpret_cast<free_scan_arm_fn>(dlsym(RTLD_DEFAULT, "free_scan_arm"));
        hits_ = reinterpret_cast<free_scan_hits_fn>(dlsym(RTLD_DEFAULT, "free_scan_hits"));
        ASSERT_TRUE(watch_ && arm_ && hits_) << "run with the free scanner preloaded";
        store_ = scratch_ + "/store";
        ::setenv("SOFTKEY_STORE", store_.c_str(), 1);
        softkey::Store(store_).create(softkey::make_key(softkey::sm2_key("MAKER-SECRET", 0)));
        make_with_key_ = module_.function<MakeFn>("MakeSeal_SignWithKey");
        ASSERT_TRUE(make_with_key_);
    }
    void TearDown() override {
        ::unsetenv("SOFTKEY_STORE");
        SealformHost::TearDown();
    }
    std::string params(const MakerMaterial& m) const {
        pugi::xml_document doc;
        pugi::xml_node root = doc.append_child("sealinfo");
        root.append_child("imgdata").text().set(kit::base64_encode(bmp_picture(40, 20)).c_str());
        root.append_child("usercertlist")
            .append_child("usercert")
            .text()
            .set(kit::base64_encode(m.holder_certs[0]).c_str());
        const std::pair<const char*, const char*> values[] = {{"esid", "3201000000999"},
                                                              {"version", "4"},
                                                              {"sealtype", "2"},
                                                              {"sealname", kNameGbk},
                                                              {"createdate", "20210513100248Z"},
                                                              {"validstart", "20210513100248Z"},
                                                              {"validend", "20310513100248Z"},
                                                              {"imgtype", "bmp"}};
        for (const auto& v : values) root.append_child(v.first).text().set(v.second);
        root.append_child("sealmakercert")
            .text()
            .set(securemodel::encrypted_maker_document(m.maker_key.get(), m.maker_cert).c_str());
        std::ostringstream out;
        doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
        return out.str();
    }

    std::string store_;
    MakeFn make_with_key_ = nullptr;
    free_scan_watch_fn watch_ = nullptr;
    free_scan_arm_fn arm_ = nullptr;
    free_scan_hits_fn hits_ = nullptr;
};

TEST_F(FreedSecretsTest, MakingASealWithKeyLeavesNoCopyOfThePrivateKey) {
    const MakerMaterial& m = MakerMaterial::shared();
    const Bytes scalar = testpki::sm2_private_scalar(m.maker_key.get());
    ASSERT_EQ(scalar.size(), 32u);
    const std::string text = hex(scalar);  // as the maker document writes it
    // Halves as well as the whole, so a copy cut by a buffer boundary is found too.
    watch_(scalar.data(), 16);
    watch_(scalar.data() + 16, 16);
    watch_(text.data(), 32);
    watch_(text.data() + 32, 32);
    const std::string xml = params(m);

    // The scanner sees a freed copy when there is one.
    void* (*volatile allocate)(size_t) = std::malloc;
    void (*volatile release)(void*) = std::free;
    arm_(1);
    char* copy = static_cast<char*>(allocate(100));
    std::memcpy(copy, text.data(), text.size());
    release(copy);
    arm_(0);
    ASSERT_EQ(hits_(), 1);

    for (int round = 0; round < 2; ++round) {  // the second call also frees the first result
        arm_(1);
        int length = 0;
        unsigned char* seal = make_with_key_(xml.c_str(), &length);
        EXPECT_NE(seal, nullptr) << markers();
        release_();
        arm_(0);
        EXPECT_EQ(hits_(), 0) << "round " << round << ": freed blocks held the key";
    }
}

}  // namespace
}  // namespace sealform::testing
