// A connected, blocking TCP socket owned by value.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <optional>
#include <span>
#include <string>

#include "qx_sdk_client/src/socket_address.hpp"

namespace qx_sdk_client::net {

// The failure of one socket call: its errno value, or 0 when the peer closed
// the connection (a read got no bytes, or a write was accepted for none).
// The SDK turns these into its own error kinds; this is not one of them.
class IoError {
public:
    explicit IoError(int code) : code_(code) {}
    static IoError closed() { return IoError(0); }

    int code() const { return code_; }
    bool is_closed() const { return code_ == 0; }
    // The receive or send timeout expired.
    bool is_timeout() const;
    // "connection closed by peer", or e.g. "EAGAIN (11): Resource temporarily unavailable".
    std::string describe() const;

    friend bool operator==(const IoError&, const IoError&) = default;

private:
    int code_;
};

template <class T>
using IoResult = std::expected<T, IoError>;

class TcpStream {
public:
    // Blocking connect with no timeout of its own (the system's applies).
    static IoResult<TcpStream> connect(const SocketAddress& address);
    // Takes ownership of an already connected socket.
    static TcpStream from_fd(int fd) { return TcpStream(fd); }

    TcpStream(TcpStream&& other) noexcept;
    TcpStream& operator=(TcpStream&& other) noexcept;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;
    ~TcpStream();

    // -1 once moved from; every operation then fails with EBADF.
    int fd() const { return fd_; }

    // Bound each single receive or send call. Absent means wait without limit.
    // A zero or negative duration is refused (EINVAL) rather than taken as
    // "no limit"; durations are rounded up to the next microsecond, and the
    // system may round further up to its clock tick.
    IoResult<void> set_read_timeout(std::optional<std::chrono::nanoseconds> timeout);
    IoResult<void> set_write_timeout(std::optional<std::chrono::nanoseconds> timeout);
    // As the system reports them; absent when no limit is set.
    IoResult<std::optional<std::chrono::nanoseconds>> read_timeout() const;
    IoResult<std::optional<std::chrono::nanoseconds>> write_timeout() const;

    // Writes every byte, retrying interrupted and partial sends. A closed
    // peer gives an error, never SIGPIPE.
    IoResult<void> write_all(std::span<const uint8_t> bytes);
    // Fills `bytes` completely, retrying interrupted and partial receives.
    IoResult<void> read_exact(std::span<uint8_t> bytes);
    // One receive of at least one and at most bytes.size() bytes, retrying
    // an interrupted one; returns how many arrived.
    IoResult<size_t> read_some(std::span<uint8_t> bytes);

    // Drops whatever already waits in the receive queue, without waiting for
    // more, and returns how many bytes were dropped. Stops after `limit` bytes
    // so a peer that keeps sending cannot hold the caller. A peer that has
    // closed ends the drain without an error; the next read reports it.
    IoResult<size_t> discard_pending(size_t limit = default_discard_limit);
    static constexpr size_t default_discard_limit = 1 << 20;

private:
    explicit TcpStream(int fd) : fd_(fd) {}
    IoResult<void> set_timeout(int option, std::optional<std::chrono::nanoseconds> timeout);
    IoResult<std::optional<std::chrono::nanoseconds>> get_timeout(int option) const;
    void close();

    int fd_ = -1;
};

}  // namespace qx_sdk_client::net
