// Reply-text conversion on arbitrary buffers, against an independent reading
// of what it must give: the UTF-8 text before the first NUL, or one of its two
// refusals.
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

#include "harness/check.hpp"
#include "harness/utf8_oracle.hpp"
#include "qx_sdk_protocol/src/util.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using qx_sdk_protocol::ProtocolError;
    const std::span<const uint8_t> bytes(data, size);
    const auto result = qx_sdk_protocol::util::string_from_bytes(bytes);

    const auto nul = std::ranges::find(bytes, uint8_t{0});
    if (nul == bytes.end()) {
        FUZZ_CHECK(!result && result.error().kind() == ProtocolError::Kind::StringConversion &&
                       result.error().text() == "Failed to decode utf-8 from bytes",
                   "bytes without a NUL are refused");
        return 0;
    }
    const auto text = bytes.first(static_cast<size_t>(nul - bytes.begin()));
    if (!fuzz::is_well_formed_utf8(text)) {
        FUZZ_CHECK(!result && result.error().kind() == ProtocolError::Kind::StringConversion &&
                       result.error().text() == "Failed to convert cstring to native String",
                   "a text that is not UTF-8 is refused");
        return 0;
    }
    FUZZ_CHECK(result.has_value(), "a UTF-8 text before a NUL converts");
    FUZZ_CHECK(*result == std::string(text.begin(), text.end()), "the text is the bytes before the first NUL");
    return 0;
}
