// The pieces of the seal record and the status request, one by one.
#include <gtest/gtest.h>

#include "kit/base64.h"
#include "seal_record.h"
#include "status_check.h"
#include "status_request.h"
#include "testpki.h"

namespace sealgate {
namespace {

TEST(Validity, ReformatsFullShortAndEmptyTexts) {
    EXPECT_EQ(reformat_validity("20210702035045Z"), "2021/07/02 03:50:45");
    EXPECT_EQ(reformat_validity("20210702035045"), "2021/07/02 03:50:45");
    EXPECT_EQ(reformat_validity("202107"), "2021/07/ ::");
    EXPECT_EQ(reformat_validity(""), "// ::");
}

std::string subject_of(const std::vector<std::pair<std::string, std::string>>& rdns,
                       bool multi_valued_last = false) {
    testpki::Pkey key = testpki::make_sm2_key();
    testpki::Cert cert(X509_new());
    X509_set_version(cert.get(), 2);
    X509_NAME* name = X509_get_subject_name(cert.get());
    for (size_t i = 0; i < rdns.size(); ++i) {
        bool join = multi_valued_last && i + 1 == rdns.size();
        X509_NAME_add_entry_by_txt(name, rdns[i].first.c_str(), MBSTRING_UTF8,
                                   reinterpret_cast<const unsigned char*>(rdns[i].second.c_str()),
                                   -1, -1, join ? -1 : 0);
    }
    X509_set_issuer_name(cert.get(), name);
    X509_set_pubkey(cert.get(), key.get());
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_sign(cert.get(), key.get(), EVP_sm3());
    std::string out;
    EXPECT_EQ(_GetDN(kit::base64_encode(testpki::cert_der(cert.get())), out), 0);
    return out;
}

TEST(HolderName, RendersTheSubjectAsAnX500String) {
    EXPECT_EQ(subject_of({{"C", "CN"}, {"O", "Kit Test"}, {"CN", "Holder One"}}),
              "C=CN, O=Kit Test, CN=Holder One");
    EXPECT_EQ(subject_of({{"O", "A, B"}, {"OU", "say \"hi\""}, {"CN", " pad"}}),
              "O=\"A, B\", OU=\"say \"\"hi\"\"\", CN=\" pad\"");
    EXPECT_EQ(subject_of({{"CN", "x"}, {"emailAddress", "a@b.c"}}, true), "CN=x + E=a@b.c");
    // UTF-8 names come out in the ANSI code page (GBK here).
    EXPECT_EQ(subject_of({{"CN", "\xE5\x8D\xB0"}}), "CN=\xD3\xA1");
}

TEST(HolderName, SeventyByteCommonNameComesOutWhole) {
    // Beyond the usual upper bound of 64, as some issuers write it.
    testpki::Pkey key = testpki::make_sm2_key();
    testpki::Cert cert(X509_new());
    X509_NAME* name = X509_get_subject_name(cert.get());
    std::string cn(70, 'N');
    X509_NAME_ENTRY* e = X509_NAME_ENTRY_create_by_NID(
        nullptr, NID_commonName, V_ASN1_UTF8STRING,
        reinterpret_cast<const unsigned char*>(cn.data()), static_cast<int>(cn.size()));
    ASSERT_TRUE(e);
    X509_NAME_add_entry(name, e, -1, 0);
    X509_NAME_ENTRY_free(e);
    X509_set_pubkey(cert.get(), key.get());
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_sign(cert.get(), key.get(), EVP_sm3());
    std::string out;
    ASSERT_EQ(_GetDN(kit::base64_encode(testpki::cert_der(cert.get())), out), 0);
    EXPECT_EQ(out, "CN=" + cn);
    EXPECT_EQ(cut_text(holder_from_subject(out), 63), std::string(63, 'N'));
}

TEST(HolderName, CutsAfterTheFirstCnAndToSixtyThreeBytes) {
    EXPECT_EQ(holder_from_subject("C=CN, O=Kit, CN=Holder"), "Holder");
    EXPECT_EQ(holder_from_subject("O=Kit"), "O=Kit");
    EXPECT_EQ(cut_text(std::string(70, 'a'), 63), std::string(63, 'a'));
    // A double-byte character is not split: 31 of them are 62 bytes.
    std::string gbk;
    for (int i = 0; i < 40; ++i) gbk += "\xD3\xA1";
    EXPECT_EQ(cut_text(gbk, 63).size(), 62u);
    EXPECT_EQ(cut_text("a" + gbk, 63).size(), 63u);
}

TEST(HolderName, CertificatesThatGiveNoName) {
    std::string out = "unchanged";
    EXPECT_EQ(_GetDN("", out), 1);
    EXPECT_EQ(_GetDN("bm90IGEgY2VydA==", out), 1);
    // A real certificate cut short, and one whose fields before the subject are not there.
    testpki::Pkey k = testpki::make_sm2_key();
    testpki::Bytes whole = testpki::cert_der(testpki::make_certificate(k.get(), {}).get());
    testpki::Bytes cut(whole.begin(), whole.begin() + 60);
    EXPECT_EQ(_GetDN(kit::base64_encode(cut), out), 1);
    const testpki::Bytes hollow = {0x30, 0x04, 0x30, 0x02, 0x05, 0x00};
    EXPECT_EQ(_GetDN(kit::base64_encode(hollow), out), 1);
    EXPECT_EQ(out, "unchanged");
    testpki::Pkey key = testpki::make_sm2_key();
    testpki::Cert cert(X509_new());
    X509_set_pubkey(cert.get(), key.get());
    X509_gmtime_adj(X509_getm_notBefore(cert.get()), 0);
    X509_gmtime_adj(X509_getm_notAfter(cert.get()), 3600);
    X509_sign(cert.get(), key.get(), EVP_sm3());
    EXPECT_EQ(_GetDN(kit::base64_encode(testpki::cert_der(cert.get())), out), 2);
}

TEST(StatusRequest, DocumentAndBodyAreExact) {
    EXPECT_EQ(status_request_document(u"3201<&>"),
              u"<request>\r\n<sealcode>3201&lt;&amp;&gt;</sealcode>\r\n</request>\r\n");
    EXPECT_EQ(status_request_body(u"42"), registry::status_request_form("42"));
}

}  // namespace
}  // namespace sealgate
