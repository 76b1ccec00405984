// What the codec tests share: a packet that frees itself.
#pragma once

#include "qx_sdk_protocol/codec/protocol_base.h"

// A zero-filled codec packet that is freed at the end of the test.
struct Packet : qx_packet_t {
    Packet() : qx_packet_t{} {}
    Packet(const Packet&) = delete;
    Packet& operator=(const Packet&) = delete;
    ~Packet() { free_packet(this); }
};
