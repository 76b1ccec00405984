// The two steps shared by every field codec whose wire width differs from the
// caller's type: readers that convert what they read, writers that
// range-check before they narrow. Codec-internal.
#pragma once

#include <cstdint>

#include "qx_sdk_protocol/codec/protocol_base.h"

// Reads a `Wire` field with `read` into a local and stores it, converted, only
// when the read succeeded, so a failed read leaves the destination as it was.
template <class Wire, class Out, class Read>
qx_protocol_status_t read_converted(qx_packet_t* packet, Out* destination, Read read) {
    if (destination == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    Wire value{};
    const qx_protocol_status_t status = read(packet, &value);
    if (status == QX_PROTOCOL_STATUS_SUCCESS) {
        *destination = static_cast<Out>(value);
    }
    return status;
}

// A value above `max` is refused with QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS
// before anything is written.
template <class Wire>
qx_protocol_status_t write_narrowed(qx_packet_t* packet, uint32_t value, uint32_t max,
                                    qx_protocol_status_t (*write)(qx_packet_t*, Wire)) {
    if (value > max) {
        return QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS;
    }
    return write(packet, static_cast<Wire>(value));
}
