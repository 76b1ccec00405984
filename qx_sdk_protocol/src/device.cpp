#include "qx_sdk_protocol/src/device.hpp"

#include <limits>

#include "qx_sdk_protocol/codec/client_protocol.h"
#include "qx_sdk_protocol/src/reply_shapes.hpp"
#include "qx_sdk_protocol/src/request_steps.hpp"

namespace qx_sdk_protocol::device {

namespace {

using namespace qx_sdk_protocol::detail;
using Buffer = std::span<uint8_t>;
using Bytes = std::span<const uint8_t>;

// Unlike the other status replies, starts at success: an error packet that
// carries success leaves it untouched, and that chunk counts as accepted.
struct ChunkReply {
    uint32_t status = QX_SERVICE_STATUS_SUCCESS;

    auto outputs() { return std::tuple(&status); }
    [[nodiscard]] ProtocolResult<void> result() const {
        if (status != QX_SERVICE_STATUS_SUCCESS) {
            return std::unexpected(ProtocolError::chunk_rejected());
        }
        return {};
    }
};

struct ManufacturingDateReply {
    uint64_t seconds_since_epoch = 0;

    auto outputs() { return std::tuple(&seconds_since_epoch); }
    [[nodiscard]] ProtocolResult<std::chrono::sys_seconds> result() const {
        using Rep = std::chrono::seconds::rep;
        if (seconds_since_epoch > static_cast<uint64_t>(std::numeric_limits<Rep>::max())) {
            return std::unexpected(
                ProtocolError::conversion_error("Manufacturing date of " + std::to_string(seconds_since_epoch) +
                                                " seconds after the Unix epoch is beyond the representable time"));
        }
        return std::chrono::sys_seconds(std::chrono::seconds(static_cast<Rep>(seconds_since_epoch)));
    }
};

// The codec wants a pointer even for an empty chunk.
const uint8_t* chunk_data(std::span<const uint8_t> chunk) {
    static constexpr uint8_t no_bytes = 0;
    return chunk.empty() ? &no_bytes : chunk.data();
}

// The one byte in front of the image size has no use for this client.
constexpr uint8_t firmware_update_start_field = 0;

}  // namespace

ProtocolResult<Buffer> pack_get_version(Buffer buffer) noexcept { return pack_frame(buffer, pack_get_version_request); }
ProtocolResult<uint16_t> unpack_get_version(Bytes bytes) noexcept {
    return unpack_frame<NumberReply<uint16_t>>(bytes, unpack_get_version_response);
}

ProtocolResult<Buffer> pack_get_device_name(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_device_get_name_request);
}
ProtocolResult<std::string> unpack_get_device_name(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<TextReply>(version, bytes, unpack_device_get_name_response);
}

ProtocolResult<Buffer> pack_set_device_nickname(uint32_t version, Buffer buffer, std::string_view nickname) noexcept {
    return pack_text_with(version, buffer, nickname, pack_device_set_nickname_request);
}
ProtocolResult<void> unpack_set_device_nickname(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusGatedReply<NoOutputReply>>(version, bytes, unpack_device_set_nickname_response);
}

ProtocolResult<Buffer> pack_identify_device(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_device_identify_request);
}
ProtocolResult<types::ServiceStatus> unpack_identify_device(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusValueReply>(version, bytes, unpack_device_identify_response);
}

ProtocolResult<Buffer> pack_get_firmware_ean(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_firmware_ean_request);
}
ProtocolResult<uint64_t> unpack_get_firmware_ean(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NumberReply<uint64_t>>(version, bytes, unpack_get_firmware_ean_response);
}

ProtocolResult<Buffer> pack_get_num_interfaces(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_num_interfaces_request);
}
ProtocolResult<uint16_t> unpack_get_num_interfaces(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NumberReply<uint16_t>>(version, bytes, unpack_get_num_interfaces_response);
}

ProtocolResult<Buffer> pack_get_serial_number(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_serial_number_request);
}
ProtocolResult<uint64_t> unpack_get_serial_number(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NumberReply<uint64_t>>(version, bytes, unpack_get_serial_number_response);
}

ProtocolResult<Buffer> pack_get_firmware_version(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_firmware_version_request);
}
ProtocolResult<std::string> unpack_get_firmware_version(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<TextReply>(version, bytes, unpack_get_firmware_version_response);
}

ProtocolResult<Buffer> pack_get_bootloader_version(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_bootloader_version_request);
}
ProtocolResult<std::string> unpack_get_bootloader_version(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<TextReply>(version, bytes, unpack_get_bootloader_version_response);
}

ProtocolResult<Buffer> pack_get_ean(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_ean_request);
}
ProtocolResult<uint64_t> unpack_get_ean(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NumberReply<uint64_t>>(version, bytes, unpack_get_ean_response);
}

ProtocolResult<Buffer> pack_get_pcb_revision(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_pcb_revision_request);
}
ProtocolResult<std::string> unpack_get_pcb_revision(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<TextReply>(version, bytes, unpack_get_pcb_revision_response);
}

ProtocolResult<Buffer> pack_firmware_update_start(uint32_t version, Buffer buffer, uint64_t image_size) noexcept {
    return pack_with(version, buffer, pack_firmware_update_start_request, firmware_update_start_field, image_size);
}
ProtocolResult<uint64_t> unpack_firmware_update_start(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NumberReply<uint64_t>>(version, bytes, unpack_firmware_update_start_response);
}

ProtocolResult<Buffer> pack_firmware_update_send_chunk(uint32_t version, Buffer buffer, uint64_t chunk_index,
                                                       std::span<const uint8_t> chunk) noexcept {
    return pack_with(version, buffer, pack_firmware_update_send_chunk_request, chunk_index, chunk_data(chunk),
                     static_cast<uint64_t>(chunk.size()));
}
ProtocolResult<void> unpack_firmware_update_send_chunk(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<ChunkReply>(version, bytes, unpack_firmware_update_send_chunk_response);
}

ProtocolResult<Buffer> pack_firmware_update_finalize(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_firmware_update_finalize_request);
}
ProtocolResult<types::ServiceStatus> unpack_firmware_update_finalize(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusValueReply>(version, bytes, unpack_firmware_update_finalize_response);
}

ProtocolResult<Buffer> pack_get_manufacturing_date(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_get_manufacturing_date_request);
}
ProtocolResult<std::chrono::sys_seconds> unpack_get_manufacturing_date(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<ManufacturingDateReply>(version, bytes, unpack_get_manufacturing_date_response);
}

ProtocolResult<Buffer> pack_get_device_nickname(uint32_t version, Buffer buffer) noexcept {
    return pack_with(version, buffer, pack_device_get_nickname_request);
}
ProtocolResult<std::string> unpack_get_device_nickname(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<TextReply>(version, bytes, unpack_device_get_nickname_response);
}

}  // namespace qx_sdk_protocol::device
