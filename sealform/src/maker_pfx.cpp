// MakeSeal's maker: a seal made from a "sealparams" document and signed with the maker's PFX
// file through the signer module.
//
// The PFX travels Base64-encoded inside the parameters and is copied to a temporary file for
// the signer; that copy holds the maker's private key, so it is removed when the call ends,
// whatever the outcome. The encoded seal information and seal stay in memory. Neither the
// password nor the parameter text (which carries the PFX and the password) is ever traced, and
// neither leaves a copy in memory the process frees: the parameters are parsed in a wiping
// buffer, the password is read where it lies in it, the decoded PFX is held in a wiping buffer
// and written to its file without a stdio buffer.
#include <cstdio>
#include <pugixml.hpp>
#include <string>

#include "kit/platform.h"
#include "kit/secure.h"
#include "makers.h"
#include "seal_pipeline.h"
#include "sealform_steps.h"
#include "signer_module.h"
#include "trace_text.h"
#include "xml_text.h"

namespace sealform {
namespace {

constexpr size_t kMaxSignatureBytes = SIGNATUREMODULE_SIGN_SIZE;
constexpr size_t kCertInfoBytes = SIGNATUREMODULE_INFO_SIZE;

class PfxSigner : public SealSigner {
  public:
    // `password` lies in the parameter document's buffer, which outlives the signer.
    PfxSigner(const kit::TempFile& pfx_file, const char* password)
        : pfx_file_(pfx_file), password_(password) {
        info_not_encoded = steps::kInfoNotEncodedPfx;
        maker_before_encoding = false;
    }

    // The maker's certificate out of the signer's certificate information (<infos><cer>).
    bool read_maker_certificate() {
        std::vector<char> info(kCertInfoBytes, 0);
        int info_length = 0;
        const SignerModule* signer = signer_module();
        if (!signer || signer->parse_pfx_file(pfx_file_.path().c_str(), password_, info.data(),
                                              &info_length) != 0) {
            mark(steps::kPfxNotOpened);
            mark(pfx_file_.path());
            return false;
        }
        pugi::xml_document doc;
        bool usable = info_length >= 0 && static_cast<size_t>(info_length) < kCertInfoBytes &&
                      doc.load_buffer(info.data(), static_cast<size_t>(info_length));
        if (usable) {
            std::string cer = doc.child("infos").child("cer").text().get();
            usable = signer_base64_decode(cer, maker_cert_, kMaxCertBytes) && !maker_cert_.empty();
        }
        if (!usable) {
            mark(steps::kPfxCertUnreadable);
            mark(pfx_file_.path());
            return false;
        }
        return true;
    }

    const Bytes& maker_certificate() const override { return maker_cert_; }

    bool sign(const Bytes& info_der, Bytes& signature) override {
        signature.assign(kMaxSignatureBytes, 0);
        int length = 0;
        const SignerModule* signer = signer_module();
        if (!signer) return false;
        int rc = signer->pfx_sign(pfx_file_.path().c_str(), password_, info_der.data(),
                                  static_cast<int>(info_der.size()), signature.data(), &length);
        if (rc != 0) {
            char text[48];
            std::snprintf(text, sizeof text, "%s:%d", steps::kSignerRefused, rc);
            mark(text);
            return false;
        }
        if (length <= 0 || static_cast<size_t>(length) > kMaxSignatureBytes) {
            mark(steps::kSignatureTooLong);
            return false;
        }
        signature.resize(static_cast<size_t>(length));
        return true;
    }

    void finished(int) override {
        mark(pfx_file_.path());
        mark(steps::kDone);
    }

  private:
    const kit::TempFile& pfx_file_;
    const char* password_;
    Bytes maker_cert_;
};

}  // namespace

unsigned char* make_seal_with_pfx(const char* params, int* length) {
    if (!params || !length) {
        mark(steps::kNoParameters);
        return nullptr;
    }
    kit::SecureBytes text;
    pugi::xml_document doc;
    pugi::xml_node root = open_maker_document(doc, text, params, "sealparams");
    if (!root) return nullptr;
    mark(steps::kParsed);

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
    if (cert_texts.empty()) {
        mark(steps::kMissingElement);
        mark("certlist holds no cert");
        return nullptr;
    }
    if (values.name_utf8.size() > kMaxNameBytes) {
        mark(steps::kOverLimit);
        mark("name longer than 1023 bytes");
        return nullptr;
    }

    kit::TempFile pfx_file;
    mark(pfx_file.path());
    mark(steps::kFilesReady);
    if (!pfx_file) {
        mark(steps::kPfxFileFailed);
        return nullptr;
    }
    Bytes holder_cert;
    if (!signer_base64_decode(cert_texts.front(), holder_cert, kMaxCertBytes)) {
        mark(steps::kOverLimit);
        mark("cert longer than 2048 bytes");
        return nullptr;
    }
    values.holder_certs.push_back(std::move(holder_cert));
    signer_base64_decode(element_text(root, "imgtdate"), values.picture);
    kit::SecureBytes pfx;
    signer_base64_decode(root.child("sealmakerpfx").text().get(), pfx);
    if (!kit::write_secret_file(pfx_file.path(), pfx.data(), pfx.size())) {
        mark(steps::kPfxFileFailed);
        mark(pfx_file.path());
        return nullptr;
    }
    mark(steps::kDecoded);

    PfxSigner signer(pfx_file, root.child("sealmakerpfxpwd").text().get());
    if (!signer.read_maker_certificate()) return nullptr;
    mark(steps::kMakerRead);
    return make_signed_seal(values, signer, length);
}

}  // namespace sealform
