// Both seal makers on fuzzed parameter documents: raw text, and documents built around a valid
// PFX (MakeSeal) or an encrypted maker document (MakeSeal_SignWithKey) with fuzzed element
// values. No crash, no leak, a failure leaves the length alone, and every seal a maker returns
// verifies: its signature checks out with the maker's certificate over the signed bytes.
//
// Input: byte 0 chooses (bit 0: the key maker, bit 1: structured); the rest is the document
// (raw) or a list of (element number, length, value bytes) replacing element values.
#include <openssl/x509.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <pugixml.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "fenced.h"
#include "kit/base64.h"
#include "kit/platform.h"
#include "maker_document.h"
#include "maker_fixture.h"
#include "sealform.h"
#include "softkey_factory.h"
#include "testpki.h"

namespace {

using sealform::testing::Bytes;
using sealform::testing::MakerMaterial;

using fuzz::check;

struct Setup {
    std::map<std::string, std::string> pfx_values, key_values;
    std::vector<std::string> pfx_order, key_order;
    std::string holder_cert;
    testpki::Pkey maker_public;
    Bytes maker_cert;
};

const Setup& setup() {
    static const Setup s = [] {
        Setup s;
        // The makers load and unload these around each call; the fuzzer's coverage counters of
        // an unloaded module would be read after they are gone. One load of our own keeps them.
        for (const char* name :
             {"UKeyDriver.dll", "SecureModelCollection.dll", "CertificateSDK.dll", "RZLog.dll"})
            kit::Module::load(name).release();
        const MakerMaterial& m = MakerMaterial::shared();
        // A software key for the key maker's driver, in a folder of this process.
        std::filesystem::path store = std::filesystem::temp_directory_path() /
                                      ("seal-makers-fuzz-" + std::to_string(getpid()));
        std::filesystem::create_directories(store);
        setenv("SOFTKEY_STORE", store.c_str(), 1);
        softkey::Store(store).create(softkey::make_key(softkey::sm2_key("FUZZ-MAKER", 0)));

        s.pfx_values = sealform::testing::SealParams::standard(m).values;
        for (const auto& v : s.pfx_values) s.pfx_order.push_back(v.first);
        s.holder_cert = kit::base64_encode(m.holder_certs[0]);
        s.key_values = {{"imgdata", kit::base64_encode(sealform::testing::bmp_picture(40, 20))},
                        {"esid", "3201000000001"},
                        {"version", "4"},
                        {"sealtype", "2"},
                        {"sealname", sealform::testing::kNameGbk},
                        {"createdate", "20210513100248Z"},
                        {"validstart", "20210513100248Z"},
                        {"validend", "20310513100248Z"},
                        {"imgtype", "bmp"},
                        {"sealmakercert",
                         securemodel::encrypted_maker_document(m.maker_key.get(), m.maker_cert)}};
        for (const auto& v : s.key_values) s.key_order.push_back(v.first);
        s.maker_cert = m.maker_cert;
        return s;
    }();
    return s;
}

std::string document(const char* root_name, const std::map<std::string, std::string>& values,
                     const char* cert_list, const char* cert_name, const std::string& cert) {
    pugi::xml_document doc;
    pugi::xml_node root = doc.append_child(root_name);
    for (const auto& v : values) root.append_child(v.first.c_str()).text().set(v.second.c_str());
    root.append_child(cert_list).append_child(cert_name).text().set(cert.c_str());
    std::ostringstream out;
    doc.save(out, "", pugi::format_raw | pugi::format_no_declaration);
    return out.str();
}

// The seal's signature checks out with the key of the maker certificate it carries, which is
// the fixture's maker certificate when the document was built around it.
void check_seal_verifies(const unsigned char* seal, int length, bool ours) {
    std::vector<unsigned char> info(static_cast<size_t>(length)), cert(static_cast<size_t>(length)),
        sign(static_cast<size_t>(length));
    int info_length = length, cert_length = length, sign_length = length;
    check(ParsingSeal_ForVerify(seal, length, info.data(), &info_length, cert.data(), &cert_length,
                                sign.data(), &sign_length) == 0);
    cert.resize(static_cast<size_t>(cert_length));
    if (ours) check(cert == setup().maker_cert);
    const unsigned char* p = cert.data();
    X509* x509 = d2i_X509(nullptr, &p, static_cast<long>(cert.size()));
    check(x509 != nullptr);
    testpki::Pkey key(X509_get_pubkey(x509));
    X509_free(x509);
    info.resize(static_cast<size_t>(info_length));
    sign.resize(static_cast<size_t>(sign_length));
    check(testpki::sm2_verify_raw(key.get(), info, sign));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size == 0 || size > 65536) return 0;
    const Setup& s = setup();
    const bool key_maker = data[0] & 1, structured = data[0] & 2;
    std::string params;
    if (!structured) {
        params.assign(reinterpret_cast<const char*>(data + 1), size - 1);
    } else {
        auto values = key_maker ? s.key_values : s.pfx_values;
        const auto& order = key_maker ? s.key_order : s.pfx_order;
        for (size_t i = 1; i + 2 <= size;) {
            const std::string& name = order[data[i] % order.size()];
            size_t n = std::min<size_t>(data[i + 1], size - i - 2);
            values[name].assign(reinterpret_cast<const char*>(data + i + 2), n);
            i += 2 + n;
        }
        params = key_maker ? document("sealinfo", values, "usercertlist", "usercert", s.holder_cert)
                           : document("sealparams", values, "certlist", "cert", s.holder_cert);
    }
    int length = -7;
    unsigned char* seal = key_maker ? MakeSeal_SignWithKey(params.c_str(), &length)
                                    : MakeSeal(params.c_str(), &length);
    if (seal) {
        check(length > 0);
        check_seal_verifies(seal, length, structured);
    } else {
        check(length == -7);
    }
    ReleaseSealData();
    return 0;
}
