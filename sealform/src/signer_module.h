// The PFX signer "signaturemodule.dll", loaded by name (beside Sealform, then the system
// folder) the first time a maker needs it, and kept until Sealform itself is unloaded. Only
// the makers use it; a seal reader loads and unloads Sealform around every seal it reads, and
// a signer loaded with Sealform made each of those rounds map, relocate and unmap a second
// module for nothing.
#pragma once

#include "signaturemodule.h"

namespace sealform {

struct SignerModule {
    decltype(&::Base64_decode) base64_decode = nullptr;
    decltype(&::ParsePfxFile) parse_pfx_file = nullptr;
    decltype(&::PfxSign) pfx_sign = nullptr;
};

// The signer's functions; null when the module or one of its functions is missing.
const SignerModule* signer_module();

}  // namespace sealform
