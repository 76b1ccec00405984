// The descriptors an avahi server opens as it starts, held until the moment
// it opens them. avahi-core carries on when its interface monitor cannot get
// its netlink socket and then fails an assertion, which ends the whole
// process; so a server may only be started once what it opens is there.
#pragma once

#include <array>
#include <cstddef>
#include <expected>
#include <string>

#include <avahi-core/core.h>

namespace qx_sdk_client::mdns {

// How many descriptors avahi_server_new opens for `config`: one multicast
// socket per address family, as many unicast sockets again for the
// reflector and again for wide-area lookups, and the interface monitor's
// netlink socket.
std::size_t descriptors_opened_by(const AvahiServerConfig& config);

class ServerDescriptors {
public:
    // Holds descriptors_opened_by(config) descriptors; one of them is a
    // netlink socket bound and set up as the interface monitor sets up its
    // own, so that a netlink the process may not use is refused here too.
    [[nodiscard]] static std::expected<ServerDescriptors, std::string> reserve(const AvahiServerConfig& config);

    // Closes them all. Call it as the last thing before avahi_server_new:
    // a descriptor that any thread opens in between may take one of the
    // freed slots, and the server would then be short again.
    void release() noexcept;

    ServerDescriptors(ServerDescriptors&& other) noexcept;
    ServerDescriptors& operator=(ServerDescriptors&& other) noexcept;
    ServerDescriptors(const ServerDescriptors&) = delete;
    ServerDescriptors& operator=(const ServerDescriptors&) = delete;
    ~ServerDescriptors() { release(); }

private:
    ServerDescriptors() = default;

    // Both families with reflector and wide area, and the netlink socket.
    static constexpr std::size_t max_held = 7;
    std::array<int, max_held> held_{};
    std::size_t count_ = 0;
};

}  // namespace qx_sdk_client::mdns
