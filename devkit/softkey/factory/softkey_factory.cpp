#include "softkey_factory.h"

#include <openssl/rand.h>

#include "testpki.h"

namespace softkey {
namespace {

// The certificates are self-issued, so the issuer is the holder's name, which two keys may
// share: a random serial number keeps every issuer and serial pair apart, as a certificate
// store needs (it keeps one certificate per pair).
long unique_serial() {
    unsigned long long v = 0;
    while (v == 0) {
        if (RAND_bytes(reinterpret_cast<unsigned char*>(&v), sizeof v) != 1)
            throw StoreError("no random bytes for a certificate serial number");
        v &= 0x7FFFFFFFFFFFFFFFULL;  // positive, at most 63 bits
        if (sizeof(long) < 8) v &= 0x7FFFFFFFULL;
    }
    return static_cast<long>(v);
}

struct Pair {
    Bytes cert, key;
};

Pair make_pair(bool sm2, int rsa_bits, const std::string& cn, bool signing) {
    testpki::Pkey key = sm2 ? testpki::make_sm2_key() : testpki::make_rsa_key(rsa_bits);
    testpki::CertSpec spec;
    spec.common_name = cn;
    spec.serial = unique_serial();
    spec.signing_only = signing;
    testpki::Cert cert = testpki::make_certificate(key.get(), spec);
    return {testpki::cert_der(cert.get()), testpki::private_key_der(key.get())};
}

}  // namespace

FactoryOptions sm2_key(const std::string& serial, int sm2_containers) {
    FactoryOptions o;
    o.serial = serial;
    o.rsa_containers = 0;
    o.sm2_containers = sm2_containers;
    return o;
}

KeyRecord make_key(const FactoryOptions& o) {
    if (auto e = check_serial(o.serial); !e.empty()) throw StoreError(e);
    if (o.rsa_containers < 0 || o.sm2_containers < 0 ||
        size_t(o.rsa_containers + o.sm2_containers) > kMaxContainers)
        throw StoreError("a key holds 0 to " + std::to_string(kMaxContainers) + " containers");
    if (o.rsa_bits < 1024 || o.rsa_bits > 4096)
        throw StoreError("RSA keys must be 1024 to 4096 bits");
    KeyRecord r;
    r.serial = o.serial;
    r.label = o.label.empty() ? "Soft Key " + o.serial : o.label;
    if (auto e = check_label(r.label); !e.empty()) throw StoreError(e);
    r.pin.max_retries = o.max_retries;
    if (o.pin.empty())
        set_pin(r.pin, kFactoryPin, true);
    else
        set_pin(r.pin, o.pin, o.pin == kFactoryPin);

    Pair own = make_pair(true, 0, o.holder, true);
    r.sign_cert = own.cert;
    r.sign_key = own.key;
    auto add = [&](bool sm2, int n) {
        Container c;
        c.name = std::string(sm2 ? "SM2-" : "RSA-") + std::to_string(n);
        c.algorithm = sm2 ? Algorithm::SM2 : Algorithm::RSA;
        Pair s = make_pair(sm2, o.rsa_bits, o.holder, true);
        Pair x = make_pair(sm2, o.rsa_bits, o.holder, false);
        c.sign_cert = s.cert;
        c.sign_key = s.key;
        c.exch_cert = x.cert;
        c.exch_key = x.key;
        r.containers.push_back(std::move(c));
    };
    for (int i = 1; i <= o.rsa_containers; ++i) add(false, i);
    for (int i = 1; i <= o.sm2_containers; ++i) add(true, i);
    return r;
}

}  // namespace softkey
