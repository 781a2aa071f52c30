// The result slot of the seal makers: the bytes of the last seal that MakeSeal or
// MakeSeal_SignWithKey returned, freed by ReleaseSealData or the next maker call.
#pragma once

#include <cstdint>
#include <vector>

namespace sealform {

// Stores a copy of a made seal in the slot (which the caller has emptied with ReleaseSealData
// at the start of its call) and returns it; null when memory runs out.
unsigned char* keep_made_seal(const std::vector<uint8_t>& der);

}  // namespace sealform
