#include "qx_sdk_protocol/codec/client_protocol_v1.h"

#include "qx_sdk_protocol/codec/common_v1.h"
#include "qx_sdk_protocol/codec/message_catalogue.h"
#include "qx_sdk_protocol/codec/message_shapes.h"
#include "qx_sdk_protocol/codec/util.h"

using namespace qx_catalogue;
using qx_shapes::begin_request;
using qx_shapes::pack_interface_request;
using qx_shapes::unpack_status_reply;
using qx_shapes::unpack_text_reply;

namespace {

constexpr uint64_t MAX_IMAGE_SIZE = 0xFFFFFFFF;
constexpr uint64_t MAX_CHUNK_INDEX = 0xFFFF;
constexpr uint64_t MAX_CHUNK_LENGTH = 0xFFFF;

qx_protocol_status_t unpack_u64_reply(qx_packet_t* packet, const qx_message_t& message, uint64_t* value) {
    if (const auto settled = settle_before_fields(packet, message.reply())) {
        return *settled;
    }
    return read_uint64_t(packet, value);
}

// The status, then the link mode. A reply too short for even the status is not
// this reply at all, hence QX_PROTOCOL_STATUS_PROTOCOL_ERROR rather than the
// short read's own status.
qx_protocol_status_t unpack_status_and_link_mode_reply(qx_packet_t* packet, const qx_message_t& message,
                                                       uint32_t* status, uint32_t* link_mode) {
    if (const auto settled = settle_before_fields(packet, message.reply())) {
        return *settled;
    }
    if (status == nullptr || link_mode == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    const qx_protocol_status_t read = read_qx_status(packet, status);
    if (read == QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE) {
        return QX_PROTOCOL_STATUS_PROTOCOL_ERROR;
    }
    if (read != QX_PROTOCOL_STATUS_SUCCESS) {
        return read;
    }
    return read_eth_link_mode(packet, link_mode);
}

}  // namespace

qx_protocol_status_t qx_prot_v1_pack_device_get_name_request(qx_packet_t* packet) {
    return begin_request(packet, DEVICE_GET_NAME);
}

qx_protocol_status_t qx_prot_v1_pack_device_identify_request(qx_packet_t* packet) {
    return begin_request(packet, DEVICE_IDENTIFY);
}

qx_protocol_status_t qx_prot_v1_pack_get_firmware_ean_request(qx_packet_t* packet) {
    return begin_request(packet, GET_FIRMWARE_EAN);
}

qx_protocol_status_t qx_prot_v1_pack_get_ean_request(qx_packet_t* packet) { return begin_request(packet, GET_EAN); }

qx_protocol_status_t qx_prot_v1_pack_get_serial_number_request(qx_packet_t* packet) {
    return begin_request(packet, GET_SERIAL_NUMBER);
}

qx_protocol_status_t qx_prot_v1_pack_get_firmware_version_request(qx_packet_t* packet) {
    return begin_request(packet, GET_FIRMWARE_VERSION);
}

qx_protocol_status_t qx_prot_v1_pack_get_bootloader_version_request(qx_packet_t* packet) {
    return begin_request(packet, GET_BOOTLOADER_VERSION);
}

qx_protocol_status_t qx_prot_v1_pack_get_pcb_revision_request(qx_packet_t* packet) {
    return begin_request(packet, GET_PCB_REVISION);
}

qx_protocol_status_t qx_prot_v1_pack_get_num_interfaces_request(qx_packet_t* packet) {
    return begin_request(packet, GET_NUM_INTERFACES);
}

qx_protocol_status_t qx_prot_v1_pack_get_manufacturing_date_request(qx_packet_t* packet) {
    return begin_request(packet, GET_MANUFACTURING_DATE);
}

qx_protocol_status_t qx_prot_v1_pack_firmware_update_finalize_request(qx_packet_t* packet) {
    return begin_request(packet, FIRMWARE_UPDATE_FINALIZE);
}

qx_protocol_status_t qx_prot_v1_pack_firmware_update_start_request(qx_packet_t* packet, uint8_t field,
                                                                   uint64_t image_size) {
    if (image_size > MAX_IMAGE_SIZE) {
        return QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS;
    }
    qx_protocol_status_t status = begin_request(packet, FIRMWARE_UPDATE_START);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    status = write_uint8_t(packet, field);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return write_uint32_t(packet, static_cast<uint32_t>(image_size));
}

qx_protocol_status_t qx_prot_v1_pack_firmware_update_send_chunk_request(qx_packet_t* packet, uint64_t chunk_index,
                                                                        const uint8_t* chunk, uint64_t chunk_length) {
    if (chunk_index > MAX_CHUNK_INDEX || chunk_length > MAX_CHUNK_LENGTH) {
        return QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS;
    }
    if (chunk == nullptr && chunk_length > 0) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    const auto length = static_cast<size_t>(chunk_length);
    qx_protocol_status_t status = begin_request(packet, FIRMWARE_UPDATE_SEND_CHUNK, length);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    status = write_uint16_t(packet, static_cast<uint16_t>(chunk_index));
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return write_bytes(packet, chunk, length);
}

qx_protocol_status_t qx_prot_v1_pack_interface_get_nickname_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_GET_NICKNAME, index);
}

qx_protocol_status_t qx_prot_v1_pack_get_interface_status_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, GET_INTERFACE_STATUS, index);
}

qx_protocol_status_t qx_prot_v1_pack_interface_identify_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_IDENTIFY, index);
}

qx_protocol_status_t qx_prot_v1_pack_interface_get_supported_eth_configs_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_GET_SUPPORTED_ETH_CONFIGS, index);
}

qx_protocol_status_t qx_prot_v1_pack_interface_get_eth_config_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_GET_ETH_CONFIG, index);
}

qx_protocol_status_t qx_prot_v1_pack_interface_set_nickname_request(qx_packet_t* packet, uint16_t index,
                                                                    const char* nickname) {
    return pack_interface_request(packet, INTERFACE_SET_NICKNAME, index, write_utf8_string, nickname);
}

qx_protocol_status_t qx_prot_v1_pack_interface_set_eth_config_request(qx_packet_t* packet, uint16_t index,
                                                                      uint32_t link_mode) {
    qx_protocol_status_t status = pack_interface_request(packet, INTERFACE_SET_ETH_CONFIG, index);
    if (status == QX_PROTOCOL_INVALID_POINTER) {
        return status;
    }
    // A failed write of the index is reported as a protocol error, not as the
    // write's own status as in the other interface requests: callers of this
    // request expect that status for it.
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return QX_PROTOCOL_STATUS_PROTOCOL_ERROR;
    }
    return write_eth_link_mode(packet, link_mode);
}

qx_protocol_status_t qx_prot_v1_unpack_device_get_name_response(qx_packet_t* packet, char* destination,
                                                                size_t capacity) {
    return unpack_text_reply(packet, DEVICE_GET_NAME, destination, capacity);
}

qx_protocol_status_t qx_prot_v1_unpack_interface_get_nickname_response(qx_packet_t* packet, char* destination,
                                                                       size_t capacity) {
    return unpack_text_reply(packet, INTERFACE_GET_NICKNAME, destination, capacity);
}

qx_protocol_status_t qx_prot_v1_unpack_get_firmware_version_response(qx_packet_t* packet, char* destination,
                                                                     size_t capacity) {
    return unpack_text_reply(packet, GET_FIRMWARE_VERSION, destination, capacity);
}

qx_protocol_status_t qx_prot_v1_unpack_get_bootloader_version_response(qx_packet_t* packet, char* destination,
                                                                       size_t capacity) {
    return unpack_text_reply(packet, GET_BOOTLOADER_VERSION, destination, capacity);
}

qx_protocol_status_t qx_prot_v1_unpack_get_pcb_revision_response(qx_packet_t* packet, char* destination,
                                                                 size_t capacity) {
    return unpack_text_reply(packet, GET_PCB_REVISION, destination, capacity);
}

qx_protocol_status_t qx_prot_v1_unpack_device_identify_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, DEVICE_IDENTIFY, status);
}

qx_protocol_status_t qx_prot_v1_unpack_interface_set_nickname_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, INTERFACE_SET_NICKNAME, status);
}

qx_protocol_status_t qx_prot_v1_unpack_interface_identify_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, INTERFACE_IDENTIFY, status);
}

qx_protocol_status_t qx_prot_v1_unpack_interface_set_eth_config_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, INTERFACE_SET_ETH_CONFIG, status);
}

qx_protocol_status_t qx_prot_v1_unpack_firmware_update_finalize_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, FIRMWARE_UPDATE_FINALIZE, status);
}

qx_protocol_status_t qx_prot_v1_unpack_firmware_update_send_chunk_response(qx_packet_t* packet, uint32_t* status) {
    uint32_t dropped = 0;
    return unpack_status_reply(packet, FIRMWARE_UPDATE_SEND_CHUNK, status != nullptr ? status : &dropped);
}

qx_protocol_status_t qx_prot_v1_unpack_get_ean_response(qx_packet_t* packet, uint64_t* value) {
    return unpack_u64_reply(packet, GET_EAN, value);
}

qx_protocol_status_t qx_prot_v1_unpack_get_firmware_ean_response(qx_packet_t* packet, uint64_t* value) {
    return unpack_u64_reply(packet, GET_FIRMWARE_EAN, value);
}

qx_protocol_status_t qx_prot_v1_unpack_get_serial_number_response(qx_packet_t* packet, uint64_t* value) {
    return unpack_u64_reply(packet, GET_SERIAL_NUMBER, value);
}

qx_protocol_status_t qx_prot_v1_unpack_get_manufacturing_date_response(qx_packet_t* packet, uint64_t* value) {
    return unpack_u64_reply(packet, GET_MANUFACTURING_DATE, value);
}

qx_protocol_status_t qx_prot_v1_unpack_get_num_interfaces_response(qx_packet_t* packet, uint16_t* count) {
    if (const auto settled = settle_before_fields(packet, GET_NUM_INTERFACES.reply())) {
        return *settled;
    }
    return read_uint16_t(packet, count);
}

qx_protocol_status_t qx_prot_v1_unpack_firmware_update_start_response(qx_packet_t* packet, uint64_t* chunk_size) {
    if (const auto settled = settle_before_fields(packet, FIRMWARE_UPDATE_START.reply())) {
        return *settled;
    }
    uint16_t size = 0;
    const qx_protocol_status_t status = read_uint16_t(packet, &size);
    if (status == QX_PROTOCOL_STATUS_SUCCESS && chunk_size != nullptr) {
        *chunk_size = size;
    }
    return status;
}

// Each field lands in the record as soon as it is read, so a short reply
// leaves the fields before the gap filled.
qx_protocol_status_t qx_prot_v1_unpack_get_interface_status_response(qx_packet_t* packet,
                                                                     qx_eth_interface_status_t* status) {
    if (const auto settled = settle_before_fields(packet, GET_INTERFACE_STATUS.reply())) {
        return *settled;
    }
    if (status == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    qx_protocol_status_t read = read_interface_type(packet, &status->interface_type);
    if (read != QX_PROTOCOL_STATUS_SUCCESS) {
        return read;
    }
    uint8_t unused = 0;
    read = read_uint8_t(packet, &unused);
    if (read != QX_PROTOCOL_STATUS_SUCCESS) {
        return read;
    }
    read = read_eth_link_mode(packet, &status->link_mode);
    if (read != QX_PROTOCOL_STATUS_SUCCESS) {
        return read;
    }
    return read_eth_link_state(packet, &status->link_state);
}

qx_protocol_status_t qx_prot_v1_unpack_interface_get_supported_eth_configs_response(qx_packet_t* packet,
                                                                                    uint32_t* status,
                                                                                    uint32_t* link_mode) {
    return unpack_status_and_link_mode_reply(packet, INTERFACE_GET_SUPPORTED_ETH_CONFIGS, status, link_mode);
}

qx_protocol_status_t qx_prot_v1_unpack_interface_get_eth_config_response(qx_packet_t* packet, uint32_t* status,
                                                                         uint32_t* link_mode) {
    return unpack_status_and_link_mode_reply(packet, INTERFACE_GET_ETH_CONFIG, status, link_mode);
}
