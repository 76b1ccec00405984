// Field and record codecs of the version-2 messages.
#pragma once

#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

inline constexpr uint32_t QX_MAX_TC10_COMMAND = 0xFF;

qx_protocol_status_t read_tc10_state(qx_packet_t* packet, qx_tc10_state_t* state);
// A command above 255 does not fit the 8-bit field:
// QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS, nothing written.
qx_protocol_status_t write_tc10_command(qx_packet_t* packet, qx_tc10_command_t command);

// Five bytes: the low 8 bits of payload_size, payload_type and validity, then
// burst_size, then enabled as 0 or 1. Written whole or not at all.
qx_protocol_status_t write_pg_config_t(qx_packet_t* packet, const qx_packet_generator_config_t* config);
// Fills the record only when all five bytes were there.
qx_protocol_status_t read_pg_config_t(qx_packet_t* packet, qx_packet_generator_config_t* config);
// Harness status and distance, both or neither.
qx_protocol_status_t read_cable_test_result_t(qx_packet_t* packet, qx_cable_test_result_t* result);
// sqi, sqi_worst, peak_mse, peak_mse_worst, mse, mse_worst, each stored as soon
// as it is read, so a short reply leaves the fields before the gap filled.
qx_protocol_status_t read_dcq_reading_t(qx_packet_t* packet, qx_dcq_reading_t* reading);
