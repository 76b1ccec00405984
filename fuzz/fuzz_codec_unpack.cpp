// Every reply decoder of the codec, on any frame and any protocol version,
// checked against an independent model of what it must return and of every
// byte it may write.
//
// Input: [decoder][version][flags][text capacity][command lo][command hi][payload...]
//   flags bits 0-1: 0 the decoder's own reply number, 1 an error packet,
//                   2 or 3 the command bytes as given; bit 2: optional outputs absent.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <vector>

#include "harness/check.hpp"
#include "harness/codec_replies.hpp"
#include "harness/error_packet_oracle.hpp"
#include "harness/input.hpp"
#include "harness/utf8_oracle.hpp"

namespace {

using fuzz::CodecReply;
using fuzz::Outputs;
using fuzz::ReplyShape;
using Bytes = std::span<const uint8_t>;

constexpr size_t control_bytes = 6;

uint64_t le64(Bytes bytes, size_t at) {
    uint64_t value = 0;
    for (size_t i = 0; i < 8; ++i) {
        value |= uint64_t{bytes[at + i]} << (8 * i);
    }
    return value;
}

// The fields of the expected reply, read field by field in wire order: each
// value lands as soon as its bytes are there, and the first field that is not
// there ends decoding with 13 unless the shape says otherwise.
qx_protocol_status_t expected_fields(ReplyShape shape, Bytes p, const Outputs& out) {
    constexpr qx_protocol_status_t ok = QX_PROTOCOL_STATUS_SUCCESS;
    constexpr qx_protocol_status_t short_payload = QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;
    const size_t n = p.size();
    switch (shape) {
        case ReplyShape::Text: {
            if (out.text_capacity == 0) {
                return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
            }
            if (n < 2) {
                return short_payload;
            }
            const size_t count = fuzz::le16(p, 0);
            if (count > out.text_capacity - 1) {
                return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
            }
            if (n - 2 < count) {
                return short_payload;
            }
            const Bytes text = p.subspan(2, count);
            std::memcpy(out.text.get(), text.data(), count);
            out.text[count] = 0;
            return fuzz::is_well_formed_utf8(text) ? ok : QX_PROTOCOL_STATUS_INVALID_UTF8_STRING;
        }
        case ReplyShape::Status:
        case ReplyShape::OptionalStatus:
            if (n < 2) {
                return short_payload;
            }
            if (uint32_t* status = shape == ReplyShape::Status ? out.status.get() : out.optional_status()) {
                *status = fuzz::le16(p, 0);
            }
            return ok;
        case ReplyShape::Number64:
            if (n < 8) {
                return short_payload;
            }
            *out.number.get() = le64(p, 0);
            return ok;
        case ReplyShape::Count16:
        case ReplyShape::Version:
            if (n < 2) {
                return short_payload;
            }
            *out.count.get() = fuzz::le16(p, 0);
            return ok;
        case ReplyShape::OptionalChunkSize:
            if (n < 2) {
                return short_payload;
            }
            if (uint64_t* size = out.optional_number()) {
                *size = fuzz::le16(p, 0);
            }
            return ok;
        case ReplyShape::InterfaceStatus: {
            qx_eth_interface_status_t* status = out.interface_status.get();
            if (n < 1) {
                return short_payload;
            }
            status->interface_type = p[0];
            if (n < 4) {  // the dropped byte, then the link mode
                return short_payload;
            }
            status->link_mode = fuzz::le16(p, 2);
            if (n < 5) {
                return short_payload;
            }
            status->link_state = p[4];
            return ok;
        }
        case ReplyShape::StatusLinkMode:
            if (n < 2) {
                return QX_PROTOCOL_STATUS_PROTOCOL_ERROR;
            }
            *out.status.get() = fuzz::le16(p, 0);
            if (n < 4) {
                return short_payload;
            }
            *out.second.get() = fuzz::le16(p, 2);
            return ok;
        case ReplyShape::Tc10State:
            if (n < 2) {
                return short_payload;
            }
            *out.status.get() = fuzz::le16(p, 0);
            if (n < 3) {
                return short_payload;
            }
            *out.second.get() = p[2];
            return ok;
        case ReplyShape::Dcq: {
            qx_dcq_reading_t* dcq = out.dcq.get();
            uint8_t* const singles[] = {&dcq->sqi, &dcq->sqi_worst, &dcq->peak_mse, &dcq->peak_mse_worst};
            for (size_t i = 0; i < 4; ++i) {
                if (n < i + 1) {
                    return short_payload;
                }
                *singles[i] = p[i];
            }
            if (n < 6) {
                return short_payload;
            }
            dcq->mse = fuzz::le16(p, 4);
            if (n < 8) {
                return short_payload;
            }
            dcq->mse_worst = fuzz::le16(p, 6);
            return ok;
        }
        case ReplyShape::CableTest:
            if (n < 2) {
                return short_payload;
            }
            out.cable.get()->harness_status = p[0];
            out.cable.get()->distance_to_fault = p[1];
            return ok;
        case ReplyShape::Flag:
            if (n < 1) {
                return short_payload;
            }
            *out.flag.get() = p[0] != 0;
            return ok;
        case ReplyShape::PacketGenerator: {
            if (n < 5) {
                return short_payload;
            }
            qx_packet_generator_config_t* config = out.packet_generator.get();
            config->payload_size = p[0];
            config->payload_type = p[1];
            config->validity = p[2];
            config->burst_size = p[3];
            config->enabled = p[4] != 0;
            return ok;
        }
        case ReplyShape::Unread: return ok;
    }
    return ok;
}

struct Expectation {
    qx_protocol_status_t status;
    bool reads_fields;  // false: the packet's cursor must not move either
};

Expectation expected_result(const CodecReply& row, uint32_t version, uint16_t command, Bytes payload,
                            const Outputs& expected) {
    if (row.family != 0) {
        if (version < row.family) {
            return {QX_PROTOCOL_STATUS_NOT_IMPLEMENTED, false};
        }
        if (version > QX_CURRENT_PROTOCOL_VERSION) {
            return {QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION, false};
        }
    }
    if (command == QX_ERROR_PACKET && row.shape != ReplyShape::Version) {
        if (payload.size() < 2) {
            return {QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE, true};
        }
        return {fuzz::error_packet_status(fuzz::le16(payload, 0)), true};
    }
    if (command != row.reply) {
        return {QX_PROTOCOL_STATUS_PROTOCOL_ERROR, false};
    }
    return {expected_fields(row.shape, payload, expected), true};
}

struct PacketSnapshot {
    uint16_t command;
    uint16_t length;
    const uint8_t* data;
    size_t position;
    size_t capacity;
    std::vector<uint8_t> bytes;

    explicit PacketSnapshot(const qx_packet_t& p)
        : command(p.command),
          length(p.length),
          data(p.data),
          position(p.position),
          capacity(p.capacity),
          bytes(p.data, p.data + p.length) {}
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < control_bytes) {
        return 0;
    }
    const Bytes input(data, size);
    const CodecReply& row = fuzz::codec_replies[input[0] % fuzz::codec_reply_count];
    const uint32_t version = fuzz::version_from_byte(input[1]);
    const uint8_t flags = input[2];
    const size_t capacity = input[3];
    const bool leave_out_optional = (flags & 0x04) != 0;
    Bytes payload = input.subspan(control_bytes);
    if (payload.size() > QX_MAX_PAYLOAD_LENGTH) {
        payload = payload.first(QX_MAX_PAYLOAD_LENGTH);
    }
    uint16_t command = fuzz::le16(input, 4);
    switch (flags & 0x03) {
        case 0: command = row.reply; break;
        case 1: command = QX_ERROR_PACKET; break;
        default: break;
    }

    std::vector<uint8_t> frame = {static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8),
                                  static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    qx_packet_t packet{};
    FUZZ_CHECK(from_buffer(frame.data(), frame.size(), &packet) == QX_PROTOCOL_STATUS_SUCCESS,
               "a complete frame parses");
    const PacketSnapshot before(packet);

    const Outputs actual(capacity, leave_out_optional);
    const Outputs expected(capacity, leave_out_optional);
    const qx_protocol_status_t status = row.unpack(version, &packet, actual);
    const Expectation expectation = expected_result(row, version, command, payload, expected);

    if (status != expectation.status) {
        std::fprintf(stderr, "%s, version %u, command %u, %zu payload bytes: status %u, expected %u\n", row.name,
                     version, command, payload.size(), status, expectation.status);
    }
    FUZZ_CHECK(status == expectation.status, "the decoder returns the status the model gives");
    FUZZ_CHECK(actual.same_as(expected), "the decoder writes exactly the outputs the model writes");

    const PacketSnapshot after(packet);
    FUZZ_CHECK(after.command == before.command && after.length == before.length && after.data == before.data &&
                   after.capacity == before.capacity && after.bytes == before.bytes,
               "decoding never changes the packet apart from its cursor");
    FUZZ_CHECK(after.position <= after.length, "the cursor stays within the payload");
    if (!expectation.reads_fields) {
        FUZZ_CHECK(after.position == before.position, "a refused or foreign reply consumes nothing");
    }
    free_packet(&packet);
    return 0;
}
