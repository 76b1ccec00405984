// Device::update_firmware_from_blob and Device::update_firmware_from_path.
#include "qx_sdk_client/src/firmware_update.hpp"

#include <algorithm>
#include <span>
#include <string>
#include <utility>
#include <vector>

#include "qx_sdk_client/src/device.hpp"
#include "qx_sdk_client/src/exchange.hpp"
#include "qx_sdk_client/src/firmware_file.hpp"
#include "qx_sdk_client/src/request_names.hpp"
#include "qx_sdk_client/src/timeout_override.hpp"
#include "qx_sdk_protocol/src/device.hpp"

namespace qx_sdk_client::device {
namespace {

using error::Error;
using error::Result;
namespace protocol = qx_sdk_protocol::device;

constexpr std::string_view update_request_name = request_name::device_update_firmware;
constexpr const char* zero_chunk_size_text = "Device is requesting a chunk size of 0, which doesn't work";

// Wraps an unpack step so that its outcome, failure included, comes back as
// the exchange's value: during an update a refused chunk or a bad finalize
// reply is something to act on, not the end of the update.
template <class Unpack>
auto keeping_outcome(Unpack unpack) {
    return [unpack](uint32_t version, std::span<const uint8_t> bytes) {
        using Outcome = decltype(unpack(version, bytes));
        // The outcome is the value, whichever way it went.
        return qx_sdk_protocol::ProtocolResult<Outcome>(std::in_place, unpack(version, bytes));
    };
}

// Sends chunk after chunk until the image is out or the device does not
// acknowledge one; the latter is no error here, finalizing decides.
[[nodiscard]] Result<void> send_chunks(DeviceConnection& locked, std::span<const uint8_t> image, uint64_t chunk_size,
                                       const FirmwareUpdateCallbacks& callbacks) {
    uint64_t chunk_index = 0;
    uint64_t offset = 0;
    while (offset < image.size()) {
        const auto length = static_cast<size_t>(std::min<uint64_t>(image.size() - offset, chunk_size));
        // A view into the caller's image: packed from there, never copied.
        const std::span<const uint8_t> chunk = image.subspan(static_cast<size_t>(offset), length);
        // The index travels in 16 bits: packing index 65,536 fails rather than wraps.
        const auto acknowledged = exchange(locked, update_request_name,
                                           pack_step(protocol::pack_firmware_update_send_chunk, chunk_index, chunk),
                                           keeping_outcome(protocol::unpack_firmware_update_send_chunk));
        if (!acknowledged) {
            return std::unexpected(acknowledged.error());
        }
        if (!acknowledged->has_value()) {
            return {};
        }
        ++chunk_index;
        offset += length;
        callbacks.report_progress(offset);
    }
    return {};
}

[[nodiscard]] Result<void> run_update(DeviceConnection& locked, std::span<const uint8_t> image,
                                      const FirmwareUpdateCallbacks& callbacks) {
    const Result<uint64_t> chunk_size =
        exchange(locked, update_request_name, pack_step(protocol::pack_firmware_update_start, uint64_t{image.size()}),
                 protocol::unpack_firmware_update_start);
    if (!chunk_size) {
        return std::unexpected(chunk_size.error());
    }
    if (*chunk_size == 0) {
        return std::unexpected(Error(Error::Kind::ApiError, zero_chunk_size_text));
    }

    callbacks.update_started(image.size());
    if (Result<void> sent = send_chunks(locked, image, *chunk_size, callbacks); !sent) {
        return sent;
    }
    callbacks.start_finalizing();

    const auto verdict = exchange(locked, update_request_name, protocol::pack_firmware_update_finalize,
                                  keeping_outcome(protocol::unpack_firmware_update_finalize));
    if (!verdict) {
        return std::unexpected(verdict.error());
    }
    if (!verdict->has_value()) {
        callbacks.update_finished(FirmwareUpdateResult::TransferError);
        return std::unexpected(error::protocol_to_client_error(verdict->error()));
    }
    if (!(*verdict)->is_success()) {
        callbacks.update_finished(FirmwareUpdateResult::UnknownError);
        return std::unexpected(Error(Error::Kind::RemoteOperationFailed));
    }
    callbacks.update_finished(FirmwareUpdateResult::Success);
    return {};
}

}  // namespace

Result<void> Device::update_firmware_from_blob(std::span<const uint8_t> image,
                                               const FirmwareUpdateCallbacks& callbacks) const {
    Result<ConnectionGuard> lock = lock_connection(connection());
    if (!lock) {
        return std::unexpected(std::move(lock).error());
    }
    DeviceConnection& locked = lock->connection();
    // Declared after the lock, so the timeouts are back before it is released.
    const auto raised_timeouts =
        TcpStreamWithTemporaryTcpTimeoutOverride::create(locked.stream, FIRMWARE_UPDATE_TIMEOUT);
    if (!raised_timeouts) {
        return std::unexpected(raised_timeouts.error());
    }
    return run_update(locked, image, callbacks);
}

Result<void> Device::update_firmware_from_path(const std::string& path,
                                               const FirmwareUpdateCallbacks& callbacks) const {
    const Result<std::vector<uint8_t>> image = read_firmware_file(path);
    if (!image) {
        return std::unexpected(image.error());
    }
    return update_firmware_from_blob(*image, callbacks);
}

}  // namespace qx_sdk_client::device
