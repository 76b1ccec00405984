// Request frames as the typed layer builds them, and how it treats arguments
// that cannot be sent.
#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "qx_sdk_protocol/src/device.hpp"
#include "qx_sdk_protocol/src/interface.hpp"
#include "typed_test_support.hpp"

namespace {

using namespace qx_sdk_protocol;
using namespace qx_sdk_protocol::types;
using namespace typed_test;
namespace dev = qx_sdk_protocol::device;
namespace ifc = qx_sdk_protocol::interface;

using Buffer = std::span<uint8_t>;

struct FrameCase {
    const char* what;
    std::function<ProtocolResult<Buffer>(Buffer)> pack;
    Bytes frame;
};

TEST(RequestFrames, ByteForByte) {
    const std::vector<uint8_t> chunk{0xAA, 0xBB};
    const std::vector<FrameCase> cases = {
        {"get_ean", [](Buffer b) { return dev::pack_get_ean(2, b); }, {0x27, 0x00, 0x00, 0x00}},
        {"get_device_nickname", [](Buffer b) { return dev::pack_get_device_nickname(2, b); }, {0x51, 0x00, 0x00, 0x00}},
        {"get_interface_status of interface 3",
         [](Buffer b) { return ifc::pack_get_interface_status(2, b, 3); },
         {0x13, 0x00, 0x02, 0x00, 0x03, 0x00}},
        {"set_eth_config 100 Mbit/s full duplex, leader, auto-negotiation",
         [](Buffer b) {
             return ifc::pack_set_eth_config(
                 2, b, 0, {{EthLinkSpeed::Speed100MbitFullDuplex}, {EthRole::Leader}, EthAnegMode::IEEEAnegEnabled});
         },
         {0x19, 0x00, 0x04, 0x00, 0x00, 0x00, 0x82, 0x06}},
        {"TC10 wake-up on interface 1",
         [](Buffer b) { return ifc::pack_interface_send_tc10_command(2, b, 1, Tc10Command::WakeUp); },
         {0x4D, 0x00, 0x03, 0x00, 0x01, 0x00, 0x01}},
        {"TC10 sleep on interface 1",
         [](Buffer b) { return ifc::pack_interface_send_tc10_command(2, b, 1, Tc10Command::Sleep); },
         {0x4D, 0x00, 0x03, 0x00, 0x01, 0x00, 0x00}},
        {"packet generator off",
         [](Buffer b) { return ifc::pack_interface_set_packet_generator_config(2, b, 0, std::nullopt); },
         {0x5B, 0x00, 0x07, 0x00, 0x00, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
        {"packet generator on, only ones",
         [](Buffer b) {
             return ifc::pack_interface_set_packet_generator_config(
                 2, b, 2,
                 PacketGeneratorConfig{PgPayloadSize::Size1518, PgPayloadType::OnlyOnes,
                                       PgPacketValidity::SymbolErrorsBadCrc, 200});
         },
         {0x5B, 0x00, 0x07, 0x00, 0x02, 0x00, 0x01, 0x03, 0x01, 0xC8, 0x01}},
        {"interface nickname \"ab\" on interface 3",
         [](Buffer b) { return ifc::pack_set_interface_nickname(2, b, 3, "ab"); },
         {0x11, 0x00, 0x06, 0x00, 0x03, 0x00, 0x02, 0x00, 0x61, 0x62}},
        {"device nickname \"ab\"",
         [](Buffer b) { return dev::pack_set_device_nickname(2, b, "ab"); },
         {0x05, 0x00, 0x04, 0x00, 0x02, 0x00, 0x61, 0x62}},
        {"empty device nickname",
         [](Buffer b) { return dev::pack_set_device_nickname(2, b, ""); },
         {0x05, 0x00, 0x02, 0x00, 0x00, 0x00}},
        // The byte in front of the image size is always 0.
        {"firmware update start",
         [](Buffer b) { return dev::pack_firmware_update_start(2, b, 0x01020304); },
         {0x31, 0x00, 0x05, 0x00, 0x00, 0x04, 0x03, 0x02, 0x01}},
        {"firmware chunk 7",
         [chunk](Buffer b) { return dev::pack_firmware_update_send_chunk(2, b, 7, chunk); },
         {0x33, 0x00, 0x06, 0x00, 0x07, 0x00, 0x02, 0x00, 0xAA, 0xBB}},
        {"empty firmware chunk",
         [](Buffer b) { return dev::pack_firmware_update_send_chunk(2, b, 0, {}); },
         {0x33, 0x00, 0x04, 0x00, 0x00, 0x00, 0x00, 0x00}},
        {"loopback on for interface 1",
         [](Buffer b) { return ifc::pack_interface_set_loopback_state(2, b, 1, true); },
         {0x57, 0x00, 0x03, 0x00, 0x01, 0x00, 0x01}},
        {"loopback off for interface 0x0102",
         [](Buffer b) { return ifc::pack_interface_set_loopback_state(2, b, 0x0102, false); },
         {0x57, 0x00, 0x03, 0x00, 0x02, 0x01, 0x00}},
    };
    for (const FrameCase& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buffer(connection_buffer_size);
        EXPECT_TRUE(holds(frame_bytes(c.pack(buffer)), c.frame));
    }
}

// What fits into the client's connection buffer: header, the index for an
// interface request, the 2-byte text count, then the text itself.
TEST(RequestLimits, NicknamesAndChunksInTheConnectionBuffer) {
    struct Case {
        const char* what;
        std::function<ProtocolResult<Buffer>(Buffer, size_t)> pack;
        size_t largest;
        uint8_t fill;
    };
    const std::vector<Case> cases = {
        {"device nickname", [](Buffer b, size_t n) { return dev::pack_set_device_nickname(2, b, std::string(n, 'n')); },
         4090, 'n'},
        {"interface nickname",
         [](Buffer b, size_t n) { return ifc::pack_set_interface_nickname(2, b, 0, std::string(n, 'n')); }, 4088, 'n'},
        {"firmware chunk",
         [](Buffer b, size_t n) { return dev::pack_firmware_update_send_chunk(2, b, 0, Bytes(n, 0x5A)); }, 4088, 0x5A},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Bytes buffer(connection_buffer_size, 0xEE);
        auto fits = c.pack(buffer, c.largest);
        ASSERT_TRUE(fits) << testing::PrintToString(fits.error());
        EXPECT_EQ(fits->size(), connection_buffer_size);
        EXPECT_EQ(fits->back(), c.fill);

        Bytes untouched(connection_buffer_size, 0xEE);
        EXPECT_TRUE(fails_with(c.pack(untouched, c.largest + 1), status_error(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL)));
        EXPECT_EQ(untouched, Bytes(connection_buffer_size, 0xEE));
    }
}

TEST(RequestLimits, ValuesTheWireCannotCarry) {
    Bytes buffer(connection_buffer_size);
    const auto out_of_bounds = status_error(QX_PROTOCOL_STATUS_VALUE_OUT_OF_BOUNDS);
    const auto too_long = status_error(QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT);
    EXPECT_TRUE(holds(frame_bytes(dev::pack_firmware_update_start(2, buffer, 0xFFFFFFFF)),
                      Bytes{0x31, 0x00, 0x05, 0x00, 0x00, 0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_TRUE(fails_with(dev::pack_firmware_update_start(2, buffer, 0x100000000), out_of_bounds));
    EXPECT_TRUE(fails_with(dev::pack_firmware_update_send_chunk(2, buffer, 65536, Bytes{1}), out_of_bounds));
    EXPECT_TRUE(fails_with(dev::pack_firmware_update_send_chunk(2, buffer, 0, Bytes(65536, 0)), out_of_bounds));
    EXPECT_TRUE(fails_with(dev::pack_firmware_update_send_chunk(2, buffer, 0, Bytes(65532, 0)), too_long));
    // Too long for any frame, whatever the buffer.
    EXPECT_TRUE(fails_with(dev::pack_set_device_nickname(2, buffer, std::string(65536, 'x')), too_long));
    EXPECT_TRUE(fails_with(ifc::pack_set_interface_nickname(2, buffer, 0, std::string(65534, 'x')), too_long));
}

TEST(RequestTexts, NicknamesMustBeUtf8WithoutNul) {
    Bytes buffer(connection_buffer_size, 0xEE);
    using namespace std::string_literals;
    const std::string with_nul = "ab\0cd"s;
    const auto nul_refused = ProtocolError::string_conversion("Failed to encode "s + with_nul + " as utf-8 cstring");
    EXPECT_TRUE(fails_with(dev::pack_set_device_nickname(2, buffer, with_nul), nul_refused));
    EXPECT_TRUE(fails_with(ifc::pack_set_interface_nickname(2, buffer, 0, with_nul), nul_refused));
    EXPECT_TRUE(fails_with(dev::pack_set_device_nickname(2, buffer, "\0"s),
                           ProtocolError::string_conversion("Failed to encode \0 as utf-8 cstring"s)));

    const auto not_utf8 = status_error(QX_PROTOCOL_STATUS_INVALID_UTF8_STRING);
    EXPECT_TRUE(fails_with(dev::pack_set_device_nickname(2, buffer, "\xC0\x80"), not_utf8));
    EXPECT_TRUE(fails_with(ifc::pack_set_interface_nickname(2, buffer, 0, "caf\xE9"), not_utf8));
    EXPECT_EQ(buffer, Bytes(connection_buffer_size, 0xEE));

    EXPECT_TRUE(holds(frame_bytes(dev::pack_set_device_nickname(2, buffer, "\xC3\xA9")),
                      Bytes{0x05, 0x00, 0x04, 0x00, 0x02, 0x00, 0xC3, 0xA9}));
}

}  // namespace
