// The few payload shapes that most messages of both families share.
// Codec-internal.
#pragma once

#include <cstddef>
#include <cstdint>

#include "qx_sdk_protocol/codec/common_v1.h"
#include "qx_sdk_protocol/codec/message_catalogue.h"
#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/util.h"

namespace qx_shapes {

// A failed reservation is not reported here: the first field write reserves
// again and reports it, and a request without payload needs no memory.
inline qx_protocol_status_t begin_request(qx_packet_t* packet, const qx_message_t& message, size_t extra = 0) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    (void)init_packet(packet, message.request, message.reserve + extra);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

inline qx_protocol_status_t pack_interface_request(qx_packet_t* packet, const qx_message_t& message, uint16_t index) {
    const qx_protocol_status_t status = begin_request(packet, message);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return write_interface_id(packet, index);
}

// An interface request whose index is followed by one field, written by `write`.
template <class Write, class Value>
qx_protocol_status_t pack_interface_request(qx_packet_t* packet, const qx_message_t& message, uint16_t index,
                                            Write write, Value value) {
    const qx_protocol_status_t status = pack_interface_request(packet, message, index);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return write(packet, value);
}

inline qx_protocol_status_t unpack_text_reply(qx_packet_t* packet, const qx_message_t& message, char* destination,
                                              size_t capacity) {
    if (const auto settled = settle_before_fields(packet, message.reply())) {
        return *settled;
    }
    return read_utf8_string(packet, destination, capacity);
}

inline qx_protocol_status_t unpack_status_reply(qx_packet_t* packet, const qx_message_t& message,
                                                qx_service_status_t* status) {
    if (const auto settled = settle_before_fields(packet, message.reply())) {
        return *settled;
    }
    return read_qx_status(packet, status);
}

}  // namespace qx_shapes
