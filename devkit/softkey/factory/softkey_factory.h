// New software keys as a key maker would issue them: the key's own SM2 signing key and
// certificate, and containers of RSA and SM2 key pairs with certificates, all generated.
#pragma once

#include <string>

#include "softkey_store.h"

namespace softkey {

struct FactoryOptions {
    std::string serial;
    std::string label;  // empty: "Soft Key <serial>"
    int rsa_containers = 1;
    int sm2_containers = 1;
    int rsa_bits = 2048;
    std::string pin;  // empty: the factory PIN, marked as default
    int max_retries = kDefaultMaxRetries;
    std::string holder = "Soft Key Holder";  // common name of the certificates (UTF-8)
};

// Options for a key with no RSA container (making RSA pairs is the slow part of making a key)
// and `sm2_containers` SM2 containers: the keys that seal makers and readers work with.
FactoryOptions sm2_key(const std::string& serial, int sm2_containers);

// The record of a new key (not yet stored). Containers are named "RSA-1", "SM2-1" ...; each
// has a signature pair and an exchange pair. Throws StoreError on bad options.
KeyRecord make_key(const FactoryOptions& options);

}  // namespace softkey
