// Deployment settings of the seal status service and the facts about the machine it needs.
#pragma once

#include <string>

namespace sealgate {

// The registry service URL: SEALGATE_REGISTRY_URL when set and not empty, otherwise the
// default compiled in (CMake cache variable SEALGATE_REGISTRY_URL).
std::string registry_url();

// The PEM file of the certificates an https registry's certificate must chain to:
// SEALGATE_REGISTRY_CA_FILE when set and not empty, in place of the system's CA bundle; empty:
// the system's. Linux only: on Windows the machine's trusted roots decide.
std::string registry_ca_file();

// Time limits of one exchange with the service, in milliseconds: connecting, and the whole
// exchange. SEALGATE_HTTP_TIMEOUT (seconds, 1 to 600) sets the whole; connecting gets at most
// 10 seconds of it. Default: 10 s to connect, 30 s in all.
long http_connect_timeout_ms();
long http_total_timeout_ms();

// Whether the machine is connected: SEALGATE_ONLINE ("1"/"0") when set; otherwise true when a
// network interface other than loopback is up and running.
bool connected_state();

// Folder for the diagnostic files of the offline signature check, with a trailing separator;
// empty when none is configured (SEALGATE_DIAGNOSTICS_DIR), so nothing is written.
std::string diagnostics_folder();

}  // namespace sealgate
