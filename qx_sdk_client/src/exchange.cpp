#include "qx_sdk_client/src/exchange.hpp"

#include <string>

namespace qx_sdk_client::device {

error::Result<void> send_frame(DeviceConnection& locked, std::span<const uint8_t> frame,
                               std::string_view qualified_name, bool stream_in_step) {
    // With one request in flight, anything already waiting is left over from
    // an exchange that gave up on its reply; reading it as this request's
    // reply would shift every later reply by one. Only an exchange that did
    // not finish cleanly can leave such bytes, so after a clean one the
    // drain (a system call per request) is skipped.
    const bool drained = stream_in_step || locked.stream.discard_pending().has_value();
    const bool sent = drained && locked.stream.write_all(frame).has_value();
    if (!sent) {
        std::string text = "Failed to send ";
        text += qualified_name;
        text += " request";
        return std::unexpected(error::Error(error::Error::Kind::TcpStreamWriteError, std::move(text)));
    }
    return {};
}

}  // namespace qx_sdk_client::device
