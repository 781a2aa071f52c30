// A second key driver for the cases the software key cannot produce (answers longer than a
// host buffer, odd certificate documents, a driver without CloseDevice). Its answers come from
// the environment at each call:
//   SCRIPTED_SERIAL  the serial number text
//   SCRIPTED_CERT    the certificate document
// It exports no CloseDevice. Calls are counted in SCRIPTED_CALLS (a file, one line per call).
#include <cstdio>
#include <cstdlib>

#define EXPORT extern "C" __attribute__((visibility("default")))

namespace {
int g_device = 1;

void count(const char* what) {
    if (const char* path = std::getenv("SCRIPTED_CALLS")) {
        if (FILE* f = std::fopen(path, "a")) {
            std::fprintf(f, "%s\n", what);
            std::fclose(f);
        }
    }
}
}  // namespace

EXPORT void* OpenDevice() {
    count("OpenDevice");
    return &g_device;
}

EXPORT const char* GetUkSerial(void* device) {
    count("GetUkSerial");
    return device == &g_device ? std::getenv("SCRIPTED_SERIAL") : nullptr;
}

EXPORT const char* GetUkCert(void* device, int) {
    count("GetUkCert");
    return device == &g_device ? std::getenv("SCRIPTED_CERT") : nullptr;
}

EXPORT int VerifyPin(void*, const char*) {
    count("VerifyPin");
    return 0;
}
