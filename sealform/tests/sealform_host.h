// A test host for the Sealform library: loads it by its Windows name as a host program does,
// points the trace sinks at files of its own and gives each test a private temporary folder,
// so that tests can read the traces and see every file a call leaves behind.
#pragma once

#include <dirent.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "kit/platform.h"
#include "sealform.h"

namespace sealform::testing {

class SealformHost : public ::testing::Test {
  protected:
    using MakeFn = unsigned char* (*)(const char*, int*);
    using ReleaseFn = void (*)();
    using ParseFn = char* (*)(const unsigned char*, int*);
    using ForVerifyFn = int (*)(const unsigned char*, int, unsigned char*, int*, unsigned char*,
                                int*, unsigned char*, int*);

    void SetUp() override {
        char pattern[] = "/tmp/sealform-test-XXXXXX";
        ASSERT_NE(mkdtemp(pattern), nullptr);
        scratch_ = pattern;
        tmp_ = scratch_ + "/tmp";
        ASSERT_EQ(::mkdir(tmp_.c_str(), 0700), 0);
        ::setenv("TMPDIR", tmp_.c_str(), 1);
        ::setenv("KIT_DEBUG_OUTPUT", (scratch_ + "/markers.txt").c_str(), 1);
        ::setenv("RZLOG_FILE", (scratch_ + "/rzlog.txt").c_str(), 1);
        module_ = kit::Module::load("Sealform.dll");
        ASSERT_TRUE(module_);
        make_ = module_.function<MakeFn>("MakeSeal");
        release_ = module_.function<ReleaseFn>("ReleaseSealData");
        parse_ = module_.function<ParseFn>("ParsingSeal");
        release_info_ = module_.function<ReleaseFn>("ReleaseSealInfo");
        for_verify_ = module_.function<ForVerifyFn>("ParsingSeal_ForVerify");
        ASSERT_TRUE(make_ && release_ && parse_ && release_info_ && for_verify_);
    }

    void TearDown() override {
        if (release_) release_();
        if (release_info_) release_info_();
        ::unsetenv("KIT_DEBUG_OUTPUT");
        ::unsetenv("RZLOG_FILE");
        ::unsetenv("TMPDIR");
        for (const std::string& name : list(tmp_)) kit::remove_file(tmp_ + "/" + name);
        ::rmdir(tmp_.c_str());
        for (const std::string& name : list(scratch_)) kit::remove_file(scratch_ + "/" + name);
        ::rmdir(scratch_.c_str());
    }

    static std::vector<std::string> list(const std::string& dir) {
        std::vector<std::string> names;
        if (DIR* d = ::opendir(dir.c_str())) {
            while (dirent* e = ::readdir(d)) {
                std::string n = e->d_name;
                if (n != "." && n != "..") names.push_back(n);
            }
            ::closedir(d);
        }
        return names;
    }

    // Files left in the private temporary folder.
    std::vector<std::string> leftovers() const { return list(tmp_); }

    std::string file_text(const std::string& name) const {
        std::vector<uint8_t> data;
        kit::read_whole_file(scratch_ + "/" + name, data);
        return std::string(data.begin(), data.end());
    }
    std::string markers() const { return file_text("markers.txt"); }
    std::string rzlog() const { return file_text("rzlog.txt"); }
    void clear_traces() const {
        kit::remove_file(scratch_ + "/markers.txt");
        kit::remove_file(scratch_ + "/rzlog.txt");
    }
    // The last line of the debugger output that starts with `prefix`.
    std::string last_marker(const std::string& prefix) const {
        std::string text = markers(), found;
        size_t at = 0;
        while (at < text.size()) {
            size_t end = text.find('\n', at);
            if (end == std::string::npos) end = text.size();
            std::string line = text.substr(at, end - at);
            if (line.compare(0, prefix.size(), prefix) == 0) found = line;
            at = end + 1;
        }
        return found;
    }

    // MakeSeal's result as bytes; empty for null (the length is then checked unchanged).
    std::vector<uint8_t> make(const std::string& params) {
        int length = -7;
        unsigned char* seal = make_(params.c_str(), &length);
        if (!seal) {
            EXPECT_EQ(length, -7) << "a failed call changed the length";
            return {};
        }
        EXPECT_GT(length, 0);
        return std::vector<uint8_t>(seal, seal + length);
    }

    std::string parse(const std::vector<uint8_t>& seal) {
        int length = static_cast<int>(seal.size());
        char* xml = parse_(seal.data(), &length);
        return xml ? std::string(xml, static_cast<size_t>(length)) : std::string("(null)");
    }

    std::string scratch_, tmp_;
    kit::Module module_;
    MakeFn make_ = nullptr;
    ReleaseFn release_ = nullptr;
    ParseFn parse_ = nullptr;
    ReleaseFn release_info_ = nullptr;
    ForVerifyFn for_verify_ = nullptr;
};

}  // namespace sealform::testing
