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

// Reads and drops `length` payload bytes through `scratch`, within the
// frame's deadline. Best effort: the caller fails either way.
void drop_payload(net::TcpStream& stream, size_t length, std::span<uint8_t> scratch, net::Deadline& deadline) {
    while (length > 0 && !scratch.empty()) {
        const auto dropped = stream.read_some(scratch.first(std::min(length, scratch.size())), deadline);
        if (!dropped) {
            return;
        }
        length -= *dropped;
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
    if (buffer.size() < header_size) {
        return std::unexpected(header_error());
    }
    // A device whose stack has Nagle's algorithm on sends nothing more (the
    // rest of this reply, or the reply again) until what it sent has been
    // acknowledged. Linux holds that acknowledgement back, up to about 40 ms,
    // to ride on our next request: a copy of the reply would then land just
    // after that request went out, too late for the drain before it, and be
    // taken for its answer, and each later reply would wait the same way.
    // Every send puts the delay back, so this is asked for anew once the
    // request is out; set here, before the reply comes, it covers each
    // piece of it with one system call that runs while the device works.
    stream.acknowledge_at_once();
    net::Deadline deadline = stream.read_deadline();
    size_t have = 0;
    while (have < header_size) {
        const auto n = stream.read_some(buffer.subspan(have), deadline);
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
        drop_payload(stream, length - payload_have, payload, deadline);
        return std::unexpected(oversize_error(length, payload.size()));
    }
    if (payload_have < length && !stream.read_exact(payload.subspan(payload_have, length - payload_have), deadline)) {
        return std::unexpected(payload_error());
    }
    return {};
}

}  // namespace qx_sdk_client::util
