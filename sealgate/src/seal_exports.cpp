// GetSealCount, GetSealInfo and GetSealStatus. The seal reading (the seal list, the seal
// records through the seal codec, and the status check) arrives in a later change; until then
// these exports answer the size query of the frame and otherwise report failure.
#include "kit/trace.h"
#include "sealgate.h"

extern "C" SEALGATE_API int SEALGATE_CALL GetSealCount(void* /*device*/) {
    kit::trace_function()("%s---------------------------1", "GetSealCount");
    return 0;
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealInfo(void* /*device*/, int /*index*/, int mode,
                                                      unsigned char* buffer, int* length) {
    // The separator is two full-width colons, in code page 936.
    kit::trace_function()("%s---------------------------1\xA3\xBA\xA3\xBA%d", "GetSealInfo", mode);
    if (!length) return 0;
    if (!buffer) {
        *length = SEALGATE_SEALINFO_SIZE;
        return 1;
    }
    return 0;
}

extern "C" SEALGATE_API int SEALGATE_CALL GetSealStatus(void* /*device*/, int /*index*/) {
    kit::trace_function()("%s---------------------------1", "GetSealStatus");
    return 0;
}
