#include "kit/platform.h"

#if defined(_WIN32)
#include <windows.h>
#endif

#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace {

#if !defined(_WIN32)
TEST(ModuleName, MapsWindowsFileNamesToSharedObjects) {
    EXPECT_EQ(kit::native_module_name("UKeyDriver.dll"), "libUKeyDriver.so");
    EXPECT_EQ(kit::native_module_name("RZLog.DLL"), "libRZLog.so");
    EXPECT_EQ(kit::native_module_name("/opt/kit/Sealform.dll"), "/opt/kit/libSealform.so");
    EXPECT_EQ(kit::native_module_name("libfoo.so"), "libfoo.so");
}
#endif

TEST(Module, MissingModuleLoadsEmptyAndHasNoSymbols) {
    kit::Module m = kit::Module::load("NoSuchModuleAnywhere.dll");
    EXPECT_FALSE(m);
    EXPECT_EQ(m.symbol("anything"), nullptr);
}

// The trace library's stand-in lies beside the test, in no system folder.
TEST(Module, BareNamesComeFromBesideOrTheSystemFolder) {
    EXPECT_TRUE(kit::Module::load("RZLog.dll"));
    EXPECT_FALSE(kit::Module::load_system("RZLog.dll"));
#if defined(_WIN32)
    EXPECT_TRUE(kit::Module::load_system("wininet.DLL"));
    EXPECT_TRUE(kit::Module::load(kit::this_module_directory() + "\\RZLog.dll"));
#else
    EXPECT_TRUE(kit::Module::load_system("libc.so.6"));
#endif
}

TEST(Module, ThisModuleDirectoryExists) {
    std::string dir = kit::this_module_directory();
    ASSERT_FALSE(dir.empty());
    std::ofstream probe(dir + "/.probe");
    EXPECT_TRUE(probe.good());
    probe.close();
    kit::remove_file(dir + "/.probe");
}

TEST(CodePage, GbkRoundTripsChineseText) {
    // "电子印章" in UTF-8 and in code page 936.
    const std::string utf8 = "\xE7\x94\xB5\xE5\xAD\x90\xE5\x8D\xB0\xE7\xAB\xA0";
    const std::string gbk = "\xB5\xE7\xD7\xD3\xD3\xA1\xD5\xC2";
    EXPECT_EQ(kit::from_utf8(utf8, 936), gbk);
    EXPECT_EQ(kit::to_utf8(gbk, 936), utf8);
    EXPECT_EQ(kit::to_utf16(gbk, 936), u"\u7535\u5B50\u5370\u7AE0");
    EXPECT_EQ(kit::from_utf16(u"\u7535\u5B50\u5370\u7AE0", 936), gbk);
    EXPECT_EQ(kit::to_utf8("plain ascii", 936), "plain ascii");
}

TEST(CodePage, InvalidBytesAreReplacedNotDropped) {
    // 0xFF is not a GBK lead byte; the rest still converts.
    std::u16string wide = kit::to_utf16(
        "a\xFF"
        "b",
        936);
    ASSERT_EQ(wide.size(), 3u);
    EXPECT_EQ(wide[0], u'a');
    EXPECT_EQ(wide[2], u'b');
    EXPECT_EQ(kit::from_utf8("x\xE2\x82", 936).substr(0, 1), "x");
}

#if !defined(_WIN32)
TEST(CodePage, MixedTextConvertsAsAWhole) {
    // ASCII around double-byte characters, a second byte in the ASCII range ("\x81\x40" is
    // U+4E02 in GBK), and invalid lead bytes next to ASCII.
    EXPECT_EQ(kit::to_utf16("<name>\xB5\xE7\xD7\xD3</name>", 936), u"<name>\u7535\u5B50</name>");
    EXPECT_EQ(kit::to_utf16("a\x81@b", 936), u"a\u4E02b");  // '@' is 0x40
    EXPECT_EQ(kit::to_utf16(std::string("a\xFF") + "bc", 936), u"a\uFFFDbc");
    EXPECT_EQ(kit::to_utf16("\xB5", 936), u"\uFFFD");
    EXPECT_EQ(kit::to_utf16("x\xE5\x8D\xB0y", 65001), u"x\u5370y");
    // GB18030's four-byte form has ASCII digits as its second and fourth bytes.
    EXPECT_EQ(kit::to_utf16("a\x81\x30\x81\x30z", 54936), u"a\u0080z");
}

// Long texts are widened and narrowed in blocks: a character beyond ASCII at every place in
// and around a block, and texts of every length up to a few blocks, convert as short ones do.
TEST(CodePage, LongTextsConvertAtEveryOffset) {
    const std::string gbk = "\xB5\xE7";  // U+7535
    for (size_t at = 0; at < 40; ++at) {
        std::string text(at, 'a');
        text += gbk;
        text.append(40, 'z');
        std::u16string wide(at, u'a');
        wide += u'\u7535';
        wide.append(40, u'z');
        EXPECT_EQ(kit::to_utf16(text, 936), wide) << "at " << at;
        EXPECT_EQ(kit::from_utf16(wide, 936), text) << "at " << at;
        // A byte from 0x80 up takes the next byte with it even across a block's end.
        std::string cut(at, 'b');
        cut += "\x81@";
        EXPECT_EQ(kit::to_utf16(cut, 936), std::u16string(at, u'b') + u"\u4E02") << "at " << at;
    }
    for (size_t n = 0; n < 70; ++n) {
        std::string text;
        std::u16string wide;
        for (size_t i = 0; i < n; ++i) {
            text += static_cast<char>(0x20 + (i * 7) % 0x5F);
            wide += static_cast<char16_t>(0x20 + (i * 7) % 0x5F);
        }
        EXPECT_EQ(kit::to_utf16(text, 936), wide) << "length " << n;
        EXPECT_EQ(kit::from_utf16(wide, 936), text) << "length " << n;
        // A unit beyond ASCII last in the text is not narrowed as if it were ASCII.
        EXPECT_EQ(kit::from_utf16(wide + u'\u7535', 936), text + gbk) << "length " << n;
        EXPECT_EQ(kit::from_utf16(wide + u'\u0100', 20127), text + "?") << "length " << n;
    }
}

TEST(CodePage, AnsiFollowsEnvironment) {
    ::setenv("KIT_ANSI_CODEPAGE", "65001", 1);
    EXPECT_EQ(kit::ansi_code_page(), 65001u);
    EXPECT_EQ(kit::to_utf8("\xE4\xB8\xAD"), "\xE4\xB8\xAD");
    ::unsetenv("KIT_ANSI_CODEPAGE");
    EXPECT_EQ(kit::ansi_code_page(), 936u);
}
#endif

// What is set is read back both through the platform layer and through the C runtime (which other
// modules and the libraries' own code may use), whatever its length; an empty value removes it.
TEST(Environment, SetReadBackAndRemove) {
    const char* name = "KIT_PLATFORM_TEST_VALUE";
    for (const std::string& value : {std::string("a=b c"), std::string(300, 'x')}) {
        ASSERT_TRUE(kit::set_environment_variable(name, value));
        EXPECT_EQ(kit::environment_variable(name), value);
        ASSERT_NE(std::getenv(name), nullptr);
        EXPECT_EQ(std::string(std::getenv(name)), value);
    }
    EXPECT_TRUE(kit::set_environment_variable(name, ""));
    EXPECT_EQ(kit::environment_variable(name), "");
    EXPECT_EQ(std::getenv(name), nullptr);
    EXPECT_TRUE(kit::set_environment_variable(name, ""));  // removing what is not there
    EXPECT_FALSE(kit::set_environment_variable("", "v"));
    EXPECT_FALSE(kit::set_environment_variable(nullptr, "v"));
}

TEST(TempFile, IsCreatedEmptyUniqueAndRemovedOnScopeExit) {
    std::string first, second;
    {
        kit::TempFile a, b;
        ASSERT_TRUE(a);
        ASSERT_TRUE(b);
        first = a.path();
        second = b.path();
        EXPECT_NE(first, second);
        std::vector<uint8_t> content{1};
        ASSERT_TRUE(kit::read_whole_file(first, content));
        EXPECT_TRUE(content.empty());
        EXPECT_EQ(first.rfind(kit::temp_directory(), 0), 0u);
    }
    std::vector<uint8_t> content;
    EXPECT_FALSE(kit::read_whole_file(first, content));
    EXPECT_FALSE(kit::read_whole_file(second, content));
}

TEST(WholeFile, WritesAndReadsBinaryBytes) {
    kit::TempFile t;
    std::vector<uint8_t> data(200000);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 7);
    ASSERT_TRUE(kit::write_whole_file(t.path(), data.data(), data.size()));
    std::vector<uint8_t> back;
    ASSERT_TRUE(kit::read_whole_file(t.path(), back));
    EXPECT_EQ(back, data);
    EXPECT_FALSE(kit::read_whole_file(t.path() + ".missing", back));
    EXPECT_EQ(back, data);  // a failed read leaves the output alone
}

#if defined(_WIN32)
// A debug-output listener as debugging tools run one: the "DBWinMutex" mutex, the 4096-byte
// "DBWIN_BUFFER" section (the writer's process id, then the text) and its two events.
class DebugOutputListener {
  public:
    DebugOutputListener()
        : mutex_(CreateMutexA(nullptr, FALSE, "DBWinMutex")),
          section_(CreateFileMappingA(INVALID_HANDLE_VALUE, nullptr, PAGE_READWRITE, 0, 4096,
                                      "DBWIN_BUFFER")),
          buffer_ready_(CreateEventA(nullptr, FALSE, TRUE, "DBWIN_BUFFER_READY")),
          data_ready_(CreateEventA(nullptr, FALSE, FALSE, "DBWIN_DATA_READY")),
          view_(section_ ? MapViewOfFile(section_, FILE_MAP_READ, 0, 0, 4096) : nullptr) {}
    ~DebugOutputListener() {
        if (view_) UnmapViewOfFile(view_);
        for (HANDLE h : {data_ready_, buffer_ready_, section_, mutex_})
            if (h) CloseHandle(h);
    }
    bool ready() const { return mutex_ && view_ && buffer_ready_ && data_ready_; }
    // The next text written, or "(nothing)" when none comes within `ms`.
    std::string next(DWORD ms) {
        if (WaitForSingleObject(data_ready_, ms) != WAIT_OBJECT_0) return "(nothing)";
        const char* text = static_cast<const char*>(view_) + sizeof(DWORD);
        std::string out(text, strnlen(text, 4096 - sizeof(DWORD)));
        SetEvent(buffer_ready_);
        return out;
    }

  private:
    HANDLE mutex_, section_, buffer_ready_, data_ready_;
    void* view_;
};

// Markers are written only when someone can read them, and then byte for byte.
TEST(DebugOutput, MarkersReachAListenerByteForByte) {
    DebugOutputListener listener;
    ASSERT_TRUE(listener.ready());
    // The writer looks for a listener at most about once a second: probe until one arrives.
    std::string got;
    for (int i = 0; i < 40 && got != "probe"; ++i) {
        kit::debug_output("probe");
        got = listener.next(100);
    }
    ASSERT_EQ(got, "probe") << "no marker reached the listener";
    for (const char* marker :
         {"ParsingSeal...1", "GetSealInfo---------------------------2::\xB2\xE2",
          "MakeSeal...e.7:6"}) {
        kit::debug_output(marker);
        EXPECT_EQ(listener.next(2000), marker);
    }
}
#endif

#if !defined(_WIN32)
TEST(Screen, DefaultsAndOverrides) {
    ::unsetenv("KIT_SCREEN");
    ::unsetenv("KIT_SCREEN_DPI");
    auto m = kit::screen_metrics();
    EXPECT_EQ(m.width, 1920);
    EXPECT_EQ(m.height, 1080);
    EXPECT_EQ(m.dpi_x, 96);
    ::setenv("KIT_SCREEN", "1280x1024", 1);
    ::setenv("KIT_SCREEN_DPI", "120", 1);
    m = kit::screen_metrics();
    EXPECT_EQ(m.width, 1280);
    EXPECT_EQ(m.height, 1024);
    EXPECT_EQ(m.dpi_x, 120);
    EXPECT_EQ(m.dpi_y, 120);
    ::unsetenv("KIT_SCREEN");
    ::unsetenv("KIT_SCREEN_DPI");
}
#endif

}  // namespace
