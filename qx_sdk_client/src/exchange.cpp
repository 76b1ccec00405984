#include "qx_sdk_client/src/exchange.hpp"

#include <string>

namespace qx_sdk_client::device {

error::Result<void> send_frame(DeviceConnection& locked, std::span<const uint8_t> frame,
                               std::string_view qualified_name) {
    // Nothing that arrived before the request is sent can be its reply: a
    // reply that came after its exchange gave up, the rest of a frame, or a
    // device sending a reply twice. Taken for this request's reply, it would
    // shift every later reply by one. A clean exchange cannot tell that no
    // such bytes will follow it, so the drain runs before every request.
    const bool drained = locked.stream.discard_pending().has_value();
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
