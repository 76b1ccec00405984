// A TcpStream connected over loopback to a raw peer socket that a test
// drives byte by byte.
#pragma once

#include <optional>
#include <span>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "qx_sdk_client/src/socket_address.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"
#include "qx_sdk_client/tests/sdk_test_bench.hpp"

namespace qx_sdk_test {

// A socket listening on 127.0.0.1 at an ephemeral port, which `address`
// then holds; -1, with a test failure added, when that cannot be had.
inline int listen_on_loopback(int backlog, sockaddr_in& address) {
    const int listener = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
    address = sockaddr_in{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    socklen_t size = sizeof address;
    if (listener < 0 || ::bind(listener, reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        ::listen(listener, backlog) != 0 ||
        ::getsockname(listener, reinterpret_cast<sockaddr*>(&address), &size) != 0) {
        ADD_FAILURE() << "loopback listener";
        if (listener >= 0) ::close(listener);
        return -1;
    }
    return listener;
}

// A connected TcpStream and the raw peer socket it talks to.
class LoopbackPair {
public:
    LoopbackPair() {
        sockaddr_in address{};
        const int listener = listen_on_loopback(1, address);
        if (listener < 0) {
            return;
        }
        auto target = qx_sdk_client::net::SocketAddress::parse("127.0.0.1", ntohs(address.sin_port));
        auto connected = qx_sdk_client::net::TcpStream::connect(*target, test_timeout);
        peer_ = ::accept4(listener, nullptr, nullptr, SOCK_CLOEXEC);
        ::close(listener);
        if (!connected || peer_ < 0) {
            ADD_FAILURE() << "loopback connection";
            return;
        }
        stream_.emplace(std::move(*connected));
        EXPECT_TRUE(stream_->set_read_timeout(test_timeout));
        // A sending thread must not outlive a failed test by blocking for ever.
        const timeval send_limit{2, 0};
        ::setsockopt(peer_, SOL_SOCKET, SO_SNDTIMEO, &send_limit, sizeof send_limit);
    }
    ~LoopbackPair() { close_peer(); }
    LoopbackPair(const LoopbackPair&) = delete;
    LoopbackPair& operator=(const LoopbackPair&) = delete;

    qx_sdk_client::net::TcpStream& stream() { return *stream_; }
    int peer() const { return peer_; }

    void send(std::span<const uint8_t> bytes) const {
        ASSERT_EQ(::send(peer_, bytes.data(), bytes.size(), MSG_NOSIGNAL), static_cast<ssize_t>(bytes.size()));
    }
    void close_peer() {
        if (peer_ >= 0) {
            ::close(peer_);
            peer_ = -1;
        }
    }

private:
    std::optional<qx_sdk_client::net::TcpStream> stream_;
    int peer_ = -1;
};

}  // namespace qx_sdk_test
