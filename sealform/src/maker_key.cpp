// MakeSeal_SignWithKey's maker: a seal whose maker signs through the key driver with maker key
// material that travels encrypted inside the parameters.
//
// The maker document holds the maker's private key once decrypted. It exists only as a
// temporary file between the decryption and the read that follows, and that file (like every
// other temporary file of the call) is removed on every path. Neither the parameter text nor
// the signing request is ever traced: both carry key material.
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <pugixml.hpp>
#include <string>
#include <system_error>

#include "certificatesdk.h"
#include "kit/base64.h"
#include "kit/certificate.h"
#include "kit/picture.h"
#include "kit/platform.h"
#include "kit/secure_xml.h"
#include "kit/trace.h"
#include "makers.h"
#include "seal_pipeline.h"
#include "sealform_steps.h"
#include "securemodelcollection.h"
#include "trace_text.h"
#include "ukeydriver.h"
#include "xml_text.h"

namespace sealform {
namespace {

constexpr const char kMakeName[] = "MakeSeal_SignWithKey";
// The key text of the maker document's encryption.
constexpr const char kMakerDocumentKey[] = "m4k8p2x6r9t3vb!#";
constexpr size_t kSignatureBytes = 2048;

// Read the maker document from its decrypted file and drop the file at once. The key
// material lives in self-wiping strings from the read to the signing request.
struct MakerDocument {
    Bytes cert;
    kit::SecureString model, private_key, x, y;
};

// Checks the signature with the maker's certificate through the certificate SDK. Only traced:
// the seal is made whatever the outcome. Skipped when the module, its function or a readable
// certificate is missing.
void self_check(const Bytes& cert, const Bytes& data, const uint8_t* signature, int length) {
    kit::Module sdk = kit::Module::load("CertificateSDK.dll");
    if (!sdk) return;
    auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
    if (!verify) return;
    kit::Certificate certificate = kit::Certificate::decode(cert.data(), cert.size());
    if (!certificate) return;
    int rc = verify(static_cast<CERTIFICATESDK_CERT>(certificate.context()), data.data(),
                    static_cast<int>(data.size()), signature, length);
    kit::trace("%s...1.6.3.1::%d", kMakeName, rc);
}

// Signs through the key driver with the maker key material of the decrypted maker document.
class KeySigner : public SealSigner {
  public:
    explicit KeySigner(MakerDocument maker) : maker_(std::move(maker)) {
        info_not_encoded = steps::kInfoNotEncoded;
        maker_before_encoding = true;
    }

    const Bytes& maker_certificate() const override { return maker_.cert; }

    bool sign(const Bytes& info_der, Bytes& signature) override {
        // The request carries the private key: written into one block, sized ahead so that
        // growing leaves no partial copies, and wiped once the driver has signed.
        const size_t material =
            maker_.model.size() + maker_.private_key.size() + maker_.x.size() + maker_.y.size();
        XmlTextWriter request(512 + 6 * material + (info_der.size() + 2) / 3 * 4);
        request.open("certinfo", 0);
        request.leaf("model", maker_.model, 1);
        request.leaf("prikey", maker_.private_key, 1);
        request.leaf("pubx", maker_.x, 1);
        request.leaf("puby", maker_.y, 1);
        request.leaf_base64("srcdata", info_der.data(), info_der.size(), 1);
        request.close("certinfo", 0);
        std::string request_text = request.take();
        mark(steps::kRequestWritten);

        signature.assign(kSignatureBytes, 0);
        int length = 0;
        int rc = EccSignData(request_text.c_str(), signature.data(), &length);
        kit::secure_wipe(request_text.data(), request_text.capacity());
        if (rc != 0) {
            kit::trace("%s...1.6.1.1::%d", kMakeName, rc);
            return false;
        }
        // A length outside the buffer the driver was given cannot be a signature in it.
        if (length <= 0 || static_cast<size_t>(length) > kSignatureBytes) {
            kit::trace("%s...1.6.1.1::%d", kMakeName, 4);
            return false;
        }
        signature.resize(static_cast<size_t>(length));
        self_check(maker_.cert, info_der, signature.data(), length);
        return true;
    }

    void finished(int length) override { kit::trace("MakeSeal...2::%s::%d", kMakeName, length); }

  private:
    MakerDocument maker_;
};

// Decrypts and reads the maker document the parameters carry; false with the failure traced.
bool read_maker_document(const std::string& sealed_base64, MakerDocument& maker) {
    kit::TempFile sealed, opened;
    Bytes encrypted = kit::base64_decode(sealed_base64);
    if (!sealed || !opened ||
        !kit::write_whole_file(sealed.path(), encrypted.data(), encrypted.size())) {
        kit::trace("%s...1.6", kMakeName);
        return false;
    }
    if (decryptFile(sealed.path().c_str(), opened.path().c_str()) != 0) {
        kit::trace("%s...1.6", kMakeName);
        return false;
    }
    // Read in one wiping buffer and parsed in place, so that no block freed on the way holds
    // the private key (the document's own blocks hold only its structure).
    kit::SecureBytes plain;
    bool read = kit::read_secret_file(opened.path(), plain);
    opened.remove();
    pugi::xml_document maker_doc;
    pugi::xml_parse_result maker_parsed =
        read ? kit::load_secret_document(maker_doc, plain) : pugi::xml_parse_result();
    if (!read || !maker_parsed) {
        mark(steps::kMakerDocumentNotXml);
        mark(read ? maker_parsed.description() : "decrypted maker document unreadable");
        return false;
    }
    pugi::xml_node m = maker_doc.child("sealmakercert");
    if (!m) {
        mark(steps::kMakerDocumentWrongRoot);
        return false;
    }
    kit::trace("%s...1.7", kMakeName);
    maker.model = m.child("moldlen").text().get();
    maker.private_key = m.child("privatekey").text().get();
    maker.x = m.child("x").text().get();
    maker.y = m.child("y").text().get();
    if (!signer_base64_decode(element_text(m, "cer"), maker.cert, kMaxCertBytes)) {
        mark(steps::kMakerDocumentWrongRoot);
        mark("maker certificate longer than 2048 bytes");
        return false;
    }
    return true;
}

// The picture's physical size in whole millimetres (cut toward zero); false when it cannot be
// measured.
bool measure_picture(const Bytes& picture, long& width, long& height) {
    double w = 0, h = 0;
    if (kit::GetImgInfo(picture.data(), picture.size(), &w, &h) != 0) return false;
    width = static_cast<long>(std::trunc(w));
    height = static_cast<long>(std::trunc(h));
    return true;
}

}  // namespace

unsigned char* make_seal_with_key(const char* params, int* length) {
    if (!params || !length) {
        mark(steps::kNoParameters);
        return nullptr;
    }
    kit::SecureBytes text;
    pugi::xml_document doc;
    pugi::xml_node root = open_maker_document(doc, text, params, "sealinfo");
    if (!root) return nullptr;
    static const char* const kRequired[] = {"imgdata",    "usercertlist", "esid",
                                            "version",    "sealtype",     "sealname",
                                            "createdate", "validstart",   "validend"};
    for (const char* name : kRequired) {
        if (!root.child(name)) {
            mark(steps::kMissingElement);
            mark(std::string("missing element: ") + name);
            return nullptr;
        }
    }
    std::vector<std::string> cert_texts;
    for (pugi::xml_node c = root.child("usercertlist").child("usercert"); c;
         c = c.next_sibling("usercert"))
        cert_texts.push_back(c.text().get());
    if (cert_texts.empty()) {
        mark(steps::kMissingElement);
        mark("usercertlist holds no usercert");
        return nullptr;
    }

    SealInfoValues values;
    values.header_id = "ES";
    values.vid = "RZ";
    values.version = element_number(root, "version");
    values.type = element_number(root, "sealtype");
    const std::string picture_text = element_text(root, "imgdata");
    if (!measure_picture(kit::base64_decode(picture_text), values.width, values.height)) {
        mark(steps::kPictureNotMeasured);
        return nullptr;
    }
    values.name_utf8 = kit::to_utf8(element_text(root, "sealname"));
    if (values.name_utf8.size() > kMaxNameBytes) {
        mark(steps::kOverLimit);
        mark("name longer than 1023 bytes");
        return nullptr;
    }
    values.seal_id = element_text(root, "esid");
    values.create_date = element_text(root, "createdate");
    values.valid_start = element_text(root, "validstart");
    values.valid_end = element_text(root, "validend");
    values.picture_type = element_text(root, "imgtype");
    Bytes holder_cert;
    if (!signer_base64_decode(cert_texts.front(), holder_cert, kMaxCertBytes)) {
        mark(steps::kOverLimit);
        mark("usercert longer than 2048 bytes");
        return nullptr;
    }
    values.holder_certs.push_back(std::move(holder_cert));
    signer_base64_decode(picture_text, values.picture, SIZE_MAX);

    MakerDocument maker;
    if (!read_maker_document(element_text(root, "sealmakercert"), maker)) return nullptr;
    KeySigner signer(std::move(maker));
    return make_signed_seal(values, signer, length);
}

int decryptFile(const char* source, const char* target) {
    static const char kName[] = "decryptFile";
    std::error_code exists_error;
    if (!source || !*source || !std::filesystem::exists(source, exists_error)) {
        kit::trace("%s-----------1.0", kName);
        return 23;
    }
    if (!target || !*target) {
        kit::trace("%s-----------1.1", kName);
        return 3;
    }
    kit::Module module = kit::Module::load("SecureModelCollection.dll");
    if (!module) return 404;
    auto decrypt = module.function<SymmetryDecryption_File_fn>("SymmetryDecryption_File");
    if (!decrypt) return 404;
    int rc = decrypt(source, target, SECUREMODEL_SM4_CBC, kMakerDocumentKey, 0);
    kit::trace("%s-----------1.4::%d", kName, rc);
    if (rc == 0) return 0;
    kit::trace("%s-----------1.5::%d", kName, rc);
    return 404;
}

int EccSignData(const char* request, unsigned char* signature, int* signature_length) {
    static const char kName[] = "EccSignData";
    kit::trace("%s---------------------------1", kName);
    kit::Module driver = kit::Module::load("UKeyDriver.dll");
    if (!driver) {
        kit::trace("%s---------------------------1::%d", kName, kit::last_system_error());
        return 1;
    }
    auto open = driver.function<OpenDevice_fn>("OpenDevice");
    auto close = driver.function<CloseDevice_fn>("CloseDevice");
    auto sign = driver.function<ECCSignExt_fn>("ECCSignExt");
    if (!open || !close || !sign) return 2;
    void* device = open();
    if (!device) return 3;
    int rc = sign(device, request, signature, signature_length);
    close(device);
    return rc == 0 ? 0 : 4;
}

}  // namespace sealform
