// Every reply decoder of the codec behind one call shape, so a fuzz input can
// pick any of them with one byte: the version dispatchers of both families and
// the get-version decoder, which takes no version.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>

#include "qx_sdk_protocol/codec/client_protocol.h"
#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"

namespace fuzz {

// What the reply payload holds, and so what the decoder fills.
enum class ReplyShape : uint8_t {
    Text,               // byte-string text into a caller buffer
    Status,             // device status
    OptionalStatus,     // device status; the output may be absent
    Number64,           // unsigned 64-bit
    Count16,            // unsigned 16-bit
    OptionalChunkSize,  // unsigned 16-bit widened to 64; the output may be absent
    InterfaceStatus,    // type, dropped byte, link mode, link state
    StatusLinkMode,     // status, link mode
    Tc10State,          // status, TC10 state
    Dcq,                // four bytes, two 16-bit values
    CableTest,          // harness status, distance
    Flag,               // boolean
    PacketGenerator,    // five bytes
    Unread,             // payload not read at all
    Version,            // unsigned 16-bit, error packets not decoded
};

inline constexpr uint8_t untouched_byte = 0xA5;

// One heap block of exactly sizeof(T), filled with a known pattern, so that an
// overrun trips ASan and "left untouched" can be checked bytewise.
template <class T>
class Slot {
public:
    Slot() : value_(static_cast<T*>(::operator new(sizeof(T)))) {
        std::memset(value_.get(), untouched_byte, sizeof(T));
    }
    T* get() const { return value_.get(); }
    bool same_bytes(const Slot& other) const { return std::memcmp(value_.get(), other.value_.get(), sizeof(T)) == 0; }

private:
    struct Release {
        void operator()(T* p) const { ::operator delete(p); }
    };
    std::unique_ptr<T, Release> value_;
};

// Every output any decoder writes. The text buffer is exactly `text_capacity`
// bytes long.
struct Outputs {
    Outputs(size_t capacity, bool leave_out_optional)
        : text_capacity(capacity), optional_absent(leave_out_optional), text(new uint8_t[capacity]) {
        std::memset(text.get(), untouched_byte, capacity);
    }

    bool same_as(const Outputs& other) const {
        return std::memcmp(text.get(), other.text.get(), text_capacity) == 0 && status.same_bytes(other.status) &&
               second.same_bytes(other.second) && number.same_bytes(other.number) && count.same_bytes(other.count) &&
               flag.same_bytes(other.flag) && interface_status.same_bytes(other.interface_status) &&
               dcq.same_bytes(other.dcq) && cable.same_bytes(other.cable) &&
               packet_generator.same_bytes(other.packet_generator);
    }

    char* text_out() const { return reinterpret_cast<char*>(text.get()); }
    uint32_t* optional_status() const { return optional_absent ? nullptr : status.get(); }
    uint64_t* optional_number() const { return optional_absent ? nullptr : number.get(); }

    size_t text_capacity;
    bool optional_absent;
    std::unique_ptr<uint8_t[]> text;
    Slot<uint32_t> status;
    Slot<uint32_t> second;  // link mode or TC10 state
    Slot<uint64_t> number;
    Slot<uint16_t> count;
    Slot<bool> flag;
    Slot<qx_eth_interface_status_t> interface_status;
    Slot<qx_dcq_reading_t> dcq;
    Slot<qx_cable_test_result_t> cable;
    Slot<qx_packet_generator_config_t> packet_generator;
};

struct CodecReply {
    const char* name;
    uint16_t reply;
    uint32_t family;  // the lowest version that has the message; 0: not version-gated
    ReplyShape shape;
    qx_protocol_status_t (*unpack)(uint32_t version, qx_packet_t* packet, const Outputs& out);
};

using S = ReplyShape;
using O = Outputs;

// clang-format off
inline constexpr CodecReply codec_replies[] = {
    {"get_version", 2, 0, S::Version,
     [](uint32_t, qx_packet_t* p, const O& o) { return unpack_get_version_response(p, o.count.get()); }},
    {"device_get_name", 4, 1, S::Text,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_device_get_name_response(v, p, o.text_out(), o.text_capacity); }},
    {"device_set_nickname", 6, 2, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_device_set_nickname_response(v, p, o.status.get()); }},
    {"device_identify", 8, 1, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_device_identify_response(v, p, o.status.get()); }},
    {"get_firmware_ean", 10, 1, S::Number64,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_firmware_ean_response(v, p, o.number.get()); }},
    {"get_num_interfaces", 14, 1, S::Count16,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_num_interfaces_response(v, p, o.count.get()); }},
    {"interface_get_nickname", 16, 1, S::Text,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_get_nickname_response(v, p, o.text_out(), o.text_capacity); }},
    {"interface_set_nickname", 18, 1, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_set_nickname_response(v, p, o.status.get()); }},
    {"get_interface_status", 20, 1, S::InterfaceStatus,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_interface_status_response(v, p, o.interface_status.get()); }},
    {"interface_identify", 22, 1, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_identify_response(v, p, o.status.get()); }},
    {"interface_get_supported_eth_configs", 24, 1, S::StatusLinkMode,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_get_supported_eth_configs_response(v, p, o.status.get(), o.second.get()); }},
    {"interface_set_eth_config", 26, 1, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_set_eth_config_response(v, p, o.status.get()); }},
    {"interface_get_eth_config", 28, 1, S::StatusLinkMode,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_get_eth_config_response(v, p, o.status.get(), o.second.get()); }},
    {"get_serial_number", 30, 1, S::Number64,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_serial_number_response(v, p, o.number.get()); }},
    {"get_firmware_version", 34, 1, S::Text,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_firmware_version_response(v, p, o.text_out(), o.text_capacity); }},
    {"get_bootloader_version", 38, 1, S::Text,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_bootloader_version_response(v, p, o.text_out(), o.text_capacity); }},
    {"get_ean", 40, 1, S::Number64,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_ean_response(v, p, o.number.get()); }},
    {"get_pcb_revision", 42, 1, S::Text,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_pcb_revision_response(v, p, o.text_out(), o.text_capacity); }},
    {"firmware_update_start", 50, 1, S::OptionalChunkSize,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_firmware_update_start_response(v, p, o.optional_number()); }},
    {"firmware_update_send_chunk", 52, 1, S::OptionalStatus,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_firmware_update_send_chunk_response(v, p, o.optional_status()); }},
    {"firmware_update_finalize", 54, 1, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_firmware_update_finalize_response(v, p, o.status.get()); }},
    {"get_manufacturing_date", 70, 1, S::Number64,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_get_manufacturing_date_response(v, p, o.number.get()); }},
    {"interface_send_tc10_command", 78, 2, S::Status,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_send_tc10_command_response(v, p, o.status.get()); }},
    {"interface_get_tc10_state", 80, 2, S::Tc10State,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_get_tc10_state_response(v, p, o.status.get(), o.second.get()); }},
    {"device_get_nickname", 82, 2, S::Text,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_device_get_nickname_response(v, p, o.text_out(), o.text_capacity); }},
    {"interface_read_dcq", 84, 2, S::Dcq,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_read_dcq_response(v, p, o.dcq.get()); }},
    {"interface_run_cable_test", 86, 2, S::CableTest,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_run_cable_test_response(v, p, o.cable.get()); }},
    {"interface_set_loopback_state", 88, 2, S::Unread,
     [](uint32_t v, qx_packet_t* p, const O&) { return unpack_interface_set_loopback_state_response(v, p); }},
    {"interface_get_loopback_state", 90, 2, S::Flag,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_get_loopback_state_response(v, p, o.flag.get()); }},
    {"interface_set_packet_generator_config", 92, 2, S::Unread,
     [](uint32_t v, qx_packet_t* p, const O&) { return unpack_interface_set_packet_generator_config_response(v, p); }},
    {"interface_get_packet_generator_config", 94, 2, S::PacketGenerator,
     [](uint32_t v, qx_packet_t* p, const O& o) { return unpack_interface_get_packet_generator_config_response(v, p, o.packet_generator.get()); }},
};
// clang-format on

inline constexpr size_t codec_reply_count = sizeof codec_replies / sizeof codec_replies[0];

inline const CodecReply* codec_reply_for(uint16_t reply) {
    for (const CodecReply& row : codec_replies) {
        if (row.reply == reply) {
            return &row;
        }
    }
    return nullptr;
}

}  // namespace fuzz
