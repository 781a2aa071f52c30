#include "kit/trace.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "kit/platform.h"

namespace {

std::string read_text(const std::string& path) {
    std::vector<uint8_t> data;
    kit::read_whole_file(path, data);
    return std::string(data.begin(), data.end());
}

// The trace library stand-in is built beside this test program, so it is found the way the
// libraries find it: by its Windows file name, beside the loading module.
TEST(Trace, ReachesTraceLibraryWithArgumentsFormattedThere) {
    kit::TempFile sink;
    kit::set_environment_variable("RZLOG_FILE", sink.path());
    kit::trace("%s...1", "GetImgInfo");
    kit::trace("%s...1.e1 %s", "ParsingSeal", "\xE8\xA7\xA3\xE6\x9E\x90");
    kit::trace("%s---------------------------%d", "InitialSession", 1);
    EXPECT_EQ(read_text(sink.path()),
              "GetImgInfo...1\nParsingSeal...1.e1 \xE8\xA7\xA3\xE6\x9E\x90\n"
              "InitialSession---------------------------1\n");
    kit::set_environment_variable("RZLOG_FILE", "");
}

#if !defined(_WIN32)
TEST(Trace, MarkersGoToDebuggerOutputSink) {
    kit::TempFile sink;
    kit::set_environment_variable("KIT_DEBUG_OUTPUT", sink.path());
    kit::trace_marker("MakeSeal...e.3");
    kit::trace_marker("PostData...........................7");
    EXPECT_EQ(read_text(sink.path()), "MakeSeal...e.3\nPostData...........................7\n");
    kit::set_environment_variable("KIT_DEBUG_OUTPUT", "");
    kit::trace_marker("dropped");  // no sink: nothing, no crash
}
#endif

}  // namespace
