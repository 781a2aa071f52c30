#include "kit/base64.h"

#include <gtest/gtest.h>

namespace {

std::vector<uint8_t> bytes(std::string_view s) { return {s.begin(), s.end()}; }

TEST(Base64, EncodesRfc4648Vectors) {
    EXPECT_EQ(kit::base64_encode(bytes("")), "");
    EXPECT_EQ(kit::base64_encode(bytes("f")), "Zg==");
    EXPECT_EQ(kit::base64_encode(bytes("fo")), "Zm8=");
    EXPECT_EQ(kit::base64_encode(bytes("foo")), "Zm9v");
    EXPECT_EQ(kit::base64_encode(bytes("foobar")), "Zm9vYmFy");
    EXPECT_EQ(kit::base64_encode(bytes("\xFB\xFF\xBF")), "+/+/");
}

TEST(Base64, DecodesFullAndPaddedGroups) {
    EXPECT_EQ(kit::base64_decode("QUJD"), bytes("ABC"));
    EXPECT_EQ(kit::base64_decode("QUI="), bytes("AB"));
    EXPECT_EQ(kit::base64_decode("QQ=="), bytes("A"));
    EXPECT_EQ(kit::base64_decode("QUI"), bytes("AB"));  // unpadded last group of three
    EXPECT_EQ(kit::base64_decode(""), bytes(""));
}

TEST(Base64, DecoderStopsAtFirstCharacterOutsideAlphabet) {
    EXPECT_EQ(kit::base64_decode("QUJD\r\nREVG"), bytes("ABC"));  // a line break ends the data
    EXPECT_EQ(kit::base64_decode("QUJDREVG=QUJD"), bytes("ABCDEF"));
    EXPECT_EQ(kit::base64_decode("QU JD"), bytes("A"));
    EXPECT_EQ(kit::base64_decode("Q"), bytes(""));  // a lone character carries no whole byte
}

// Groups of four are decoded together: a character outside the alphabet at any place of any
// group ends the data there, with the whole bytes before it kept.
TEST(Base64, DecoderStopsAtEveryPlaceOfAGroup) {
    const std::string text = "QUJDREVGR0hJSktM";  // "ABCDEFGHIJKL"
    for (size_t at = 0; at <= text.size(); ++at) {
        std::string cut = text;
        cut.insert(at, 1, '*');
        std::vector<uint8_t> expected = kit::base64_decode(text.substr(0, at));
        EXPECT_EQ(kit::base64_decode(cut), expected) << "at " << at;
        EXPECT_EQ(expected.size(), at * 3 / 4) << "at " << at;
    }
}

TEST(Base64, RoundTripsEveryLengthAndByte) {
    std::vector<uint8_t> data;
    for (int n = 0; n < 300; ++n) {
        EXPECT_EQ(kit::base64_decode(kit::base64_encode(data)), data) << "length " << n;
        data.push_back(static_cast<uint8_t>(n * 37 + 11));
    }
}

}  // namespace
