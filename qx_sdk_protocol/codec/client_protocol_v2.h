// Message codecs of the version-2 family: usable with device protocol
// version 2 to QX_CURRENT_PROTOCOL_VERSION. Callers go through the
// dispatchers of client_protocol.h, which gate on the device's version.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

// A request with the given command and no payload; always
// QX_PROTOCOL_STATUS_SUCCESS for a packet.
qx_protocol_status_t pack_plain_command(qx_packet_t* packet, uint16_t command);

qx_protocol_status_t qx_prot_v2_pack_device_get_nickname_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v2_pack_device_set_nickname_request(qx_packet_t* packet, const char* nickname);
qx_protocol_status_t qx_prot_v2_pack_interface_get_tc10_state_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v2_pack_interface_read_dcq_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v2_pack_interface_run_cable_test_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v2_pack_interface_get_loopback_state_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v2_pack_interface_get_packet_generator_config_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v2_pack_interface_send_tc10_command_request(qx_packet_t* packet, uint16_t index,
                                                                         uint32_t command);
qx_protocol_status_t qx_prot_v2_pack_interface_set_loopback_state_request(qx_packet_t* packet, uint16_t index,
                                                                          bool enabled);
qx_protocol_status_t qx_prot_v2_pack_interface_set_packet_generator_config_request(
    qx_packet_t* packet, uint16_t index, const qx_packet_generator_config_t* config);

qx_protocol_status_t qx_prot_v2_unpack_device_get_nickname_response(qx_packet_t* packet, char* destination,
                                                                    size_t capacity);
qx_protocol_status_t qx_prot_v2_unpack_device_set_nickname_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v2_unpack_interface_send_tc10_command_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v2_unpack_interface_get_tc10_state_response(qx_packet_t* packet, uint32_t* status,
                                                                         uint32_t* state);
qx_protocol_status_t qx_prot_v2_unpack_interface_read_dcq_response(qx_packet_t* packet, qx_dcq_reading_t* reading);
qx_protocol_status_t qx_prot_v2_unpack_interface_run_cable_test_response(qx_packet_t* packet,
                                                                         qx_cable_test_result_t* result);
qx_protocol_status_t qx_prot_v2_unpack_interface_get_loopback_state_response(qx_packet_t* packet, bool* enabled);
qx_protocol_status_t qx_prot_v2_unpack_interface_get_packet_generator_config_response(
    qx_packet_t* packet, qx_packet_generator_config_t* config);
// These replies carry nothing the client uses; their payload is not read.
qx_protocol_status_t qx_prot_v2_unpack_interface_set_loopback_state_response(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v2_unpack_interface_set_packet_generator_config_response(qx_packet_t* packet);
