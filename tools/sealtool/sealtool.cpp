// sealtool: make, read and check electronic seals with the Sealform library.
//
//   sealtool make PARAMS.xml -o SEAL.der   make and sign a seal from a "sealparams" document
//   sealtool parse SEAL.der                print the seal's "sealinfos" description
//   sealtool verify SEAL.der               check the seal maker's signature
//   sealtool demo-material DIR             write a test maker PFX, a picture and a ready
//                                          "sealparams" document into DIR
#define STB_IMAGE_WRITE_IMPLEMENTATION
#include <openssl/x509.h>
#include <stb/stb_image_write.h>
#include <sys/stat.h>

#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <string>
#include <vector>

#include "certificatesdk.h"
#include "kit/base64.h"
#include "kit/platform.h"
#include "sealform.h"
#include "sealform_steps.h"
#include "testpki.h"

namespace {

using Bytes = std::vector<uint8_t>;

enum ExitCode { kOk = 0, kFailed = 1, kUsage = 2, kFileError = 3 };

const char kUsageText[] =
    "usage: sealtool COMMAND [ARGUMENTS]\n"
    "\n"
    "Make, read and check electronic seals with the Sealform library.\n"
    "\n"
    "commands:\n"
    "  make PARAMS.xml -o SEAL.der   make a seal from a sealparams document and sign it\n"
    "                                with the maker's PFX that the document carries\n"
    "  parse SEAL.der                print the seal's description (sealinfos XML)\n"
    "  verify SEAL.der               check the seal maker's signature over the seal\n"
    "                                information with the certificate in the seal\n"
    "  demo-material DIR             write a test seal maker (maker.pfx), a holder\n"
    "                                certificate, a seal picture (seal.png) and a ready\n"
    "                                sealparams.xml into DIR (keys are for testing only)\n"
    "  --help                        show this text\n"
    "\n"
    "exit codes: 0 success, 1 the seal could not be made, is not a seal or its signature\n"
    "is not valid, 2 wrong usage, 3 a file could not be read or written\n";

int usage_error(const char* message) {
    std::fprintf(stderr, "sealtool: %s\n(see sealtool --help)\n", message);
    return kUsage;
}

bool read_file(const std::string& path, Bytes& out) {
    if (kit::read_whole_file(path, out)) return true;
    std::fprintf(stderr, "sealtool: cannot read %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

bool write_file(const std::string& path, const void* data, size_t size) {
    if (kit::write_whole_file(path, data, size)) return true;
    std::fprintf(stderr, "sealtool: cannot write %s: %s\n", path.c_str(), std::strerror(errno));
    return false;
}

// What the last step label of a failed MakeSeal means, from the library's own table of its
// step labels.
const char* make_failure(const std::string& label) {
    const char* meaning = sealform::steps::failure_meaning(label.c_str());
    return meaning ? meaning : "the seal could not be made";
}

// The last "MakeSeal..." label in the library's debugger output.
std::string last_make_label(const std::string& trace_path) {
    Bytes data;
    kit::read_whole_file(trace_path, data);
    std::string text(data.begin(), data.end()), last;
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        if (text.compare(at, 11, sealform::steps::kStart, 11) == 0)
            last = text.substr(at, end - at);
        at = end + 1;
    }
    return last;
}

int cmd_make(int argc, char** argv) {
    std::string params_path, out_path;
    for (int i = 0; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "-o" || a == "--output") {
            if (++i >= argc) return usage_error("-o needs a file name");
            out_path = argv[i];
        } else if (!a.empty() && a[0] == '-') {
            return usage_error(("unknown option " + a).c_str());
        } else if (params_path.empty()) {
            params_path = a;
        } else {
            return usage_error("make takes one parameter document");
        }
    }
    if (params_path.empty() || out_path.empty())
        return usage_error("make needs PARAMS.xml and -o SEAL.der");
    Bytes params;
    if (!read_file(params_path, params)) return kFileError;
    std::string text(params.begin(), params.end());

    // The library reports why a call failed only through its step labels on the debugger
    // output; collect them in a private file unless the caller already collects them.
    kit::TempFile trace;
    const char* own = std::getenv("KIT_DEBUG_OUTPUT");
    bool collect = (!own || !*own) && trace;
    if (collect) ::setenv("KIT_DEBUG_OUTPUT", trace.path().c_str(), 1);
    int length = 0;
    unsigned char* seal = MakeSeal(text.c_str(), &length);
    std::string label = collect ? last_make_label(trace.path()) : "";
    if (collect) ::unsetenv("KIT_DEBUG_OUTPUT");
    if (!seal) {
        std::fprintf(stderr, "sealtool: %s: %s%s%s\n", params_path.c_str(), make_failure(label),
                     label.empty() ? "" : " [", label.empty() ? "" : (label + "]").c_str());
        return kFailed;
    }
    bool written = write_file(out_path, seal, static_cast<size_t>(length));
    ReleaseSealData();
    if (!written) return kFileError;
    std::printf("%s: seal of %d bytes\n", out_path.c_str(), length);
    return kOk;
}

int cmd_parse(int argc, char** argv) {
    if (argc != 1) return usage_error("parse takes one seal file");
    Bytes seal;
    if (!read_file(argv[0], seal)) return kFileError;
    int length = static_cast<int>(seal.size());
    char* xml = ParsingSeal(seal.data(), &length);
    if (!xml) {
        std::fprintf(stderr, "sealtool: %s: not an electronic seal\n", argv[0]);
        return kFailed;
    }
    std::fwrite(xml, 1, static_cast<size_t>(length), stdout);
    ReleaseSealInfo();
    return kOk;
}

std::string subject_of(const Bytes& cert_der) {
    const unsigned char* p = cert_der.data();
    X509* cert = d2i_X509(nullptr, &p, static_cast<long>(cert_der.size()));
    if (!cert) return "(certificate does not decode)";
    char buf[512];
    X509_NAME_oneline(X509_get_subject_name(cert), buf, sizeof buf);
    X509_free(cert);
    return buf;
}

int cmd_verify(int argc, char** argv) {
    if (argc != 1) return usage_error("verify takes one seal file");
    Bytes seal;
    if (!read_file(argv[0], seal)) return kFileError;
    // No output can be longer than the seal itself.
    const int capacity = static_cast<int>(seal.size());
    Bytes info(seal.size()), cert(seal.size()), sign(seal.size());
    int info_len = capacity, cert_len = capacity, sign_len = capacity;
    int rc = ParsingSeal_ForVerify(seal.data(), static_cast<int>(seal.size()), info.data(),
                                   &info_len, cert.data(), &cert_len, sign.data(), &sign_len);
    if (rc != 0) {
        std::fprintf(stderr, "sealtool: %s: not an electronic seal\n", argv[0]);
        return kFailed;
    }
    info.resize(static_cast<size_t>(info_len));
    cert.resize(static_cast<size_t>(cert_len));
    sign.resize(static_cast<size_t>(sign_len));

    kit::Module sdk = kit::Module::load("CertificateSDK.dll");
    auto verify = sdk.function<SKFVerifyData_fn>("SKFVerifyData");
    if (!verify) {
        std::fprintf(stderr, "sealtool: CertificateSDK.dll (%s) not found\n",
                     kit::native_module_name("CertificateSDK.dll").c_str());
        return kFailed;
    }
    CERTIFICATESDK_CONTEXT context{0x10001, cert.data(), static_cast<uint32_t>(cert.size()),
                                   nullptr, nullptr};
    int result = verify(&context, info.data(), info_len, sign.data(), sign_len);
    std::printf("maker:     %s\n", subject_of(cert).c_str());
    std::printf("signed:    %d bytes of seal information, %d-byte signature\n", info_len, sign_len);
    if (result != CERTIFICATESDK_VALID) {
        static const char* const kWhy[] = {"",
                                           "bad arguments",
                                           "the maker's certificate does not decode",
                                           "the maker's key is not an SM2 key",
                                           "the signature is not a 64-byte SM2 signature",
                                           "the signature does not match the seal information"};
        std::printf("signature: NOT VALID (%s)\n",
                    result > 0 && result <= 5 ? kWhy[result] : "unknown failure");
        return kFailed;
    }
    std::printf("signature: valid (SM2 with SM3)\n");
    return kOk;
}

// A red seal: a ring and a five-pointed star on a transparent ground.
Bytes seal_picture(int size) {
    std::vector<uint8_t> rgba(static_cast<size_t>(size * size * 4), 0);
    const double c = (size - 1) / 2.0, outer = size * 0.48, inner = size * 0.42;
    // Five-pointed star: ten corners alternating between the outer and the inner radius.
    const double pi = 3.14159265358979323846;
    double sx[10], sy[10];
    for (int i = 0; i < 10; ++i) {
        double radius = (i % 2 ? 0.09 : 0.24) * size, angle = -pi / 2 + i * pi / 5;
        sx[i] = radius * std::cos(angle);
        sy[i] = radius * std::sin(angle);
    }
    auto in_star = [&](double x, double y) {
        bool inside = false;
        for (int i = 0, j = 9; i < 10; j = i++)
            if ((sy[i] > y) != (sy[j] > y) &&
                x < (sx[j] - sx[i]) * (y - sy[i]) / (sy[j] - sy[i]) + sx[i])
                inside = !inside;
        return inside;
    };
    for (int y = 0; y < size; ++y)
        for (int x = 0; x < size; ++x) {
            double dx = x - c, dy = y - c, r = std::hypot(dx, dy);
            bool red = (r <= outer && r >= inner) || in_star(dx, dy);
            if (!red) continue;
            uint8_t* p = &rgba[static_cast<size_t>((y * size + x) * 4)];
            p[0] = 0xD0, p[1] = 0x10, p[2] = 0x10, p[3] = 0xFF;
        }
    Bytes png;
    stbi_write_png_to_func(
        [](void* ctx, void* data, int n) {
            auto* out = static_cast<Bytes*>(ctx);
            out->insert(out->end(), static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + n);
        },
        &png, size, size, 4, rgba.data(), size * 4);
    return png;
}

std::string local_stamp(std::time_t t) {
    std::tm tm{};
    kit::local_time(t, tm);
    char buf[32];
    std::snprintf(buf, sizeof buf, "%04d%02d%02d%02d%02d%02d", tm.tm_year + 1900, tm.tm_mon + 1,
                  tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec);
    return buf;
}

std::string xml_text(const std::string& s) {
    std::string out;
    for (char ch : s) {
        if (ch == '&')
            out += "&amp;";
        else if (ch == '<')
            out += "&lt;";
        else if (ch == '>')
            out += "&gt;";
        else
            out += ch;
    }
    return out;
}

int cmd_demo_material(int argc, char** argv) {
    if (argc != 1) return usage_error("demo-material takes one folder");
    const std::string dir = argv[0];
    if (::mkdir(dir.c_str(), 0700) != 0 && errno != EEXIST) {
        std::fprintf(stderr, "sealtool: cannot create %s: %s\n", dir.c_str(), std::strerror(errno));
        return kFileError;
    }
    const std::string password = "demo-pfx-2026";
    Bytes pfx, holder, picture;
    try {
        testpki::Pkey maker_key = testpki::make_sm2_key();
        testpki::CertSpec maker_spec;
        maker_spec.common_name = "Demo Seal Maker";
        maker_spec.organization = "Kit Demo";
        maker_spec.signing_only = true;
        testpki::Cert maker = testpki::make_certificate(maker_key.get(), maker_spec);
        pfx = testpki::make_pfx(maker_key.get(), maker.get(), password);
        testpki::Pkey holder_key = testpki::make_sm2_key();
        testpki::CertSpec holder_spec;
        holder_spec.common_name = "\xE5\xBC\xA0\xE4\xB8\x89";  // 张三
        holder_spec.organization = "Kit Demo";
        holder_spec.serial = 2;
        holder = testpki::cert_der(testpki::make_certificate(holder_key.get(), holder_spec).get());
    } catch (const std::exception& e) {
        std::fprintf(stderr, "sealtool: %s\n", e.what());
        return kFailed;
    }
    const int pixels = 160;
    picture = seal_picture(pixels);
    const int millimetres = static_cast<int>(pixels * 25.4 / 96);
    std::time_t now = std::time(nullptr);
    std::string name =
        kit::from_utf8("\xE6\xBC\x94\xE7\xA4\xBA\xE5\x85\xAC\xE7\xAB\xA0");  // 演示公章
    std::string params =
        "<sealparams>\n"
        "\t<id>ES</id>\n\t<version>4</version>\n\t<vid>RZ</vid>\n\t<type>1</type>\n"
        "\t<name>" +
        xml_text(name) +
        "</name>\n"
        "\t<certlist>\n\t\t<cert>" +
        kit::base64_encode(holder) +
        "</cert>\n\t</certlist>\n"
        "\t<createdate>" +
        local_stamp(now) +
        "</createdate>\n"
        "\t<vaildstart>" +
        local_stamp(now) +
        "</vaildstart>\n"
        "\t<vaildend>" +
        local_stamp(now + 5 * 365 * 86400L) +
        "</vaildend>\n"
        "\t<imgtype>png</imgtype>\n"
        "\t<imgtdate>" +
        kit::base64_encode(picture) +
        "</imgtdate>\n"
        "\t<imgwidth>" +
        std::to_string(millimetres) +
        "</imgwidth>\n"
        "\t<imgheight>" +
        std::to_string(millimetres) +
        "</imgheight>\n"
        "\t<sealmakerpfx>" +
        kit::base64_encode(pfx) +
        "</sealmakerpfx>\n"
        "\t<sealmakerpfxpwd>" +
        password +
        "</sealmakerpfxpwd>\n"
        "\t<esid>3201000000001</esid>\n"
        "</sealparams>\n";
    struct Out {
        const char* name;
        const Bytes* bytes;
        const std::string* text;
    } outputs[] = {{"maker.pfx", &pfx, nullptr},
                   {"holder.cer", &holder, nullptr},
                   {"seal.png", &picture, nullptr},
                   {"sealparams.xml", nullptr, &params}};
    for (const Out& o : outputs) {
        std::string path = dir + "/" + o.name;
        bool ok = o.bytes ? write_file(path, o.bytes->data(), o.bytes->size())
                          : write_file(path, o.text->data(), o.text->size());
        if (!ok) return kFileError;
        std::printf("wrote %s\n", path.c_str());
    }
    std::printf("maker.pfx password: %s (test material only)\n", password.c_str());
    std::printf("next: sealtool make %s/sealparams.xml -o %s/seal.der\n", dir.c_str(), dir.c_str());
    return kOk;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) return usage_error("no command given");
    std::string command = argv[1];
    if (command == "--help" || command == "-h" || command == "help") {
        std::fputs(kUsageText, stdout);
        return kOk;
    }
    if (command == "make") return cmd_make(argc - 2, argv + 2);
    if (command == "parse") return cmd_parse(argc - 2, argv + 2);
    if (command == "verify") return cmd_verify(argc - 2, argv + 2);
    if (command == "demo-material") return cmd_demo_material(argc - 2, argv + 2);
    return usage_error(("unknown command " + command).c_str());
}
