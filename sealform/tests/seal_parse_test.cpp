// ParsingSeal and ReleaseSealInfo through the shared library, as a host calls them.
#include <dlfcn.h>
#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/platform.h"
#include "seal_fixture.h"

namespace sealform {
namespace {

using testing::SealSpec;
using Bytes = std::vector<uint8_t>;

class ParsingSealTest : public ::testing::Test {
  protected:
    using ParseFn = char* (*)(const unsigned char*, int*);
    using ReleaseFn = void (*)();

    void SetUp() override {
        module_ = kit::Module::load("Sealform.dll");
        ASSERT_TRUE(module_);
        parse_ = module_.function<ParseFn>("ParsingSeal");
        release_ = module_.function<ReleaseFn>("ReleaseSealInfo");
        ASSERT_TRUE(parse_ && release_);
        ::setenv("KIT_DEBUG_OUTPUT", trace_.path().c_str(), 1);
    }
    void TearDown() override {
        if (release_) release_();
        ::unsetenv("KIT_DEBUG_OUTPUT");
    }

    std::string parse(const Bytes& der, int* length_out = nullptr) {
        int length = static_cast<int>(der.size());
        char* xml = parse_(der.data(), &length);
        if (!xml) return "(null)";
        EXPECT_EQ(static_cast<size_t>(length), std::strlen(xml));
        if (length_out) *length_out = length;
        return xml;
    }

    std::string trace() {
        Bytes data;
        kit::read_whole_file(trace_.path(), data);
        return kit::to_utf8(std::string(data.begin(), data.end()), 936);
    }

    kit::Module module_;
    ParseFn parse_ = nullptr;
    ReleaseFn release_ = nullptr;
    kit::TempFile trace_;
};

std::string expected_xml(const std::string& certlist_lines, const std::string& picture_b64) {
    return "<sealinfos>\n"
           "\t<id>ES</id>\n"
           "\t<version>4</version>\n"
           "\t<vid>RZ</vid>\n"
           "\t<type>1</type>\n"
           "\t<name>\xE6\xB5\x8B\xE8\xAF\x95\xE5\x8D\xB0\xE7\xAB\xA0</name>\n" +
           certlist_lines +
           "\t<createdate>20210513100248Z</createdate>\n"
           "\t<vaildstart>20210513100248Z</vaildstart>\n"
           "\t<vaildend>20310513100248Z</vaildend>\n"
           "\t<imgtype>png</imgtype>\n"
           "\t<imgtdate>" +
           picture_b64 +
           "</imgtdate>\n"
           "\t<imgwidth>40</imgwidth>\n"
           "\t<imgheight>40</imgheight>\n"
           "\t<esid>3201000000001</esid>\n"
           "</sealinfos>\n";
}

TEST_F(ParsingSealTest, TwoHolderCertificatesInSealOrder) {
    SealSpec spec;
    spec.holder_certs = {{1, 2, 3}, {4, 5}};
    EXPECT_EQ(parse(testing::encode_seal(spec)),
              expected_xml("\t<certlist>\n\t\t<cert>AQID</cert>\n\t\t<cert>BAU=</cert>\n"
                           "\t</certlist>\n",
                           "iVBORw=="));
    EXPECT_EQ(trace(),
              "ParsingSeal...1\nReleaseSealInfo...1\nReleaseSealInfo...2\nParsingSeal...2\n");
}

TEST_F(ParsingSealTest, EmptyCertificateListIsAnEmptyElementTag) {
    EXPECT_EQ(parse(testing::encode_seal(SealSpec{})),
              expected_xml("\t<certlist />\n", "iVBORw=="));
}

TEST_F(ParsingSealTest, TextIsEscapedAndStopsAtAZeroByte) {
    SealSpec spec;
    spec.seal_id = std::string("A&B<C>", 6);
    spec.vid = std::string("R\0Z", 3);
    spec.picture_type = "";
    std::string xml = parse(testing::encode_seal(spec));
    EXPECT_NE(xml.find("\t<esid>A&amp;B&lt;C&gt;</esid>\n"), std::string::npos) << xml;
    EXPECT_NE(xml.find("\t<vid>R</vid>\n"), std::string::npos);
    EXPECT_NE(xml.find("\t<imgtype></imgtype>\n"), std::string::npos);
}

TEST_F(ParsingSealTest, LongDecimalsAreWrittenInFull) {
    SealSpec spec;
    spec.version = INT_MAX;
    spec.type = INT_MIN;
    std::string xml = parse(testing::encode_seal(spec));
    EXPECT_NE(xml.find("<version>2147483647</version>"), std::string::npos);
    EXPECT_NE(xml.find("<type>-2147483648</type>"), std::string::npos);
}

TEST_F(ParsingSealTest, BytesThatAreNotASealGiveNullAndKeepLength) {
    Bytes junk{0x30, 0x03, 0x02, 0x01};
    int length = 4;
    EXPECT_EQ(parse_(junk.data(), &length), nullptr);
    EXPECT_EQ(length, 4);
    EXPECT_NE(trace().find("ParsingSeal...1.e1 \xE8\xA7\xA3\xE6\x9E\x90\xE7\x94\xB5\xE5\xAD\x90"
                           "\xE5\x8D\xB0\xE7\xAB\xA0\xE6\x95\xB0\xE6\x8D\xAE\xE5\xA4\xB1\xE8"
                           "\xB4\xA5\n"),
              std::string::npos)
        << trace();
    EXPECT_EQ(trace().find("ParsingSeal...2"), std::string::npos);
}

TEST_F(ParsingSealTest, NegativeLengthReadsNothing) {
    // A whole seal behind the pointer: a reader that took -1 as a huge count would still find
    // it (and with a shorter buffer read past the caller's bytes).
    Bytes der = testing::encode_seal(SealSpec{});
    for (int negative : {-1, -2, INT_MIN}) {
        int length = negative;
        EXPECT_EQ(parse_(der.data(), &length), nullptr) << negative;
        EXPECT_EQ(length, negative);
    }
    int length = 5;
    EXPECT_EQ(parse_(nullptr, &length), nullptr);
    EXPECT_EQ(length, 5);
    EXPECT_EQ(parse_(der.data(), nullptr), nullptr);
}

TEST_F(ParsingSealTest, SecondCallReplacesFirstResultAndReleaseIsIdempotent) {
    SealSpec spec;
    Bytes first = testing::encode_seal(spec);
    spec.seal_id = "second";
    Bytes second = testing::encode_seal(spec);
    int length = static_cast<int>(first.size());
    char* a = parse_(first.data(), &length);
    ASSERT_NE(a, nullptr);
    length = static_cast<int>(second.size());
    char* b = parse_(second.data(), &length);
    ASSERT_NE(b, nullptr);
    EXPECT_NE(std::string(b).find("<esid>second</esid>"), std::string::npos);
    release_();
    release_();
    // A failed parse after a good one leaves the slot empty (no double free under ASan).
    length = static_cast<int>(first.size());
    ASSERT_NE(parse_(first.data(), &length), nullptr);
    length = 2;
    EXPECT_EQ(parse_(first.data(), &length), nullptr);
    release_();
}

TEST_F(ParsingSealTest, FourBytePictureGivesEightBase64Characters) {
    SealSpec spec;
    spec.picture = {0xFF, 0xD8, 0xFF, 0xE0};
    std::string xml = parse(testing::encode_seal(spec));
    EXPECT_NE(xml.find("<imgtdate>/9j/4A==</imgtdate>"), std::string::npos);
}

// A host that loads Sealform for each seal it reads (Sealgate does) has it unloaded again each
// time: nothing in the library, whatever else the process has loaded, keeps it in the process
// once its last user lets it go.
TEST_F(ParsingSealTest, LibraryUnloadsWhenItsLastUserLetsItGo) {
    std::string xml = parse(testing::encode_seal(SealSpec()));
    ASSERT_FALSE(xml.empty());
    Dl_info info{};
    ASSERT_NE(dladdr(reinterpret_cast<void*>(parse_), &info), 0);
    const std::string path = info.dli_fname;
    release_();
    parse_ = nullptr;
    release_ = nullptr;
    module_.reset();
    void* still = dlopen(path.c_str(), RTLD_NOW | RTLD_NOLOAD);
    EXPECT_EQ(still, nullptr) << path << " stayed loaded";
    if (still) dlclose(still);
}

}  // namespace
}  // namespace sealform
