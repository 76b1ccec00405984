// Field codecs of the version-1 messages. Each takes the packet first and, on
// failure, leaves the packet (writers) or the output (readers) as it was.
#pragma once

#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

inline constexpr uint32_t QX_MAX_ETH_LINK_MODE = 0xFFFF;

qx_protocol_status_t write_interface_id(qx_packet_t* packet, uint16_t index);
// A 16-bit device status widened into the 32-bit output.
qx_protocol_status_t read_qx_status(qx_packet_t* packet, qx_service_status_t* status);
qx_protocol_status_t read_eth_link_mode(qx_packet_t* packet, qx_eth_link_mode_t* link_mode);
// A mode above 0xFFFF does not fit the 16-bit field:
// QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS, nothing written.
qx_protocol_status_t write_eth_link_mode(qx_packet_t* packet, qx_eth_link_mode_t link_mode);
qx_protocol_status_t read_interface_type(qx_packet_t* packet, qx_interface_type_t* type);
qx_protocol_status_t read_eth_link_state(qx_packet_t* packet, qx_eth_link_state_t* state);

// Shared by the 8- and 16-bit readers that widen into a 32-bit output.
qx_protocol_status_t read_uint8_widened(qx_packet_t* packet, uint32_t* destination);
qx_protocol_status_t read_uint16_widened(qx_packet_t* packet, uint32_t* destination);
