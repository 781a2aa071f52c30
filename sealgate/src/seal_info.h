// The seal reading behind GetSealCount and GetSealInfo, shared with GetSealStatus.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace sealgate {

int seal_count(void* device);

// The result of GetSealInfo `mode` for seal `index` (0 the seal record, 1 the stored Base64
// text, 2 the seal code), however large: 1 with `result` filled, 0 on failure. Delivering it
// to the host, within what the host's buffer holds, is the exports' business.
int read_seal_info(void* device, int index, int mode, std::vector<uint8_t>& result);

}  // namespace sealgate
