#include "qx_sdk_client/src/util.hpp"

#include <cinttypes>
#include <cstdio>

namespace qx_sdk_client::util {

std::string format_ean(uint64_t ean) {
    // Groups 1 to 3 are printed in hex so that each nibble stays one digit,
    // even when it is not a decimal digit; bits 56 to 63 are not part of it.
    char text[40];
    const int n = std::snprintf(text, sizeof text, "%02" PRIx64 "-%05" PRIx64 "-%05" PRIx64 "-%" PRIu64,
                                (ean >> 44) & 0xFFF, (ean >> 24) & 0xFFFFF, (ean >> 4) & 0xFFFFF, ean & 0xF);
    return std::string(text, n > 0 ? static_cast<size_t>(n) : 0);
}

}  // namespace qx_sdk_client::util
