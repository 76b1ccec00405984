// How long each socket call may take while a firmware update runs. The update
// itself is Device::update_firmware_from_blob / update_firmware_from_path;
// what it reports is in firmware_update_callbacks.hpp.
#pragma once

#include <chrono>

namespace qx_sdk_client::device {

// Both socket timeouts while an update runs: the device checks and stores
// the image before it answers finalize.
inline constexpr std::chrono::seconds FIRMWARE_UPDATE_TIMEOUT{5};

}  // namespace qx_sdk_client::device
