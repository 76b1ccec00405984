#include "qx_sdk_protocol/codec/client_protocol_v2.h"

#include "qx_sdk_protocol/codec/common_v1.h"
#include "qx_sdk_protocol/codec/common_v2.h"
#include "qx_sdk_protocol/codec/message_catalogue.h"
#include "qx_sdk_protocol/codec/message_shapes.h"
#include "qx_sdk_protocol/codec/util.h"

using namespace qx_catalogue;
using qx_shapes::begin_request;
using qx_shapes::pack_interface_request;
using qx_shapes::unpack_status_reply;
using qx_shapes::unpack_text_reply;

qx_protocol_status_t pack_plain_command(qx_packet_t* packet, uint16_t command) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    // No payload, so no reservation that could fail.
    (void)init_packet(packet, command, 0);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t qx_prot_v2_pack_device_get_nickname_request(qx_packet_t* packet) {
    return pack_plain_command(packet, DEVICE_GET_NICKNAME.request);
}

qx_protocol_status_t qx_prot_v2_pack_device_set_nickname_request(qx_packet_t* packet, const char* nickname) {
    const qx_protocol_status_t status = begin_request(packet, DEVICE_SET_NICKNAME);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return write_utf8_string(packet, nickname);
}

qx_protocol_status_t qx_prot_v2_pack_interface_get_tc10_state_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_GET_TC10_STATE, index);
}

qx_protocol_status_t qx_prot_v2_pack_interface_read_dcq_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_READ_DCQ, index);
}

qx_protocol_status_t qx_prot_v2_pack_interface_run_cable_test_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_RUN_CABLE_TEST, index);
}

qx_protocol_status_t qx_prot_v2_pack_interface_get_loopback_state_request(qx_packet_t* packet, uint16_t index) {
    return pack_interface_request(packet, INTERFACE_GET_LOOPBACK_STATE, index);
}

qx_protocol_status_t qx_prot_v2_pack_interface_get_packet_generator_config_request(qx_packet_t* packet,
                                                                                   uint16_t index) {
    return pack_interface_request(packet, INTERFACE_GET_PACKET_GENERATOR_CONFIG, index);
}

qx_protocol_status_t qx_prot_v2_pack_interface_send_tc10_command_request(qx_packet_t* packet, uint16_t index,
                                                                         uint32_t command) {
    return pack_interface_request(packet, INTERFACE_SEND_TC10_COMMAND, index, write_tc10_command, command);
}

qx_protocol_status_t qx_prot_v2_pack_interface_set_loopback_state_request(qx_packet_t* packet, uint16_t index,
                                                                          bool enabled) {
    return pack_interface_request(packet, INTERFACE_SET_LOOPBACK_STATE, index, write_bool, enabled);
}

qx_protocol_status_t qx_prot_v2_pack_interface_set_packet_generator_config_request(
    qx_packet_t* packet, uint16_t index, const qx_packet_generator_config_t* config) {
    if (config == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    return pack_interface_request(packet, INTERFACE_SET_PACKET_GENERATOR_CONFIG, index, write_pg_config_t, config);
}

qx_protocol_status_t qx_prot_v2_unpack_device_get_nickname_response(qx_packet_t* packet, char* destination,
                                                                    size_t capacity) {
    return unpack_text_reply(packet, DEVICE_GET_NICKNAME, destination, capacity);
}

qx_protocol_status_t qx_prot_v2_unpack_device_set_nickname_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, DEVICE_SET_NICKNAME, status);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_send_tc10_command_response(qx_packet_t* packet, uint32_t* status) {
    return unpack_status_reply(packet, INTERFACE_SEND_TC10_COMMAND, status);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_get_tc10_state_response(qx_packet_t* packet, uint32_t* status,
                                                                         uint32_t* state) {
    if (const auto settled = settle_before_fields(packet, INTERFACE_GET_TC10_STATE.reply())) {
        return *settled;
    }
    const qx_protocol_status_t read = read_qx_status(packet, status);
    if (read != QX_PROTOCOL_STATUS_SUCCESS) {
        return read;
    }
    return read_tc10_state(packet, state);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_read_dcq_response(qx_packet_t* packet, qx_dcq_reading_t* reading) {
    if (const auto settled = settle_before_fields(packet, INTERFACE_READ_DCQ.reply())) {
        return *settled;
    }
    return read_dcq_reading_t(packet, reading);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_run_cable_test_response(qx_packet_t* packet,
                                                                         qx_cable_test_result_t* result) {
    if (const auto settled = settle_before_fields(packet, INTERFACE_RUN_CABLE_TEST.reply())) {
        return *settled;
    }
    return read_cable_test_result_t(packet, result);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_get_loopback_state_response(qx_packet_t* packet, bool* enabled) {
    if (const auto settled = settle_before_fields(packet, INTERFACE_GET_LOOPBACK_STATE.reply())) {
        return *settled;
    }
    return read_bool(packet, enabled);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_get_packet_generator_config_response(
    qx_packet_t* packet, qx_packet_generator_config_t* config) {
    if (const auto settled = settle_before_fields(packet, INTERFACE_GET_PACKET_GENERATOR_CONFIG.reply())) {
        return *settled;
    }
    return read_pg_config_t(packet, config);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_set_loopback_state_response(qx_packet_t* packet) {
    return settle_before_fields(packet, INTERFACE_SET_LOOPBACK_STATE.reply()).value_or(QX_PROTOCOL_STATUS_SUCCESS);
}

qx_protocol_status_t qx_prot_v2_unpack_interface_set_packet_generator_config_response(qx_packet_t* packet) {
    return settle_before_fields(packet, INTERFACE_SET_PACKET_GENERATOR_CONFIG.reply())
        .value_or(QX_PROTOCOL_STATUS_SUCCESS);
}
