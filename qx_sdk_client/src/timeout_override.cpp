#include "qx_sdk_client/src/timeout_override.hpp"

#include <string>
#include <utility>

namespace qx_sdk_client::device {
namespace {

constexpr const char* set_timeout_failed_text = "Failed to set tcp stream timeout";

}  // namespace

error::Result<TcpStreamWithTemporaryTcpTimeoutOverride> TcpStreamWithTemporaryTcpTimeoutOverride::create(
    net::TcpStream& stream, std::chrono::nanoseconds timeout) {
    // The stream's own figure, not the system's: that one is rounded up to
    // the clock tick, and putting it back would stretch the limit.
    const std::optional<std::chrono::nanoseconds> before = stream.read_limit();
    if (!stream.set_read_timeout(timeout)) {
        return std::unexpected(error::Error(error::Error::Kind::TcpStreamReadError, set_timeout_failed_text));
    }
    if (!stream.set_write_timeout(timeout)) {
        // Without this the connection would keep the raised read timeout
        // after an update that never started.
        (void)stream.set_read_timeout(before);
        return std::unexpected(error::Error(error::Error::Kind::TcpStreamWriteError, set_timeout_failed_text));
    }
    return TcpStreamWithTemporaryTcpTimeoutOverride(stream, before);
}

TcpStreamWithTemporaryTcpTimeoutOverride::TcpStreamWithTemporaryTcpTimeoutOverride(
    TcpStreamWithTemporaryTcpTimeoutOverride&& other) noexcept
    : stream(std::exchange(other.stream, nullptr)), previous_read_timeout(other.previous_read_timeout) {}

TcpStreamWithTemporaryTcpTimeoutOverride::~TcpStreamWithTemporaryTcpTimeoutOverride() {
    if (stream == nullptr) {
        return;
    }
    (void)stream->set_read_timeout(previous_read_timeout);
    (void)stream->set_write_timeout(previous_read_timeout);
}

}  // namespace qx_sdk_client::device
