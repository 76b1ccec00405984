#include "qx_sdk_client/src/util.hpp"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <string>
#include <utility>

namespace qx_sdk_client::util {
namespace {

constexpr size_t header_size = 4;

error::Error read_error(std::string text) {
    return error::Error(error::Error::Kind::TcpStreamReadError, std::move(text));
}

// Reads and drops `length` payload bytes through `scratch`, each read bounded
// by the stream's receive timeout. Best effort: the caller fails either way.
void drop_payload(net::TcpStream& stream, size_t length, std::span<uint8_t> scratch) {
    while (length > 0 && !scratch.empty()) {
        const size_t piece = std::min(length, scratch.size());
        if (!stream.read_exact(scratch.first(piece))) {
            return;
        }
        length -= piece;
    }
}

size_t announced_length(std::span<const uint8_t> header) {
    return static_cast<size_t>(header[2]) | static_cast<size_t>(header[3]) << 8;
}

error::Error oversize_error(size_t length, size_t room) {
    return read_error("Reply payload of " + std::to_string(length) + " bytes does not fit the packet buffer of " +
                      std::to_string(room) + " payload bytes");
}

error::Error header_error() { return read_error("Failed to read packet header"); }
error::Error payload_error() { return read_error("Failed to read remaining payload"); }

}  // namespace

std::string format_ean(uint64_t ean) {
    // Groups 1 to 3 are printed in hex so that each nibble stays one digit,
    // even when it is not a decimal digit; bits 56 to 63 are not part of it.
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%02" PRIx64 "-%05" PRIx64 "-%05" PRIx64 "-%" PRIu64,
                                (ean >> 44) & 0xFFF, (ean >> 24) & 0xFFFFF, (ean >> 4) & 0xFFFFF, ean & 0xF);
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

error::Result<void> read_packet(net::TcpStream& stream, std::span<uint8_t> buffer) {
    if (buffer.size() < header_size || !stream.read_exact(buffer.first(header_size))) {
        return std::unexpected(header_error());
    }
    const size_t length = announced_length(buffer);
    std::span<uint8_t> payload = buffer.subspan(header_size);
    if (length > payload.size()) {
        // The header stays as read; the payload bytes hold whatever the drop left.
        drop_payload(stream, length, payload);
        return std::unexpected(oversize_error(length, payload.size()));
    }
    if (length > 0 && !stream.read_exact(payload.first(length))) {
        return std::unexpected(payload_error());
    }
    return {};
}

error::Result<void> read_reply(net::TcpStream& stream, std::span<uint8_t> buffer, bool& overrun) {
    overrun = false;
    if (buffer.size() < header_size) {
        return std::unexpected(header_error());
    }
    size_t have = 0;
    while (have < header_size) {
        const auto n = stream.read_some(buffer.subspan(have));
        if (!n) {
            return std::unexpected(header_error());
        }
        have += *n;
    }
    const size_t length = announced_length(buffer);
    std::span<uint8_t> payload = buffer.subspan(header_size);
    const size_t payload_have = have - header_size;
    if (length > payload.size()) {
        // What arrived already is the oversize payload's start; the rest
        // is read and dropped so the stream stays in step.
        drop_payload(stream, length - payload_have, payload);
        return std::unexpected(oversize_error(length, payload.size()));
    }
    if (payload_have < length && !stream.read_exact(payload.subspan(payload_have, length - payload_have))) {
        return std::unexpected(payload_error());
    }
    overrun = payload_have > length;
    return {};
}

}  // namespace qx_sdk_client::util
