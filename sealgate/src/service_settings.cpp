#include "service_settings.h"

#include <cstdlib>
#include <cstring>

#if defined(_WIN32)
#include <windows.h>
#include <wininet.h>
#else
#include <ifaddrs.h>
#include <net/if.h>
#endif

#ifndef SEALGATE_DEFAULT_REGISTRY_URL
#define SEALGATE_DEFAULT_REGISTRY_URL "http://127.0.0.1:8731/pekorl/sealrecord/clientGetSealStatus"
#endif

namespace sealgate {
namespace {

const char* env(const char* name) {
    const char* v = std::getenv(name);
    return v && *v ? v : nullptr;
}

}  // namespace

std::string registry_url() {
    if (const char* v = env("SEALGATE_REGISTRY_URL")) return v;
    return SEALGATE_DEFAULT_REGISTRY_URL;
}

long http_total_timeout_ms() {
    if (const char* v = env("SEALGATE_HTTP_TIMEOUT")) {
        long s = std::strtol(v, nullptr, 10);
        if (s >= 1 && s <= 600) return s * 1000;
    }
    return 30000;
}

long http_connect_timeout_ms() {
    long total = http_total_timeout_ms();
    return total < 10000 ? total : 10000;
}

bool connected_state() {
    if (const char* v = env("SEALGATE_ONLINE")) return std::strcmp(v, "0") != 0;
#if defined(_WIN32)
    DWORD flags = 0;
    if (!InternetGetConnectedState(&flags, 0)) return false;
    return (flags &
            (INTERNET_CONNECTION_MODEM | INTERNET_CONNECTION_LAN | INTERNET_CONNECTION_PROXY)) != 0;
#else
    ifaddrs* list = nullptr;
    if (getifaddrs(&list) != 0) return false;  // a fault in the query counts as offline
    bool online = false;
    for (ifaddrs* a = list; a && !online; a = a->ifa_next) {
        unsigned f = a->ifa_flags;
        online = a->ifa_addr && (f & IFF_UP) && (f & IFF_RUNNING) && !(f & IFF_LOOPBACK);
    }
    freeifaddrs(list);
    return online;
#endif
}

std::string diagnostics_folder() {
    const char* v = env("SEALGATE_DIAGNOSTICS_DIR");
    if (!v) return {};
    std::string dir = v;
#if defined(_WIN32)
    if (dir.back() != '\\' && dir.back() != '/') dir += '\\';
#else
    if (dir.back() != '/') dir += '/';
#endif
    return dir;
}

}  // namespace sealgate
