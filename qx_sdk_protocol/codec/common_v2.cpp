#include "qx_sdk_protocol/codec/common_v2.h"

#include <array>

#include "qx_sdk_protocol/codec/common_v1.h"
#include "qx_sdk_protocol/codec/field_widths.h"

namespace {

constexpr size_t PG_CONFIG_WIRE_SIZE = 5;
constexpr size_t CABLE_TEST_WIRE_SIZE = 2;

// Reads all `Size` bytes of a record before `fill` stores any of them, so a
// short reply leaves the record as it was.
template <size_t Size, class Record, class Fill>
qx_protocol_status_t read_whole_record(qx_packet_t* packet, Record* record, Fill fill) {
    if (record == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    std::array<uint8_t, Size> bytes{};
    const qx_protocol_status_t status = packet_read(packet, bytes.data(), bytes.size());
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    fill(*record, bytes);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

}  // namespace

qx_protocol_status_t read_tc10_state(qx_packet_t* packet, qx_tc10_state_t* state) {
    return read_uint8_widened(packet, state);
}

qx_protocol_status_t write_tc10_command(qx_packet_t* packet, qx_tc10_command_t command) {
    return write_narrowed(packet, command, QX_MAX_TC10_COMMAND, write_uint8_t);
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
    return read_whole_record<PG_CONFIG_WIRE_SIZE>(packet, config, [](auto& record, const auto& bytes) {
        record.payload_size = bytes[0];
        record.payload_type = bytes[1];
        record.validity = bytes[2];
        record.burst_size = bytes[3];
        record.enabled = bytes[4] != 0;
    });
}

qx_protocol_status_t read_cable_test_result_t(qx_packet_t* packet, qx_cable_test_result_t* result) {
    return read_whole_record<CABLE_TEST_WIRE_SIZE>(packet, result, [](auto& record, const auto& bytes) {
        record.harness_status = bytes[0];
        record.distance_to_fault = bytes[1];
    });
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
