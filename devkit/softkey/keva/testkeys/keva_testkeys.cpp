// keva-testkeys: makes software keys with fresh certificates for Keywarden's tests.
//
//   keva-testkeys STORE_DIR SPEC...
//
// Each SPEC is SERIAL[:OPTION,OPTION...]; options:
//   rsa=N       N RSA containers with an exchange and a signature certificate (default 1)
//   signonly=N  N RSA containers with a signature key and certificate only
//   sm2=N       N SM2 containers with both certificates (default 1)
//   days=N      certificates end N days from now (default 365; negative: ended)
//   hours=N     added to days, for certificates that end within a day
//   bits=N      RSA key size (default 1024, quick to make)
//   label=TEXT  the label (default "Key SERIAL"); uninit: no label (not initialised)
//   locked      the PIN has no tries left; changed: the PIN is no longer the factory PIN
//   absent      the key is not plugged in
// An existing key of the same serial is replaced. Prints one line per key made.
#include <openssl/asn1.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "softkey_store.h"
#include "testpki.h"

namespace {

long g_certSerial = 0;

struct Spec {
    std::string serial;
    int rsa = 1, signonly = 0, sm2 = 1, bits = 1024;
    long days = 365, hours = 0;
    std::string label;
    bool uninit = false, locked = false, changed = false, absent = false;
};

bool ParseSpec(const std::string& text, Spec& spec) {
    size_t colon = text.find(':');
    spec.serial = text.substr(0, colon);
    spec.label = "Key " + spec.serial;
    if (colon == std::string::npos) return true;
    std::string rest = text.substr(colon + 1);
    size_t pos = 0;
    while (pos <= rest.size()) {
        size_t comma = rest.find(',', pos);
        std::string opt =
            rest.substr(pos, comma == std::string::npos ? std::string::npos : comma - pos);
        pos = comma == std::string::npos ? rest.size() + 1 : comma + 1;
        if (opt.empty()) continue;
        size_t eq = opt.find('=');
        std::string key = opt.substr(0, eq),
                    value = eq == std::string::npos ? "" : opt.substr(eq + 1);
        auto number = [&](auto& out) { out = std::strtol(value.c_str(), nullptr, 10); };
        if (key == "rsa")
            number(spec.rsa);
        else if (key == "signonly")
            number(spec.signonly);
        else if (key == "sm2")
            number(spec.sm2);
        else if (key == "bits")
            number(spec.bits);
        else if (key == "days")
            number(spec.days);
        else if (key == "hours")
            number(spec.hours);
        else if (key == "label")
            spec.label = value;
        else if (key == "uninit")
            spec.uninit = true;
        else if (key == "locked")
            spec.locked = true;
        else if (key == "changed")
            spec.changed = true;
        else if (key == "absent")
            spec.absent = true;
        else {
            std::fprintf(stderr, "keva-testkeys: unknown option %s\n", opt.c_str());
            return false;
        }
    }
    return true;
}

testpki::Bytes MakeCert(EVP_PKEY* key, const std::string& cn, const Spec& spec) {
    testpki::CertSpec cs;
    cs.common_name = cn;
    cs.serial = ++g_certSerial;
    cs.not_before_days = -30;
    cs.not_after_days = spec.days;
    testpki::Cert cert = testpki::make_certificate(key, cs);
    if (spec.hours != 0) {
        // Shift the end of validity by hours from the day-based one.
        ASN1_TIME_adj(X509_getm_notAfter(cert.get()), time(nullptr), static_cast<int>(spec.days),
                      spec.hours * 3600);
        X509_sign(cert.get(), key, EVP_sha256());
    }
    return testpki::cert_der(cert.get());
}

softkey::Container MakeContainer(const Spec& spec, softkey::Algorithm alg, bool exchange,
                                 int index) {
    softkey::Container c;
    c.algorithm = alg;
    const char* kind = alg == softkey::Algorithm::SM2 ? "SM2" : "RSA";
    c.name = std::string(kind) + "-" + spec.serial + "-" + std::to_string(index);
    auto make = [&](const char* use, softkey::Bytes& certOut, softkey::Bytes& keyOut) {
        testpki::Pkey key = alg == softkey::Algorithm::SM2 ? testpki::make_sm2_key()
                                                           : testpki::make_rsa_key(spec.bits);
        std::string cn =
            std::string(kind) + " " + use + " " + spec.serial + " #" + std::to_string(index);
        if (alg == softkey::Algorithm::SM2 && spec.hours != 0) {
            // SM2 certificates are signed with SM3 by testpki; keep their validity day-based.
            Spec daysOnly = spec;
            daysOnly.hours = 0;
            certOut = MakeCert(key.get(), cn, daysOnly);
        } else {
            certOut = MakeCert(key.get(), cn, spec);
        }
        keyOut = testpki::private_key_der(key.get());
    };
    make("Sign", c.sign_cert, c.sign_key);
    if (exchange) make("Exch", c.exch_cert, c.exch_key);
    return c;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 3) {
        std::fprintf(stderr, "usage: keva-testkeys STORE_DIR SERIAL[:OPTION,...]...\n");
        return 2;
    }
    g_certSerial = static_cast<long>(time(nullptr) % 100000) * 1000;
    try {
        softkey::Store store{std::filesystem::path(argv[1])};
        for (int i = 2; i < argc; ++i) {
            Spec spec;
            if (!ParseSpec(argv[i], spec)) return 2;
            softkey::KeyRecord r;
            r.serial = spec.serial;
            r.label = spec.uninit ? "" : spec.label;
            r.initialised = !spec.uninit;
            r.present = !spec.absent;
            r.cos_version = {{0x0a, 0x1b, 0x2c, 0x3d}};
            softkey::set_pin(r.pin, spec.changed ? "12345678" : softkey::kFactoryPin,
                             !spec.changed);
            if (spec.locked) r.pin.retries_left = 0;
            int index = 0;
            for (int k = 0; k < spec.rsa; ++k)
                r.containers.push_back(MakeContainer(spec, softkey::Algorithm::RSA, true, ++index));
            for (int k = 0; k < spec.signonly; ++k)
                r.containers.push_back(
                    MakeContainer(spec, softkey::Algorithm::RSA, false, ++index));
            for (int k = 0; k < spec.sm2; ++k)
                r.containers.push_back(MakeContainer(spec, softkey::Algorithm::SM2, true, ++index));
            if (store.exists(r.serial)) store.remove(r.serial);
            store.create(r);
            std::printf("%s %zu containers\n", r.serial.c_str(), r.containers.size());
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "keva-testkeys: %s\n", e.what());
        return 1;
    }
    return 0;
}
