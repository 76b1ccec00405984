#include "qx_sdk_client/src/socket_address.hpp"

#include <cstring>

#include <arpa/inet.h>
#include <netinet/in.h>

namespace qx_sdk_client::net {
namespace {

sockaddr_in& as_v4(sockaddr_storage& s) { return reinterpret_cast<sockaddr_in&>(s); }
sockaddr_in6& as_v6(sockaddr_storage& s) { return reinterpret_cast<sockaddr_in6&>(s); }
const sockaddr_in& as_v4(const sockaddr_storage& s) { return reinterpret_cast<const sockaddr_in&>(s); }
const sockaddr_in6& as_v6(const sockaddr_storage& s) { return reinterpret_cast<const sockaddr_in6&>(s); }

}  // namespace

SocketAddress SocketAddress::ipv4(const std::array<uint8_t, 4>& address, uint16_t port) {
    SocketAddress result;
    sockaddr_in& v4 = as_v4(result.storage_);
    v4.sin_family = AF_INET;
    v4.sin_port = htons(port);
    std::memcpy(&v4.sin_addr, address.data(), address.size());
    result.size_ = sizeof(sockaddr_in);
    return result;
}

SocketAddress SocketAddress::ipv6(const std::array<uint8_t, 16>& address, uint16_t port, uint32_t flow_info,
                                  uint32_t scope_id) {
    SocketAddress result;
    sockaddr_in6& v6 = as_v6(result.storage_);
    v6.sin6_family = AF_INET6;
    v6.sin6_port = htons(port);
    v6.sin6_flowinfo = htonl(flow_info);
    v6.sin6_scope_id = scope_id;
    std::memcpy(&v6.sin6_addr, address.data(), address.size());
    result.size_ = sizeof(sockaddr_in6);
    return result;
}

std::optional<SocketAddress> SocketAddress::parse(std::string_view numeric_address, uint16_t port, uint32_t scope_id) {
    if (numeric_address.size() >= INET6_ADDRSTRLEN) {
        return std::nullopt;
    }
    const std::string text(numeric_address);  // inet_pton wants a terminated text
    std::array<uint8_t, 4> v4{};
    if (::inet_pton(AF_INET, text.c_str(), v4.data()) == 1) {
        return ipv4(v4, port);
    }
    std::array<uint8_t, 16> v6{};
    if (::inet_pton(AF_INET6, text.c_str(), v6.data()) == 1) {
        return ipv6(v6, port, 0, scope_id);
    }
    return std::nullopt;
}

std::optional<SocketAddress> SocketAddress::from_native(const sockaddr* address, socklen_t size) {
    if (address == nullptr) {
        return std::nullopt;
    }
    SocketAddress result;
    if (address->sa_family == AF_INET && size >= static_cast<socklen_t>(sizeof(sockaddr_in))) {
        std::memcpy(&result.storage_, address, sizeof(sockaddr_in));
        result.size_ = sizeof(sockaddr_in);
        return result;
    }
    if (address->sa_family == AF_INET6 && size >= static_cast<socklen_t>(sizeof(sockaddr_in6))) {
        std::memcpy(&result.storage_, address, sizeof(sockaddr_in6));
        result.size_ = sizeof(sockaddr_in6);
        return result;
    }
    return std::nullopt;
}

uint16_t SocketAddress::port() const { return ntohs(is_ipv4() ? as_v4(storage_).sin_port : as_v6(storage_).sin6_port); }

uint32_t SocketAddress::scope_id() const { return is_ipv6() ? as_v6(storage_).sin6_scope_id : 0; }

std::string SocketAddress::to_string() const {
    char text[INET6_ADDRSTRLEN] = {};
    if (is_ipv4()) {
        ::inet_ntop(AF_INET, &as_v4(storage_).sin_addr, text, sizeof text);
        return std::string(text) + ":" + std::to_string(port());
    }
    ::inet_ntop(AF_INET6, &as_v6(storage_).sin6_addr, text, sizeof text);
    std::string result = "[";
    result += text;
    if (scope_id() != 0) {
        result += '%';
        result += std::to_string(scope_id());
    }
    result += "]:";
    result += std::to_string(port());
    return result;
}

bool operator==(const SocketAddress& a, const SocketAddress& b) {
    return a.size_ == b.size_ && std::memcmp(&a.storage_, &b.storage_, a.size_) == 0;
}

}  // namespace qx_sdk_client::net
