#include "qx_sdk_client/src/tcp_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <utility>

#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

namespace qx_sdk_client::net {
namespace {

std::unexpected<IoError> last_error() { return std::unexpected(IoError(errno)); }

// Repeats one send or receive call until every byte has moved. A call that
// moves nothing means the peer closed; an interrupted one is retried.
template <class Byte, class Call>
IoResult<void> transfer_all(std::span<Byte> bytes, Call call) {
    while (!bytes.empty()) {
        const ssize_t n = call(bytes.data(), bytes.size());
        if (n > 0) {
            bytes = bytes.subspan(static_cast<size_t>(n));
        } else if (n == 0) {
            return std::unexpected(IoError::closed());
        } else if (errno != EINTR) {
            return last_error();
        }
    }
    return {};
}

}  // namespace

bool IoError::is_timeout() const { return code_ == EAGAIN || code_ == EWOULDBLOCK; }

std::string IoError::describe() const {
    if (is_closed()) {
        return "connection closed by peer";
    }
    const char* name = ::strerrorname_np(code_);
    std::string text = name != nullptr ? name : "errno";
    text += " (" + std::to_string(code_) + "): ";
    text += ::strerrordesc_np(code_) != nullptr ? ::strerrordesc_np(code_) : "Unknown error";
    return text;
}

IoResult<TcpStream> TcpStream::connect(const SocketAddress& address) {
    const int fd = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        return last_error();
    }
    TcpStream stream(fd);  // closes the socket on every failure path below
    if (::connect(fd, address.native(), address.native_size()) == 0) {
        return stream;
    }
    if (errno != EINTR) {
        return last_error();
    }
    // An interrupted connect goes on in the background; wait for its outcome.
    pollfd watch{fd, POLLOUT, 0};
    while (::poll(&watch, 1, -1) < 0) {
        if (errno != EINTR) {
            return last_error();
        }
    }
    int outcome = 0;
    socklen_t size = sizeof outcome;
    if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &outcome, &size) < 0) {
        return last_error();
    }
    if (outcome != 0) {
        return std::unexpected(IoError(outcome));
    }
    return stream;
}

TcpStream::TcpStream(TcpStream&& other) noexcept : fd_(std::exchange(other.fd_, -1)) {}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
    }
    return *this;
}

TcpStream::~TcpStream() { close(); }

void TcpStream::close() {
    if (fd_ >= 0) {
        // Not retried on EINTR: on Linux the descriptor is gone either way.
        ::close(fd_);
        fd_ = -1;
    }
}

IoResult<void> TcpStream::set_timeout(int option, std::optional<std::chrono::nanoseconds> timeout) {
    timeval value{};
    if (timeout) {
        if (timeout->count() <= 0) {
            return std::unexpected(IoError(EINVAL));
        }
        const auto micros = std::chrono::ceil<std::chrono::microseconds>(*timeout);
        value.tv_sec = static_cast<time_t>(micros.count() / 1'000'000);
        value.tv_usec = static_cast<suseconds_t>(micros.count() % 1'000'000);
    }
    if (::setsockopt(fd_, SOL_SOCKET, option, &value, sizeof value) < 0) {
        return last_error();
    }
    return {};
}

IoResult<std::optional<std::chrono::nanoseconds>> TcpStream::get_timeout(int option) const {
    timeval value{};
    socklen_t size = sizeof value;
    if (::getsockopt(fd_, SOL_SOCKET, option, &value, &size) < 0) {
        return last_error();
    }
    if (value.tv_sec == 0 && value.tv_usec == 0) {
        return std::optional<std::chrono::nanoseconds>();
    }
    return std::optional<std::chrono::nanoseconds>(std::chrono::seconds(value.tv_sec) +
                                                   std::chrono::microseconds(value.tv_usec));
}

IoResult<void> TcpStream::set_read_timeout(std::optional<std::chrono::nanoseconds> timeout) {
    return set_timeout(SO_RCVTIMEO, timeout);
}

IoResult<void> TcpStream::set_write_timeout(std::optional<std::chrono::nanoseconds> timeout) {
    return set_timeout(SO_SNDTIMEO, timeout);
}

IoResult<std::optional<std::chrono::nanoseconds>> TcpStream::read_timeout() const { return get_timeout(SO_RCVTIMEO); }

IoResult<std::optional<std::chrono::nanoseconds>> TcpStream::write_timeout() const { return get_timeout(SO_SNDTIMEO); }

IoResult<void> TcpStream::write_all(std::span<const uint8_t> bytes) {
    return transfer_all(bytes, [this](const uint8_t* data, size_t size) {
        return ::send(fd_, data, size, MSG_NOSIGNAL);
    });
}

IoResult<void> TcpStream::read_exact(std::span<uint8_t> bytes) {
    return transfer_all(bytes, [this](uint8_t* data, size_t size) { return ::recv(fd_, data, size, 0); });
}

IoResult<size_t> TcpStream::read_some(std::span<uint8_t> bytes) {
    for (;;) {
        const ssize_t n = ::recv(fd_, bytes.data(), bytes.size(), 0);
        if (n > 0) {
            return static_cast<size_t>(n);
        }
        if (n == 0) {
            return std::unexpected(IoError::closed());
        }
        if (errno != EINTR) {
            return last_error();
        }
    }
}

IoResult<size_t> TcpStream::discard_pending(size_t limit) {
    uint8_t scratch[4096];
    size_t dropped = 0;
    while (dropped < limit) {
        const size_t want = std::min(sizeof scratch, limit - dropped);
        const ssize_t n = ::recv(fd_, scratch, want, MSG_DONTWAIT);
        if (n > 0) {
            dropped += static_cast<size_t>(n);
        } else if (n == 0) {
            break;
        } else if (errno == EAGAIN || errno == EWOULDBLOCK) {
            break;
        } else if (errno != EINTR) {
            return last_error();
        }
    }
    return dropped;
}

}  // namespace qx_sdk_client::net
