// The seal reading behind GetSealCount and GetSealInfo, shared with GetSealStatus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sealgate {

int seal_count(void* device);

// GetSealInfo's first trace line, the entry with its mode. Every reader of a seal writes it
// before read_seal_info, so a trace shows each read as the export would show it.
void trace_seal_info_entry(int mode);

// GetSealInfo's closing trace line for a result delivered (modes 0 and 2; mode 1 has none).
void trace_seal_info_delivered(int mode, const std::vector<uint8_t>& result);

// The result of GetSealInfo `mode` for seal `index` (0 the seal record, 1 the stored Base64
// text, 2 the seal code), however large: 1 with `result` filled, 0 on failure. Delivering it
// to the host, within what the host's buffer holds, is the exports' business.
int read_seal_info(void* device, int index, int mode, std::vector<uint8_t>& result);

}  // namespace sealgate
