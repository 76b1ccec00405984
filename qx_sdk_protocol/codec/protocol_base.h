// Packet object, framing, primitive field codecs and codec status codes.
// Plain functions over caller-owned memory: no I/O, no global mutable state.
#pragma once

#include <cstddef>
#include <cstdint>

inline constexpr uint16_t QX_CURRENT_PROTOCOL_VERSION = 2;
inline constexpr uint16_t QX_ERROR_PACKET = 0xBAAD;
inline constexpr size_t QX_PACKET_HEADER_SIZE = 4;
inline constexpr size_t QX_MAX_PAYLOAD_LENGTH = 0xFFFF;

// Every codec status: value and constant, in value order. The constant's
// identifier is also the status's name. The enumeration, the names and the
// count check below are all made from this one list.
#define QX_PROTOCOL_STATUS_MAP(XX)                                                  \
    XX(0, QX_PROTOCOL_STATUS_SUCCESS)                                               \
    XX(1, QX_PROTOCOL_STATUS_NOT_IMPLEMENTED)                                       \
    XX(2, QX_PROTOCOL_INVALID_POINTER)                                              \
    XX(3, QX_PROTOCOL_UNEXPECTED_COMMAND)                                           \
    XX(4, QX_PROTOCOL_STATUS_STREAM_READ_ERROR)                                     \
    XX(5, QX_PROTOCOL_STATUS_STREAM_WRITE_ERROR)                                    \
    XX(6, QX_PROTOCOL_STATUS_STREAM_DISCONNECTED)                                   \
    XX(7, QX_PROTOCOL_STATUS_STREAM_TIMED_OUT)                                      \
    XX(8, QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL)                                      \
    XX(9, QX_PROTOCOL_STATUS_PROTOCOL_ERROR)                                        \
    XX(10, QX_PROTOCOL_STATUS_SERVICE_API_ERROR)                                    \
    XX(11, QX_PROTOCOL_STATUS_UNKNOWN_COMMAND)                                      \
    XX(12, QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT)                        \
    XX(13, QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE)            \
    XX(14, QX_PROTOCOL_STATUS_MEMORY_ERROR)                                         \
    XX(15, QX_PROTOCOL_STATUS_INVALID_UTF8_STRING)                                  \
    XX(16, QX_PROTOCOL_STATUS_NO_DEVICES_FOUND)                                     \
    XX(17, QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS)                                  \
    XX(18, QX_PROTOCOL_STATUS_ATTEMPTING_TO_WRITE_OUTSIDE_BUFFER)                   \
    XX(19, QX_PROTOCOL_STATUS_CONVERSION_ERROR)                                     \
    XX(20, QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION)                          \
    XX(1001, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED)                     \
    XX(1002, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED)              \
    XX(1003, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_DEVICE)    \
    XX(1004, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_INTERFACE) \
    XX(1005, QX_PROTOCOL_STATUS_SERVICE_ERROR_TIMED_OUT)                            \
    XX(1006, QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_ARGUMENT)                     \
    XX(1007, QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_INTERFACE)                    \
    XX(1008, QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_COMBINATION)

// A dropped status is a lost failure, so none may be dropped unnoticed.
#define QX_PROTOCOL_STATUS_ENUMERATOR(value, name) name = value,
enum [[nodiscard]] qx_protocol_status_t : uint32_t { QX_PROTOCOL_STATUS_MAP(QX_PROTOCOL_STATUS_ENUMERATOR) };
#undef QX_PROTOCOL_STATUS_ENUMERATOR

// Success, the codec's own 20 outcomes and the device's 8 failures.
inline constexpr size_t QX_PROTOCOL_STATUS_COUNT = 29;
#define QX_PROTOCOL_STATUS_ONE(value, name) +1
static_assert(0 QX_PROTOCOL_STATUS_MAP(QX_PROTOCOL_STATUS_ONE) == QX_PROTOCOL_STATUS_COUNT,
              "the status list and its count disagree");
#undef QX_PROTOCOL_STATUS_ONE

// The constant's identifier; "QX_PROTOCOL_STATUS_RESERVED" for any value not
// in the enumeration. The returned text is static and never null.
const char* qx_protocol_status_name(uint32_t status);

struct qx_packet_t {
    uint16_t command;
    uint16_t length;
    uint8_t* data;
    size_t position;
    size_t capacity;
};

// Packet layer.
qx_protocol_status_t init_packet(qx_packet_t* packet, uint16_t command, size_t reserve);
qx_protocol_status_t packet_reserve_space(qx_packet_t* packet, size_t n);
qx_protocol_status_t packet_write(qx_packet_t* packet, const void* source, size_t n);
qx_protocol_status_t packet_read(qx_packet_t* packet, void* destination, size_t n);
void free_packet(qx_packet_t* packet);
size_t buffer_write(void* destination, const void* source, size_t n);
qx_protocol_status_t packet_pack_data(uint8_t* output, const qx_packet_t* packet, size_t room);
qx_protocol_status_t to_buffer(const qx_packet_t* packet, uint8_t* output, size_t room);
qx_protocol_status_t from_buffer(const uint8_t* input, size_t size, qx_packet_t* packet);

// Primitive field codecs.
qx_protocol_status_t write_uint8_t(qx_packet_t* packet, uint8_t value);
qx_protocol_status_t write_bool(qx_packet_t* packet, bool value);
qx_protocol_status_t write_uint16_t(qx_packet_t* packet, uint16_t value);
qx_protocol_status_t write_uint32_t(qx_packet_t* packet, uint32_t value);
qx_protocol_status_t write_bytes(qx_packet_t* packet, const uint8_t* bytes, size_t count);
qx_protocol_status_t write_utf8_string(qx_packet_t* packet, const char* text);
qx_protocol_status_t read_uint8_t(qx_packet_t* packet, uint8_t* destination);
qx_protocol_status_t read_bool(qx_packet_t* packet, bool* destination);
qx_protocol_status_t read_uint16_t(qx_packet_t* packet, uint16_t* destination);
qx_protocol_status_t read_uint64_t(qx_packet_t* packet, uint64_t* destination);
qx_protocol_status_t read_bytes(qx_packet_t* packet, uint8_t* destination, size_t capacity, size_t* count);
qx_protocol_status_t read_utf8_string(qx_packet_t* packet, char* destination, size_t capacity);
bool is_valid_utf8(const uint8_t* bytes, size_t n);

// The get-version pair, usable before the device's protocol version is known.
qx_protocol_status_t pack_get_version_request(qx_packet_t* packet);
qx_protocol_status_t unpack_get_version_response(qx_packet_t* packet, uint16_t* version);
