// Internal to the typed layer: the steps that every request and every reply
// share, written once. Each typed operation only names its codec call, its
// arguments and the shape of its reply (reply_shapes.hpp).
#pragma once

#include <cstdint>
#include <exception>
#include <expected>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/src/protocol_error.hpp"

namespace qx_sdk_protocol::detail {

using PackResult = ProtocolResult<std::span<uint8_t>>;

// One codec packet for the length of one operation, freed on every path.
class PacketGuard {
public:
    PacketGuard() = default;
    PacketGuard(const PacketGuard&) = delete;
    PacketGuard& operator=(const PacketGuard&) = delete;
    ~PacketGuard() { free_packet(&packet_); }

    qx_packet_t* get() { return &packet_; }

private:
    qx_packet_t packet_{};
};

// The only exceptions that can arise here come from building strings and
// lists; they must not cross into the caller, so they become the codec's own
// out-of-memory status.
template <class Result, class Body>
[[nodiscard]] Result guarded(Body&& body) noexcept {
    try {
        return body();
    } catch (const std::exception&) {
        return std::unexpected(ProtocolError::protocol_status(QX_PROTOCOL_STATUS_MEMORY_ERROR));
    }
}

// Builds a request with `build(packet)` and frames it into the front of `buffer`.
template <class Build>
[[nodiscard]] PackResult pack_frame(std::span<uint8_t> buffer, Build&& build) noexcept {
    return guarded<PackResult>([&]() -> PackResult {
        PacketGuard packet;
        if (auto built = map_codec_status(build(packet.get())); !built) {
            return std::unexpected(std::move(built).error());
        }
        if (auto framed = map_codec_status(to_buffer(packet.get(), buffer.data(), buffer.size())); !framed) {
            return std::unexpected(std::move(framed).error());
        }
        return buffer.first(QX_PACKET_HEADER_SIZE + packet.get()->length);
    });
}

// A request through its version dispatcher: dispatcher(version, packet, args...).
template <class Dispatcher, class... Args>
[[nodiscard]] PackResult pack_with(uint32_t version, std::span<uint8_t> buffer, Dispatcher dispatcher,
                                   Args... args) noexcept {
    return pack_frame(buffer, [&](qx_packet_t* packet) { return dispatcher(version, packet, args...); });
}

// A request whose last argument is a text: the codec takes it NUL-terminated,
// so a text holding a NUL would be cut short and is refused instead.
template <class Dispatcher, class... Args>
[[nodiscard]] PackResult pack_text_with(uint32_t version, std::span<uint8_t> buffer, std::string_view text,
                                        Dispatcher dispatcher, Args... args) noexcept {
    return guarded<PackResult>([&]() -> PackResult {
        if (text.find('\0') != std::string_view::npos) {
            return std::unexpected(
                ProtocolError::string_conversion("Failed to encode " + std::string(text) + " as utf-8 cstring"));
        }
        const std::string terminated(text);
        return pack_with(version, buffer, dispatcher, args..., terminated.c_str());
    });
}

template <class Reply>
using UnpackResult = decltype(std::declval<const Reply&>().result());

// Parses the frame at the front of `bytes`, lets `decode(packet, outputs...)`
// fill a Reply that starts from its initial outputs, and shapes the result.
template <class Reply, class Decode>
[[nodiscard]] UnpackResult<Reply> unpack_frame(std::span<const uint8_t> bytes, Decode&& decode) noexcept {
    using Result = UnpackResult<Reply>;
    return guarded<Result>([&]() -> Result {
        PacketGuard packet;
        if (auto parsed = map_codec_status(from_buffer(bytes.data(), bytes.size(), packet.get())); !parsed) {
            return std::unexpected(std::move(parsed).error());
        }
        Reply reply;
        const qx_protocol_status_t status =
            std::apply([&](auto... outputs) { return decode(packet.get(), outputs...); }, reply.outputs());
        if (auto decoded = map_codec_status(status); !decoded) {
            return std::unexpected(std::move(decoded).error());
        }
        return reply.result();
    });
}

// A reply through its version dispatcher: dispatcher(version, packet, outputs...).
template <class Reply, class Dispatcher>
[[nodiscard]] UnpackResult<Reply> unpack_with(uint32_t version, std::span<const uint8_t> bytes,
                                              Dispatcher dispatcher) noexcept {
    return unpack_frame<Reply>(
        bytes, [&](qx_packet_t* packet, auto... outputs) { return dispatcher(version, packet, outputs...); });
}

}  // namespace qx_sdk_protocol::detail
