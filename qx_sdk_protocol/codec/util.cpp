#include "qx_sdk_protocol/codec/util.h"

#include <iterator>

#include "qx_sdk_protocol/codec/name_case.h"

namespace {

constexpr bool in_range(uint8_t byte, uint8_t low, uint8_t high) { return byte >= low && byte <= high; }

}  // namespace

const char* qx_service_status_name(qx_service_status_t status) {
    switch (status) { QX_SERVICE_STATUS_MAP(QX_NAME_CASE) }
    return nullptr;
}

qx_protocol_status_t from_service_status(qx_service_status_t status) {
#define QX_SERVICE_STATUS_CODEC_CASE(value, name, codec_status) \
    case value: return codec_status;
    switch (status) { QX_SERVICE_STATUS_MAP(QX_SERVICE_STATUS_CODEC_CASE) }
#undef QX_SERVICE_STATUS_CODEC_CASE
    // A status without a name carries nothing the codec could tell apart.
    return QX_PROTOCOL_STATUS_SERVICE_API_ERROR;
}

const char* qx_interface_type_name(qx_interface_type_t type) {
    switch (type) { QX_INTERFACE_TYPE_MAP(QX_NAME_CASE) }
    return nullptr;
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
