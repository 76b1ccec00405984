#include "qx_sdk_client/src/client.hpp"

#include <optional>
#include <utility>
#include <variant>

#include "qx_sdk_client/src/scan.hpp"
#include "qx_sdk_client/src/socket_address.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"

namespace qx_sdk_client::client {
namespace {

using error::Error;

net::SocketAddress socket_address_for(const mdns::ServiceAddress& address, uint16_t port) {
    if (const auto* v4 = std::get_if<mdns::Ipv4Address>(&address)) {
        return net::SocketAddress::ipv4(v4->octets, port);
    }
    const auto& v6 = std::get<mdns::Ipv6Address>(address);
    return net::SocketAddress::ipv6(v6.octets, port, 0, v6.scope_id);
}

}  // namespace

error::Result<std::vector<device::Device>> Client::scan_for_devices() const {
    return scan_for_devices_with_timeout(DEFAULT_SCAN_TIMEOUT);
}

error::Result<std::vector<device::Device>> Client::scan_for_devices_with_timeout(
    std::chrono::nanoseconds scan_duration) const {
    return run_scan(
        SERVICE_TYPE, [this](const mdns::ResolvedService& service) { return connect_device(service); }, scan_duration,
        DAEMON_SHUTDOWN_BOUND);
}

error::Result<device::Device> Client::connect_device(const mdns::ResolvedService& service) const {
    // A timeout the socket refuses (zero or less) does not fail the device:
    // it connects without one, and device creation prints the two lines.
    const std::optional<std::chrono::nanoseconds> connect_limit =
        timeout.count() > 0 ? std::optional<std::chrono::nanoseconds>(timeout) : std::nullopt;
    for (const mdns::ServiceAddress& address : service.addresses) {
        net::SocketAddress target = socket_address_for(address, service.port);
        net::IoResult<net::TcpStream> stream = net::TcpStream::connect(target, connect_limit);
        if (!stream) {
            // Refused, unreachable, or no answer within the timeout.
            continue;
        }
        // The device answered the connect, so its creation decides: another
        // address of the same host would only reach the same device again.
        return device::Device::create(std::move(target), std::move(*stream), timeout);
    }
    return std::unexpected(Error(Error::Kind::NetworkError));
}

}  // namespace qx_sdk_client::client
