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
    // The receive, send or connect timeout expired.
    bool is_timeout() const;
    // "connection closed by peer", or e.g. "EAGAIN (11): Resource temporarily unavailable".
    std::string describe() const;

    friend bool operator==(const IoError&, const IoError&) = default;

private:
    int code_;
};

template <class T>
using IoResult = std::expected<T, IoError>;

// The time one transfer (a connect, or one frame in one direction) may take,
// counted from when it was made. Reading the clock is not a system call, so
// making one costs nothing on the fast path.
class Deadline {
public:
    // Absent: no limit.
    explicit Deadline(std::optional<std::chrono::nanoseconds> limit)
        : limit_(limit), start_(std::chrono::steady_clock::now()) {}

    // Absent without a limit; zero or less once the time is up.
    std::optional<std::chrono::nanoseconds> left() const;

private:
    friend class TcpStream;

    std::optional<std::chrono::nanoseconds> limit_;
    std::chrono::steady_clock::time_point start_;
    // The first socket call of a transfer is a plain blocking one, bounded
    // by the socket's own timeout, which equals the limit; only the calls
    // after it (or after it was interrupted) wait for the time left.
    bool first_call_made_ = false;
};

class TcpStream {
public:
    // Waits at most `timeout` (which must be positive; absent: as long as the
    // system tries) for the connection, continuing with the time left when a
    // signal interrupts the wait; an address that never answers fails with
    // ETIMEDOUT. Blocking afterwards.
    [[nodiscard]] static IoResult<TcpStream> connect(const SocketAddress& address,
                                                     std::optional<std::chrono::nanoseconds> timeout);
    // Takes ownership of an already connected socket, whose timeouts are unknown.
    static TcpStream from_fd(int fd) { return TcpStream(fd); }

    TcpStream(TcpStream&& other) noexcept;
    TcpStream& operator=(TcpStream&& other) noexcept;
    TcpStream(const TcpStream&) = delete;
    TcpStream& operator=(const TcpStream&) = delete;
    ~TcpStream();

    // -1 once moved from; every operation then fails with EBADF.
    int fd() const { return fd_; }

    // The limit for one whole frame in each direction: also the bound of
    // each single receive or send call. Absent means wait without limit.
    // A zero or negative duration is refused (EINVAL) rather than taken as
    // "no limit"; durations are rounded up to the next microsecond, and the
    // system may round further up to its clock tick.
    [[nodiscard]] IoResult<void> set_read_timeout(std::optional<std::chrono::nanoseconds> timeout);
    [[nodiscard]] IoResult<void> set_write_timeout(std::optional<std::chrono::nanoseconds> timeout);
    // As the system reports them, rounded to its clock tick; absent when no
    // limit is set. A figure beyond what nanoseconds hold reads as their maximum.
    [[nodiscard]] IoResult<std::optional<std::chrono::nanoseconds>> read_timeout() const;
    [[nodiscard]] IoResult<std::optional<std::chrono::nanoseconds>> write_timeout() const;
    // Exactly what this stream last set (absent: none, or not known for a
    // stream taken over by from_fd). No system call.
    std::optional<std::chrono::nanoseconds> read_limit() const { return read_limit_; }
    std::optional<std::chrono::nanoseconds> write_limit() const { return write_limit_; }

    // The deadline of one frame read, starting now, with the read timeout.
    Deadline read_deadline() const { return Deadline(read_limit_); }

    // Writes every byte within the write timeout, retrying interrupted and
    // partial sends with the time left. A closed peer gives an error, never
    // SIGPIPE; running out of time gives EAGAIN.
    [[nodiscard]] IoResult<void> write_all(std::span<const uint8_t> bytes);
    // One receive of at least one and at most bytes.size() bytes within the
    // deadline; returns how many arrived. Running out of time gives EAGAIN.
    [[nodiscard]] IoResult<size_t> read_some(std::span<uint8_t> bytes, Deadline& deadline);
    // Fills `bytes` completely within the deadline.
    [[nodiscard]] IoResult<void> read_exact(std::span<uint8_t> bytes, Deadline& deadline);

    // Until the next send, what arrives is acknowledged as soon as it has
    // been read (and anything read but not yet acknowledged is, now), not
    // after the system's delay. A failure leaves acknowledgements to the
    // system and is not reported.
    void acknowledge_at_once();

    // Drops whatever already waits in the receive queue, without waiting for
    // more, and returns how many bytes were dropped. Stops after `limit` bytes
    // so a peer that keeps sending cannot hold the caller. A peer that has
    // closed ends the drain without an error; the next read reports it.
    [[nodiscard]] IoResult<size_t> discard_pending(size_t limit = default_discard_limit);
    static constexpr size_t default_discard_limit = 1 << 20;

private:
    explicit TcpStream(int fd) : fd_(fd) {}
    [[nodiscard]] IoResult<void> set_timeout(int option, std::optional<std::chrono::nanoseconds> timeout,
                                             std::optional<std::chrono::nanoseconds>& limit);
    [[nodiscard]] IoResult<std::optional<std::chrono::nanoseconds>> get_timeout(int option) const;
    template <class Transfer>
    [[nodiscard]] IoResult<size_t> transfer_some(short ready_event, Deadline& deadline, Transfer transfer);
    void close();

    int fd_ = -1;
    // What the timeouts were last set to, so that a frame's deadline costs no
    // system call to learn them.
    std::optional<std::chrono::nanoseconds> read_limit_;
    std::optional<std::chrono::nanoseconds> write_limit_;
};

}  // namespace qx_sdk_client::net
