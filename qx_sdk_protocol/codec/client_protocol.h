// Version dispatch: one pack and one unpack entry point per message of the
// catalogue. Each takes the device's protocol version first and refuses,
// without touching the packet or the outputs, a message that version lacks
// (QX_PROTOCOL_STATUS_NOT_IMPLEMENTED) or a version above
// QX_CURRENT_PROTOCOL_VERSION (QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION);
// otherwise it runs the message's codec of its family.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

// Requests.
qx_protocol_status_t pack_device_get_name_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_device_get_nickname_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_device_set_nickname_request(uint32_t version, qx_packet_t* packet, const char* nickname);
qx_protocol_status_t pack_device_identify_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_firmware_ean_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_ean_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_serial_number_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_firmware_version_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_bootloader_version_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_pcb_revision_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_num_interfaces_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_get_manufacturing_date_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_firmware_update_start_request(uint32_t version, qx_packet_t* packet, uint8_t field,
                                                        uint64_t image_size);
qx_protocol_status_t pack_firmware_update_send_chunk_request(uint32_t version, qx_packet_t* packet,
                                                             uint64_t chunk_index, const uint8_t* chunk,
                                                             uint64_t chunk_length);
qx_protocol_status_t pack_firmware_update_finalize_request(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t pack_interface_get_nickname_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_set_nickname_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                         const char* nickname);
qx_protocol_status_t pack_get_interface_status_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_identify_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_get_supported_eth_configs_request(uint32_t version, qx_packet_t* packet,
                                                                      uint16_t index);
qx_protocol_status_t pack_interface_set_eth_config_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                           uint32_t link_mode);
qx_protocol_status_t pack_interface_get_eth_config_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_send_tc10_command_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                              uint32_t command);
qx_protocol_status_t pack_interface_get_tc10_state_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_read_dcq_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_run_cable_test_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_set_loopback_state_request(uint32_t version, qx_packet_t* packet, uint16_t index,
                                                               bool enabled);
qx_protocol_status_t pack_interface_get_loopback_state_request(uint32_t version, qx_packet_t* packet, uint16_t index);
qx_protocol_status_t pack_interface_set_packet_generator_config_request(uint32_t version, qx_packet_t* packet,
                                                                        uint16_t index,
                                                                        const qx_packet_generator_config_t* config);
qx_protocol_status_t pack_interface_get_packet_generator_config_request(uint32_t version, qx_packet_t* packet,
                                                                        uint16_t index);

// Replies. Outputs that may be nullptr are noted; the value is then read and dropped.
qx_protocol_status_t unpack_device_get_name_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                     size_t capacity);
qx_protocol_status_t unpack_device_get_nickname_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                         size_t capacity);
qx_protocol_status_t unpack_device_set_nickname_response(uint32_t version, qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t unpack_device_identify_response(uint32_t version, qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t unpack_get_firmware_ean_response(uint32_t version, qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t unpack_get_ean_response(uint32_t version, qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t unpack_get_serial_number_response(uint32_t version, qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t unpack_get_firmware_version_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                          size_t capacity);
qx_protocol_status_t unpack_get_bootloader_version_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                            size_t capacity);
qx_protocol_status_t unpack_get_pcb_revision_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                      size_t capacity);
qx_protocol_status_t unpack_get_num_interfaces_response(uint32_t version, qx_packet_t* packet, uint16_t* count);
qx_protocol_status_t unpack_get_manufacturing_date_response(uint32_t version, qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t unpack_firmware_update_start_response(uint32_t version, qx_packet_t* packet,
                                                           uint64_t* chunk_size);  // chunk_size may be nullptr
qx_protocol_status_t unpack_firmware_update_send_chunk_response(uint32_t version, qx_packet_t* packet,
                                                                uint32_t* status);  // status may be nullptr
qx_protocol_status_t unpack_firmware_update_finalize_response(uint32_t version, qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t unpack_interface_get_nickname_response(uint32_t version, qx_packet_t* packet, char* destination,
                                                            size_t capacity);
qx_protocol_status_t unpack_interface_set_nickname_response(uint32_t version, qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t unpack_get_interface_status_response(uint32_t version, qx_packet_t* packet,
                                                          qx_eth_interface_status_t* status);
qx_protocol_status_t unpack_interface_identify_response(uint32_t version, qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t unpack_interface_get_supported_eth_configs_response(uint32_t version, qx_packet_t* packet,
                                                                         uint32_t* status, uint32_t* link_mode);
qx_protocol_status_t unpack_interface_set_eth_config_response(uint32_t version, qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t unpack_interface_get_eth_config_response(uint32_t version, qx_packet_t* packet, uint32_t* status,
                                                              uint32_t* link_mode);
qx_protocol_status_t unpack_interface_send_tc10_command_response(uint32_t version, qx_packet_t* packet,
                                                                 uint32_t* status);
qx_protocol_status_t unpack_interface_get_tc10_state_response(uint32_t version, qx_packet_t* packet, uint32_t* status,
                                                              uint32_t* state);
qx_protocol_status_t unpack_interface_read_dcq_response(uint32_t version, qx_packet_t* packet,
                                                        qx_dcq_reading_t* reading);
qx_protocol_status_t unpack_interface_run_cable_test_response(uint32_t version, qx_packet_t* packet,
                                                              qx_cable_test_result_t* result);
qx_protocol_status_t unpack_interface_set_loopback_state_response(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t unpack_interface_get_loopback_state_response(uint32_t version, qx_packet_t* packet, bool* enabled);
qx_protocol_status_t unpack_interface_set_packet_generator_config_response(uint32_t version, qx_packet_t* packet);
qx_protocol_status_t unpack_interface_get_packet_generator_config_response(uint32_t version, qx_packet_t* packet,
                                                                           qx_packet_generator_config_t* config);
