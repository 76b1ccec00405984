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
        return std::unexpected(read_error("Failed to read packet header"));
    }
    const size_t length = static_cast<size_t>(buffer[2]) | static_cast<size_t>(buffer[3]) << 8;
    std::span<uint8_t> payload = buffer.subspan(header_size);
    if (length > payload.size()) {
        // The header stays as read; the payload bytes hold whatever the drop left.
        drop_payload(stream, length, payload);
        return std::unexpected(read_error("Reply payload of " + std::to_string(length) +
                                          " bytes does not fit the packet buffer of " +
                                          std::to_string(payload.size()) + " payload bytes"));
    }
    if (length > 0 && !stream.read_exact(payload.first(length))) {
        return std::unexpected(read_error("Failed to read remaining payload"));
    }
    return {};
}

}  // namespace qx_sdk_client::util
