#include "qx_sdk_client/src/tcp_stream.hpp"

#include <algorithm>
#include <cerrno>
#include <utility>

#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "qx_sdk_client/src/errno_text.hpp"

namespace qx_sdk_client::net {
namespace {

std::unexpected<IoError> last_error() { return std::unexpected(IoError(errno)); }

// Waits until the socket is ready for `events` or the deadline passes;
// a signal only shortens the wait, which goes on with the time left.
[[nodiscard]] IoResult<void> wait_until_ready(int fd, short events, const Deadline& deadline) {
    pollfd watch{fd, events, 0};
    for (;;) {
        const std::optional<std::chrono::nanoseconds> left = deadline.left();
        if (left && left->count() <= 0) {
            return std::unexpected(IoError(EAGAIN));
        }
        timespec wait{};
        if (left) {
            wait.tv_sec = static_cast<time_t>(left->count() / 1'000'000'000);
            wait.tv_nsec = static_cast<long>(left->count() % 1'000'000'000);
        }
        const int ready = ::ppoll(&watch, 1, left ? &wait : nullptr, nullptr);
        if (ready > 0) {
            return {};
        }
        if (ready == 0) {
            return std::unexpected(IoError(EAGAIN));
        }
        if (errno != EINTR) {
            return last_error();
        }
    }
}

}  // namespace

bool IoError::is_timeout() const { return code_ == EAGAIN || code_ == EWOULDBLOCK || code_ == ETIMEDOUT; }

std::string IoError::describe() const {
    if (is_closed()) {
        return "connection closed by peer";
    }
    return util::errno_text(code_);
}

std::optional<std::chrono::nanoseconds> Deadline::left() const {
    if (!limit_) {
        return std::nullopt;
    }
    return *limit_ - std::chrono::duration_cast<std::chrono::nanoseconds>(std::chrono::steady_clock::now() - start_);
}

IoResult<TcpStream> TcpStream::connect(const SocketAddress& address, std::optional<std::chrono::nanoseconds> timeout) {
    if (timeout && timeout->count() <= 0) {
        return std::unexpected(IoError(EINVAL));
    }
    const Deadline deadline(timeout);
    // Non-blocking only while connecting: an address that never answers
    // would otherwise hold the caller for the system's SYN retries.
    const int fd = ::socket(address.family(), SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, IPPROTO_TCP);
    if (fd < 0) {
        return last_error();
    }
    TcpStream stream(fd);  // closes the socket on every failure path below
    if (::connect(fd, address.native(), address.native_size()) != 0) {
        if (errno != EINPROGRESS && errno != EINTR) {
            return last_error();
        }
        if (IoResult<void> ready = wait_until_ready(fd, POLLOUT, deadline); !ready) {
            return std::unexpected(ready.error().is_timeout() ? IoError(ETIMEDOUT) : ready.error());
        }
        int outcome = 0;
        socklen_t size = sizeof outcome;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &outcome, &size) < 0) {
            return last_error();
        }
        if (outcome != 0) {
            return std::unexpected(IoError(outcome));
        }
    }
    const int flags = ::fcntl(fd, F_GETFL);
    if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) < 0) {
        return last_error();
    }
    return stream;
}

TcpStream::TcpStream(TcpStream&& other) noexcept
    : fd_(std::exchange(other.fd_, -1)),
      read_limit_(std::exchange(other.read_limit_, std::nullopt)),
      write_limit_(std::exchange(other.write_limit_, std::nullopt)) {}

TcpStream& TcpStream::operator=(TcpStream&& other) noexcept {
    if (this != &other) {
        close();
        fd_ = std::exchange(other.fd_, -1);
        read_limit_ = std::exchange(other.read_limit_, std::nullopt);
        write_limit_ = std::exchange(other.write_limit_, std::nullopt);
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

IoResult<void> TcpStream::set_timeout(int option, std::optional<std::chrono::nanoseconds> timeout,
                                      std::optional<std::chrono::nanoseconds>& limit) {
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
    limit = timeout;
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
    // The largest limit that can be set comes back rounded up past what
    // nanoseconds hold.
    constexpr auto most = std::chrono::nanoseconds::max();
    const auto fraction = std::chrono::nanoseconds(std::chrono::microseconds(value.tv_usec));
    if (value.tv_sec > std::chrono::duration_cast<std::chrono::seconds>(most - fraction).count()) {
        return std::optional<std::chrono::nanoseconds>(most);
    }
    return std::optional<std::chrono::nanoseconds>(std::chrono::seconds(value.tv_sec) + fraction);
}

IoResult<void> TcpStream::set_read_timeout(std::optional<std::chrono::nanoseconds> timeout) {
    return set_timeout(SO_RCVTIMEO, timeout, read_limit_);
}

IoResult<void> TcpStream::set_write_timeout(std::optional<std::chrono::nanoseconds> timeout) {
    return set_timeout(SO_SNDTIMEO, timeout, write_limit_);
}

IoResult<std::optional<std::chrono::nanoseconds>> TcpStream::read_timeout() const { return get_timeout(SO_RCVTIMEO); }

IoResult<std::optional<std::chrono::nanoseconds>> TcpStream::write_timeout() const { return get_timeout(SO_SNDTIMEO); }

template <class Transfer>
IoResult<size_t> TcpStream::transfer_some(short ready_event, Deadline& deadline, Transfer transfer) {
    // The socket's own timeout equals the deadline's limit, so a first call
    // that moves bytes at once, or runs out of time, needs nothing more.
    if (!std::exchange(deadline.first_call_made_, true)) {
        const ssize_t n = transfer(0);
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
    // A later call, or one after a signal: each restart with a fresh socket
    // timeout would let a trickling peer or a periodic signal stretch the
    // transfer without end, so wait only for what is left of the deadline.
    // The socket is seldom ready right after a partial transfer, so the wait
    // comes first: two system calls per piece rather than three.
    for (;;) {
        if (IoResult<void> ready = wait_until_ready(fd_, ready_event, deadline); !ready) {
            return std::unexpected(ready.error());
        }
        const ssize_t n = transfer(MSG_DONTWAIT);
        if (n > 0) {
            return static_cast<size_t>(n);
        }
        if (n == 0) {
            return std::unexpected(IoError::closed());
        }
        if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
            return last_error();
        }
    }
}

IoResult<void> TcpStream::write_all(std::span<const uint8_t> bytes) {
    Deadline deadline(write_limit_);
    while (!bytes.empty()) {
        const IoResult<size_t> sent = transfer_some(POLLOUT, deadline, [&](int flags) {
            return ::send(fd_, bytes.data(), bytes.size(), flags | MSG_NOSIGNAL);
        });
        if (!sent) {
            return std::unexpected(sent.error());
        }
        bytes = bytes.subspan(*sent);
    }
    return {};
}

IoResult<size_t> TcpStream::read_some(std::span<uint8_t> bytes, Deadline& deadline) {
    return transfer_some(POLLIN, deadline, [&](int flags) { return ::recv(fd_, bytes.data(), bytes.size(), flags); });
}

IoResult<void> TcpStream::read_exact(std::span<uint8_t> bytes, Deadline& deadline) {
    while (!bytes.empty()) {
        const IoResult<size_t> received = read_some(bytes, deadline);
        if (!received) {
            return std::unexpected(received.error());
        }
        bytes = bytes.subspan(*received);
    }
    return {};
}

void TcpStream::acknowledge_at_once() {
    const int on = 1;
    ::setsockopt(fd_, IPPROTO_TCP, TCP_QUICKACK, &on, sizeof on);
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
