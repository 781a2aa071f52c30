// A key driver whose seal answers come from the environment at each call, for seal lists and
// stored seal texts the software key never produces:
//   SEALLIST_TEXT  EnumSeal's answer (unset: null)
//   SEAL_TEXT      ReadSeal's answer for every index (unset: null)
#include <cstdlib>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int g_device = 1;
}

EXPORT void* OpenDevice() { return &g_device; }
EXPORT int CloseDevice(void*) { return 0; }
EXPORT const char* EnumSeal(void* device) {
    return device == &g_device ? std::getenv("SEALLIST_TEXT") : nullptr;
}
EXPORT const char* ReadSeal(void* device, int) {
    return device == &g_device ? std::getenv("SEAL_TEXT") : nullptr;
}
