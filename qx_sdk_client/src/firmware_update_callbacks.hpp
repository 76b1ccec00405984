// What a firmware update reports to its caller while it runs. The update
// itself is Device::update_firmware_from_blob / update_firmware_from_path.
#pragma once

#include <cstdint>

#include "qx_sdk_protocol/src/enumeration.hpp"

namespace qx_sdk_client::device {

// Numbered 0 to 5 in this order; the values are shared with the Python
// module's enumeration unchanged.
QX_ENUMERATION(FirmwareUpdateResult, Success, TransferError, FirmwareFailedSignatureCheck, FirmwareCorrupt,
               FirmwareForOtherDevice, UnknownError)

// Called on the updating thread while the device's lock is held, so an
// implementation must not use the device being updated (such a call fails
// at once with FailedToAquireLock). Nothing returned can stop the update.
// An exception leaving a callback abandons the update and leaves the
// connection's lock broken; implementations are expected not to throw.
class FirmwareUpdateCallbacks {
public:
    virtual ~FirmwareUpdateCallbacks() = default;

    // Once, with the image's size in bytes, after the device accepted the start.
    virtual void update_started(uint64_t total_size) const = 0;
    // After each chunk the device acknowledged: image bytes acknowledged so far.
    virtual void report_progress(uint64_t acknowledged_bytes) const = 0;
    // Once the finalize reply has been read, and only then.
    virtual void update_finished(FirmwareUpdateResult result) const = 0;
    // Once, before finalizing, also after the device refused a chunk.
    virtual void start_finalizing() const = 0;
};

}  // namespace qx_sdk_client::device
