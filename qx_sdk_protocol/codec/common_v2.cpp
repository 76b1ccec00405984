#include "qx_sdk_protocol/codec/common_v2.h"

#include "qx_sdk_protocol/codec/common_v1.h"

namespace {

constexpr size_t PG_CONFIG_WIRE_SIZE = 5;
constexpr size_t CABLE_TEST_WIRE_SIZE = 2;

}  // namespace

qx_protocol_status_t read_tc10_state(qx_packet_t* packet, qx_tc10_state_t* state) {
    return read_uint8_widened(packet, state);
}

qx_protocol_status_t write_tc10_command(qx_packet_t* packet, qx_tc10_command_t command) {
    if (command > QX_MAX_TC10_COMMAND) {
        return QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS;
    }
    return write_uint8_t(packet, static_cast<uint8_t>(command));
}

qx_protocol_status_t write_pg_config_t(qx_packet_t* packet, const qx_packet_generator_config_t* config) {
    if (config == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    // One write keeps a failure from leaving half a record behind.
    const uint8_t bytes[PG_CONFIG_WIRE_SIZE] = {
        static_cast<uint8_t>(config->payload_size),    static_cast<uint8_t>(config->payload_type),
        static_cast<uint8_t>(config->validity),        config->burst_size,
        static_cast<uint8_t>(config->enabled ? 1 : 0),
    };
    return packet_write(packet, bytes, sizeof bytes);
}

qx_protocol_status_t read_pg_config_t(qx_packet_t* packet, qx_packet_generator_config_t* config) {
    if (config == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    uint8_t bytes[PG_CONFIG_WIRE_SIZE] = {};
    const qx_protocol_status_t status = packet_read(packet, bytes, sizeof bytes);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    config->payload_size = bytes[0];
    config->payload_type = bytes[1];
    config->validity = bytes[2];
    config->burst_size = bytes[3];
    config->enabled = bytes[4] != 0;
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t read_cable_test_result_t(qx_packet_t* packet, qx_cable_test_result_t* result) {
    if (result == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    uint8_t bytes[CABLE_TEST_WIRE_SIZE] = {};
    const qx_protocol_status_t status = packet_read(packet, bytes, sizeof bytes);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    result->harness_status = bytes[0];
    result->distance_to_fault = bytes[1];
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t read_dcq_reading_t(qx_packet_t* packet, qx_dcq_reading_t* reading) {
    if (reading == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    uint8_t* const bytes[] = {&reading->sqi, &reading->sqi_worst, &reading->peak_mse, &reading->peak_mse_worst};
    for (uint8_t* field : bytes) {
        const qx_protocol_status_t status = read_uint8_t(packet, field);
        if (status != QX_PROTOCOL_STATUS_SUCCESS) {
            return status;
        }
    }
    const qx_protocol_status_t status = read_uint16_t(packet, &reading->mse);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return read_uint16_t(packet, &reading->mse_worst);
}
