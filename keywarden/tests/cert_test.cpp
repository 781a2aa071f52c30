// Certificate details, the expiry notice and the personal store.
#include <windows.h>
#include <wincrypt.h>
#include <gtest/gtest.h>

#include <memory>
#include <set>
#include <tuple>

#include "app.h"
#include "items.h"
#include "key_texts.h"
#include "resource.h"
#include "support.h"

using namespace kwtest;

namespace {

FILETIME Ft(int y, int mo, int d, int h, int mi, int s) {
    SYSTEMTIME st = {};
    st.wYear = static_cast<WORD>(y);
    st.wMonth = static_cast<WORD>(mo);
    st.wDay = static_cast<WORD>(d);
    st.wHour = static_cast<WORD>(h);
    st.wMinute = static_cast<WORD>(mi);
    st.wSecond = static_cast<WORD>(s);
    FILETIME ft;
    SystemTimeToFileTime(&st, &ft);
    return ft;
}

SYSTEMTIME St(const FILETIME& ft) {
    SYSTEMTIME st;
    FileTimeToSystemTime(&ft, &st);
    return st;
}

FILETIME Plus(FILETIME ft, long long seconds) {
    ULARGE_INTEGER v;
    v.LowPart = ft.dwLowDateTime;
    v.HighPart = ft.dwHighDateTime;
    v.QuadPart += seconds * 10000000LL;
    ft.dwLowDateTime = v.LowPart;
    ft.dwHighDateTime = v.HighPart;
    return ft;
}

// An opened software key with its objects read.
struct OpenKey {
    explicit OpenKey(const std::string& serialNumber) : serial(serialNumber) {
        SetPresent(serial, true);
        dev = std::make_shared<CDevObject>(DeviceName(serial).c_str());
        EXPECT_EQ(dev->OpenToken(), 0u);
        EXPECT_EQ(dev->GetAllInfo(), 0u);
        EXPECT_TRUE(ProviderEntries().empty());  // reading registers nothing
        dev->RegisterCertificates();
    }
    ~OpenKey() {
        dev.reset();
        SetPresent(serial, false);
    }
    std::string serial;
    std::shared_ptr<CDevObject> dev;
};

}  // namespace

TEST(HexText, TwoCapitalDigitsPerByteAndSizeCheck) {
    const uint8_t bytes[] = {0x0a, 0xff, 0x10, 0x9c};
    char out[9];
    ASSERT_EQ(BytesToHex(bytes, 4, sizeof out, out), 0);
    EXPECT_STREQ(out, "0AFF109C");
    char small[7] = "zzzzzz";
    EXPECT_EQ(BytesToHex(bytes, 4, sizeof small, small), -1);
    EXPECT_STREQ(small, "zzzzzz");  // nothing written
    EXPECT_EQ(BytesToHex(nullptr, 4, sizeof out, out), -1);
    EXPECT_EQ(BytesToHex(bytes, 4, sizeof out, nullptr), -1);
}

TEST(ExpiryNotice, DaysAreCountedFromTheWallClockPlusEightHours) {
    // The local wall clock of a machine in China: UTC + 8 hours.
    FILETIME nowUtc = Ft(2026, 12, 6, 2, 0, 0);
    SYSTEMTIME local = St(Plus(nowUtc, 8 * 3600));
    int days = -1;
    EXPECT_EQ(ComputeExpiry(Plus(nowUtc, 10 * 86400 + 3 * 3600), local, &days), EXPIRY_SOON);
    EXPECT_EQ(days, 11);
    EXPECT_EQ(ComputeExpiry(Plus(nowUtc, -30 * 3600), local, &days), EXPIRY_PAST);
    EXPECT_EQ(days, 1);
    EXPECT_EQ(ComputeExpiry(Plus(nowUtc, -2 * 3600), local, &days), EXPIRY_TODAY);
    EXPECT_EQ(ComputeExpiry(Plus(nowUtc, 89 * 86400 + 100), local, &days), EXPIRY_SOON);
    EXPECT_EQ(days, 90);
    EXPECT_EQ(ComputeExpiry(Plus(nowUtc, 90 * 86400), local, &days), EXPIRY_NONE);
    EXPECT_EQ(ComputeExpiry(nowUtc, local, &days), EXPIRY_TODAY);  // d = 0
}

TEST(ExpiryNotice, NoticeKeepsWholeLinesAndRoomForTheClosingSentence) {
    CertNotice notice;
    notice.Clear();
    EXPECT_FALSE(notice.Finish());
    EXPECT_TRUE(notice.IsEmpty());
    std::wstring line(100, L'x');
    line += L"\n";
    for (int i = 0; i < 40; ++i) notice.AppendLine(line.c_str());  // 4040 characters offered
    ASSERT_TRUE(notice.Finish());
    wchar_t text[kCertNoticeSize + 16];
    notice.Copy(text, sizeof text / sizeof text[0]);
    std::wstring s(text);
    EXPECT_LT(s.size(), kCertNoticeSize);
    size_t lines = 0;
    for (wchar_t c : s) lines += c == L'\n';
    EXPECT_EQ(lines, (kCertNoticeSize - kCertNoticeClosingRoom - 1) / line.size());
    wchar_t closing[128] = {};
    LoadStringW(GetModuleHandleW(nullptr), IDS_CERT_RENEW, closing, 128);
    ASSERT_GT(wcslen(closing), 0u);
    EXPECT_EQ(s.substr(s.size() - wcslen(closing)), closing);
    notice.Clear();
}

TEST(ExpiryNotice, LinesAfterTheClosingSentenceStartANewNotice) {
    CertNotice notice;
    notice.Clear();
    notice.AppendLine(L"first\n");
    ASSERT_TRUE(notice.Finish());
    notice.AppendLine(L"second\n");  // appended without clearing
    wchar_t text[kCertNoticeSize];
    notice.Copy(text, kCertNoticeSize);
    EXPECT_EQ(std::wstring(text), L"second\n");
    ASSERT_TRUE(notice.Finish());
    notice.Copy(text, kCertNoticeSize);
    EXPECT_EQ(std::wstring(text).rfind(L"second\n", 0), 0u);
    EXPECT_EQ(std::wstring(text).find(L"first"), std::wstring::npos);
    notice.Clear();
}

TEST(CertificateObjects, RsaCertificatesAreRegisteredWithTheKeyProviderAndSm2NeverAre) {
    OpenKey key("KWA");
    // KWA: two RSA containers with both certificates, one SM2 container. Each RSA certificate
    // is bound to its own container and key kind, under the key provider.
    std::set<std::tuple<std::wstring, std::wstring, DWORD>> entries;
    for (const auto& e : ProviderEntries()) {
        EXPECT_EQ(e.provider, L"KEVA FOR UKEY CSP v1.1.0");
        EXPECT_EQ(e.provType, static_cast<DWORD>(PROV_RSA_FULL));
        entries.emplace(e.subject, e.container, e.keySpec);
    }
    const DWORD sign = AT_SIGNATURE, exch = AT_KEYEXCHANGE;
    EXPECT_EQ(entries, (std::set<std::tuple<std::wstring, std::wstring, DWORD>>{
                           {L"RSA Exch KWA #1", L"RSA-KWA-1", exch},
                           {L"RSA Sign KWA #1", L"RSA-KWA-1", sign},
                           {L"RSA Exch KWA #2", L"RSA-KWA-2", exch},
                           {L"RSA Sign KWA #2", L"RSA-KWA-2", sign}}));
    EXPECT_EQ(ProviderEntries().size(), 4u);
    EXPECT_FALSE(StoreHasSubject(L"SM2 Sign KWA #3"));
    // The SM2 certificates are still read and shown.
    CContainObj* sm2 = key.dev->containers[2].get();
    ASSERT_NE(sm2, nullptr);
    EXPECT_TRUE(sm2->IsSM2());
    ASSERT_NE(sm2->signatureCert, nullptr);
    EXPECT_STREQ(sm2->signatureCert->subjectName, L"SM2 Sign KWA #3");
    CCertObject* cert = key.dev->containers[0]->exchangeCert.get();
    ASSERT_NE(cert, nullptr);
    EXPECT_STREQ(cert->subjectName, L"RSA Exch KWA #1");
    EXPECT_STREQ(cert->issuerName, L"RSA Exch KWA #1");
    EXPECT_EQ(strlen(cert->serialText) % 2, 0u);
    EXPECT_GT(strlen(cert->serialText), 0u);
    EXPECT_NE(strstr(cert->notAfterText, " GMT"), nullptr);
    key.dev.reset();
    EXPECT_TRUE(ProviderEntries().empty());
}

TEST(CertificateObjects, RegisteringAgainReplacesTheEntryAndItsProperty) {
    OpenKey key("KWB");
    CCertObject* cert = key.dev->containers[0]->signatureCert.get();
    ASSERT_NE(cert, nullptr);
    // Rebind the same certificate to another container name behind the program's back.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                      cert->der, cert->derLength);
    if (PCCERT_CONTEXT old = CertFindCertificateInStore(
            store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0, CERT_FIND_EXISTING, ctx, nullptr))
        CertDeleteCertificateFromStore(old);
    CRYPT_KEY_PROV_INFO other = {};
    other.pwszContainerName = const_cast<wchar_t*>(L"stale");
    other.pwszProvName = const_cast<wchar_t*>(L"KEVA FOR UKEY CSP v1.1.0");
    other.dwProvType = PROV_RSA_FULL;
    other.dwKeySpec = AT_KEYEXCHANGE;
    CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &other);
    ASSERT_TRUE(
        CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_REPLACE_EXISTING, nullptr));
    CertFreeCertificateContext(ctx);
    CertCloseStore(store, 0);

    bool staleSeen = false;
    for (const auto& e : ProviderEntries()) staleSeen |= e.container == L"stale";
    ASSERT_TRUE(staleSeen);
    EXPECT_EQ(cert->RegisterCert(), 1);
    int found = 0;
    for (const auto& e : ProviderEntries()) {
        if (e.subject != L"RSA Sign KWB #1") continue;
        ++found;
        EXPECT_EQ(e.container, L"RSA-KWB-1");
        EXPECT_EQ(e.keySpec, static_cast<DWORD>(AT_SIGNATURE));
    }
    EXPECT_EQ(found, 1);
}

TEST(CertificateObjects, UndecodableCertificateIsDroppedAndUnregisterOfAbsentOneSucceeds) {
    const uint8_t junk[] = {0x30, 0x03, 0x02, 0x01, 0x05};
    CCertObject bad(nullptr, {}, 1, junk, sizeof junk);
    EXPECT_NE(bad.GetCertInfo(), 0u);
    OpenKey key("KWB");
    CCertObject copy(key.dev->containers[0].get(), {}, 2,
                     key.dev->containers[0]->signatureCert->der,
                     key.dev->containers[0]->signatureCert->derLength);
    EXPECT_FALSE(copy.Registered());
    // The key's own object registered the certificate; the copy's removal takes that entry.
    const std::wstring subject = key.dev->containers[0]->signatureCert->subjectName;
    ASSERT_TRUE(key.dev->containers[0]->signatureCert->Registered());
    ASSERT_TRUE(StoreHasSubject(subject));
    EXPECT_EQ(copy.UnregisterCert(), 1);
    EXPECT_FALSE(StoreHasSubject(subject));
    EXPECT_EQ(copy.UnregisterCert(), 1);  // not found any more: still done
    EXPECT_FALSE(StoreHasSubject(subject));
}

TEST(CertificateObjects, ExpiryLinesComeFromTheStringTableWithTheSerial) {
    OpenKey key("KWE");  // certificates end in 10 days and 3 hours
    CCertObject* cert = key.dev->containers[0]->signatureCert.get();
    ASSERT_NE(cert, nullptr);
    SYSTEMTIME utc;
    GetSystemTime(&utc);
    FILETIME ft;
    SystemTimeToFileTime(&utc, &ft);
    SYSTEMTIME chinaWallClock = St(Plus(ft, 8 * 3600));
    ASSERT_EQ(cert->GetCertInfo(chinaWallClock), 0u);
    wchar_t text[kCertNoticeSize];
    ExpiryLine({cert->expiry, cert->expiryDays, cert->serialText}, text, kCertNoticeSize);
    // The line of the string table in the test machine's language (Simplified Chinese), with the
    // serial as the system decodes it from the certificate: two capital hex digits a byte, most
    // significant first.
    PCCERT_CONTEXT ctx =
        CertCreateCertificateContext(X509_ASN_ENCODING, cert->der, cert->derLength);
    ASSERT_NE(ctx, nullptr);
    std::wstring serial;
    const CRYPT_INTEGER_BLOB& sn = ctx->pCertInfo->SerialNumber;
    for (DWORD i = sn.cbData; i-- > 0;) {
        wchar_t hex[3];
        swprintf(hex, 3, L"%02X", sn.pbData[i]);
        serial += hex;
    }
    CertFreeCertificateContext(ctx);
    ASSERT_FALSE(serial.empty());
    EXPECT_EQ(std::wstring(text), L"\u5E8F\u5217\u53F7" + serial +
                                      L"\u7684\u6570\u5B57\u8BC1\u4E66\u8DDD\u79BB\u5230"
                                      L"\u671F\u8FD8\u6709"
                                      L"11\u5929\n");
}

TEST(StoreSweep, RemovesTheProviderEntriesOfAnyCaseAndKeepsOthers) {
    OpenKey key("KWB");
    CCertObject* a = key.dev->containers[0]->signatureCert.get();
    CCertObject* b = key.dev->containers[0]->exchangeCert.get();
    ASSERT_TRUE(a && b);
    // Leftovers of an earlier run in lower case, and a certificate of another provider.
    HCERTSTORE store = CertOpenStore(CERT_STORE_PROV_SYSTEM_REGISTRY_W, 0, 0,
                                     CERT_SYSTEM_STORE_CURRENT_USER, L"My");
    auto add = [&](CCertObject* c, const wchar_t* provider) {
        PCCERT_CONTEXT ctx = CertCreateCertificateContext(X509_ASN_ENCODING | PKCS_7_ASN_ENCODING,
                                                          c->der, c->derLength);
        CRYPT_KEY_PROV_INFO info = {};
        info.pwszContainerName = const_cast<wchar_t*>(L"left");
        info.pwszProvName = const_cast<wchar_t*>(provider);
        info.dwProvType = PROV_RSA_FULL;
        info.dwKeySpec = AT_SIGNATURE;
        CertSetCertificateContextProperty(ctx, CERT_KEY_PROV_INFO_PROP_ID, 0, &info);
        if (PCCERT_CONTEXT old =
                CertFindCertificateInStore(store, X509_ASN_ENCODING | PKCS_7_ASN_ENCODING, 0,
                                           CERT_FIND_EXISTING, ctx, nullptr))
            CertDeleteCertificateFromStore(old);
        CertAddCertificateContextToStore(store, ctx, CERT_STORE_ADD_REPLACE_EXISTING, nullptr);
        CertFreeCertificateContext(ctx);
    };
    add(a, L"keva for ukey csp v1.1.0");
    add(b, L"Microsoft Enhanced Cryptographic Provider v1.0");
    CertCloseStore(store, 0);
    EXPECT_GE(SweepProviderCertificates(), 1);
    EXPECT_FALSE(StoreHasSubject(a->subjectName));
    EXPECT_TRUE(StoreHasSubject(b->subjectName));
    b->UnregisterCert();
    EXPECT_FALSE(b->Registered());
}

// A C++ exception that reaches std::terminate ends the program, but the clean-up installed at
// start removes the registered certificates first (the crash path is tested on Keywarden.exe).
TEST(StoreSweep, TerminateRemovesTheRegisteredCertificatesFirst) {
    EXPECT_EXIT(
        {
            OpenKey key("KWB");
            if (ProviderEntries().empty()) _exit(10);  // nothing registered to clean up
            InstallCrashCleanup();
            std::terminate();
        },
        [](int code) { return code == 3; }, "");  // abort's exit code
    EXPECT_TRUE(ProviderEntries().empty());
    SetPresent("KWB", false);
}
