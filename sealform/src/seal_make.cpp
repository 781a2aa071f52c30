// MakeSeal / ReleaseSealData: a seal made from a "sealparams" document and signed with the
// maker's PFX file through the signer module.
//
// The PFX travels Base64-encoded inside the parameters and is copied to a temporary file for
// the signer; that copy holds the maker's private key, so it is removed when the call ends,
// whatever the outcome. The encoded seal information and seal stay in memory: a round trip
// through files would only add disk work (most of the call's own time) and more to clean up.
// Neither the password nor the parameter text (which carries the PFX and the password) is
// ever traced.
#include <pugixml.hpp>

#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kit/platform.h"
#include "kit/trace.h"
#include "seal_build.h"
#include "seal_codec.h"
#include "seal_make.h"
#include "trace_text.h"
#include "xml_text.h"
#include "sealform.h"
#include "signaturemodule.h"

namespace sealform {
namespace {

constexpr size_t kMaxSignatureBytes = SIGNATUREMODULE_SIGN_SIZE;
constexpr size_t kCertInfoBytes = SIGNATUREMODULE_INFO_SIZE;

unsigned char* g_made_seal = nullptr;


bool write_file(const kit::TempFile& file, const Bytes& bytes) {
    return kit::write_whole_file(file.path(), bytes.data(), bytes.size());
}

// The maker's certificate out of the signer's certificate information (<infos><cer>).
bool maker_certificate(const std::string& pfx_path, const std::string& password, Bytes& cert) {
    std::vector<char> info(kCertInfoBytes, 0);
    int info_length = 0;
    if (ParsePfxFile(pfx_path.c_str(), password.c_str(), info.data(), &info_length) != 0) {
        mark("MakeSeal...e.4");
        mark(pfx_path);
        return false;
    }
    pugi::xml_document doc;
    bool usable = info_length >= 0 && static_cast<size_t>(info_length) < kCertInfoBytes &&
                  doc.load_buffer(info.data(), static_cast<size_t>(info_length));
    if (usable) {
        std::string cer = doc.child("infos").child("cer").text().get();
        usable = signer_base64_decode(cer, cert, kMaxCertBytes) && !cert.empty();
    }
    if (!usable) {
        mark("MakeSeal...e.5");
        mark(pfx_path);
        return false;
    }
    return true;
}

unsigned char* make_seal(const char* params, int* length) {
    mark("MakeSeal...1");
    ReleaseSealData();
    if (!params || !length) {
        mark("MakeSeal...e.1");
        return nullptr;
    }

    pugi::xml_document doc;
    pugi::xml_node root = open_maker_document(doc, params, "sealparams");
    if (!root) return nullptr;
    mark("MakeSeal...1.1");

    std::vector<std::string> cert_texts;
    for (pugi::xml_node c = root.child("certlist").child("cert"); c; c = c.next_sibling("cert"))
        cert_texts.push_back(c.text().get());
    SealInfoValues values;
    values.header_id = element_text(root, "id");
    values.version = element_number(root, "version");
    values.vid = element_text(root, "vid");
    values.type = element_number(root, "type");
    values.name_utf8 = kit::to_utf8(element_text(root, "name"));
    values.create_date = element_text(root, "createdate");
    values.valid_start = element_text(root, "vaildstart");
    values.valid_end = element_text(root, "vaildend");
    values.picture_type = element_text(root, "imgtype");
    values.width = element_number(root, "imgwidth");
    values.height = element_number(root, "imgheight");
    values.seal_id = element_text(root, "esid");
    const std::string password = element_text(root, "sealmakerpfxpwd");
    if (cert_texts.empty()) {
        mark("MakeSeal...e.3.1");
        mark("certlist holds no cert");
        return nullptr;
    }
    if (values.name_utf8.size() > kMaxNameBytes) {
        mark("MakeSeal...e.3.2");
        mark("name longer than 1023 bytes");
        return nullptr;
    }

    kit::TempFile pfx_file;
    mark(pfx_file.path());
    mark("MakeSeal...1.2");
    if (!pfx_file) {
        mark("MakeSeal...e.3.3");
        return nullptr;
    }

    Bytes holder_cert;
    if (!signer_base64_decode(cert_texts.front(), holder_cert, kMaxCertBytes)) {
        mark("MakeSeal...e.3.2");
        mark("cert longer than 2048 bytes");
        return nullptr;
    }
    values.holder_certs.push_back(std::move(holder_cert));
    signer_base64_decode(element_text(root, "imgtdate"), values.picture);
    Bytes pfx;
    signer_base64_decode(element_text(root, "sealmakerpfx"), pfx);
    if (!write_file(pfx_file, pfx)) {
        mark("MakeSeal...e.3.3");
        mark(pfx_file.path());
        return nullptr;
    }
    mark("MakeSeal...1.3");

    Bytes maker_cert;
    if (!maker_certificate(pfx_file.path(), password, maker_cert)) return nullptr;
    mark("MakeSeal...1.4");

    SealPtr seal(asn_calloc<SESeal_t>());
    if (!seal || !fill_seal_info(seal->sesSealInfo, values)) return nullptr;

    // The signed content is the complete DER of the seal information, tag and length
    // included. Seal information that does not encode (a date that is not a GeneralizedTime)
    // ends the call here rather than signing nothing.
    Bytes signed_bytes;
    if (!der_encode(&asn_DEF_SESSealInfo, &seal->sesSealInfo, signed_bytes)) {
        mark("MakeSeal...e.6.1");
        return nullptr;
    }
    mark("MakeSeal...1.5.4");
    if (!set_maker(*seal, maker_cert)) return nullptr;
    mark("MakeSeal...1.5.5");
    mark("MakeSeal...1.6");

    Bytes signature(kMaxSignatureBytes, 0);
    int signature_length = 0;
    int rc = PfxSign(pfx_file.path().c_str(), password.c_str(), signed_bytes.data(),
                     static_cast<int>(signed_bytes.size()), signature.data(), &signature_length);
    if (rc != 0) {
        char text[48];
        std::snprintf(text, sizeof text, "MakeSeal...e.7:%d", rc);
        mark(text);
        return nullptr;
    }
    if (signature_length <= 0 || static_cast<size_t>(signature_length) > kMaxSignatureBytes) {
        mark("MakeSeal...e.7.1");
        return nullptr;
    }
    if (!set_signature(*seal, signature.data(), static_cast<size_t>(signature_length)))
        return nullptr;
    mark("MakeSeal...1.7");

    Bytes seal_der;
    if (!der_encode(&asn_DEF_SESeal, seal.get(), seal_der)) {
        mark("MakeSeal...e.8");
        return nullptr;
    }
    mark("MakeSeal...1.8");

    unsigned char* result = keep_made_seal(seal_der);
    if (!result) return nullptr;
    *length = static_cast<int>(seal_der.size());
    mark("MakeSeal...1.9");
    mark(pfx_file.path());
    mark("MakeSeal...2");
    return result;
}

}  // namespace

unsigned char* keep_made_seal(const Bytes& der) {
    auto* copy = static_cast<unsigned char*>(std::malloc(der.empty() ? 1 : der.size()));
    if (!copy) return nullptr;
    if (!der.empty()) std::memcpy(copy, der.data(), der.size());
    std::free(g_made_seal);
    g_made_seal = copy;
    return copy;
}

}  // namespace sealform

using namespace sealform;

extern "C" SEALFORM_API unsigned char* SEALFORM_CALL MakeSeal(const char* params, int* length) {
    try {
        return make_seal(params, length);
    } catch (...) {
        return nullptr;  // out of memory while building the document or the seal
    }
}

extern "C" SEALFORM_API void SEALFORM_CALL ReleaseSealData(void) {
    kit::trace_marker("ReleaseSealData...1");
    std::free(g_made_seal);
    g_made_seal = nullptr;
    kit::trace_marker("ReleaseSealData...2");
}
