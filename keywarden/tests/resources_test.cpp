// The program's own resources: version text, PNG images and the texts the core posts.
#include "resources.h"

#include <windows.h>
#include <gtest/gtest.h>

#include "png_loader.h"
#include "resource.h"

TEST(Resources, VersionTextComesFromTheVersionResource) {
    wchar_t text[64];
    ASSERT_TRUE(GetVersionText(text, 64));
    EXPECT_STREQ(text, L"1.1.8.45");
    wchar_t tiny[4];
    ASSERT_TRUE(GetVersionText(tiny, 4));
    EXPECT_EQ(wcslen(tiny), 3u);  // cut, never overrun
}

TEST(Resources, PngResourceDecodesToABitmapAndMissingOnesGiveNothing) {
    GdiplusSession gdiplus;
    HBITMAP bmp = LoadPngResource(nullptr, 300, L"PNG");
    ASSERT_NE(bmp, nullptr);
    BITMAP info = {};
    GetObjectW(bmp, sizeof info, &info);
    EXPECT_EQ(info.bmWidth, 13);
    EXPECT_EQ(info.bmHeight, 7);
    DeleteObject(bmp);
    EXPECT_EQ(LoadPngResource(nullptr, 301, L"PNG"), nullptr);
    EXPECT_EQ(LoadPngResource(nullptr, 300, L"GIF"), nullptr);
    EXPECT_EQ(LoadPngResource(nullptr, 302, L"PNG"), nullptr);  // not a PNG inside
}

TEST(Resources, StringTablesHoldTheTextsOfTheThreeLanguages) {
    struct Case {
        LANGID lang;
        int id;
        const wchar_t* text;
    } cases[] = {
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), IDS_UKEY_INSERTED, L"UKey inserted"},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), IDS_UKEY_REMOVED, L"UKey已拔出"},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_TRADITIONAL), IDS_PIN_LOCKED,
         L"口令已經被鎖定，請與管理人員聯繫。"},
        {MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US), IDS_CERT_EXPIRES_SOON,
         L"The digital certificate of serial number%s is %d days away from expiry\n"},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), IDS_CERT_NOTICE_TITLE, L"证书消息"},
        {MAKELANGID(LANG_CHINESE, SUBLANG_CHINESE_SIMPLIFIED), IDS_CERT_RENEW,
         L"请尽快办理续期相关事宜"},
    };
    for (const Case& c : cases) {
        // String resources live in blocks of 16; entry id % 16 of block id / 16 + 1.
        HRSRC res =
            FindResourceExW(nullptr, MAKEINTRESOURCEW(6), MAKEINTRESOURCEW(c.id / 16 + 1), c.lang);
        ASSERT_NE(res, nullptr) << c.id;
        auto* p = static_cast<const WCHAR*>(LockResource(LoadResource(nullptr, res)));
        for (int i = 0; i < c.id % 16; ++i) p += 1 + *p;
        EXPECT_EQ(std::wstring(p + 1, *p), c.text) << c.id;
    }
}
