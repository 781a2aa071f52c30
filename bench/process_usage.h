// What the benchmark's own process uses: its resident set and the page faults it has taken.
#pragma once

#include <sys/resource.h>

#include <fstream>
#include <string>

namespace bench {

// Minor page faults of the process so far.
inline long minor_faults() {
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return usage.ru_minflt;
}

// The resident set in KiB (VmRSS), -1 when it cannot be read.
inline long resident_kib() {
    std::ifstream status("/proc/self/status");
    std::string line;
    while (std::getline(status, line))
        if (line.rfind("VmRSS:", 0) == 0) return std::stol(line.substr(6));
    return -1;
}

}  // namespace bench
