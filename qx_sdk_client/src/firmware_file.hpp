// Reading a firmware image from a file path.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_protocol/codec/protocol_base.h"

namespace qx_sdk_client::device {

// A chunk travels in one frame of the connection's buffer beside its 16-bit
// index and 16-bit length, and the index counts 65,536 chunks: no update can
// send a larger image, so no larger file is worth reading.
inline constexpr uint64_t LARGEST_FIRMWARE_IMAGE =
    (uint64_t{0xFFFF} + 1) * (PACKET_BUFFER_SIZE - QX_PACKET_HEADER_SIZE - 2 - 2);
static_assert(LARGEST_FIRMWARE_IMAGE == 267'911'168);

// The whole of a regular file of at most LARGEST_FIRMWARE_IMAGE bytes.
// Anything else gives FileReadError "Failed to read file <path>" before it is
// opened for reading: a FIFO or a device such as /dev/zero could block for
// ever or never end, and opening a FIFO would release a writer waiting for a
// reader. A path that cannot be opened gives FileOpenError "Failed to open
// file <path>". The size that stat reports is only a hint: files under /proc
// say 0, and a file may grow meanwhile; they are read to their end, within
// the same limit.
[[nodiscard]] error::Result<std::vector<uint8_t>> read_firmware_file(const std::string& path);

}  // namespace qx_sdk_client::device
