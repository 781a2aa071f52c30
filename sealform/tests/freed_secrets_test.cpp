// MakeSeal_SignWithKey decrypts the maker's private key: no copy of it may be left in memory the
// process frees (the file read, the maker document, the signing request, the key driver's
// parse of it, the key itself). Runs with the free scanner preloaded, which looks into every
// block freed during the call.
#include <dlfcn.h>
#include <gtest/gtest.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/x509.h>

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
        auto d = securemodel::SealInfoDocument::standard(m.maker_key.get(), m.maker_cert,
                                                         bmp_picture(40, 20), m.holder_certs[0]);
        d.values["esid"] = "3201000000999";
        return d.xml();
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

// MakeSeal: the password, the PFX (as bytes and as the Base64 text of the parameters) and the
// maker's private key leave no copy in freed memory, whether the seal is made, the password is
// wrong, the PFX is no PFX or the signer refuses the key.
TEST_F(FreedSecretsTest, MakingASealWithAPfxLeavesNoCopyOfPasswordPfxOrKeyOnAnyPath) {
    const MakerMaterial& m = MakerMaterial::shared();
    const Bytes scalar = testpki::sm2_private_scalar(m.maker_key.get());
    const Bytes rsa = rsa_pfx(m.password);
    const std::string wrong = "Wrong#Pfx-Pass-5520";
    const std::string pfx_text = kit::base64_encode(m.pfx);
    auto spare = reinterpret_cast<free_scan_spare_fn>(dlsym(RTLD_DEFAULT, "free_scan_spare"));
    auto spared_hits =
        reinterpret_cast<free_scan_hits_fn>(dlsym(RTLD_DEFAULT, "free_scan_spared_hits"));
    ASSERT_TRUE(spare && spared_hits);
    ASSERT_GT(m.pfx.size(), 600u);
    ASSERT_GT(rsa.size(), 600u);
    watch_(m.password.data(), m.password.size());
    watch_(wrong.data(), wrong.size());
    watch_(scalar.data(), 16);
    watch_(scalar.data() + 16, 16);
    // Slices of the encrypted contents, which no other data of the call can hold by chance.
    watch_(m.pfx.data() + m.pfx.size() / 2, 48);
    watch_(m.pfx.data() + m.pfx.size() - 200, 48);
    watch_(pfx_text.data() + pfx_text.size() / 2, 64);
    watch_(rsa.data() + rsa.size() / 2, 48);

    // The signer reads the PFX with OpenSSL, whose PKCS #12 and key decoders free their copies
    // of the encrypted contents and of the key without wiping them. That is OpenSSL's doing, not
    // the kit's: blocks OpenSSL frees are counted apart. The control shows it on its own, with
    // no kit code involved; when an OpenSSL wipes them, it fails and the sparing can go.
    spare("libcrypto");
    arm_(1);
    {
        const unsigned char* p = m.pfx.data();
        PKCS12* p12 = d2i_PKCS12(nullptr, &p, static_cast<long>(m.pfx.size()));
        EVP_PKEY* key = nullptr;
        X509* cert = nullptr;
        ASSERT_TRUE(p12 && PKCS12_parse(p12, m.password.c_str(), &key, &cert, nullptr));
        EVP_PKEY_free(key);
        X509_free(cert);
        PKCS12_free(p12);
    }
    arm_(0);
    EXPECT_EQ(hits_(), 0);
    EXPECT_GT(spared_hits(), 0) << "OpenSSL now wipes its PKCS #12 copies: stop sparing it";

    SealParams made = SealParams::standard(m);
    SealParams wrong_password = made;
    wrong_password.values["sealmakerpfxpwd"] = wrong;
    SealParams not_pfx = made;
    Bytes broken = m.pfx;
    broken.resize(broken.size() - 300);  // cut short: no longer a PKCS #12 structure
    not_pfx.values["sealmakerpfx"] = kit::base64_encode(broken);
    SealParams refused = made;
    refused.values["sealmakerpfx"] = kit::base64_encode(rsa);
    const struct {
        const char* what;
        std::string xml;
        bool made;
    } cases[] = {{"seal made", made.xml(), true},
                 {"wrong password", wrong_password.xml(), false},
                 {"not a PFX", not_pfx.xml(), false},
                 {"signer refuses the key", refused.xml(), false}};
    for (const auto& c : cases) {
        for (int round = 0; round < 2; ++round) {  // the second call also frees the first result
            arm_(1);
            int length = 0;
            unsigned char* seal = make_(c.xml.c_str(), &length);
            EXPECT_EQ(seal != nullptr, c.made) << c.what << "\n" << markers();
            release_();
            arm_(0);
            EXPECT_EQ(hits_(), 0) << c.what << ", round " << round
                                  << ": freed blocks held a secret";
        }
    }
}

}  // namespace
}  // namespace sealform::testing
