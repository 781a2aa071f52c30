#include "signer_module.h"

#include "kit/platform.h"

namespace sealform {
namespace {

struct LoadedSigner {
    kit::Module module = kit::Module::load("signaturemodule.dll");
    SignerModule functions;
    bool usable = false;

    LoadedSigner() {
        functions.base64_decode = module.function<decltype(&::Base64_decode)>("Base64_decode");
        functions.parse_pfx_file = module.function<decltype(&::ParsePfxFile)>("ParsePfxFile");
        functions.pfx_sign = module.function<decltype(&::PfxSign)>("PfxSign");
        usable = functions.base64_decode && functions.parse_pfx_file && functions.pfx_sign;
    }
};

}  // namespace

const SignerModule* signer_module() {
    static const LoadedSigner signer;
    return signer.usable ? &signer.functions : nullptr;
}

}  // namespace sealform
