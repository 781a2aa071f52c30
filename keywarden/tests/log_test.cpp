// The log file: line format, levels, hourly files and concurrent writers.
#include "log.h"

#include <gtest/gtest.h>

#include <regex>
#include <thread>
#include <vector>

#include "app.h"
#include "support.h"

using namespace kwtest;

namespace {

SYSTEMTIME g_fake;
void FakeClock(SYSTEMTIME* now) { *now = g_fake; }

class LogTest : public ::testing::Test {
  protected:
    void SetUp() override { prefix_ = MakeTempDir("log") + "\\Client"; }
    void TearDown() override {
        LogSetClock(nullptr);
        LogInit(4, "CLIENT", prefix_.c_str());
    }
    std::string prefix_;
};

SYSTEMTIME At(int h, int m, int s, int ms) {
    SYSTEMTIME t = {};
    t.wYear = 2026;
    t.wMonth = 12;
    t.wDay = 6;
    t.wHour = static_cast<WORD>(h);
    t.wMinute = static_cast<WORD>(m);
    t.wSecond = static_cast<WORD>(s);
    t.wMilliseconds = static_cast<WORD>(ms);
    return t;
}

}  // namespace

TEST_F(LogTest, LineHasLabelTagTimeWithSixDigitMillisecondsAndThreadId) {
    LogInit(4, "CLIENT", prefix_.c_str());
    LogSetClock(FakeClock);
    g_fake = At(10, 26, 5, 7);
    LogMessage(LOG_LEVEL_DEBUG, "%s start...", "CDevObject::OpenToken");
    g_fake = At(10, 26, 5, 123);
    LogMessage(LOG_LEVEL_ERROR, "GetRetryTimes Err[%#x]", 0x80006983u);
    auto text = ReadText(prefix_ + "_2026-12-06-10.log");
    auto lines = Lines(text);
    ASSERT_EQ(lines.size(), 2u);
    char tid[32];
    snprintf(tid, sizeof tid, "%#x", static_cast<unsigned>(GetCurrentThreadId()));
    EXPECT_EQ(lines[0], std::string("[DEBUG] CLIENT 2026-12-06 10:26:05,000007 tid:[") + tid +
                            "] CDevObject::OpenToken start...");
    EXPECT_EQ(lines[1], std::string("[ERROR] CLIENT 2026-12-06 10:26:05,000123 tid:[") + tid +
                            "] GetRetryTimes Err[0x80006983]");
    // Text mode: each line ends in CR LF in the file.
    EXPECT_NE(text.find("start...\r\n"), std::string::npos);
}

TEST_F(LogTest, MessagesOfTwoHoursGoToTwoFiles) {
    LogInit(4, "CLIENT", prefix_.c_str());
    LogSetClock(FakeClock);
    g_fake = At(10, 59, 59, 999);
    LogMessage(LOG_LEVEL_DEBUG, "last of ten");
    g_fake = At(11, 0, 0, 0);
    LogMessage(LOG_LEVEL_DEBUG, "first of eleven");
    auto ten = Lines(ReadText(prefix_ + "_2026-12-06-10.log"));
    auto eleven = Lines(ReadText(prefix_ + "_2026-12-06-11.log"));
    ASSERT_EQ(ten.size(), 1u);
    ASSERT_EQ(eleven.size(), 1u);
    EXPECT_NE(ten[0].find("10:59:59,000999"), std::string::npos);
    EXPECT_NE(ten[0].find("last of ten"), std::string::npos);
    EXPECT_NE(eleven[0].find("11:00:00,000000"), std::string::npos);
}

TEST_F(LogTest, LevelSettingFiltersMessages) {
    struct Case {
        int setting;
        int expected;  // lines out of one error and one debug message
    } cases[] = {{0, 0}, {1, 1}, {4, 2}, {-3, 0}};
    for (const Case& c : cases) {
        std::string prefix = MakeTempDir("lvl") + "\\Client";
        LogInit(c.setting, "CLIENT", prefix.c_str());
        LogMessage(LOG_LEVEL_ERROR, "error line");
        LogMessage(LOG_LEVEL_DEBUG, "debug line");
        LogMessage(7, "no such level");
        EXPECT_EQ(static_cast<int>(LogLines(prefix).size()), c.expected)
            << "loglevel " << c.setting;
    }
}

TEST_F(LogTest, NullPrefixChangesNothingAndMissingFolderLosesLineQuietly) {
    LogInit(4, "CLIENT", prefix_.c_str());
    LogInit(1, "OTHER", nullptr);
    EXPECT_EQ(LogLevelSetting(), 4);
    LogMessage(LOG_LEVEL_DEBUG, "kept");
    EXPECT_EQ(LogLines(prefix_).size(), 1u);
    LogInit(4, "CLIENT", (prefix_ + "-missing\\sub\\Client").c_str());
    LogMessage(LOG_LEVEL_ERROR, "lost");  // must not crash or create the folder
    EXPECT_EQ(GetFileAttributesA((prefix_ + "-missing").c_str()), INVALID_FILE_ATTRIBUTES);
}

TEST_F(LogTest, OverlongMessageIsCutAndStillEndsTheLine) {
    LogInit(4, "CLIENT", prefix_.c_str());
    std::string huge(10000, 'x');
    LogMessage(LOG_LEVEL_DEBUG, "%s", huge.c_str());
    LogMessage(LOG_LEVEL_DEBUG, "after");
    auto lines = LogLines(prefix_);
    ASSERT_EQ(lines.size(), 2u);
    // The head and as much of the message as fits a 4096-byte record with its line feed and
    // terminator: 4094 characters of text.
    std::regex cut(
        R"(^\[DEBUG\] CLIENT \d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{6} tid:\[0x[0-9a-f]+\] x+$)");
    EXPECT_TRUE(std::regex_match(lines[0], cut)) << lines[0].substr(0, 80);
    EXPECT_EQ(lines[0].size(), 4094u);
    std::regex after(
        R"(^\[DEBUG\] CLIENT \d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{6} tid:\[0x[0-9a-f]+\] after$)");
    EXPECT_TRUE(std::regex_match(lines[1], after)) << lines[1];
}

TEST_F(LogTest, ConcurrentThreadsNeverMixLines) {
    LogInit(4, "CLIENT", prefix_.c_str());
    const int threads = 6, perThread = 150;
    std::vector<std::thread> pool;
    for (int t = 0; t < threads; ++t)
        pool.emplace_back([t] {
            std::string body(200, static_cast<char>('a' + t));
            for (int i = 0; i < perThread; ++i)
                LogMessage(LOG_LEVEL_DEBUG, "w%d-%04d %s", t, i, body.c_str());
        });
    for (auto& th : pool) th.join();
    auto lines = LogLines(prefix_);
    ASSERT_EQ(lines.size(), static_cast<size_t>(threads * perThread));
    std::regex shape(
        R"(^\[DEBUG\] CLIENT \d{4}-\d\d-\d\d \d\d:\d\d:\d\d,\d{6} tid:\[0x[0-9a-f]+\] w(\d)-\d{4} ([a-z])\2{199}$)");
    for (const auto& l : lines) {
        std::smatch m;
        ASSERT_TRUE(std::regex_match(l, m, shape)) << l;
        EXPECT_EQ(m[2].str()[0], 'a' + std::stoi(m[1].str()));
    }
}

TEST(StartupArguments, OnlyTheWholeTextMinLengthensTheWait) {
    EXPECT_EQ(StartupWaitFor("/min"), 1500u);
    EXPECT_EQ(StartupWaitFor("/MIN"), 1500u);
    EXPECT_EQ(StartupWaitFor("/min x"), 500u);
    EXPECT_EQ(StartupWaitFor(""), 500u);
    EXPECT_EQ(StartupWaitFor(nullptr), 500u);
    char path[MAX_PATH + 32];
    GetConfigPath(path, sizeof path);
    EXPECT_EQ(std::string(path), ProgramDir() + "\\config.ini");
}
