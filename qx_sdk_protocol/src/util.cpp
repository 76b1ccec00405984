#include "qx_sdk_protocol/src/util.hpp"

#include <algorithm>

namespace qx_sdk_protocol::util {

ProtocolResult<std::string> string_from_bytes(std::span<const uint8_t> bytes) {
    const auto nul = std::ranges::find(bytes, uint8_t{0});
    if (nul == bytes.end()) {
        return std::unexpected(ProtocolError::string_conversion("Failed to decode utf-8 from bytes"));
    }
    const auto text = bytes.first(static_cast<size_t>(nul - bytes.begin()));
    if (!is_valid_utf8(text.data(), text.size())) {
        return std::unexpected(ProtocolError::string_conversion("Failed to convert cstring to native String"));
    }
    return std::string(text.begin(), text.end());
}

}  // namespace qx_sdk_protocol::util
