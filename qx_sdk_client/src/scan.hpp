// The scan behind Client::scan_for_devices_with_timeout, with the daemon's
// shutdown bound open so a stop that overruns it can be exercised.
#pragma once

#include <chrono>
#include <vector>

#include "qx_sdk_client/src/client.hpp"
#include "qx_sdk_client/src/device.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/mdns/service_daemon.hpp"

namespace qx_sdk_client::client {

// Long enough for any ordinary stop; a daemon that takes longer is left to
// stop on its own rather than holding the caller.
inline constexpr std::chrono::milliseconds DAEMON_SHUTDOWN_BOUND = mdns::ServiceDaemon::default_shutdown_bound;

[[nodiscard]] error::Result<std::vector<device::Device>> run_scan(const Client& client, std::chrono::nanoseconds scan_duration,
                                                    std::chrono::milliseconds shutdown_bound);

}  // namespace qx_sdk_client::client
