// Message codecs of the version-1 family: usable with device protocol
// versions 1 to QX_CURRENT_PROTOCOL_VERSION. Callers go through the
// dispatchers of client_protocol.h, which gate on the device's version.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

qx_protocol_status_t qx_prot_v1_pack_device_get_name_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_device_identify_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_firmware_ean_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_ean_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_serial_number_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_firmware_version_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_bootloader_version_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_pcb_revision_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_num_interfaces_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_get_manufacturing_date_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_firmware_update_finalize_request(qx_packet_t* packet);
qx_protocol_status_t qx_prot_v1_pack_firmware_update_start_request(qx_packet_t* packet, uint8_t field,
                                                                   uint64_t image_size);
qx_protocol_status_t qx_prot_v1_pack_firmware_update_send_chunk_request(qx_packet_t* packet, uint64_t chunk_index,
                                                                        const uint8_t* chunk, uint64_t chunk_length);
qx_protocol_status_t qx_prot_v1_pack_interface_get_nickname_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v1_pack_get_interface_status_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v1_pack_interface_identify_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v1_pack_interface_get_supported_eth_configs_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v1_pack_interface_get_eth_config_request(qx_packet_t* packet, uint16_t index);
qx_protocol_status_t qx_prot_v1_pack_interface_set_nickname_request(qx_packet_t* packet, uint16_t index,
                                                                    const char* nickname);
qx_protocol_status_t qx_prot_v1_pack_interface_set_eth_config_request(qx_packet_t* packet, uint16_t index,
                                                                      uint32_t link_mode);

qx_protocol_status_t qx_prot_v1_unpack_device_get_name_response(qx_packet_t* packet, char* destination,
                                                                size_t capacity);
qx_protocol_status_t qx_prot_v1_unpack_interface_get_nickname_response(qx_packet_t* packet, char* destination,
                                                                       size_t capacity);
qx_protocol_status_t qx_prot_v1_unpack_get_firmware_version_response(qx_packet_t* packet, char* destination,
                                                                     size_t capacity);
qx_protocol_status_t qx_prot_v1_unpack_get_bootloader_version_response(qx_packet_t* packet, char* destination,
                                                                       size_t capacity);
qx_protocol_status_t qx_prot_v1_unpack_get_pcb_revision_response(qx_packet_t* packet, char* destination,
                                                                 size_t capacity);
qx_protocol_status_t qx_prot_v1_unpack_device_identify_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v1_unpack_interface_set_nickname_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v1_unpack_interface_identify_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v1_unpack_interface_set_eth_config_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v1_unpack_firmware_update_finalize_response(qx_packet_t* packet, uint32_t* status);
// status may be nullptr: the field is then read and dropped.
qx_protocol_status_t qx_prot_v1_unpack_firmware_update_send_chunk_response(qx_packet_t* packet, uint32_t* status);
qx_protocol_status_t qx_prot_v1_unpack_get_ean_response(qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t qx_prot_v1_unpack_get_firmware_ean_response(qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t qx_prot_v1_unpack_get_serial_number_response(qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t qx_prot_v1_unpack_get_manufacturing_date_response(qx_packet_t* packet, uint64_t* value);
qx_protocol_status_t qx_prot_v1_unpack_get_num_interfaces_response(qx_packet_t* packet, uint16_t* count);
// chunk_size may be nullptr: the field is then read and dropped.
qx_protocol_status_t qx_prot_v1_unpack_firmware_update_start_response(qx_packet_t* packet, uint64_t* chunk_size);
qx_protocol_status_t qx_prot_v1_unpack_get_interface_status_response(qx_packet_t* packet,
                                                                     qx_eth_interface_status_t* status);
qx_protocol_status_t qx_prot_v1_unpack_interface_get_supported_eth_configs_response(qx_packet_t* packet,
                                                                                    uint32_t* status,
                                                                                    uint32_t* link_mode);
qx_protocol_status_t qx_prot_v1_unpack_interface_get_eth_config_response(qx_packet_t* packet, uint32_t* status,
                                                                         uint32_t* link_mode);
