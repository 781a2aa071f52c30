// An independent check of a made seal with the openssl command-line program: its ASN.1
// structure reads, and its signature verifies as SM2 with SM3 and the default user id over
// the seal information bytes, with the public key of the certificate the seal carries.
#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <regex>
#include <string>

#include "maker_fixture.h"
#include "sealform_host.h"

namespace sealform::testing {
namespace {

struct Element {
    size_t offset = 0, header = 0, length = 0;
};

class OpensslCheckTest : public SealformHost {
  protected:
    std::string openssl() {
        const char* p = std::getenv("OPENSSL_PROGRAM");
        return p && *p ? p : "openssl";
    }
    // Runs a command; returns its exit status and standard output.
    int run(const std::string& command, std::string* out = nullptr) {
        FILE* pipe = ::popen((command + " 2>&1").c_str(), "r");
        if (!pipe) return -1;
        std::string text;
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof buf, pipe)) > 0) text.append(buf, n);
        int status = ::pclose(pipe);
        if (out) *out = text;
        return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    }
    std::string path(const std::string& name) { return scratch_ + "/" + name; }
    void save(const std::string& name, const Bytes& bytes) {
        ASSERT_TRUE(kit::write_whole_file(path(name), bytes.data(), bytes.size()));
    }
    // The depth-1 elements of asn1parse's listing, in order.
    static std::vector<std::pair<std::string, Element>> top_elements(const std::string& listing) {
        std::vector<std::pair<std::string, Element>> out;
        std::regex line(
            R"((\d+):d=1\s+hl=\s*(\d+)\s+l=\s*(\d+)\s+(?:cons|prim):\s+([A-Z]+(?: [A-Z]+)?))");
        for (std::sregex_iterator it(listing.begin(), listing.end(), line), end; it != end; ++it) {
            Element e{std::stoul((*it)[1]), std::stoul((*it)[2]), std::stoul((*it)[3])};
            out.emplace_back((*it)[4], e);
        }
        return out;
    }
    // A DER INTEGER of an unsigned big-endian value.
    static Bytes der_integer(Bytes v) {
        while (v.size() > 1 && v[0] == 0 && !(v[1] & 0x80)) v.erase(v.begin());
        if (v[0] & 0x80) v.insert(v.begin(), 0);
        Bytes out{0x02, static_cast<uint8_t>(v.size())};
        out.insert(out.end(), v.begin(), v.end());
        return out;
    }
    int verify(const std::string& data_file) {
        std::string out;
        int rc = run(openssl() + " pkeyutl -verify -pubin -inkey " + path("pub.pem") +
                         " -rawin -digest sm3 -pkeyopt distid:1234567812345678 -in " +
                         path(data_file) + " -sigfile " + path("sig.der"),
                     &out);
        if (rc == 0) {
            EXPECT_NE(out.find("Signature Verified Successfully"), std::string::npos) << out;
        }
        return rc;
    }
};

TEST_F(OpensslCheckTest, MadeSealVerifiesWithOpenssl) {
    Bytes seal = make(SealParams::standard(MakerMaterial::shared()).xml());
    ASSERT_FALSE(seal.empty()) << markers();
    save("seal.der", seal);

    std::string listing;
    ASSERT_EQ(run(openssl() + " asn1parse -inform DER -in " + path("seal.der"), &listing), 0)
        << listing;
    auto top = top_elements(listing);
    ASSERT_EQ(top.size(), 4u) << listing;
    EXPECT_EQ(top[0].first, "SEQUENCE");
    EXPECT_EQ(top[1].first, "OCTET STRING");
    EXPECT_EQ(top[2].first, "OBJECT");
    EXPECT_EQ(top[3].first, "BIT STRING");
    EXPECT_NE(listing.find("SM2-with-SM3"), std::string::npos) << listing;

    auto slice = [&](const Element& e, size_t skip_header) {
        size_t from = e.offset + (skip_header ? e.header : 0);
        size_t to = e.offset + e.header + e.length;
        return Bytes(seal.begin() + static_cast<long>(from), seal.begin() + static_cast<long>(to));
    };
    Bytes info = slice(top[0].second, 0);
    Bytes cert = slice(top[1].second, 1);
    Bytes bits = slice(top[3].second, 1);
    ASSERT_EQ(bits.size(), 65u);
    EXPECT_EQ(bits[0], 0) << "unused-bit count";

    save("info.bin", info);
    save("cert.der", cert);
    std::string out;
    ASSERT_EQ(run(openssl() + " x509 -inform DER -in " + path("cert.der") +
                      " -pubkey -noout -out " + path("pub.pem"),
                  &out),
              0)
        << out;

    Bytes r = der_integer(Bytes(bits.begin() + 1, bits.begin() + 33));
    Bytes s = der_integer(Bytes(bits.begin() + 33, bits.end()));
    Bytes sig{0x30, static_cast<uint8_t>(r.size() + s.size())};
    sig.insert(sig.end(), r.begin(), r.end());
    sig.insert(sig.end(), s.begin(), s.end());
    save("sig.der", sig);

    EXPECT_EQ(verify("info.bin"), 0);
    for (size_t at : {size_t(10), info.size() / 2, info.size() - 1}) {
        Bytes changed = info;
        changed[at] ^= 0x01;
        save("changed.bin", changed);
        EXPECT_NE(verify("changed.bin"), 0) << "a changed byte at " << at << " still verifies";
    }
}

}  // namespace
}  // namespace sealform::testing
