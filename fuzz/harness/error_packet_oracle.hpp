// The codec status that an error packet must produce, by the device status it
// carries; written out here as data rather than taken from the codec.
#pragma once

#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"

namespace fuzz {

inline constexpr qx_protocol_status_t error_packet_statuses[] = {
    QX_PROTOCOL_STATUS_SUCCESS,                                             // 0
    QX_PROTOCOL_STATUS_NOT_IMPLEMENTED,                                     // 1
    QX_PROTOCOL_STATUS_SERVICE_API_ERROR,                                   // 2
    QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED,                      // 3
    QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED,               // 4
    QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_DEVICE,     // 5
    QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_INTERFACE,  // 6
    QX_PROTOCOL_STATUS_SERVICE_API_ERROR,                                   // 7
    QX_PROTOCOL_STATUS_SERVICE_API_ERROR,                                   // 8
    QX_PROTOCOL_STATUS_SERVICE_API_ERROR,                                   // 9
    QX_PROTOCOL_STATUS_SERVICE_ERROR_TIMED_OUT,                             // 10
    QX_PROTOCOL_STATUS_SERVICE_API_ERROR,                                   // 11
    QX_PROTOCOL_STATUS_SERVICE_API_ERROR,                                   // 12
    QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL,                                    // 13
    QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT,                       // 14
    QX_PROTOCOL_STATUS_INVALID_UTF8_STRING,                                 // 15
    QX_PROTOCOL_STATUS_MEMORY_ERROR,                                        // 16
    QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_ARGUMENT,                      // 17
    QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_INTERFACE,                     // 18
    QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_COMBINATION,                   // 19
};

inline qx_protocol_status_t error_packet_status(uint16_t device_status) {
    constexpr size_t known = sizeof error_packet_statuses / sizeof error_packet_statuses[0];
    return device_status < known ? error_packet_statuses[device_status] : QX_PROTOCOL_STATUS_SERVICE_API_ERROR;
}

}  // namespace fuzz
