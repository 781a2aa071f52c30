#include "service_settings.h"

#include <cstdlib>

#include "kit/platform.h"

#ifndef SEALGATE_DEFAULT_REGISTRY_URL
#define SEALGATE_DEFAULT_REGISTRY_URL "http://127.0.0.1:8731/pekorl/sealrecord/clientGetSealStatus"
#endif

namespace sealgate {
namespace {

// A setting from the environment; empty when unset or empty.
std::string env(const char* name) { return kit::environment_variable(name); }

}  // namespace

std::string registry_url() {
    std::string url = env("SEALGATE_REGISTRY_URL");
    if (!url.empty()) return url;
    return SEALGATE_DEFAULT_REGISTRY_URL;
}

std::string registry_ca_file() { return env("SEALGATE_REGISTRY_CA_FILE"); }

long http_total_timeout_ms() {
    std::string v = env("SEALGATE_HTTP_TIMEOUT");
    if (!v.empty()) {
        long s = std::strtol(v.c_str(), nullptr, 10);
        if (s >= 1 && s <= 600) return s * 1000;
    }
    return 30000;
}

long http_connect_timeout_ms() {
    long total = http_total_timeout_ms();
    return total < 10000 ? total : 10000;
}

bool connected_state() {
    std::string v = env("SEALGATE_ONLINE");
    if (!v.empty()) return v != "0";
    return kit::network_connected();
}

std::string diagnostics_folder() {
    return kit::folder_with_separator(env("SEALGATE_DIAGNOSTICS_DIR"));
}

}  // namespace sealgate
