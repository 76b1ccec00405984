#include "qx_sdk_protocol/codec/client_protocol.h"

#include "qx_sdk_protocol/codec/client_protocol_v1.h"
#include "qx_sdk_protocol/codec/client_protocol_v2.h"
#include "qx_sdk_protocol/codec/message_catalogue.h"

using namespace qx_catalogue;

namespace {

// A family is named after the first protocol version that has it, so version 0
// knows no message and version 1 only the version-1 family.
qx_protocol_status_t check_protocol_version(uint32_t version, uint32_t family) {
    if (version < family) {
        return QX_PROTOCOL_STATUS_NOT_IMPLEMENTED;
    }
    if (version > QX_CURRENT_PROTOCOL_VERSION) {
        return QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION;
    }
    return QX_PROTOCOL_STATUS_SUCCESS;
}

template <typename Codec, typename... Args>
qx_protocol_status_t dispatch(uint32_t version, const qx_message_t& message, Codec codec, Args... args) {
    const qx_protocol_status_t gate = check_protocol_version(version, message.family);
    if (gate != QX_PROTOCOL_STATUS_SUCCESS) {
        return gate;
    }
    return codec(args...);
}

}  // namespace

qx_protocol_status_t pack_device_get_name_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, DEVICE_GET_NAME, qx_prot_v1_pack_device_get_name_request, packet);
}

qx_protocol_status_t pack_device_get_nickname_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, DEVICE_GET_NICKNAME, qx_prot_v2_pack_device_get_nickname_request, packet);
}

qx_protocol_status_t pack_device_set_nickname_request(uint32_t version, qx_packet_t* packet, const char* nickname) {
    return dispatch(version, DEVICE_SET_NICKNAME, qx_prot_v2_pack_device_set_nickname_request, packet, nickname);
}

qx_protocol_status_t pack_device_identify_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, DEVICE_IDENTIFY, qx_prot_v1_pack_device_identify_request, packet);
}

qx_protocol_status_t pack_get_firmware_ean_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_FIRMWARE_EAN, qx_prot_v1_pack_get_firmware_ean_request, packet);
}

qx_protocol_status_t pack_get_ean_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_EAN, qx_prot_v1_pack_get_ean_request, packet);
}

qx_protocol_status_t pack_get_serial_number_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_SERIAL_NUMBER, qx_prot_v1_pack_get_serial_number_request, packet);
}

qx_protocol_status_t pack_get_firmware_version_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_FIRMWARE_VERSION, qx_prot_v1_pack_get_firmware_version_request, packet);
}

qx_protocol_status_t pack_get_bootloader_version_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_BOOTLOADER_VERSION, qx_prot_v1_pack_get_bootloader_version_request, packet);
}

qx_protocol_status_t pack_get_pcb_revision_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_PCB_REVISION, qx_prot_v1_pack_get_pcb_revision_request, packet);
}

qx_protocol_status_t pack_get_num_interfaces_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_NUM_INTERFACES, qx_prot_v1_pack_get_num_interfaces_request, packet);
}

qx_protocol_status_t pack_get_manufacturing_date_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, GET_MANUFACTURING_DATE, qx_prot_v1_pack_get_manufacturing_date_request, packet);
}

qx_protocol_status_t pack_firmware_update_start_request(uint32_t version, qx_packet_t* packet, uint8_t field,
                                                        uint64_t image_size) {
    return dispatch(version, FIRMWARE_UPDATE_START, qx_prot_v1_pack_firmware_update_start_request, packet, field,
                    image_size);
}

qx_protocol_status_t pack_firmware_update_send_chunk_request(uint32_t version, qx_packet_t* packet,
                                                             uint64_t chunk_index, const uint8_t* chunk,
                                                             uint64_t chunk_length) {
    return dispatch(version, FIRMWARE_UPDATE_SEND_CHUNK, qx_prot_v1_pack_firmware_update_send_chunk_request, packet,
                    chunk_index, chunk, chunk_length);
}

qx_protocol_status_t pack_firmware_update_finalize_request(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, FIRMWARE_UPDATE_FINALIZE, qx_prot_v1_pack_firmware_update_finalize_request, packet);
}

qx_protocol_status_t pack_interface_get_nickname_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_GET_NICKNAME, qx_prot_v1_pack_interface_get_nickname_request, packet, index);
}

qx_protocol_status_t pack_interface_set_nickname_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                         const char* nickname) {
    return dispatch(version, INTERFACE_SET_NICKNAME, qx_prot_v1_pack_interface_set_nickname_request, packet, index,
                    nickname);
}

qx_protocol_status_t pack_get_interface_status_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, GET_INTERFACE_STATUS, qx_prot_v1_pack_get_interface_status_request, packet, index);
}

qx_protocol_status_t pack_interface_identify_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_IDENTIFY, qx_prot_v1_pack_interface_identify_request, packet, index);
}

qx_protocol_status_t pack_interface_get_supported_eth_configs_request(uint32_t version, qx_packet_t* packet,
                                                                      uint16_t index) {
    return dispatch(version, INTERFACE_GET_SUPPORTED_ETH_CONFIGS,
                    qx_prot_v1_pack_interface_get_supported_eth_configs_request, packet, index);
}

qx_protocol_status_t pack_interface_set_eth_config_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                           uint32_t link_mode) {
    return dispatch(version, INTERFACE_SET_ETH_CONFIG, qx_prot_v1_pack_interface_set_eth_config_request, packet, index,
                    link_mode);
}

qx_protocol_status_t pack_interface_get_eth_config_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_GET_ETH_CONFIG, qx_prot_v1_pack_interface_get_eth_config_request, packet, index);
}

qx_protocol_status_t pack_interface_send_tc10_command_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                              uint32_t command) {
    return dispatch(version, INTERFACE_SEND_TC10_COMMAND, qx_prot_v2_pack_interface_send_tc10_command_request, packet,
                    index, command);
}

qx_protocol_status_t pack_interface_get_tc10_state_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_GET_TC10_STATE, qx_prot_v2_pack_interface_get_tc10_state_request, packet, index);
}

qx_protocol_status_t pack_interface_read_dcq_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_READ_DCQ, qx_prot_v2_pack_interface_read_dcq_request, packet, index);
}

qx_protocol_status_t pack_interface_run_cable_test_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_RUN_CABLE_TEST, qx_prot_v2_pack_interface_run_cable_test_request, packet, index);
}

qx_protocol_status_t pack_interface_set_loopback_state_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                               bool enabled) {
    return dispatch(version, INTERFACE_SET_LOOPBACK_STATE, qx_prot_v2_pack_interface_set_loopback_state_request, packet,
                    index, enabled);
}

qx_protocol_status_t pack_interface_get_loopback_state_request(uint32_t version, qx_packet_t* packet, uint16_t index) {
    return dispatch(version, INTERFACE_GET_LOOPBACK_STATE, qx_prot_v2_pack_interface_get_loopback_state_request, packet,
                    index);
}

qx_protocol_status_t pack_interface_set_packet_generator_config_request(uint32_t version, qx_packet_t* packet,
                                                                        uint16_t index,
                                                                        const qx_packet_generator_config_t* config) {
    return dispatch(version, INTERFACE_SET_PACKET_GENERATOR_CONFIG,
                    qx_prot_v2_pack_interface_set_packet_generator_config_request, packet, index, config);
}

qx_protocol_status_t pack_interface_get_packet_generator_config_request(uint32_t version, qx_packet_t* packet,
                                                                        uint16_t index) {
    return dispatch(version, INTERFACE_GET_PACKET_GENERATOR_CONFIG,
                    qx_prot_v2_pack_interface_get_packet_generator_config_request, packet, index);
}

qx_protocol_status_t unpack_device_get_name_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                     size_t capacity) {
    return dispatch(version, DEVICE_GET_NAME, qx_prot_v1_unpack_device_get_name_response, packet, destination,
                    capacity);
}

qx_protocol_status_t unpack_device_get_nickname_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                         size_t capacity) {
    return dispatch(version, DEVICE_GET_NICKNAME, qx_prot_v2_unpack_device_get_nickname_response, packet, destination,
                    capacity);
}

qx_protocol_status_t unpack_device_set_nickname_response(uint32_t version, qx_packet_t* packet, uint32_t* status) {
    return dispatch(version, DEVICE_SET_NICKNAME, qx_prot_v2_unpack_device_set_nickname_response, packet, status);
}

qx_protocol_status_t unpack_device_identify_response(uint32_t version, qx_packet_t* packet, uint32_t* status) {
    return dispatch(version, DEVICE_IDENTIFY, qx_prot_v1_unpack_device_identify_response, packet, status);
}

qx_protocol_status_t unpack_get_firmware_ean_response(uint32_t version, qx_packet_t* packet, uint64_t* value) {
    return dispatch(version, GET_FIRMWARE_EAN, qx_prot_v1_unpack_get_firmware_ean_response, packet, value);
}

qx_protocol_status_t unpack_get_ean_response(uint32_t version, qx_packet_t* packet, uint64_t* value) {
    return dispatch(version, GET_EAN, qx_prot_v1_unpack_get_ean_response, packet, value);
}

qx_protocol_status_t unpack_get_serial_number_response(uint32_t version, qx_packet_t* packet, uint64_t* value) {
    return dispatch(version, GET_SERIAL_NUMBER, qx_prot_v1_unpack_get_serial_number_response, packet, value);
}

qx_protocol_status_t unpack_get_firmware_version_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                          size_t capacity) {
    return dispatch(version, GET_FIRMWARE_VERSION, qx_prot_v1_unpack_get_firmware_version_response, packet, destination,
                    capacity);
}

qx_protocol_status_t unpack_get_bootloader_version_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                            size_t capacity) {
    return dispatch(version, GET_BOOTLOADER_VERSION, qx_prot_v1_unpack_get_bootloader_version_response, packet,
                    destination, capacity);
}

qx_protocol_status_t unpack_get_pcb_revision_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                      size_t capacity) {
    return dispatch(version, GET_PCB_REVISION, qx_prot_v1_unpack_get_pcb_revision_response, packet, destination,
                    capacity);
}

qx_protocol_status_t unpack_get_num_interfaces_response(uint32_t version, qx_packet_t* packet, uint16_t* count) {
    return dispatch(version, GET_NUM_INTERFACES, qx_prot_v1_unpack_get_num_interfaces_response, packet, count);
}

qx_protocol_status_t unpack_get_manufacturing_date_response(uint32_t version, qx_packet_t* packet, uint64_t* value) {
    return dispatch(version, GET_MANUFACTURING_DATE, qx_prot_v1_unpack_get_manufacturing_date_response, packet, value);
}

qx_protocol_status_t unpack_firmware_update_start_response(uint32_t version, qx_packet_t* packet,
                                                           uint64_t* chunk_size) {
    return dispatch(version, FIRMWARE_UPDATE_START, qx_prot_v1_unpack_firmware_update_start_response, packet,
                    chunk_size);
}

qx_protocol_status_t unpack_firmware_update_send_chunk_response(uint32_t version, qx_packet_t* packet,
                                                                uint32_t* status) {
    return dispatch(version, FIRMWARE_UPDATE_SEND_CHUNK, qx_prot_v1_unpack_firmware_update_send_chunk_response, packet,
                    status);
}

qx_protocol_status_t unpack_firmware_update_finalize_response(uint32_t version, qx_packet_t* packet, uint32_t* status) {
    return dispatch(version, FIRMWARE_UPDATE_FINALIZE, qx_prot_v1_unpack_firmware_update_finalize_response, packet,
                    status);
}

qx_protocol_status_t unpack_interface_get_nickname_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                            size_t capacity) {
    return dispatch(version, INTERFACE_GET_NICKNAME, qx_prot_v1_unpack_interface_get_nickname_response, packet,
                    destination, capacity);
}

qx_protocol_status_t unpack_interface_set_nickname_response(uint32_t version, qx_packet_t* packet, uint32_t* status) {
    return dispatch(version, INTERFACE_SET_NICKNAME, qx_prot_v1_unpack_interface_set_nickname_response, packet, status);
}

qx_protocol_status_t unpack_get_interface_status_response(uint32_t version, qx_packet_t* packet,
                                                          qx_eth_interface_status_t* status) {
    return dispatch(version, GET_INTERFACE_STATUS, qx_prot_v1_unpack_get_interface_status_response, packet, status);
}

qx_protocol_status_t unpack_interface_identify_response(uint32_t version, qx_packet_t* packet, uint32_t* status) {
    return dispatch(version, INTERFACE_IDENTIFY, qx_prot_v1_unpack_interface_identify_response, packet, status);
}

qx_protocol_status_t unpack_interface_get_supported_eth_configs_response(uint32_t version, qx_packet_t* packet,
                                                                         uint32_t* status, uint32_t* link_mode) {
    return dispatch(version, INTERFACE_GET_SUPPORTED_ETH_CONFIGS,
                    qx_prot_v1_unpack_interface_get_supported_eth_configs_response, packet, status, link_mode);
}

qx_protocol_status_t unpack_interface_set_eth_config_response(uint32_t version, qx_packet_t* packet, uint32_t* status) {
    return dispatch(version, INTERFACE_SET_ETH_CONFIG, qx_prot_v1_unpack_interface_set_eth_config_response, packet,
                    status);
}

qx_protocol_status_t unpack_interface_get_eth_config_response(uint32_t version, qx_packet_t* packet, uint32_t* status,
                                                              uint32_t* link_mode) {
    return dispatch(version, INTERFACE_GET_ETH_CONFIG, qx_prot_v1_unpack_interface_get_eth_config_response, packet,
                    status, link_mode);
}

qx_protocol_status_t unpack_interface_send_tc10_command_response(uint32_t version, qx_packet_t* packet,
                                                                 uint32_t* status) {
    return dispatch(version, INTERFACE_SEND_TC10_COMMAND, qx_prot_v2_unpack_interface_send_tc10_command_response,
                    packet, status);
}

qx_protocol_status_t unpack_interface_get_tc10_state_response(uint32_t version, qx_packet_t* packet, uint32_t* status,
                                                              uint32_t* state) {
    return dispatch(version, INTERFACE_GET_TC10_STATE, qx_prot_v2_unpack_interface_get_tc10_state_response, packet,
                    status, state);
}

qx_protocol_status_t unpack_interface_read_dcq_response(uint32_t version, qx_packet_t* packet,
                                                        qx_dcq_reading_t* reading) {
    return dispatch(version, INTERFACE_READ_DCQ, qx_prot_v2_unpack_interface_read_dcq_response, packet, reading);
}

qx_protocol_status_t unpack_interface_run_cable_test_response(uint32_t version, qx_packet_t* packet,
                                                              qx_cable_test_result_t* result) {
    return dispatch(version, INTERFACE_RUN_CABLE_TEST, qx_prot_v2_unpack_interface_run_cable_test_response, packet,
                    result);
}

qx_protocol_status_t unpack_interface_set_loopback_state_response(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, INTERFACE_SET_LOOPBACK_STATE, qx_prot_v2_unpack_interface_set_loopback_state_response,
                    packet);
}

qx_protocol_status_t unpack_interface_get_loopback_state_response(uint32_t version, qx_packet_t* packet,
                                                                  bool* enabled) {
    return dispatch(version, INTERFACE_GET_LOOPBACK_STATE, qx_prot_v2_unpack_interface_get_loopback_state_response,
                    packet, enabled);
}

qx_protocol_status_t unpack_interface_set_packet_generator_config_response(uint32_t version, qx_packet_t* packet) {
    return dispatch(version, INTERFACE_SET_PACKET_GENERATOR_CONFIG,
                    qx_prot_v2_unpack_interface_set_packet_generator_config_response, packet);
}

qx_protocol_status_t unpack_interface_get_packet_generator_config_response(uint32_t version, qx_packet_t* packet,
                                                                           qx_packet_generator_config_t* config) {
    return dispatch(version, INTERFACE_GET_PACKET_GENERATOR_CONFIG,
                    qx_prot_v2_unpack_interface_get_packet_generator_config_response, packet, config);
}
