// Plain values that travel in message fields: device status, link-mode bits,
// wire enumerations and the records that the message codecs fill.
#pragma once

#include <cstdint>

// Every device status: value, constant, and the codec status that an error
// packet carrying it gives. The constant's identifier is the status's name.
// The enumeration, the names, the conversion and the count check are all made
// from this one list.
#define QX_SERVICE_STATUS_MAP(XX)                                                                              \
    XX(0, QX_SERVICE_STATUS_SUCCESS, QX_PROTOCOL_STATUS_SUCCESS)                                               \
    XX(1, QX_SERVICE_STATUS_NOT_IMPLEMENTED, QX_PROTOCOL_STATUS_NOT_IMPLEMENTED)                               \
    XX(2, QX_SERVICE_STATUS_UNSPECIFIED_ERROR, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                           \
    XX(3, QX_SERVICE_STATUS_OPERATION_FAILED, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED)               \
    XX(4, QX_SERVICE_STATUS_OPERATION_NOT_PERMITTED, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED) \
    XX(5, QX_SERVICE_STATUS_OPERATION_NOT_SUPPORTED_BY_DEVICE,                                                 \
       QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_DEVICE)                                     \
    XX(6, QX_SERVICE_STATUS_OPERATION_NOT_SUPPORTED_BY_INTERFACE,                                              \
       QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_INTERFACE)                                  \
    XX(7, QX_SERVICE_STATUS_NOT_CONNECTED, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                               \
    XX(8, QX_SERVICE_STATUS_SOCKET_READ_ERROR, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                           \
    XX(9, QX_SERVICE_STATUS_SOCKET_WRITE_ERROR, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                          \
    XX(10, QX_SERVICE_STATUS_TIMED_OUT, QX_PROTOCOL_STATUS_SERVICE_ERROR_TIMED_OUT)                            \
    XX(11, QX_SERVICE_STATUS_UNKNOWN_NETWORK_ERROR, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                      \
    XX(12, QX_SERVICE_STATUS_UNABLE_TO_OPEN_SOCKET, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                      \
    XX(13, QX_SERVICE_STATUS_BUFFER_TOO_SMALL, QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL)                            \
    XX(14, QX_SERVICE_STATUS_EXCEEDING_STRING_LENGTH_LIMIT, QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT)  \
    XX(15, QX_SERVICE_STATUS_INVALID_UTF8, QX_PROTOCOL_STATUS_INVALID_UTF8_STRING)                             \
    XX(16, QX_SERVICE_STATUS_UNABLE_TO_ALLOCATE_MEMORY, QX_PROTOCOL_STATUS_MEMORY_ERROR)                       \
    XX(17, QX_SERVICE_STATUS_INVALID_ARGUMENT, QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_ARGUMENT)              \
    XX(18, QX_SERVICE_STATUS_INVALID_INTERFACE, QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_INTERFACE)            \
    XX(19, QX_SERVICE_STATUS_INVALID_COMBINATION, QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_COMBINATION)        \
    XX(20, QX_SERVICE_STATUS_PROTOCOL_ERROR, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                             \
    XX(21, QX_SERVICE_STATUS_MAX, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)

using qx_service_status_t = uint32_t;
#define QX_SERVICE_STATUS_ENUMERATOR(value, name, codec_status) name = value,
enum : qx_service_status_t { QX_SERVICE_STATUS_MAP(QX_SERVICE_STATUS_ENUMERATOR) };
#undef QX_SERVICE_STATUS_ENUMERATOR

// The statuses 0 to 21 are named; from 22 up there is no name.
inline constexpr uint32_t QX_SERVICE_STATUS_NAME_COUNT = 22;
#define QX_SERVICE_STATUS_ONE(value, name, codec_status) +1
static_assert(0 QX_SERVICE_STATUS_MAP(QX_SERVICE_STATUS_ONE) == QX_SERVICE_STATUS_NAME_COUNT,
              "the device-status list and its count disagree");
#undef QX_SERVICE_STATUS_ONE

// The constant's identifier for 0..21; nullptr from 22 up, which has no name.
const char* qx_service_status_name(qx_service_status_t status);

using qx_eth_link_mode_t = uint32_t;
// clang-format off
// One line per group of bits: speeds, duplex, roles, auto-negotiation.
enum : qx_eth_link_mode_t {
    QX_ETH_LINK_MODE_10MBIT = 0x001, QX_ETH_LINK_MODE_100MBIT = 0x002, QX_ETH_LINK_MODE_1000MBIT = 0x004,
    QX_ETH_LINK_MODE_HALF_DUPLEX = 0x040, QX_ETH_LINK_MODE_FULL_DUPLEX = 0x080,
    QX_ETH_LINK_MODE_FOLLOWER = 0x100, QX_ETH_LINK_MODE_LEADER = 0x200,
    QX_ETH_LINK_MODE_ANEG = 0x400,
};
// clang-format on

// Every interface type: value and constant, whose identifier is its name.
#define QX_INTERFACE_TYPE_MAP(XX) XX(0, QX_INTERFACE_T1) XX(1, _QX_INTERFACE_RESERVED_1) XX(2, QX_INTERFACE_T)

using qx_interface_type_t = uint32_t;
#define QX_INTERFACE_TYPE_ENUMERATOR(value, name) name = value,
enum : qx_interface_type_t { QX_INTERFACE_TYPE_MAP(QX_INTERFACE_TYPE_ENUMERATOR) };
#undef QX_INTERFACE_TYPE_ENUMERATOR
// The constant's identifier; nullptr for any other value.
const char* qx_interface_type_name(qx_interface_type_t type);

using qx_eth_link_state_t = uint32_t;             // wire: 0 down, 1 up
using qx_tc10_state_t = uint32_t;                 // wire: 0 normal .. 3 sleep aborted
using qx_tc10_command_t = uint32_t;               // wire: 0 sleep, 1 wake-up
using qx_cable_test_harness_status_t = uint32_t;  // wire: 0 open, 1 shorted, 2 good

struct qx_eth_interface_status_t {
    qx_interface_type_t interface_type;
    qx_eth_link_state_t link_state;
    qx_eth_link_mode_t link_mode;
};

struct qx_packet_generator_config_t {
    uint32_t payload_size;
    uint32_t payload_type;
    uint32_t validity;
    uint8_t burst_size;
    bool enabled;
};

struct qx_dcq_reading_t {
    uint8_t sqi;
    uint8_t sqi_worst;
    uint8_t peak_mse;
    uint8_t peak_mse_worst;
    uint16_t mse;
    uint16_t mse_worst;
};

struct qx_cable_test_result_t {
    qx_cable_test_harness_status_t harness_status;
    uint8_t distance_to_fault;
};
