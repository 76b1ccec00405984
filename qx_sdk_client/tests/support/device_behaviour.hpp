// How the fake device answers one request, given its scripted state.
#pragma once

#include <cstdint>
#include <span>

#include "qx_sdk_client/tests/support/device_state.hpp"
#include "qx_sdk_client/tests/support/wire_bytes.hpp"

namespace qx_test {

// The reply frame to one request, as a device of `state.protocol_version`
// would send it; set requests change `state`. Unknown requests, and requests
// of the second family on a device of version 1 or 0, get an error packet
// with status 1 (not implemented); a malformed request gets status 20, an
// interface index without a state 18, a text that is not UTF-8 15.
Bytes answer_request(DeviceState& state, uint16_t command, std::span<const uint8_t> payload);

// 1 or 2 for the requests a device knows, 0 for any other number.
int request_family(uint16_t command);

}  // namespace qx_test
