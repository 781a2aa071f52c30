// What the softkey command does differently on each platform; softkey.cpp itself is the same
// everywhere. One implementation per platform, chosen by CMake: host_posix.cpp, host_windows.cpp.
#pragma once

#include <string>
#include <vector>

namespace softkey_host {

// The command line as UTF-8 text, program name first, and standard output set up for UTF-8
// text. POSIX: the arguments as given (terminals type UTF-8). Windows: from the wide command
// line, so that labels and file names outside the ANSI code page survive; the console, when
// there is one, shows UTF-8 output.
std::vector<std::string> utf8_arguments(int argc, char** argv);

// Tells running Keywarden windows that the key SERIAL was plugged in (ARRIVAL) or pulled, the
// way the system announces a device interface. The key's presence is already stored, so a
// failure here only means that no window heard of it: said on standard error, never fatal.
void notify_keywarden(bool arrival, const std::string& serial);

}  // namespace softkey_host
