// The file cipher loaded by name as Sealform loads it: round trips, wrong keys, foreign and
// damaged files, and that a failure leaves no target file.
#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

#include "kit/platform.h"
#include "securemodelcollection.h"

namespace {

class SecureModelTest : public ::testing::Test {
  protected:
    void SetUp() override {
        char pattern[] = "/tmp/securemodel-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        dir_ = pattern;
        module_ = kit::Module::load("SecureModelCollection.dll");
        ASSERT_TRUE(module_);
        decrypt_ = module_.function<SymmetryDecryption_File_fn>("SymmetryDecryption_File");
        encrypt_ = module_.function<SymmetryEncryption_File_fn>("SymmetryEncryption_File");
        ASSERT_TRUE(decrypt_ && encrypt_);
    }
    void TearDown() override {
        for (const char* n : {"plain", "sealed", "out", "other"}) kit::remove_file(path(n));
        ::rmdir(dir_.c_str());
    }
    std::string path(const char* name) const { return dir_ + "/" + name; }
    void write(const char* name, const std::vector<uint8_t>& bytes) {
        ASSERT_TRUE(kit::write_whole_file(path(name), bytes.data(), bytes.size()));
    }
    std::vector<uint8_t> read(const char* name) {
        std::vector<uint8_t> b;
        EXPECT_TRUE(kit::read_whole_file(path(name), b));
        return b;
    }
    bool exists(const char* name) const { return ::access(path(name).c_str(), F_OK) == 0; }
    int enc(const char* key) {
        return encrypt_(path("plain").c_str(), path("sealed").c_str(), 256, key, 0);
    }
    int dec(const char* key) {
        return decrypt_(path("sealed").c_str(), path("out").c_str(), 256, key, 0);
    }

    std::string dir_;
    kit::Module module_;
    SymmetryDecryption_File_fn decrypt_ = nullptr;
    SymmetryEncryption_File_fn encrypt_ = nullptr;
};

const char kKey[] = "m4k8p2x6r9t3vb!#";

TEST_F(SecureModelTest, RoundTripsAnySizeAndHidesThePlainText) {
    for (size_t size : {size_t(0), size_t(1), size_t(15), size_t(16), size_t(17), size_t(5000)}) {
        std::vector<uint8_t> plain(size);
        for (size_t i = 0; i < size; ++i) plain[i] = static_cast<uint8_t>('a' + i % 26);
        write("plain", plain);
        ASSERT_EQ(enc(kKey), SECUREMODEL_OK);
        std::vector<uint8_t> sealed = read("sealed");
        ASSERT_GE(sealed.size(), 4u + 16u + size);
        EXPECT_EQ(std::string(sealed.begin(), sealed.begin() + 4), "SMC1");
        if (size >= 16) {
            std::string s(sealed.begin(), sealed.end());
            EXPECT_EQ(s.find(std::string(plain.begin(), plain.begin() + 16)), std::string::npos);
        }
        ASSERT_EQ(dec(kKey), SECUREMODEL_OK) << size;
        EXPECT_EQ(read("out"), plain) << size;
    }
}

TEST_F(SecureModelTest, TwoEncryptionsDifferByTheirVector) {
    write("plain", std::vector<uint8_t>(40, 'x'));
    ASSERT_EQ(enc(kKey), 0);
    std::vector<uint8_t> first = read("sealed");
    ASSERT_EQ(enc(kKey), 0);
    EXPECT_NE(read("sealed"), first);
}

TEST_F(SecureModelTest, WrongKeyAndDamageAreRefusedWithoutATarget) {
    write("plain", std::vector<uint8_t>(100, 'k'));
    ASSERT_EQ(enc(kKey), 0);
    for (int attempt = 0; attempt < 20; ++attempt) {
        std::string key = "wrong-key-" + std::to_string(attempt);
        EXPECT_EQ(dec(key.c_str()), SECUREMODEL_WRONG_KEY);
        EXPECT_FALSE(exists("out"));
    }
    std::vector<uint8_t> sealed = read("sealed");
    for (size_t at : {size_t(4), size_t(25), sealed.size() - 1}) {
        std::vector<uint8_t> damaged = sealed;
        damaged[at] ^= 0x01;
        write("sealed", damaged);
        EXPECT_EQ(dec(kKey), SECUREMODEL_WRONG_KEY) << at;
        EXPECT_FALSE(exists("out"));
    }
}

TEST_F(SecureModelTest, ForeignFilesAndBadArguments) {
    write("sealed", std::vector<uint8_t>(64, 'z'));
    EXPECT_EQ(dec(kKey), SECUREMODEL_NOT_SEALED);
    std::vector<uint8_t> short_file = {'S', 'M', 'C', '1', 1, 2, 3};
    write("sealed", short_file);
    EXPECT_EQ(dec(kKey), SECUREMODEL_NOT_SEALED);
    EXPECT_EQ(decrypt_(path("missing").c_str(), path("out").c_str(), 256, kKey, 0),
              SECUREMODEL_CANNOT_READ);
    EXPECT_EQ(decrypt_(path("sealed").c_str(), path("out").c_str(), 128, kKey, 0),
              SECUREMODEL_BAD_ARGUMENT);
    EXPECT_EQ(decrypt_(path("sealed").c_str(), path("out").c_str(), 256, kKey, 1),
              SECUREMODEL_BAD_ARGUMENT);
    EXPECT_EQ(decrypt_(path("sealed").c_str(), "", 256, kKey, 0), SECUREMODEL_BAD_ARGUMENT);
    EXPECT_EQ(decrypt_(nullptr, path("out").c_str(), 256, kKey, 0), SECUREMODEL_BAD_ARGUMENT);
    EXPECT_EQ(decrypt_(path("sealed").c_str(), path("out").c_str(), 256, "", 0),
              SECUREMODEL_BAD_ARGUMENT);
    write("plain", std::vector<uint8_t>(10, 'p'));
    ASSERT_EQ(enc(kKey), 0);
    EXPECT_EQ(decrypt_(path("sealed").c_str(), (dir_ + "/no/such/dir/out").c_str(), 256, kKey, 0),
              SECUREMODEL_CANNOT_WRITE);
    EXPECT_FALSE(exists("out"));
}

}  // namespace
