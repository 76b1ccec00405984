// Discovery: a scan browses by mDNS for a fixed time, connects every device
// it hears of, and returns them sorted. Each scan stands alone: its daemon
// and its worker threads end before it returns, and only the devices live on.
#pragma once

#include <chrono>
#include <string_view>
#include <vector>

#include "qx_sdk_client/src/device.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/mdns/resolved_service.hpp"

namespace qx_sdk_client::client {

inline constexpr std::string_view SERVICE_TYPE = "_br-command-api._tcp.local.";
inline constexpr std::chrono::nanoseconds DEFAULT_SCAN_TIMEOUT = std::chrono::seconds(1);

class Client {
public:
    // `timeout` bounds each connection attempt to one address, and the
    // reading and the writing of each frame on every connection this client
    // makes. The socket refuses a zero or negative one: connections are then
    // made, and used, without any bound, and each device's creation prints
    // that its timeouts could not be set.
    explicit Client(std::chrono::nanoseconds connection_timeout) : timeout(connection_timeout) {}

    // scan_for_devices_with_timeout(DEFAULT_SCAN_TIMEOUT).
    [[nodiscard]] error::Result<std::vector<device::Device>> scan_for_devices() const;

    // Browses for `scan_duration` (counted from the first worker's start),
    // then waits until every service already reported has been connected, so
    // a scan takes at least its duration. Up to 16 services are connected at
    // once. Devices that fail to connect are reported on stdout and left out.
    // Sorted by (EAN, serial number), equal devices in the order their
    // services were reported, duplicates kept. DeviceDiscoveryError when
    // the daemon, the browse or the first worker thread cannot be started,
    // or for a negative duration; never throws.
    [[nodiscard]] error::Result<std::vector<device::Device>> scan_for_devices_with_timeout(
        std::chrono::nanoseconds scan_duration) const;

    // Tries the service's addresses in turn at its port, each for at most
    // the timeout, and creates the device on the first that accepts; a failed creation is returned as is,
    // without trying further addresses. NetworkError when none connects.
    [[nodiscard]] error::Result<device::Device> connect_device(const mdns::ResolvedService& service) const;

    std::chrono::nanoseconds timeout;
};

}  // namespace qx_sdk_client::client
