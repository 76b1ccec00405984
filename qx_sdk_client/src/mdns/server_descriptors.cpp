#include "qx_sdk_client/src/mdns/server_descriptors.hpp"

#include <fcntl.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <string_view>
#include <utility>

#include "qx_sdk_client/src/errno_text.hpp"

namespace qx_sdk_client::mdns {

namespace {

std::string failure_with_errno(std::string_view what, int code) {
    std::string text(what);
    text += ": ";
    text += util::errno_text(code);
    return text;
}

void close_keeping_errno(int fd) {
    const int saved = errno;
    ::close(fd);
    errno = saved;
}

// The same socket, groups and option as avahi's interface monitor.
std::expected<int, std::string> open_monitor_netlink() {
    const int fd = ::socket(AF_NETLINK, SOCK_DGRAM | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (fd < 0) {
        return std::unexpected(failure_with_errno("cannot open the netlink socket the mDNS server needs", errno));
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR | RTMGRP_IPV6_IFADDR;
    if (::bind(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) < 0) {
        close_keeping_errno(fd);
        return std::unexpected(failure_with_errno("cannot bind the netlink socket the mDNS server needs", errno));
    }
    const int on = 1;
    if (::setsockopt(fd, SOL_SOCKET, SO_PASSCRED, &on, sizeof on) < 0) {
        close_keeping_errno(fd);
        return std::unexpected(failure_with_errno("cannot set up the netlink socket the mDNS server needs", errno));
    }
    return fd;
}

}  // namespace

std::size_t descriptors_opened_by(const AvahiServerConfig& config) {
    const std::size_t families = (config.use_ipv4 != 0 ? 1U : 0U) + (config.use_ipv6 != 0 ? 1U : 0U);
    std::size_t count = families + 1;
    if (config.enable_reflector != 0) {
        count += families;
    }
    if (config.enable_wide_area != 0) {
        count += families;
    }
    return count;
}

std::expected<ServerDescriptors, std::string> ServerDescriptors::reserve(const AvahiServerConfig& config) {
    ServerDescriptors reserved;
    std::expected<int, std::string> netlink = open_monitor_netlink();
    if (!netlink) {
        return std::unexpected(std::move(netlink.error()));
    }
    reserved.held_[reserved.count_++] = *netlink;
    // The other slots only have to be free; which kind of socket avahi puts
    // there, and whether it manages to, is avahi's to handle.
    const std::size_t wanted = descriptors_opened_by(config);
    while (reserved.count_ < wanted && reserved.count_ < max_held) {
        const int copy = ::fcntl(*netlink, F_DUPFD_CLOEXEC, 0);
        if (copy < 0) {
            return std::unexpected(failure_with_errno(
                "cannot reserve the " + std::to_string(wanted) + " descriptors the mDNS server needs", errno));
        }
        reserved.held_[reserved.count_++] = copy;
    }
    return reserved;
}

void ServerDescriptors::release() noexcept {
    while (count_ > 0) {
        ::close(held_[--count_]);
    }
}

ServerDescriptors::ServerDescriptors(ServerDescriptors&& other) noexcept
    : held_(other.held_), count_(std::exchange(other.count_, 0)) {}

ServerDescriptors& ServerDescriptors::operator=(ServerDescriptors&& other) noexcept {
    if (this != &other) {
        release();
        held_ = other.held_;
        count_ = std::exchange(other.count_, 0);
    }
    return *this;
}

}  // namespace qx_sdk_client::mdns
