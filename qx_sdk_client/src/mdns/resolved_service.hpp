// What discovery hands to a connector: where one service instance listens.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <variant>
#include <vector>

namespace qx_sdk_client::mdns {

struct Ipv4Address {
    std::array<std::uint8_t, 4> octets{};

    friend bool operator==(const Ipv4Address&, const Ipv4Address&) = default;
};

// scope_id is the index of the interface the address was learnt on; a
// link-local address cannot be reached without it.
struct Ipv6Address {
    std::array<std::uint8_t, 16> octets{};
    std::uint32_t scope_id = 0;

    friend bool operator==(const Ipv6Address&, const Ipv6Address&) = default;
};

using ServiceAddress = std::variant<Ipv4Address, Ipv6Address>;

struct ResolvedService {
    // "<instance>.<type>.<domain>." with the instance name escaped.
    std::string fullname;
    // Every address of the service's host learnt before the service was
    // reported, without repeats; connectors try them in turn.
    std::vector<ServiceAddress> addresses;
    std::uint16_t port = 0;
};

}  // namespace qx_sdk_client::mdns
