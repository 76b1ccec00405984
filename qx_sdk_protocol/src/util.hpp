// Helpers shared by the typed request layer.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "qx_sdk_protocol/src/protocol_error.hpp"

namespace qx_sdk_protocol::util {

// The text before the first NUL of a fixed-size reply buffer, which must be
// UTF-8; StringConversion when there is no NUL or the text is not UTF-8.
[[nodiscard]] ProtocolResult<std::string> string_from_bytes(std::span<const uint8_t> bytes);

}  // namespace qx_sdk_protocol::util
