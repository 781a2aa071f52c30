// Self-wiping buffers: under the free scanner, growing and dropping them leaves no copy of a
// secret in freed memory, where a plain string leaves several.
#include "kit/secure.h"

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <pugixml.hpp>
#include <string>

#include "free_scan.h"
#include "kit/platform.h"
#include "kit/secure_xml.h"

namespace {

const std::string kSecret = "7F3A9C0D55E1B2486C0FA9D317E2B45C";

struct Scanner {
    free_scan_watch_fn watch =
        reinterpret_cast<free_scan_watch_fn>(dlsym(RTLD_DEFAULT, "free_scan_watch"));
    free_scan_arm_fn arm = reinterpret_cast<free_scan_arm_fn>(dlsym(RTLD_DEFAULT, "free_scan_arm"));
    free_scan_hits_fn hits =
        reinterpret_cast<free_scan_hits_fn>(dlsym(RTLD_DEFAULT, "free_scan_hits"));
    Scanner() {
        if (watch) watch(kSecret.data(), kSecret.size());
    }
    bool present() const { return watch && arm && hits; }
};

// Appends the secret and enough after it that the buffer moves several times.
template <class String>
void grow(String& s) {
    s.append(kSecret.data(), kSecret.size());
    for (int i = 0; i < 200; ++i) s.append(40, 'x');
}

TEST(SecureBuffers, GrowingLeavesNoCopyWhereAPlainStringLeavesSome) {
    Scanner scan;
    ASSERT_TRUE(scan.present()) << "run with the free scanner preloaded";
    scan.arm(1);
    {
        std::string plain;
        grow(plain);
    }
    scan.arm(0);
    EXPECT_GT(scan.hits(), 1);  // every block the string left behind

    scan.arm(1);
    {
        kit::SecureString secure;
        grow(secure);
        kit::SecureBytes bytes(kSecret.begin(), kSecret.end());
        for (int i = 0; i < 100; ++i) bytes.push_back(0);
    }
    scan.arm(0);
    EXPECT_EQ(scan.hits(), 0);
}

TEST(SecureBuffers, SecretFilesAndXmlDocuments) {
    Scanner scan;
    ASSERT_TRUE(scan.present()) << "run with the free scanner preloaded";
    kit::TempFile file;
    ASSERT_TRUE(file);
    const std::string doc = "<maker><privatekey>" + kSecret + "</privatekey></maker>";
    const std::string expected = "<request><key>" + kSecret + "</key></request>";
    // Only the secret's own handling is watched; the comparisons come after.
    kit::SecureBytes read;
    kit::SecureString request, key;
    scan.arm(1);
    ASSERT_TRUE(kit::write_secret_file(file.path(), doc.data(), doc.size()));
    ASSERT_TRUE(kit::read_secret_file(file.path(), read));
    {
        kit::SecureBytes parsed = read;
        pugi::xml_document xml;
        ASSERT_TRUE(kit::load_secret_document(xml, parsed));
        key = xml.child("maker").child_value("privatekey");
        request.reserve(256);
        request += "<request><key>";
        request += key;
        request += "</key></request>";
    }
    scan.arm(0);
    EXPECT_EQ(scan.hits(), 0);
    EXPECT_EQ(std::string(read.begin(), read.end()), doc);
    EXPECT_EQ(std::string(key.begin(), key.end()), kSecret);
    EXPECT_EQ(std::string(request.begin(), request.end()), expected);
}

TEST(SecureBuffers, MissingFileAndEmptyFile) {
    kit::SecureBytes out{1, 2, 3};
    EXPECT_FALSE(kit::read_secret_file("/nonexistent/secret", out));
    EXPECT_EQ(out.size(), 3u);
    kit::TempFile empty;
    ASSERT_TRUE(kit::read_secret_file(empty.path(), out));
    EXPECT_TRUE(out.empty());
}

}  // namespace
