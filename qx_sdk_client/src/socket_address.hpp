// An IPv4 or IPv6 socket address (address, port; for IPv6 also flow
// information and scope id), held in the form the socket calls take.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include <sys/socket.h>

namespace qx_sdk_client::net {

class SocketAddress {
public:
    static SocketAddress ipv4(const std::array<uint8_t, 4>& address, uint16_t port);
    static SocketAddress ipv6(const std::array<uint8_t, 16>& address, uint16_t port, uint32_t flow_info = 0,
                              uint32_t scope_id = 0);
    // A numeric address ("127.0.0.1", "::1"); nothing is looked up.
    static std::optional<SocketAddress> parse(std::string_view numeric_address, uint16_t port, uint32_t scope_id = 0);
    // Absent for anything but a complete AF_INET or AF_INET6 address.
    static std::optional<SocketAddress> from_native(const sockaddr* address, socklen_t size);

    bool is_ipv4() const { return storage_.ss_family == AF_INET; }
    int family() const { return storage_.ss_family; }
    uint16_t port() const;
    uint32_t scope_id() const;  // 0 for IPv4
    // "127.0.0.1:5000", "[::1]:5000", "[fe80::1%3]:5000" (the scope as a number).
    std::string to_string() const;

    const sockaddr* native() const { return reinterpret_cast<const sockaddr*>(&storage_); }
    socklen_t native_size() const { return size_; }

    friend bool operator==(const SocketAddress& a, const SocketAddress& b);

private:
    SocketAddress() = default;
    bool is_ipv6() const { return storage_.ss_family == AF_INET6; }

    sockaddr_storage storage_{};
    socklen_t size_ = 0;
};

}  // namespace qx_sdk_client::net
