// Packet object, framing and primitive field codecs.
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "codec_test_support.hpp"
#include "qx_sdk_protocol/codec/protocol_base.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes frame_of(const qx_packet_t* packet) {
    Bytes out(QX_PACKET_HEADER_SIZE + packet->length);
    EXPECT_EQ(to_buffer(packet, out.data(), out.size()), QX_PROTOCOL_STATUS_SUCCESS);
    return out;
}

Bytes payload_of(const qx_packet_t* packet) {
    const Bytes frame = frame_of(packet);
    return Bytes(frame.begin() + QX_PACKET_HEADER_SIZE, frame.end());
}

// A parsed packet holding `payload` under `command`, cursor at its start.
void parse(qx_packet_t* packet, uint16_t command, const Bytes& payload) {
    Bytes frame = {static_cast<uint8_t>(command), static_cast<uint8_t>(command >> 8),
                   static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    frame.insert(frame.end(), payload.begin(), payload.end());
    ASSERT_EQ(from_buffer(frame.data(), frame.size(), packet), QX_PROTOCOL_STATUS_SUCCESS);
}

bool is_zero_filled(const qx_packet_t& packet) {
    const qx_packet_t zero{};
    return std::memcmp(&packet, &zero, sizeof zero) == 0;
}

TEST(CodecPacket, ReservationGrowsToTheLargerOfDoubleAndWhatIsNeeded) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 17, 2), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.capacity, 2u);

    const uint8_t bytes[] = {1, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11};
    ASSERT_EQ(packet_write(&packet, bytes, 2), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.capacity, 2u);
    ASSERT_EQ(packet_write(&packet, bytes + 2, 8), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.capacity, 10u);
    ASSERT_EQ(packet_write(&packet, bytes + 10, 1), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.capacity, 20u);

    // Growing keeps what was written before the cursor.
    EXPECT_EQ(packet.length, 11u);
    EXPECT_EQ(packet.position, 11u);
    EXPECT_EQ(payload_of(&packet), Bytes(bytes, bytes + 11));
}

TEST(CodecPacket, InitPacketStartsAFreshMessageAndAllocatesNothingWithoutReserve) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 3, 0), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.data, nullptr);
    EXPECT_EQ(packet.capacity, 0u);

    ASSERT_EQ(write_uint32_t(&packet, 0xDEADBEEF), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(init_packet(&packet, 5, 0), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.command, 5);
    EXPECT_EQ(packet.length, 0u);
    EXPECT_EQ(packet.position, 0u);
    EXPECT_EQ(packet.capacity, 0u);
    EXPECT_EQ(packet.data, nullptr);
    EXPECT_EQ(frame_of(&packet), (Bytes{0x05, 0x00, 0x00, 0x00}));
}

TEST(CodecPacket, FreeLeavesAnEmptyPacketAndMayBeRepeated) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 3, 8), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint16_t(&packet, 7), QX_PROTOCOL_STATUS_SUCCESS);
    free_packet(&packet);
    EXPECT_EQ(packet.data, nullptr);
    EXPECT_EQ(packet.capacity, 0u);
    EXPECT_EQ(packet.position, 0u);
    free_packet(&packet);

    uint16_t value = 0;
    EXPECT_EQ(read_uint16_t(&packet, &value), QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    // And a freed packet can carry a new message.
    ASSERT_EQ(init_packet(&packet, 9, 0), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint8_t(&packet, 1), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(frame_of(&packet), (Bytes{0x09, 0x00, 0x01, 0x00, 0x01}));
}

TEST(CodecPacket, WriteRefusesToPassTheLargestPayloadAndWritesNothing) {
    Packet packet;
    const Bytes big(QX_MAX_PAYLOAD_LENGTH, 0x5A);
    ASSERT_EQ(init_packet(&packet, 3, 0), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(packet_write(&packet, big.data(), big.size() - 1), QX_PROTOCOL_STATUS_SUCCESS);

    const uint8_t two[] = {1, 2};
    EXPECT_EQ(packet_write(&packet, two, 2), QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT);
    EXPECT_EQ(packet.length, QX_MAX_PAYLOAD_LENGTH - 1);
    EXPECT_EQ(packet.position, QX_MAX_PAYLOAD_LENGTH - 1);
    EXPECT_EQ(write_uint16_t(&packet, 1), QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT);

    EXPECT_EQ(packet_write(&packet, two, 1), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.length, QX_MAX_PAYLOAD_LENGTH);
    EXPECT_EQ(write_uint8_t(&packet, 1), QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT);
}

TEST(CodecFrame, ToBufferNeedsRoomForTheWholeFrameAndWritesNothingOtherwise) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 0x1234, 0), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint16_t(&packet, 0xA1B2), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint8_t(&packet, 0xC3), QX_PROTOCOL_STATUS_SUCCESS);

    Bytes exact(7, 0xEE);
    ASSERT_EQ(to_buffer(&packet, exact.data(), exact.size()), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(exact, (Bytes{0x34, 0x12, 0x03, 0x00, 0xB2, 0xA1, 0xC3}));

    Bytes short_by_one(7, 0xEE);
    EXPECT_EQ(to_buffer(&packet, short_by_one.data(), 6), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(short_by_one, Bytes(7, 0xEE));

    // Extra room stays as it was.
    Bytes roomy(10, 0xEE);
    ASSERT_EQ(to_buffer(&packet, roomy.data(), roomy.size()), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(roomy, (Bytes{0x34, 0x12, 0x03, 0x00, 0xB2, 0xA1, 0xC3, 0xEE, 0xEE, 0xEE}));
}

TEST(CodecFrame, HeaderOnlyFrameSerializesAsFourBytes) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 0xBAAD, 0), QX_PROTOCOL_STATUS_SUCCESS);
    uint8_t out[4] = {};
    ASSERT_EQ(to_buffer(&packet, out, sizeof out), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(out, out + 4), (Bytes{0xAD, 0xBA, 0x00, 0x00}));
    EXPECT_EQ(to_buffer(&packet, out, 3), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
}

TEST(CodecFrame, FromBufferParsesHeaderAndPayloadAndIgnoresTrailingBytes) {
    const Bytes input = {0x02, 0x00, 0x03, 0x00, 0x11, 0x22, 0x33, 0x99, 0x99};
    Packet packet;
    ASSERT_EQ(from_buffer(input.data(), input.size(), &packet), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.command, 2);
    EXPECT_EQ(packet.length, 3);
    EXPECT_EQ(packet.position, 0u);
    EXPECT_EQ(packet.capacity, 3u);
    EXPECT_EQ(payload_of(&packet), (Bytes{0x11, 0x22, 0x33}));
}

TEST(CodecFrame, FromBufferRefusesInputShorterThanHeaderOrAnnouncedPayload) {
    const Bytes three = {0x02, 0x00, 0x00};
    Packet header_cut;
    EXPECT_EQ(from_buffer(three.data(), three.size(), &header_cut), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_TRUE(is_zero_filled(header_cut));

    // Ten payload bytes announced, nine present.
    Bytes payload_cut = {0x02, 0x00, 0x0A, 0x00};
    payload_cut.resize(13, 0x42);
    Packet packet;
    EXPECT_EQ(from_buffer(payload_cut.data(), payload_cut.size(), &packet), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(packet.command, 2);
    EXPECT_EQ(packet.length, 10);

    // The nine bytes that did arrive were never copied: nothing of the
    // announced payload may be read or framed again.
    constexpr auto beyond = QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;
    uint8_t u8 = 0x77;
    EXPECT_EQ(read_uint8_t(&packet, &u8), beyond);
    EXPECT_EQ(u8, 0x77);
    uint8_t out[64] = {};
    EXPECT_EQ(to_buffer(&packet, out, sizeof out), beyond);
}

TEST(CodecFrame, HeaderOnlyFrameParsesAndEveryReadThenFails) {
    const Bytes input = {0x02, 0x00, 0x00, 0x00};
    Packet packet;
    ASSERT_EQ(from_buffer(input.data(), input.size(), &packet), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(packet.data, nullptr);

    uint8_t u8 = 0;
    bool flag = false;
    uint16_t u16 = 0;
    uint64_t u64 = 0;
    char text[4] = {};
    constexpr auto beyond = QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;
    EXPECT_EQ(read_uint8_t(&packet, &u8), beyond);
    EXPECT_EQ(read_bool(&packet, &flag), beyond);
    EXPECT_EQ(read_uint16_t(&packet, &u16), beyond);
    EXPECT_EQ(read_uint64_t(&packet, &u64), beyond);
    EXPECT_EQ(read_utf8_string(&packet, text, sizeof text), beyond);
}

TEST(CodecFields, IntegersTravelLittleEndian) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 1, 0), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint8_t(&packet, 0xAB), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_bool(&packet, true), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_bool(&packet, false), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint16_t(&packet, 0x1234), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_uint32_t(&packet, 0x89ABCDEF), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(payload_of(&packet), (Bytes{0xAB, 0x01, 0x00, 0x34, 0x12, 0xEF, 0xCD, 0xAB, 0x89}));

    Packet reply;
    parse(&reply, 2, {0xAB, 0x02, 0x00, 0x34, 0x12, 0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x88});
    uint8_t u8 = 0;
    bool nonzero = false;
    bool zero = true;
    uint16_t u16 = 0;
    uint64_t u64 = 0;
    ASSERT_EQ(read_uint8_t(&reply, &u8), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(read_bool(&reply, &nonzero), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(read_bool(&reply, &zero), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(read_uint16_t(&reply, &u16), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(read_uint64_t(&reply, &u64), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(u8, 0xAB);
    EXPECT_TRUE(nonzero);  // any nonzero byte reads as true
    EXPECT_FALSE(zero);
    EXPECT_EQ(u16, 0x1234);
    EXPECT_EQ(u64, 0x8807060504030201u);
    EXPECT_EQ(reply.position, reply.length);
}

TEST(CodecFields, AShortReadConsumesNothingAndLeavesTheDestination) {
    Packet packet;
    parse(&packet, 2, {0x01, 0x02, 0x03});
    uint8_t skip = 0;
    ASSERT_EQ(read_uint8_t(&packet, &skip), QX_PROTOCOL_STATUS_SUCCESS);

    uint64_t u64 = 0x1111;
    EXPECT_EQ(read_uint64_t(&packet, &u64), QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    EXPECT_EQ(u64, 0x1111u);
    EXPECT_EQ(packet.position, 1u);

    uint16_t u16 = 0;
    ASSERT_EQ(read_uint16_t(&packet, &u16), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(u16, 0x0302);
    EXPECT_EQ(read_uint8_t(&packet, &skip), QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    EXPECT_EQ(packet.position, 3u);
}

TEST(CodecFields, WriteBytesFitsExactlyTheLargestPayload) {
    struct Case {
        size_t count;
        qx_protocol_status_t status;
        uint16_t length_after;  // the count field stays when only the bytes fail
    };
    const Case cases[] = {
        {65'533, QX_PROTOCOL_STATUS_SUCCESS, 65'535},
        {65'534, QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT, 2},
        {65'536, QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT, 0},
    };
    const Bytes bytes(65'536, 0x61);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.count);
        Packet packet;
        ASSERT_EQ(init_packet(&packet, 3, 0), QX_PROTOCOL_STATUS_SUCCESS);
        EXPECT_EQ(write_bytes(&packet, bytes.data(), c.count), c.status);
        EXPECT_EQ(packet.length, c.length_after);
        EXPECT_EQ(packet.position, c.length_after);
    }
}

TEST(CodecFields, WriteBytesPrefixesTheCount) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 3, 0), QX_PROTOCOL_STATUS_SUCCESS);
    const uint8_t bytes[] = {0xAA, 0xBB, 0xCC};
    ASSERT_EQ(write_bytes(&packet, bytes, 3), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_bytes(&packet, nullptr, 0), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(payload_of(&packet), (Bytes{0x03, 0x00, 0xAA, 0xBB, 0xCC, 0x00, 0x00}));
}

TEST(CodecFields, ReadBytesReportsTheAnnouncedCountAndWhatWasConsumed) {
    uint8_t destination[4] = {0xEE, 0xEE, 0xEE, 0xEE};
    size_t count = 0;

    Packet fits;
    parse(&fits, 2, {0x03, 0x00, 0x61, 0x62, 0x63, 0x99});
    ASSERT_EQ(read_bytes(&fits, destination, 3, &count), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(count, 3u);
    EXPECT_EQ(Bytes(destination, destination + 4), (Bytes{0x61, 0x62, 0x63, 0xEE}));
    EXPECT_EQ(fits.position, 5u);

    // Too big for the destination: the count is reported and consumed, the bytes are not.
    Packet too_big;
    parse(&too_big, 2, {0x05, 0x00, 0x61, 0x62, 0x63, 0x64, 0x65});
    std::memset(destination, 0xEE, sizeof destination);
    EXPECT_EQ(read_bytes(&too_big, destination, 4, &count), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(count, 5u);
    EXPECT_EQ(too_big.position, 2u);
    EXPECT_EQ(Bytes(destination, destination + 4), Bytes(4, 0xEE));

    // Fewer bytes than announced: the count stays consumed.
    Packet cut;
    parse(&cut, 2, {0x04, 0x00, 0x61, 0x62});
    EXPECT_EQ(read_bytes(&cut, destination, 4, nullptr), QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    EXPECT_EQ(cut.position, 2u);

    Packet no_count;
    parse(&no_count, 2, {0x01});
    EXPECT_EQ(read_bytes(&no_count, destination, 4, &count),
              QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    EXPECT_EQ(no_count.position, 0u);

    EXPECT_EQ(read_bytes(&fits, nullptr, 4, &count), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(read_bytes(nullptr, destination, 4, &count), QX_PROTOCOL_INVALID_POINTER);
}

TEST(CodecText, WriteSendsTheBytesWithoutTerminator) {
    Packet empty;
    ASSERT_EQ(init_packet(&empty, 5, 0), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_utf8_string(&empty, ""), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(payload_of(&empty), (Bytes{0x00, 0x00}));

    Packet text;
    ASSERT_EQ(init_packet(&text, 5, 0), QX_PROTOCOL_STATUS_SUCCESS);
    ASSERT_EQ(write_utf8_string(&text, "h\xC3\xA9"), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(payload_of(&text), (Bytes{0x03, 0x00, 0x68, 0xC3, 0xA9}));
}

TEST(CodecText, WriteRefusesInvalidTextBeforeItsLengthAndWritesNothing) {
    const std::string long_valid(70'000, 'a');
    std::string long_invalid = long_valid;
    long_invalid[69'999] = '\xFF';
    struct Case {
        const char* label;
        const char* text;
        qx_protocol_status_t status;
    };
    const Case cases[] = {
        {"overlong NUL", "\xC0\x80", QX_PROTOCOL_STATUS_INVALID_UTF8_STRING},
        {"cut sequence", "ab\xE2\x82", QX_PROTOCOL_STATUS_INVALID_UTF8_STRING},
        {"long and invalid", long_invalid.c_str(), QX_PROTOCOL_STATUS_INVALID_UTF8_STRING},
        {"long and valid", long_valid.c_str(), QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Packet packet;
        ASSERT_EQ(init_packet(&packet, 5, 0), QX_PROTOCOL_STATUS_SUCCESS);
        EXPECT_EQ(write_utf8_string(&packet, c.text), c.status);
        EXPECT_EQ(packet.length, 0u);
        EXPECT_EQ(packet.position, 0u);
    }
}

Bytes text_payload(size_t n, uint8_t fill = 'x') {
    Bytes payload(2 + n, fill);
    payload[0] = static_cast<uint8_t>(n);
    payload[1] = static_cast<uint8_t>(n >> 8);
    return payload;
}

TEST(CodecText, ReadFitsCapacityLessOneAndTerminates) {
    char destination[128];
    std::memset(destination, 0xEE, sizeof destination);
    Packet fits;
    parse(&fits, 2, text_payload(127));
    ASSERT_EQ(read_utf8_string(&fits, destination, sizeof destination), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(std::string(destination), std::string(127, 'x'));

    std::memset(destination, 0xEE, sizeof destination);
    Packet too_long;
    parse(&too_long, 2, text_payload(128));
    EXPECT_EQ(read_utf8_string(&too_long, destination, sizeof destination), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(too_long.position, 2u);
    EXPECT_EQ(static_cast<uint8_t>(destination[0]), 0xEE);  // no terminator on failure
}

TEST(CodecText, ReadAcceptsAnEmbeddedNulAndRejectsInvalidBytesAfterCopying) {
    char destination[8];
    Packet with_nul;
    parse(&with_nul, 2, {0x03, 0x00, 'a', 0x00, 'b'});
    ASSERT_EQ(read_utf8_string(&with_nul, destination, sizeof destination), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(Bytes(destination, destination + 4), (Bytes{'a', 0x00, 'b', 0x00}));

    Packet invalid;
    parse(&invalid, 2, {0x03, 0x00, 'a', 0xED, 0xA0});
    EXPECT_EQ(read_utf8_string(&invalid, destination, sizeof destination), QX_PROTOCOL_STATUS_INVALID_UTF8_STRING);
    EXPECT_EQ(Bytes(destination, destination + 4), (Bytes{'a', 0xED, 0xA0, 0x00}));
    EXPECT_EQ(invalid.position, 5u);

    Packet empty;
    parse(&empty, 2, {0x00, 0x00});
    ASSERT_EQ(read_utf8_string(&empty, destination, 1), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(destination[0], '\0');
}

TEST(CodecText, ReadWithNoRoomForTheTerminatorIsRefused) {
    char destination[1] = {'z'};
    Packet packet;
    parse(&packet, 2, {0x00, 0x00});
    EXPECT_EQ(read_utf8_string(&packet, destination, 0), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    EXPECT_EQ(destination[0], 'z');
    EXPECT_EQ(packet.position, 0u);
}

TEST(CodecGetVersion, RequestIsCommandOneWithoutPayload) {
    Packet packet;
    ASSERT_EQ(pack_get_version_request(&packet), QX_PROTOCOL_STATUS_SUCCESS);
    EXPECT_EQ(frame_of(&packet), (Bytes{0x01, 0x00, 0x00, 0x00}));
}

TEST(CodecGetVersion, ReplyIsReadOnlyFromCommandTwo) {
    struct Case {
        const char* label;
        uint16_t command;
        Bytes payload;
        qx_protocol_status_t status;
        uint16_t version;
    };
    const Case cases[] = {
        {"reply", 2, {0x02, 0x00}, QX_PROTOCOL_STATUS_SUCCESS, 2},
        {"wide version", 2, {0x34, 0x12, 0xFF}, QX_PROTOCOL_STATUS_SUCCESS, 0x1234},
        {"error packet", QX_ERROR_PACKET, {0x01, 0x00}, QX_PROTOCOL_STATUS_PROTOCOL_ERROR, 0x7777},
        {"other reply", 4, {0x02, 0x00}, QX_PROTOCOL_STATUS_PROTOCOL_ERROR, 0x7777},
        {"short", 2, {0x02}, QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE, 0x7777},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Packet packet;
        parse(&packet, c.command, c.payload);
        uint16_t version = 0x7777;
        EXPECT_EQ(unpack_get_version_response(&packet, &version), c.status);
        EXPECT_EQ(version, c.version);
    }
}

TEST(CodecStatusNames, EveryStatusHasItsIdentifierAndOthersAreReserved) {
    EXPECT_STREQ(qx_protocol_status_name(0), "QX_PROTOCOL_STATUS_SUCCESS");
    EXPECT_STREQ(qx_protocol_status_name(2), "QX_PROTOCOL_INVALID_POINTER");
    EXPECT_STREQ(qx_protocol_status_name(3), "QX_PROTOCOL_UNEXPECTED_COMMAND");
    EXPECT_STREQ(qx_protocol_status_name(13), "QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE");
    EXPECT_STREQ(qx_protocol_status_name(20), "QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION");
    EXPECT_STREQ(qx_protocol_status_name(1001), "QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_FAILED");
    EXPECT_STREQ(qx_protocol_status_name(1008), "QX_PROTOCOL_STATUS_SERVICE_ERROR_INVALID_COMBINATION");
    for (uint32_t reserved : {21u, 1000u, 1009u, 0xFFFFFFFFu}) {
        EXPECT_STREQ(qx_protocol_status_name(reserved), "QX_PROTOCOL_STATUS_RESERVED") << reserved;
    }

    // No enumerated value falls through to the reserved name, and no two share one.
    std::vector<std::string> seen;
    auto check = [&](uint32_t status) {
        const std::string name = qx_protocol_status_name(status);
        EXPECT_EQ(name.rfind("QX_PROTOCOL_", 0), 0u) << status;
        EXPECT_NE(name, "QX_PROTOCOL_STATUS_RESERVED") << status;
        for (const std::string& other : seen) {
            EXPECT_NE(name, other) << status;
        }
        seen.push_back(name);
    };
    for (uint32_t status = 0; status <= 20; ++status) {
        check(status);
    }
    for (uint32_t status = 1001; status <= 1008; ++status) {
        check(status);
    }
}

TEST(CodecRobustness, MissingPointersAreRefusedRatherThanFollowed) {
    Packet packet;
    ASSERT_EQ(init_packet(&packet, 3, 0), QX_PROTOCOL_STATUS_SUCCESS);
    uint8_t out[8] = {};
    uint16_t u16 = 0;
    EXPECT_EQ(init_packet(nullptr, 3, 4), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(packet_write(&packet, nullptr, 2), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(write_utf8_string(&packet, nullptr), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(write_bytes(&packet, nullptr, 2), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(packet.length, 0u);
    EXPECT_EQ(to_buffer(nullptr, out, sizeof out), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(to_buffer(&packet, nullptr, sizeof out), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(from_buffer(nullptr, 4, &packet), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(from_buffer(out, sizeof out, nullptr), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(read_uint16_t(nullptr, &u16), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(read_uint16_t(&packet, nullptr), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(read_utf8_string(&packet, nullptr, 4), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(pack_get_version_request(nullptr), QX_PROTOCOL_INVALID_POINTER);
    EXPECT_EQ(unpack_get_version_response(nullptr, &u16), QX_PROTOCOL_INVALID_POINTER);
    free_packet(nullptr);
}

// A packet whose header announces more than its buffer holds, as one left by a
// failed parse, must not let reads or serialization run past the buffer.
TEST(CodecRobustness, APayloadLengthWithoutBytesBehindItIsNeverRead) {
    qx_packet_t packet{};
    packet.command = 2;
    packet.length = 10;
    uint16_t value = 0;
    EXPECT_EQ(read_uint16_t(&packet, &value), QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    uint8_t out[16] = {};
    EXPECT_EQ(to_buffer(&packet, out, sizeof out), QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);
    free_packet(&packet);
}

}  // namespace
