// The scan behind Client::scan_for_devices_with_timeout: it browses, hands
// each service reported to a connector, and sorts what the connector made.
// The daemon's shutdown bound is open so a stop that overruns it can be
// exercised.
#pragma once

#include <chrono>
#include <functional>
#include <string_view>
#include <vector>

#include "qx_sdk_client/src/device.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/mdns/resolved_service.hpp"
#include "qx_sdk_client/src/mdns/service_daemon.hpp"

namespace qx_sdk_client::client {

// Long enough for any ordinary stop; a daemon that takes longer is left to
// stop on its own rather than holding the caller.
inline constexpr std::chrono::milliseconds DAEMON_SHUTDOWN_BOUND = mdns::ServiceDaemon::default_shutdown_bound;

// Makes a device of one service; called by several workers at once.
using ServiceConnector = std::function<error::Result<device::Device>(const mdns::ResolvedService&)>;

[[nodiscard]] error::Result<std::vector<device::Device>> run_scan(std::string_view service_type,
                                                                  const ServiceConnector& connect,
                                                                  std::chrono::nanoseconds scan_duration,
                                                                  std::chrono::milliseconds shutdown_bound);

// Ascending by EAN, then serial number; equal devices keep their order.
void sort_devices(std::vector<device::Device>& devices);

}  // namespace qx_sdk_client::client
