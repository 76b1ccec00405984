// The message catalogue through its dispatchers: request frames byte for byte,
// reply decoding, version gating, error packets and the per-message exceptions.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>
#include <vector>

#include "codec_test_support.hpp"
#include "qx_sdk_protocol/codec/client_protocol.h"
#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/codec/qx_types.h"
#include "qx_sdk_protocol/codec/util.h"

namespace {

using Bytes = std::vector<uint8_t>;

constexpr uint32_t V1 = 1;
constexpr uint32_t V2 = 2;
constexpr auto OK = QX_PROTOCOL_STATUS_SUCCESS;
constexpr auto BEYOND = QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;

Bytes frame_of(const qx_packet_t& packet) {
    Bytes out(QX_PACKET_HEADER_SIZE + packet.length);
    EXPECT_EQ(to_buffer(&packet, out.data(), out.size()), OK);
    return out;
}

void parse(Packet& packet, uint16_t command, const Bytes& payload) {
    Bytes frame = {static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8),
                   static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    ASSERT_EQ(from_buffer(frame.data(), frame.size(), &packet), OK);
}

bool same_bytes(const void* a, const void* b, size_t n) { return std::memcmp(a, b, n) == 0; }

// Every kind of output an unpacker can fill, prefilled with a byte pattern so
// that "untouched" can be checked bytewise.
struct Outputs {
    char text[128];
    uint32_t status;
    uint32_t second;  // link mode or TC10 state
    uint64_t value;
    uint16_t count;
    bool enabled;
    qx_eth_interface_status_t interface_status;
    qx_dcq_reading_t dcq;
    qx_cable_test_result_t cable;
    qx_packet_generator_config_t pg;

    Outputs() { std::memset(static_cast<void*>(this), 0xA5, sizeof *this); }
    bool untouched() const {
        const Outputs fresh;
        return same_bytes(this, &fresh, sizeof *this);
    }
};

using Unpack = std::function<qx_protocol_status_t(uint32_t, qx_packet_t*, Outputs&)>;
using Check = std::function<void(const Outputs&)>;

struct ReplyCase {
    const char* operation;
    uint32_t family;
    uint16_t reply;
    Unpack unpack;
    Bytes payload;                  // a well-formed reply payload
    Check check;                    // what it decodes to
    qx_protocol_status_t when_cut;  // the payload without its last byte
};

void expect_text(const Outputs& out, const char* text) { EXPECT_STREQ(out.text, text); }

// clang-format off
#define TEXT_REPLY(op, family, reply)                                                            \
    ReplyCase{#op, family, reply,                                                                \
              [](uint32_t v, qx_packet_t* p, Outputs& o) {                                       \
                  return unpack_##op##_response(v, p, o.text, sizeof o.text);                    \
              },                                                                                 \
              {0x02, 0x00, 'a', 'b'},                                                            \
              [](const Outputs& o) { expect_text(o, "ab"); },                                    \
              BEYOND}
#define STATUS_REPLY(op, family, reply)                                                          \
    ReplyCase{#op, family, reply,                                                                \
              [](uint32_t v, qx_packet_t* p, Outputs& o) {                                       \
                  return unpack_##op##_response(v, p, &o.status);                                \
              },                                                                                 \
              {0x05, 0x01},                                                                      \
              [](const Outputs& o) { EXPECT_EQ(o.status, 0x0105u); },                            \
              BEYOND}
#define U64_REPLY(op, reply)                                                                     \
    ReplyCase{#op, V1, reply,                                                                    \
              [](uint32_t v, qx_packet_t* p, Outputs& o) {                                       \
                  return unpack_##op##_response(v, p, &o.value);                                 \
              },                                                                                 \
              {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88},                                  \
              [](const Outputs& o) { EXPECT_EQ(o.value, 0x8807060504030201u); },                 \
              BEYOND}
// clang-format on

const std::vector<ReplyCase>& reply_cases() {
    static const std::vector<ReplyCase> cases = {
        // clang-format off
        TEXT_REPLY(device_get_name,               V1,  4),
        TEXT_REPLY(device_get_nickname,           V2, 82),
        TEXT_REPLY(interface_get_nickname,        V1, 16),
        TEXT_REPLY(get_firmware_version,          V1, 34),
        TEXT_REPLY(get_bootloader_version,        V1, 38),
        TEXT_REPLY(get_pcb_revision,              V1, 42),
        STATUS_REPLY(device_set_nickname,         V2,  6),
        STATUS_REPLY(device_identify,             V1,  8),
        STATUS_REPLY(interface_set_nickname,      V1, 18),
        STATUS_REPLY(interface_identify,          V1, 22),
        STATUS_REPLY(interface_set_eth_config,    V1, 26),
        STATUS_REPLY(interface_send_tc10_command, V2, 78),
        STATUS_REPLY(firmware_update_finalize,    V1, 54),
        STATUS_REPLY(firmware_update_send_chunk,  V1, 52),
        U64_REPLY(get_firmware_ean,                   10),
        U64_REPLY(get_ean,                            40),
        U64_REPLY(get_serial_number,                  30),
        U64_REPLY(get_manufacturing_date,             70),
        // clang-format on
        {"get_num_interfaces",
         V1,
         14,
         [](uint32_t v, qx_packet_t* p, Outputs& o) { return unpack_get_num_interfaces_response(v, p, &o.count); },
         {0x03, 0x01},
         [](const Outputs& o) { EXPECT_EQ(o.count, 0x0103); },
         BEYOND},
        {"firmware_update_start",
         V1,
         50,
         [](uint32_t v, qx_packet_t* p, Outputs& o) { return unpack_firmware_update_start_response(v, p, &o.value); },
         {0x00, 0x04},
         [](const Outputs& o) { EXPECT_EQ(o.value, 1024u); },
         BEYOND},
        {"get_interface_status",
         V1,
         20,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_get_interface_status_response(v, p, &o.interface_status);
         },
         {0x02, 0x07, 0x81, 0x02, 0x01},
         [](const Outputs& o) {
             EXPECT_EQ(o.interface_status.interface_type, 2u);
             EXPECT_EQ(o.interface_status.link_mode, 0x0281u);
             EXPECT_EQ(o.interface_status.link_state, 1u);
         },
         BEYOND},
        {"interface_get_supported_eth_configs",
         V1,
         24,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_interface_get_supported_eth_configs_response(v, p, &o.status, &o.second);
         },
         {0x03, 0x00, 0x81, 0x02},
         [](const Outputs& o) {
             EXPECT_EQ(o.status, 3u);
             EXPECT_EQ(o.second, 0x0281u);
         },
         BEYOND},
        {"interface_get_eth_config",
         V1,
         28,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_interface_get_eth_config_response(v, p, &o.status, &o.second);
         },
         {0x00, 0x00, 0x44, 0x04},
         [](const Outputs& o) {
             EXPECT_EQ(o.status, 0u);
             EXPECT_EQ(o.second, 0x0444u);
         },
         BEYOND},
        {"interface_get_tc10_state",
         V2,
         80,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_interface_get_tc10_state_response(v, p, &o.status, &o.second);
         },
         {0x06, 0x00, 0x02},
         [](const Outputs& o) {
             EXPECT_EQ(o.status, 6u);
             EXPECT_EQ(o.second, 2u);
         },
         BEYOND},
        {"interface_read_dcq",
         V2,
         84,
         [](uint32_t v, qx_packet_t* p, Outputs& o) { return unpack_interface_read_dcq_response(v, p, &o.dcq); },
         {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08},
         [](const Outputs& o) {
             EXPECT_EQ(o.dcq.sqi, 1);
             EXPECT_EQ(o.dcq.sqi_worst, 2);
             EXPECT_EQ(o.dcq.peak_mse, 3);
             EXPECT_EQ(o.dcq.peak_mse_worst, 4);
             EXPECT_EQ(o.dcq.mse, 0x0605);
             EXPECT_EQ(o.dcq.mse_worst, 0x0807);
         },
         BEYOND},
        {"interface_run_cable_test",
         V2,
         86,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_interface_run_cable_test_response(v, p, &o.cable);
         },
         {0x02, 0x09},
         [](const Outputs& o) {
             EXPECT_EQ(o.cable.harness_status, 2u);
             EXPECT_EQ(o.cable.distance_to_fault, 9);
         },
         BEYOND},
        {"interface_get_loopback_state",
         V2,
         90,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_interface_get_loopback_state_response(v, p, &o.enabled);
         },
         {0x02},
         [](const Outputs& o) { EXPECT_TRUE(o.enabled); },
         BEYOND},
        {"interface_get_packet_generator_config",
         V2,
         94,
         [](uint32_t v, qx_packet_t* p, Outputs& o) {
             return unpack_interface_get_packet_generator_config_response(v, p, &o.pg);
         },
         {0x01, 0x02, 0x01, 0x40, 0x03},
         [](const Outputs& o) {
             EXPECT_EQ(o.pg.payload_size, 1u);
             EXPECT_EQ(o.pg.payload_type, 2u);
             EXPECT_EQ(o.pg.validity, 1u);
             EXPECT_EQ(o.pg.burst_size, 0x40);
             EXPECT_TRUE(o.pg.enabled);
         },
         BEYOND},
        {"interface_set_loopback_state",
         V2,
         88,
         [](uint32_t v, qx_packet_t* p, Outputs&) { return unpack_interface_set_loopback_state_response(v, p); },
         {},
         [](const Outputs& o) { EXPECT_TRUE(o.untouched()); },
         OK},
        {"interface_set_packet_generator_config",
         V2,
         92,
         [](uint32_t v, qx_packet_t* p, Outputs&) {
             return unpack_interface_set_packet_generator_config_response(v, p);
         },
         {},
         [](const Outputs& o) { EXPECT_TRUE(o.untouched()); },
         OK},
    };
    return cases;
}

using Pack = std::function<qx_protocol_status_t(uint32_t, qx_packet_t*)>;

struct RequestCase {
    const char* operation;
    uint32_t family;
    Pack pack;
    Bytes frame;
};

const qx_packet_generator_config_t PG_CONFIG = {0x101, 2, 1, 0x40, true};
const uint8_t CHUNK[] = {0xAA, 0xBB, 0xCC};

// clang-format off
#define PLAIN_REQUEST(op, family, command)                                                       \
    RequestCase{#op, family,                                                                     \
                [](uint32_t v, qx_packet_t* p) { return pack_##op##_request(v, p); },            \
                {command, 0, 0, 0}}
#define INDEX_REQUEST(op, family, command)                                                       \
    RequestCase{#op, family,                                                                     \
                [](uint32_t v, qx_packet_t* p) { return pack_##op##_request(v, p, 3); },         \
                {command, 0, 2, 0, 3, 0}}
// clang-format on

const std::vector<RequestCase>& request_cases() {
    static const std::vector<RequestCase> cases = {
        // clang-format off
        PLAIN_REQUEST(device_get_name,                       V1,  3),
        PLAIN_REQUEST(device_get_nickname,                   V2, 81),
        PLAIN_REQUEST(device_identify,                       V1,  7),
        PLAIN_REQUEST(get_firmware_ean,                      V1,  9),
        PLAIN_REQUEST(get_num_interfaces,                    V1, 13),
        PLAIN_REQUEST(get_serial_number,                     V1, 29),
        PLAIN_REQUEST(get_firmware_version,                  V1, 33),
        PLAIN_REQUEST(get_bootloader_version,                V1, 37),
        PLAIN_REQUEST(get_ean,                               V1, 39),
        PLAIN_REQUEST(get_pcb_revision,                      V1, 41),
        PLAIN_REQUEST(firmware_update_finalize,              V1, 53),
        PLAIN_REQUEST(get_manufacturing_date,                V1, 69),
        INDEX_REQUEST(interface_get_nickname,                V1, 15),
        INDEX_REQUEST(get_interface_status,                  V1, 19),
        INDEX_REQUEST(interface_identify,                    V1, 21),
        INDEX_REQUEST(interface_get_supported_eth_configs,   V1, 23),
        INDEX_REQUEST(interface_get_eth_config,              V1, 27),
        INDEX_REQUEST(interface_get_tc10_state,              V2, 79),
        INDEX_REQUEST(interface_read_dcq,                    V2, 83),
        INDEX_REQUEST(interface_run_cable_test,              V2, 85),
        INDEX_REQUEST(interface_get_loopback_state,          V2, 89),
        INDEX_REQUEST(interface_get_packet_generator_config, V2, 93),
        // clang-format on
        {"device_set_nickname",
         V2,
         [](uint32_t v, qx_packet_t* p) { return pack_device_set_nickname_request(v, p, "ab"); },
         {5, 0, 4, 0, 2, 0, 0x61, 0x62}},
        {"interface_set_nickname",
         V1,
         [](uint32_t v, qx_packet_t* p) { return pack_interface_set_nickname_request(v, p, 3, "ab"); },
         {0x11, 0x00, 0x06, 0x00, 0x03, 0x00, 0x02, 0x00, 0x61, 0x62}},
        {"interface_set_eth_config",
         V1,
         [](uint32_t v, qx_packet_t* p) { return pack_interface_set_eth_config_request(v, p, 0x0102, 0x0281); },
         {25, 0, 4, 0, 0x02, 0x01, 0x81, 0x02}},
        {"interface_send_tc10_command",
         V2,
         [](uint32_t v, qx_packet_t* p) { return pack_interface_send_tc10_command_request(v, p, 3, 1); },
         {77, 0, 3, 0, 3, 0, 1}},
        {"interface_set_loopback_state",
         V2,
         [](uint32_t v, qx_packet_t* p) { return pack_interface_set_loopback_state_request(v, p, 3, true); },
         {87, 0, 3, 0, 3, 0, 1}},
        // Only the low byte of each 32-bit field travels: 0x101 goes out as 01.
        {"interface_set_packet_generator_config",
         V2,
         [](uint32_t v, qx_packet_t* p) {
             return pack_interface_set_packet_generator_config_request(v, p, 3, &PG_CONFIG);
         },
         {91, 0, 7, 0, 3, 0, 0x01, 0x02, 0x01, 0x40, 0x01}},
        {"firmware_update_start",
         V1,
         [](uint32_t v, qx_packet_t* p) { return pack_firmware_update_start_request(v, p, 7, 0x01020304); },
         {49, 0, 5, 0, 7, 0x04, 0x03, 0x02, 0x01}},
        {"firmware_update_send_chunk",
         V1,
         [](uint32_t v, qx_packet_t* p) { return pack_firmware_update_send_chunk_request(v, p, 0x0102, CHUNK, 3); },
         {51, 0, 7, 0, 0x02, 0x01, 0x03, 0x00, 0xAA, 0xBB, 0xCC}},
    };
    return cases;
}

// What a dispatcher answers at each device version, for a message of the
// version-1 family and for one of the version-2 family.
struct Gate {
    uint32_t version;
    qx_protocol_status_t family_v1;
    qx_protocol_status_t family_v2;

    qx_protocol_status_t for_family(uint32_t family) const {
        EXPECT_TRUE(family == V1 || family == V2) << "family " << family;
        return family == V1 ? family_v1 : family_v2;
    }
};

constexpr auto REFUSED = QX_PROTOCOL_STATUS_NOT_IMPLEMENTED;
constexpr auto UNFAMILIAR = QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION;

// clang-format off
const Gate GATES[] = {
    {0,      REFUSED,    REFUSED},
    {1,      OK,         REFUSED},
    {2,      OK,         OK},
    {3,      UNFAMILIAR, UNFAMILIAR},
    {65'535, UNFAMILIAR, UNFAMILIAR},
};
// clang-format on

TEST(CodecCatalogue, EveryRequestFrameByteForByte) {
    for (const RequestCase& c : request_cases()) {
        SCOPED_TRACE(c.operation);
        Packet packet;
        ASSERT_EQ(c.pack(V2, &packet), OK);
        EXPECT_EQ(frame_of(packet), c.frame);
        EXPECT_EQ(packet.position, packet.length);
    }
}

TEST(CodecCatalogue, PackDispatchersGateOnTheDeviceVersion) {
    for (const RequestCase& c : request_cases()) {
        for (const Gate& gate : GATES) {
            SCOPED_TRACE(std::string(c.operation) + " at version " + std::to_string(gate.version));
            Packet packet;
            const qx_protocol_status_t expected = gate.for_family(c.family);
            EXPECT_EQ(c.pack(gate.version, &packet), expected);
            if (expected == OK) {
                EXPECT_EQ(frame_of(packet), c.frame);
            } else {
                const qx_packet_t zero{};
                EXPECT_TRUE(same_bytes(static_cast<qx_packet_t*>(&packet), &zero, sizeof zero));
            }
        }
    }
}

TEST(CodecCatalogue, UnpackDispatchersGateOnTheDeviceVersion) {
    for (const ReplyCase& c : reply_cases()) {
        for (const Gate& gate : GATES) {
            SCOPED_TRACE(std::string(c.operation) + " at version " + std::to_string(gate.version));
            Packet packet;
            parse(packet, c.reply, c.payload);
            Outputs out;
            const qx_protocol_status_t expected = gate.for_family(c.family);
            EXPECT_EQ(c.unpack(gate.version, &packet, out), expected);
            if (expected == OK) {
                c.check(out);
            } else {
                EXPECT_TRUE(out.untouched());
                EXPECT_EQ(packet.position, 0u);
            }
        }
    }
}

TEST(CodecCatalogue, EveryReplyDecodesAndIgnoresTrailingBytes) {
    for (const ReplyCase& c : reply_cases()) {
        SCOPED_TRACE(c.operation);
        for (const Bytes& payload : {c.payload, [&] {
                                         Bytes longer = c.payload;
                                         longer.push_back(0xEE);
                                         return longer;
                                     }()}) {
            Packet packet;
            parse(packet, c.reply, payload);
            Outputs out;
            ASSERT_EQ(c.unpack(V2, &packet, out), OK);
            c.check(out);
        }
    }
}

TEST(CodecCatalogue, EveryReplyTooShortForItsFieldsIsRefused) {
    for (const ReplyCase& c : reply_cases()) {
        if (c.payload.empty()) {
            continue;  // replies whose payload is not read
        }
        SCOPED_TRACE(c.operation);
        Packet packet;
        parse(packet, c.reply, Bytes(c.payload.begin(), c.payload.end() - 1));
        Outputs out;
        EXPECT_EQ(c.unpack(V2, &packet, out), c.when_cut);
    }
}

TEST(CodecCatalogue, EveryUnpackerRefusesAnotherReplyUntouched) {
    for (const ReplyCase& c : reply_cases()) {
        SCOPED_TRACE(c.operation);
        // The request's own number is the likeliest wrong command to see.
        for (uint16_t command : {static_cast<uint16_t>(c.reply - 1), static_cast<uint16_t>(c.reply + 2)}) {
            Packet packet;
            parse(packet, command, c.payload);
            Outputs out;
            EXPECT_EQ(c.unpack(V2, &packet, out), QX_PROTOCOL_STATUS_PROTOCOL_ERROR);
            EXPECT_TRUE(out.untouched());
        }
    }
}

TEST(CodecCatalogue, EveryUnpackerDecodesErrorPacketsAndLeavesItsOutputs) {
    struct ErrorCase {
        Bytes payload;
        qx_protocol_status_t status;
    };
    const ErrorCase errors[] = {
        {{0x00, 0x00}, OK},  // success in an error packet: nothing decoded, nothing failed
        {{0x01, 0x00}, QX_PROTOCOL_STATUS_NOT_IMPLEMENTED},
        {{0x04, 0x00}, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED},
        {{0x04, 0x00, 0x99, 0x99}, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED},
        {{0x16, 0x00}, QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
        {{0xFF, 0xFF}, QX_PROTOCOL_STATUS_SERVICE_API_ERROR},
        {{0x04}, BEYOND},
        {{}, BEYOND},
    };
    for (const ReplyCase& c : reply_cases()) {
        for (const ErrorCase& e : errors) {
            SCOPED_TRACE(std::string(c.operation) + ", error payload of " + std::to_string(e.payload.size()));
            Packet packet;
            parse(packet, QX_ERROR_PACKET, e.payload);
            Outputs out;
            EXPECT_EQ(c.unpack(V2, &packet, out), e.status);
            EXPECT_TRUE(out.untouched());
        }
    }
}

TEST(CodecPackRanges, FirmwareStartAndChunkAreCheckedBeforeAnythingIsBuilt) {
    struct Case {
        const char* label;
        Pack pack;
        qx_protocol_status_t status;
    };
    const Bytes chunk(65'536, 0x11);
    const Case cases[] = {
        {"image size 2^32",
         [](uint32_t v, qx_packet_t* p) { return pack_firmware_update_start_request(v, p, 0, 4'294'967'296u); },
         QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS},
        {"chunk index 65536",
         [&](uint32_t v, qx_packet_t* p) {
             return pack_firmware_update_send_chunk_request(v, p, 65'536, chunk.data(), 1);
         },
         QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS},
        {"chunk length 65536",
         [&](uint32_t v, qx_packet_t* p) {
             return pack_firmware_update_send_chunk_request(v, p, 0, chunk.data(), 65'536);
         },
         QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS},
        {"packet generator config missing",
         [](uint32_t v, qx_packet_t* p) {
             return pack_interface_set_packet_generator_config_request(v, p, 0, nullptr);
         },
         QX_PROTOCOL_INVALID_POINTER},
        {"chunk bytes missing",
         [](uint32_t v, qx_packet_t* p) { return pack_firmware_update_send_chunk_request(v, p, 0, nullptr, 4); },
         QX_PROTOCOL_INVALID_POINTER},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Packet packet;
        EXPECT_EQ(c.pack(V2, &packet), c.status);
        const qx_packet_t zero{};
        EXPECT_TRUE(same_bytes(static_cast<qx_packet_t*>(&packet), &zero, sizeof zero));
    }
}

TEST(CodecPackRanges, LargestImageAndChunkFit) {
    Packet start;
    ASSERT_EQ(pack_firmware_update_start_request(V2, &start, 0, 4'294'967'295u), OK);
    EXPECT_EQ(frame_of(start), (Bytes{49, 0, 5, 0, 0, 0xFF, 0xFF, 0xFF, 0xFF}));

    // Index and count take four bytes of the 65,535-byte payload.
    const Bytes chunk(65'532, 0x11);
    Packet fits;
    ASSERT_EQ(pack_firmware_update_send_chunk_request(V2, &fits, 0xFFFF, chunk.data(), 65'531), OK);
    EXPECT_EQ(fits.length, 65'535);
    Packet too_long;
    EXPECT_EQ(pack_firmware_update_send_chunk_request(V2, &too_long, 0, chunk.data(), 65'532),
              QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT);
}

TEST(CodecPackRanges, LinkModeAndTc10CommandAreCheckedAfterTheIndex) {
    struct Case {
        const char* label;
        Pack pack;
        qx_protocol_status_t status;
        Bytes frame;
    };
    const Case cases[] = {
        {"link mode 65536",
         [](uint32_t v, qx_packet_t* p) { return pack_interface_set_eth_config_request(v, p, 3, 65'536); },
         QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS,
         {25, 0, 2, 0, 3, 0}},
        {"link mode 65535",
         [](uint32_t v, qx_packet_t* p) { return pack_interface_set_eth_config_request(v, p, 3, 65'535); },
         OK,
         {25, 0, 4, 0, 3, 0, 0xFF, 0xFF}},
        {"tc10 command 256",
         [](uint32_t v, qx_packet_t* p) { return pack_interface_send_tc10_command_request(v, p, 3, 256); },
         QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS,
         {77, 0, 2, 0, 3, 0}},
        {"tc10 command 255",
         [](uint32_t v, qx_packet_t* p) { return pack_interface_send_tc10_command_request(v, p, 3, 255); },
         OK,
         {77, 0, 3, 0, 3, 0, 0xFF}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Packet packet;
        EXPECT_EQ(c.pack(V2, &packet), c.status);
        EXPECT_EQ(frame_of(packet), c.frame);
    }
}

TEST(CodecPackText, NicknamesMustBeStrictUtf8AndPresent) {
    Packet device;
    EXPECT_EQ(pack_device_set_nickname_request(V2, &device, "\xC0\x80"), QX_PROTOCOL_STATUS_INVALID_UTF8_STRING);
    EXPECT_EQ(device.length, 0u);
    Packet interface;
    EXPECT_EQ(pack_interface_set_nickname_request(V2, &interface, 3, "\xED\xA0\x80"),
              QX_PROTOCOL_STATUS_INVALID_UTF8_STRING);
    EXPECT_EQ(interface.length, 2u);  // the index went out before the text was refused
    Packet missing;
    EXPECT_EQ(pack_device_set_nickname_request(V2, &missing, nullptr), QX_PROTOCOL_INVALID_POINTER);

    // The empty nickname resets: an empty text field.
    Packet reset;
    ASSERT_EQ(pack_device_set_nickname_request(V2, &reset, ""), OK);
    EXPECT_EQ(frame_of(reset), (Bytes{5, 0, 2, 0, 0, 0}));
}

TEST(CodecUnpackExceptions, EthConfigRepliesTooShortForTheStatusAreNotTheseReplies) {
    using Fn = qx_protocol_status_t (*)(uint32_t, qx_packet_t*, uint32_t*, uint32_t*);
    struct Case {
        const char* label;
        Fn unpack;
        uint16_t reply;
    };
    const Case replies[] = {
        {"supported configs", unpack_interface_get_supported_eth_configs_response, 24},
        {"config", unpack_interface_get_eth_config_response, 28},
    };
    struct Length {
        size_t bytes;
        qx_protocol_status_t status;
        bool status_stored;
    };
    const Length lengths[] = {
        {0, QX_PROTOCOL_STATUS_PROTOCOL_ERROR, false},
        {1, QX_PROTOCOL_STATUS_PROTOCOL_ERROR, false},
        {2, BEYOND, true},
        {3, BEYOND, true},
        {4, OK, true},
    };
    const Bytes full = {0x07, 0x00, 0x81, 0x02};
    for (const Case& c : replies) {
        for (const Length& l : lengths) {
            SCOPED_TRACE(std::string(c.label) + " with " + std::to_string(l.bytes) + " bytes");
            Packet packet;
            parse(packet, c.reply, Bytes(full.begin(), full.begin() + static_cast<long>(l.bytes)));
            uint32_t status = 0xEEEE;
            uint32_t link_mode = 0xEEEE;
            EXPECT_EQ(c.unpack(V1, &packet, &status, &link_mode), l.status);
            EXPECT_EQ(status, l.status_stored ? 7u : 0xEEEEu);
            EXPECT_EQ(link_mode, l.status == OK ? 0x0281u : 0xEEEEu);
        }
    }
}

TEST(CodecUnpackExceptions, Tc10StateReplyTooShortIsAlwaysBeyondPayload) {
    const Bytes full = {0x00, 0x00, 0x03};
    for (size_t bytes = 0; bytes < full.size(); ++bytes) {
        SCOPED_TRACE(bytes);
        Packet packet;
        parse(packet, 80, Bytes(full.begin(), full.begin() + static_cast<long>(bytes)));
        uint32_t status = 0xEEEE;
        uint32_t state = 0xEEEE;
        EXPECT_EQ(unpack_interface_get_tc10_state_response(V2, &packet, &status, &state), BEYOND);
        EXPECT_EQ(state, 0xEEEEu);
    }
}

TEST(CodecUnpackExceptions, InterfaceStatusStoresEachFieldAsItIsRead) {
    Packet packet;
    parse(packet, 20, {0x02, 0x55, 0x81, 0x02});
    qx_eth_interface_status_t status = {0xEEEE, 0xEEEE, 0xEEEE};
    EXPECT_EQ(unpack_get_interface_status_response(V1, &packet, &status), BEYOND);
    EXPECT_EQ(status.interface_type, 2u);
    EXPECT_EQ(status.link_mode, 0x0281u);
    EXPECT_EQ(status.link_state, 0xEEEEu);
}

TEST(CodecUnpackExceptions, DcqStoresEachFieldAsItIsRead) {
    Packet packet;
    parse(packet, 84, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07});
    qx_dcq_reading_t reading = {0xEE, 0xEE, 0xEE, 0xEE, 0xEEEE, 0xEEEE};
    EXPECT_EQ(unpack_interface_read_dcq_response(V2, &packet, &reading), BEYOND);
    EXPECT_EQ(reading.peak_mse_worst, 4);
    EXPECT_EQ(reading.mse, 0x0605);
    EXPECT_EQ(reading.mse_worst, 0xEEEE);
}

TEST(CodecUnpackExceptions, RecordsFilledWholeOrNotAtAll) {
    Packet pg;
    parse(pg, 94, {0x01, 0x02, 0x01, 0x40});
    qx_packet_generator_config_t config = {0xEEEE, 0xEEEE, 0xEEEE, 0xEE, false};
    EXPECT_EQ(unpack_interface_get_packet_generator_config_response(V2, &pg, &config), BEYOND);
    EXPECT_EQ(config.payload_size, 0xEEEEu);
    EXPECT_EQ(config.burst_size, 0xEE);
    EXPECT_EQ(pg.position, 0u);

    Packet cable;
    parse(cable, 86, {0x02});
    qx_cable_test_result_t result = {0xEEEE, 0xEE};
    EXPECT_EQ(unpack_interface_run_cable_test_response(V2, &cable, &result), BEYOND);
    EXPECT_EQ(result.harness_status, 0xEEEEu);
    EXPECT_EQ(result.distance_to_fault, 0xEE);
}

TEST(CodecUnpackExceptions, RepliesWithoutOutputsIgnoreTheirPayload) {
    struct Case {
        const char* label;
        qx_protocol_status_t (*unpack)(uint32_t, qx_packet_t*);
        uint16_t reply;
    };
    const Case cases[] = {
        {"set loopback", unpack_interface_set_loopback_state_response, 88},
        {"set packet generator", unpack_interface_set_packet_generator_config_response, 92},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        for (const size_t bytes : {size_t{0}, size_t{1}, size_t{100}}) {
            Packet packet;
            parse(packet, c.reply, Bytes(bytes, 0x42));
            EXPECT_EQ(c.unpack(V2, &packet), OK) << bytes;
        }
        Packet neighbour;
        parse(neighbour, static_cast<uint16_t>(c.reply + 2), {});
        EXPECT_EQ(c.unpack(V2, &neighbour), QX_PROTOCOL_STATUS_PROTOCOL_ERROR);
    }
}

TEST(CodecUnpackExceptions, FirmwareRepliesMayDropTheirValue) {
    Packet start;
    parse(start, 50, {0x00, 0x04});
    EXPECT_EQ(unpack_firmware_update_start_response(V1, &start, nullptr), OK);
    EXPECT_EQ(start.position, 2u);

    Packet chunk;
    parse(chunk, 52, {0x03, 0x00});
    EXPECT_EQ(unpack_firmware_update_send_chunk_response(V1, &chunk, nullptr), OK);
    EXPECT_EQ(chunk.position, 2u);

    // Dropping the value does not excuse a short reply.
    Packet short_start;
    parse(short_start, 50, {0x00});
    EXPECT_EQ(unpack_firmware_update_start_response(V1, &short_start, nullptr), BEYOND);
    Packet short_chunk;
    parse(short_chunk, 52, {});
    EXPECT_EQ(unpack_firmware_update_send_chunk_response(V1, &short_chunk, nullptr), BEYOND);
}

TEST(CodecUnpackExceptions, NicknameReplyIsNotTheSetNicknameReply) {
    Packet packet;
    parse(packet, 6, {0x00, 0x00});
    char text[8] = "keep";
    EXPECT_EQ(unpack_device_get_nickname_response(V2, &packet, text, sizeof text), QX_PROTOCOL_STATUS_PROTOCOL_ERROR);
    EXPECT_STREQ(text, "keep");
}

TEST(CodecUnpackText, ReplyTextMustFitTheCallersBufferAndBeStrictUtf8) {
    struct Case {
        const char* label;
        Bytes payload;
        qx_protocol_status_t status;
    };
    Bytes fits = {127, 0};
    fits.resize(2 + 127, 'n');
    Bytes too_long = {128, 0};
    too_long.resize(2 + 128, 'n');
    const Case cases[] = {
        {"127 bytes", fits, OK},
        {"128 bytes", too_long, QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL},
        {"surrogate", {3, 0, 0xED, 0xA0, 0x80}, QX_PROTOCOL_STATUS_INVALID_UTF8_STRING},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Packet packet;
        parse(packet, 16, c.payload);
        char text[128];
        EXPECT_EQ(unpack_interface_get_nickname_response(V1, &packet, text, sizeof text), c.status);
        if (c.status == OK) {
            EXPECT_EQ(std::string(text), std::string(127, 'n'));
        }
    }
}

TEST(CodecUnpackRobustness, MissingOutputsAreRefusedRatherThanFollowed) {
    Packet status_reply;
    parse(status_reply, 20, {0x02, 0x00, 0x81, 0x02, 0x01});
    EXPECT_EQ(unpack_get_interface_status_response(V1, &status_reply, nullptr), QX_PROTOCOL_INVALID_POINTER);
    Packet ean;
    parse(ean, 40, Bytes(8, 0x01));
    EXPECT_EQ(unpack_get_ean_response(V1, &ean, nullptr), QX_PROTOCOL_INVALID_POINTER);
    Packet config;
    parse(config, 24, {0x00, 0x00, 0x01, 0x00});
    uint32_t status = 0;
    EXPECT_EQ(unpack_interface_get_supported_eth_configs_response(V1, &config, &status, nullptr),
              QX_PROTOCOL_INVALID_POINTER);
    Packet dcq;
    parse(dcq, 84, Bytes(8, 0x01));
    EXPECT_EQ(unpack_interface_read_dcq_response(V2, &dcq, nullptr), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(unpack_device_get_name_response(V1, nullptr, nullptr, 0), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(pack_device_get_name_request(V1, nullptr), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(pack_interface_identify_request(V1, nullptr, 0), QX_PROTOCOL_INVALID_POINTER);
}

TEST(CodecServiceStatus, ErrorPacketStatusesMapToCodecStatuses) {
    const qx_protocol_status_t expected[] = {
        QX_PROTOCOL_STATUS_SUCCESS,
        QX_PROTOCOL_STATUS_NOT_IMPLEMENTED,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_DEVICE,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_SUPPORTED_BY_INTERFACE,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_TIMED_OUT,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL,
        QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT,
        QX_PROTOCOL_STATUS_INVALID_UTF8_STRING,
        QX_PROTOCOL_STATUS_MEMORY_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_ARGUMENT,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_INTERFACE,
        QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_COMBINATION,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
        QX_PROTOCOL_STATUS_SERVICE_API_ERROR,
    };
    for (uint32_t status = 0; status < std::size(expected); ++status) {
        EXPECT_EQ(from_service_status(status), expected[status]) << status;
    }
    EXPECT_EQ(from_service_status(65'535), QX_PROTOCOL_STATUS_SERVICE_API_ERROR);
    EXPECT_EQ(from_service_status(0xFFFFFFFF), QX_PROTOCOL_STATUS_SERVICE_API_ERROR);
}

TEST(CodecServiceStatus, ErrorPacketDecodingChecksTheCommand) {
    Packet not_error;
    parse(not_error, 4, {0x00, 0x00});
    EXPECT_EQ(from_error_packet(&not_error), QX_PROTOCOL_STATUS_SERVICE_API_ERROR);
    Packet error;
    parse(error, QX_ERROR_PACKET, {0x0A, 0x00});
    EXPECT_EQ(from_error_packet(&error), QX_PROTOCOL_STATUS_SERVICE_ERROR_TIMED_OUT);
}

TEST(CodecServiceStatus, NamesCoverExactlyTheTwentyTwoStatuses) {
    EXPECT_STREQ(qx_service_status_name(0), "QX_SERVICE_STATUS_SUCCESS");
    EXPECT_STREQ(qx_service_status_name(6), "QX_SERVICE_STATUS_OPERATION_NOT_SUPPORTED_BY_INTERFACE");
    EXPECT_STREQ(qx_service_status_name(15), "QX_SERVICE_STATUS_INVALID_UTF8");
    EXPECT_STREQ(qx_service_status_name(21), "QX_SERVICE_STATUS_MAX");
    for (uint32_t status = 0; status < QX_SERVICE_STATUS_NAME_COUNT; ++status) {
        ASSERT_NE(qx_service_status_name(status), nullptr) << status;
        EXPECT_EQ(std::string(qx_service_status_name(status)).rfind("QX_SERVICE_STATUS_", 0), 0u) << status;
    }
    EXPECT_EQ(qx_service_status_name(22), nullptr);
    EXPECT_EQ(qx_service_status_name(65'535), nullptr);
}

TEST(CodecInterfaceType, NamesOfTheThreeWireValues) {
    EXPECT_STREQ(qx_interface_type_name(0), "QX_INTERFACE_T1");
    EXPECT_STREQ(qx_interface_type_name(1), "_QX_INTERFACE_RESERVED_1");
    EXPECT_STREQ(qx_interface_type_name(2), "QX_INTERFACE_T");
    EXPECT_EQ(qx_interface_type_name(3), nullptr);
}

}  // namespace
