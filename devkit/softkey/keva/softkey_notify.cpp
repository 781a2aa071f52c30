// softkey-notify: tells running Keywarden windows that a software key arrived or went, the way
// the system does for a device interface (keva_announce.h).
//
//   softkey-notify arrival|removal SERIAL [PORT]
//
// Prints the device name and the number of windows told; exit code 0 on success, 2 on bad use.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "keva_announce.h"
#include "kit/platform.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: softkey-notify arrival|removal SERIAL [PORT]\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    kit::restrict_module_search();
    if (argc < 3 || argc > 4) return Usage();
    bool arrival;
    if (std::strcmp(argv[1], "arrival") == 0)
        arrival = true;
    else if (std::strcmp(argv[1], "removal") == 0)
        arrival = false;
    else
        return Usage();
    unsigned port = 1;
    if (argc == 4) {
        char* end = nullptr;
        unsigned long p = std::strtoul(argv[3], &end, 10);
        if (!end || *end || p == 0 || p > 255) return Usage();
        port = static_cast<unsigned>(p);
    }
    keva::Announcement sent = keva::announce_key(arrival, argv[2], port);
    if (!sent.valid) {
        std::fprintf(stderr, "softkey-notify: not a valid serial: %s\n", argv[2]);
        return 2;
    }
    std::printf("%s %d\n", sent.device_name.c_str(), sent.windows_told);
    return 0;
}
