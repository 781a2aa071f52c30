// Writes the seed corpora of the fuzz targets into DIR/<target>/: seals made by the library's
// own encoder and by the PFX maker, the driver answers of a key holding such a seal, parameter
// documents, status answers and Base64 texts. Run once to refresh fuzz/corpus.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "kit/base64.h"
#include "kit/platform.h"
#include "maker_fixture.h"
#include "seal_fixture.h"
#include "sealform.h"

namespace {

std::string g_root;
bool g_ok = true;

void put(const std::string& target, const std::string& name, const std::string& bytes) {
    std::filesystem::create_directories(g_root + "/" + target);
    g_ok = kit::write_whole_file(g_root + "/" + target + "/" + name, bytes.data(), bytes.size()) &&
           g_ok;
}

std::string text(const std::vector<uint8_t>& b) { return std::string(b.begin(), b.end()); }

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: seal_seed DIR\n");
        return 2;
    }
    g_root = argv[1];
    const auto& material = sealform::testing::MakerMaterial::shared();

    // Seals: the encoder's, with and without extensions and holders, and the PFX maker's.
    sealform::testing::SealSpec spec;
    put("seal_parse_fuzz", "plain.der", text(sealform::testing::encode_seal(spec)));
    spec.holder_certs = {material.holder_certs[0], {0x30, 0x00}};
    spec.with_ext_data = false;
    put("seal_parse_fuzz", "holders.der", text(sealform::testing::encode_seal(spec)));
    spec.picture.assign(300, 0x11);
    spec.valid_end = "20310513100248.5Z";
    put("seal_parse_fuzz", "fraction.der", text(sealform::testing::encode_seal(spec)));
    const std::string params = sealform::testing::SealParams::standard(material).xml();
    int length = 0;
    unsigned char* made = MakeSeal(params.c_str(), &length);
    if (!made) return 1;
    const std::string seal(reinterpret_cast<char*>(made), static_cast<size_t>(length));
    ReleaseSealData();
    put("seal_parse_fuzz", "made.der", seal);

    // The makers: the standard documents unchanged (structured, nothing replaced) and raw.
    put("seal_makers_fuzz", "pfx-structured", "\x02");
    put("seal_makers_fuzz", "key-structured", "\x03");
    put("seal_makers_fuzz", "pfx-raw", std::string(1, '\0') + params);
    put("seal_makers_fuzz", "pfx-one-value", std::string("\x02\x05\x04", 3) + "2031");

    // The driver's answers for a key holding the made seal.
    const std::string list = "<seallist><seal index=\"0\"/></seallist>";
    const std::string cert =
        "<ukcert><signcert>" + kit::base64_encode(material.maker_cert) + "</signcert></ukcert>";
    auto b64 = [](const std::string& s) {
        return kit::base64_encode(reinterpret_cast<const uint8_t*>(s.data()), s.size());
    };
    const std::string answers =
        b64(list) + '\0' + b64(seal) + '\0' + cert + '\0' + "SK0001" + '\0' + "\x81";
    put("sealgate_driver_fuzz", "key", answers);
    put("sealgate_driver_fuzz", "failing", std::string("\0\0\0", 3));

    // Status answers, as bodies and as status texts.
    put("status_answer_fuzz", "answer",
        "\x01" + b64("<response><status>0000</status><data><sealstatus>2</sealstatus></data>"
                     "</response>"));
    put("status_answer_fuzz", "unknown",
        "\x01" + b64("<response><status>1001</status><message>unknown seal</message></response>"));
    put("status_answer_fuzz", "wide", std::string(1, '\0') + "4294967297");

    put("base64_fuzz", "seal", b64(seal.substr(0, 200)));
    put("base64_fuzz", "padded", "QUI=");
    put("base64_fuzz", "lines", "QUJD\r\nREVG");

    put("xmldoc_fuzz", "sealinfo",
        std::string(1, '\0') + std::string("<sealinfo><version>4</version>"
                                           "<usercertlist><usercert>QUJD</usercert>"
                                           "</usercertlist></sealinfo>"));
    return g_ok ? 0 : 1;
}
