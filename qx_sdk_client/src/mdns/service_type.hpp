// Splitting a DNS-SD service type into what a browser is created with.
#pragma once

#include <expected>
#include <string>
#include <string_view>

namespace qx_sdk_client::mdns {

struct BrowseTarget {
    std::string type;    // "_name._tcp" or "_name._udp"
    std::string domain;  // "local"
};

// "_name._tcp.local." -> {"_name._tcp", "local"}; the final dot is optional.
[[nodiscard]] std::expected<BrowseTarget, std::string> split_service_type(std::string_view service_type);

}  // namespace qx_sdk_client::mdns
