// Raises a connection's socket timeouts for the length of one scope.
#pragma once

#include <chrono>
#include <optional>

#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"

namespace qx_sdk_client::device {

// Connections carry one timeout for both directions (device creation sets
// both to the client's), so only the read timeout is saved and both are put
// back from it: the limit the stream itself set, exactly. Must not outlive
// the stream nor the lock that guards it.
class TcpStreamWithTemporaryTcpTimeoutOverride {
public:
    // Sets both timeouts to `timeout`. On failure nothing stays changed.
    [[nodiscard]] static error::Result<TcpStreamWithTemporaryTcpTimeoutOverride> create(
        net::TcpStream& stream, std::chrono::nanoseconds timeout);

    TcpStreamWithTemporaryTcpTimeoutOverride(TcpStreamWithTemporaryTcpTimeoutOverride&& other) noexcept;
    TcpStreamWithTemporaryTcpTimeoutOverride& operator=(TcpStreamWithTemporaryTcpTimeoutOverride&&) = delete;
    TcpStreamWithTemporaryTcpTimeoutOverride(const TcpStreamWithTemporaryTcpTimeoutOverride&) = delete;
    TcpStreamWithTemporaryTcpTimeoutOverride& operator=(const TcpStreamWithTemporaryTcpTimeoutOverride&) = delete;

    // Restores both timeouts from the saved read timeout (absent: no limit).
    // There is no one to tell about a failure here, so it is ignored.
    ~TcpStreamWithTemporaryTcpTimeoutOverride();

private:
    TcpStreamWithTemporaryTcpTimeoutOverride(net::TcpStream& overridden_stream,
                                             std::optional<std::chrono::nanoseconds> read_timeout_before)
        : stream(&overridden_stream), previous_read_timeout(read_timeout_before) {}

    net::TcpStream* stream;  // null once moved from
    // Absent when the stream had set none.
    std::optional<std::chrono::nanoseconds> previous_read_timeout;
};

}  // namespace qx_sdk_client::device
