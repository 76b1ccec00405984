// Small helpers of the client SDK.
#pragma once

#include <cstdint>
#include <string>

namespace qx_sdk_client::util {

// An EAN holds one decimal digit per nibble; shown as XX-XXXXX-XXXXX-X.
std::string format_ean(uint64_t ean);

}  // namespace qx_sdk_client::util
