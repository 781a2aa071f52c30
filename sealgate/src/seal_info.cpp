// GetSealInfo and GetSealInfo_WithCapacity's work: a seal read by the seal reader, delivered
// into the host's buffer.
#include "seal_info.h"

#include <cstdint>
#include <cstring>
#include <vector>

#include "seal_reader.h"
#include "sealgate.h"

namespace sealgate {

int deliver_seal_info(void* device, int index, int mode, unsigned char* buffer, int* length) {
    if (!length) return 0;
    if (!buffer) {
        *length = SEALGATE_SEALINFO_SIZE;
        return 1;
    }
    SealRead read;
    if (!read.read(device, index, mode)) return 0;
    // The size query promised 20480 bytes: a larger result is refused, nothing written.
    const size_t size = read.size();
    if (size > SEALGATE_SEALINFO_SIZE) return 0;
    read.write(buffer);
    *length = static_cast<int>(size);
    trace_seal_info_delivered(mode, buffer, size);
    return 1;
}

int deliver_seal_info_with_capacity(void* device, int index, int mode, unsigned char* buffer,
                                    int capacity, int* length) {
    if (!length) return 0;
    SealRead read;
    if (!read.read(device, index, mode)) return 0;
    const size_t size = read.size();
    if (size > static_cast<size_t>(INT32_MAX)) return 0;
    if (!buffer || capacity < 0 || size > static_cast<size_t>(capacity)) {
        *length = static_cast<int>(size);
        return SEALGATE_BUFFER_TOO_SMALL;
    }
    // Written once, straight into the host's buffer.
    read.write(buffer);
    *length = static_cast<int>(size);
    trace_seal_info_delivered(mode, buffer, size);
    return 1;
}

}  // namespace sealgate
