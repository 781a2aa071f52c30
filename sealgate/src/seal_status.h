// GetSealStatus's work: whether a seal on the key may be used, by its validity, the registry
// service (online) or its maker's signature (offline).
#pragma once

namespace sealgate {

// The status the export answers; 5 when the seal cannot be used or checked.
constexpr int kSealUnusable = 5;

int seal_status(void* device, int index);

}  // namespace sealgate
