// The seal reading behind GetSealCount and GetSealInfo, shared with GetSealStatus.
#pragma once

#include <cstddef>

namespace sealgate {

int seal_count(void* device);

// GetSealInfo's first trace line, the entry with its mode. Every reader of a seal writes it
// before seal_info, so a trace shows each read as the export would show it.
void trace_seal_info_entry(int mode);

// GetSealInfo with the capacity of the caller's buffer: a result longer than `capacity` fails
// (0) and nothing is written. The size query is the export's business.
int seal_info(void* device, int index, int mode, unsigned char* buffer, int* length,
              size_t capacity);

}  // namespace sealgate
