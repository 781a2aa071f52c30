// GetSealInfo and GetSealInfo_WithCapacity's work: a seal read through the seal reader and
// delivered into the host's buffer.
#pragma once

namespace sealgate {

// Into a buffer the host sized by the size query (20480 bytes): a larger result is refused
// and nothing written.
int deliver_seal_info(void* device, int index, int mode, unsigned char* buffer, int* length);

// Into a buffer of `capacity` bytes: too small answers SEALGATE_BUFFER_TOO_SMALL with the size
// needed in `length`.
int deliver_seal_info_with_capacity(void* device, int index, int mode, unsigned char* buffer,
                                    int capacity, int* length);

}  // namespace sealgate
