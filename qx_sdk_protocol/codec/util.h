// Error packets, the device-status conversion and the reply-header check that
// every unpacker starts with. The UTF-8 check (is_valid_utf8, declared with
// the field codecs in protocol_base.h) and the status and interface-type
// names of qx_types.h are defined alongside.
#pragma once

#include <cstdint>
#include <optional>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

// Decodes the device status of an error packet into a codec status;
// QX_PROTOCOL_STATUS_SERVICE_API_ERROR for a packet that is not an error packet,
// QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE for one too short
// for its status.
qx_protocol_status_t from_error_packet(qx_packet_t* packet);

// The codec status that an error packet carrying this device status stands for.
qx_protocol_status_t from_service_status(qx_service_status_t status);

// First step of every unpacker. Gives the unpacker's result when decoding ends
// before any field: for an error packet (its decoded status, which may be
// success: the device refused nothing, yet there is no value to read) and for
// a reply other than the expected one (QX_PROTOCOL_STATUS_PROTOCOL_ERROR).
// Gives nothing for the expected reply, whose fields the unpacker then reads.
std::optional<qx_protocol_status_t> settle_before_fields(qx_packet_t* packet, uint16_t reply);
