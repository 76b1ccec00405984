// Small helpers of the client SDK.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"

namespace qx_sdk_client::util {

// An EAN holds one decimal digit per nibble; shown as XX-XXXXX-XXXXX-X.
std::string format_ean(uint64_t ean);

// Reads one frame (4-byte header, then the payload it announces) into the
// front of `buffer`, within the stream's read timeout counted from the call.
// First it asks for what arrives to be acknowledged at once (a device with
// Nagle's algorithm on would otherwise hold back what it sends next); then
// the first receive takes whatever is already waiting, so a reply that has
// fully arrived costs one receive. With one request in flight, bytes
// received beyond the frame can only be left over or unasked for, and are
// dropped. Failures are TcpStreamReadError: "Failed to read packet header",
// "Failed to read remaining payload", or, for a payload longer than the
// buffer leaves after the header, a text giving both sizes; that payload is
// read and dropped, within the same time, so the stream stays in step with
// the device.
[[nodiscard]] error::Result<void> read_packet(net::TcpStream& stream, std::span<uint8_t> buffer);

}  // namespace qx_sdk_client::util
