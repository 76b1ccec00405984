#include "qx_sdk_protocol/codec/util.h"

#include <iterator>

namespace {

struct service_status_entry_t {
    const char* name;
    qx_protocol_status_t from_error_packet;
};

// Indexed by the device status. Statuses that describe the device's own
// transport faults have no codec counterpart and fold into a generic API error.
constexpr service_status_entry_t SERVICE_STATUSES[] = {
    {"QX_SERVICE_STATUS_SUCCESS", QX_PROTOCOL_STATUS_SUCCESS},
    {"QX_SERVICE_STATUS_NOT_IMPLEMENTED", QX_PROTOCOL_STATUS_NOT_IMPLEMENTED},
    {"QX_SERVICE_STATUS_UNSPECIFIED_ERROR", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_OPERATION_FAILED", QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED},
    {"QX_SERVICE_STATUS_OPERATION_NOT_PERMITTED", QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED},
    {"QX_SERVICE_STATUS_OPERATION_NOT_SUPPORTED_BY_DEVICE",
     QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_DEVICE},
    {"QX_SERVICE_STATUS_OPERATION_NOT_SUPPORTED_BY_INTERFACE",
     QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_INTERFACE},
    {"QX_SERVICE_STATUS_NOT_CONNECTED", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_SOCKET_READ_ERROR", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_SOCKET_WRITE_ERROR", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_TIMED_OUT", QX_PROTOCOL_STATUS_SERVICE_ERROR_TIMED_OUT},
    {"QX_SERVICE_STATUS_UNKNOWN_NETWORK_ERROR", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_UNABLE_TO_OPEN_SOCKET", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_BUFFER_TOO_SMALL", QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL},
    {"QX_SERVICE_STATUS_EXCEEDING_STRING_LENGTH_LIMIT", QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT},
    {"QX_SERVICE_STATUS_INVALID_UTF8", QX_PROTOCOL_STATUS_INVALID_UTF8_STRING},
    {"QX_SERVICE_STATUS_UNABLE_TO_ALLOCATE_MEMORY", QX_PROTOCOL_STATUS_MEMORY_ERROR},
    {"QX_SERVICE_STATUS_INVALID_ARGUMENT", QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_ARGUMENT},
    {"QX_SERVICE_STATUS_INVALID_INTERFACE", QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_INTERFACE},
    {"QX_SERVICE_STATUS_INVALID_COMBINATION", QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_COMBINATION},
    {"QX_SERVICE_STATUS_PROTOCOL_ERROR", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
    {"QX_SERVICE_STATUS_MAX", QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
};
static_assert(std::size(SERVICE_STATUSES) == QX_SERVICE_STATUS_NAME_COUNT);

constexpr const char* INTERFACE_TYPE_NAMES[] = {
    "QX_INTERFACE_T1",
    "_QX_INTERFACE_RESERVED_1",
    "QX_INTERFACE_T",
};

constexpr bool in_range(uint8_t byte, uint8_t low, uint8_t high) { return byte >= low && byte <= high; }

}  // namespace

const char* qx_service_status_name(qx_service_status_t status) {
    return status < QX_SERVICE_STATUS_NAME_COUNT ? SERVICE_STATUSES[status].name : nullptr;
}

const char* qx_interface_type_name(qx_interface_type_t type) {
    return type < std::size(INTERFACE_TYPE_NAMES) ? INTERFACE_TYPE_NAMES[type] : nullptr;
}

qx_protocol_status_t from_service_status(qx_service_status_t status) {
    // Statuses from 20 up carry nothing the codec could tell apart.
    if (status > QX_SERVICE_STATUS_INVALID_COMBINATION) {
        return QX_PROTOCOL_STATUS_SERVICE_API_ERROR;
    }
    return SERVICE_STATUSES[status].from_error_packet;
}

qx_protocol_status_t from_error_packet(qx_packet_t* packet) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (packet->command != QX_ERROR_PACKET) {
        return QX_PROTOCOL_STATUS_SERVICE_API_ERROR;
    }
    uint16_t status = 0;
    const qx_protocol_status_t read = read_uint16_t(packet, &status);
    if (read != QX_PROTOCOL_STATUS_SUCCESS) {
        return read;
    }
    return from_service_status(status);
}

std::optional<qx_protocol_status_t> settle_before_fields(qx_packet_t* packet, uint16_t reply) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (packet->command == QX_ERROR_PACKET) {
        return from_error_packet(packet);
    }
    if (packet->command != reply) {
        return QX_PROTOCOL_STATUS_PROTOCOL_ERROR;
    }
    return std::nullopt;
}

// Well-formed sequences after RFC 3629: the second byte's range depends on the
// lead byte, which is what excludes overlong forms, surrogates and code points
// above U+10FFFF; every further byte is a plain continuation byte.
bool is_valid_utf8(const uint8_t* bytes, size_t n) {
    if (bytes == nullptr) {
        return n == 0;
    }
    size_t i = 0;
    while (i < n) {
        const uint8_t lead = bytes[i];
        if (lead < 0x80) {
            ++i;
            continue;
        }
        size_t length = 0;
        uint8_t second_low = 0x80;
        uint8_t second_high = 0xBF;
        if (in_range(lead, 0xC2, 0xDF)) {
            length = 2;
        } else if (lead == 0xE0) {
            length = 3;
            second_low = 0xA0;
        } else if (in_range(lead, 0xE1, 0xEC) || in_range(lead, 0xEE, 0xEF)) {
            length = 3;
        } else if (lead == 0xED) {
            length = 3;
            second_high = 0x9F;
        } else if (lead == 0xF0) {
            length = 4;
            second_low = 0x90;
        } else if (in_range(lead, 0xF1, 0xF3)) {
            length = 4;
        } else if (lead == 0xF4) {
            length = 4;
            second_high = 0x8F;
        } else {
            return false;  // a continuation byte, C0, C1 or F5-FF in lead position
        }
        if (n - i < length) {
            return false;
        }
        if (!in_range(bytes[i + 1], second_low, second_high)) {
            return false;
        }
        for (size_t k = 2; k < length; ++k) {
            if (!in_range(bytes[i + k], 0x80, 0xBF)) {
                return false;
            }
        }
        i += length;
    }
    return true;
}
