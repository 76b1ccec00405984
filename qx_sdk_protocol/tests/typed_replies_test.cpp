// Reply frames, written out by hand, and the typed values or errors the
// typed layer makes of them.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdint>
#include <functional>
#include <limits>
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

using Received = std::span<const uint8_t>;
using Kind = ServiceStatus::Kind;

const ProtocolError too_short = status_error(QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE);

// The reply at the front of the client's whole connection buffer, the rest
// left over from earlier traffic.
Bytes in_connection_buffer(const Bytes& reply) {
    Bytes buffer(connection_buffer_size, 0xEE);
    std::ranges::copy(reply, buffer.begin());
    return buffer;
}

struct TextReplyCase {
    const char* name;
    uint16_t reply;
    ProtocolResult<std::string> (*unpack)(uint32_t, Received) noexcept;
};

const std::vector<TextReplyCase> text_replies = {
    {"get_device_name", 4, dev::unpack_get_device_name},
    {"get_device_nickname", 82, dev::unpack_get_device_nickname},
    {"get_firmware_version", 34, dev::unpack_get_firmware_version},
    {"get_bootloader_version", 38, dev::unpack_get_bootloader_version},
    {"get_pcb_revision", 42, dev::unpack_get_pcb_revision},
    {"get_interface_nickname", 16, ifc::unpack_get_interface_nickname},
};

TEST(TextReplies, HoldAtMost127BytesAndEndAtANul) {
    const std::string longest(127, 't');
    // 63 two-byte characters and one ASCII byte: 127 bytes of multi-byte text.
    std::string longest_accented;
    for (int i = 0; i < 63; ++i) {
        longest_accented += "\xC3\xA9";
    }
    longest_accented += "!";
    struct Case {
        Bytes payload;
        ProtocolResult<std::string> text;
    };
    const std::vector<Case> cases = {
        {text_field(""), std::string()},
        {text_field("QX-4 bench"), std::string("QX-4 bench")},
        {text_field(longest), longest},
        {text_field(longest_accented), longest_accented},
        {text_field(std::string(128, 't')), std::unexpected(status_error(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL))},
        {{0x05, 0x00, 0x61, 0x62, 0x00, 0x63, 0x64}, std::string("ab")},
        {text_field("\xC0\x80"), std::unexpected(status_error(QX_PROTOCOL_STATUS_INVALID_UTF8_STRING))},
        {{0x05, 0x00, 0x61, 0x62}, std::unexpected(too_short)},
        {{0x05}, std::unexpected(too_short)},
    };
    for (const TextReplyCase& op : text_replies) {
        SCOPED_TRACE(op.name);
        for (const Case& c : cases) {
            SCOPED_TRACE(testing::PrintToString(c.payload));
            EXPECT_TRUE(same_result(op.unpack(2, in_connection_buffer(frame(op.reply, c.payload))), c.text));
        }
    }
}

TEST(NumberReplies, AreDeliveredAsSent) {
    EXPECT_TRUE(holds(dev::unpack_get_ean(2, frame(40, le64(0x4012345678901ULL))), uint64_t{0x4012345678901ULL}));
    EXPECT_TRUE(holds(dev::unpack_get_firmware_ean(2, frame(10, le64(UINT64_MAX))), UINT64_MAX));
    EXPECT_TRUE(
        holds(dev::unpack_get_serial_number(2, in_connection_buffer(frame(30, le64(123456)))), uint64_t{123456}));
    EXPECT_TRUE(holds(dev::unpack_get_num_interfaces(2, frame(14, le16(4))), uint16_t{4}));
    EXPECT_TRUE(holds(dev::unpack_firmware_update_start(2, frame(50, le16(0xFFFF))), uint64_t{0xFFFF}));
    EXPECT_TRUE(holds(ifc::unpack_interface_get_loopback_state(2, frame(90, {0x00})), false));
    // Any nonzero byte is true.
    EXPECT_TRUE(holds(ifc::unpack_interface_get_loopback_state(2, frame(90, {0x02})), true));

    EXPECT_TRUE(fails_with(dev::unpack_get_ean(2, frame(40, Bytes(7, 0))), too_short));
    EXPECT_TRUE(fails_with(dev::unpack_get_num_interfaces(2, frame(14, {0x04})), too_short));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_get_loopback_state(2, frame(90)), too_short));
}

TEST(ManufacturingDate, SecondsAfterTheEpochUpToTheLargestTimePoint) {
    using std::chrono::seconds;
    using std::chrono::sys_seconds;
    constexpr uint64_t largest = std::numeric_limits<int64_t>::max();
    EXPECT_TRUE(holds(dev::unpack_get_manufacturing_date(2, frame(70, le64(0))), sys_seconds{}));
    EXPECT_TRUE(
        holds(dev::unpack_get_manufacturing_date(2, frame(70, le64(1700000000))), sys_seconds{seconds{1700000000}}));
    EXPECT_TRUE(holds(dev::unpack_get_manufacturing_date(2, frame(70, le64(largest))), sys_seconds::max()));
    EXPECT_TRUE(fails_with(dev::unpack_get_manufacturing_date(2, frame(70, le64(largest + 1))),
                           conversion_error("Manufacturing date of 9223372036854775808 seconds after the Unix epoch "
                                            "is beyond the representable time")));
    EXPECT_TRUE(fails_with(dev::unpack_get_manufacturing_date(2, frame(70, le64(UINT64_MAX))),
                           conversion_error("Manufacturing date of 18446744073709551615 seconds after the Unix epoch "
                                            "is beyond the representable time")));
}

TEST(StatusReplies, StatusAsTheValue) {
    struct Op {
        const char* name;
        uint16_t reply;
        ProtocolResult<ServiceStatus> (*unpack)(uint32_t, Received) noexcept;
    };
    const std::vector<Op> ops = {
        {"identify_device", 8, dev::unpack_identify_device},
        {"firmware_update_finalize", 54, dev::unpack_firmware_update_finalize},
        {"set_interface_nickname", 18, ifc::unpack_set_interface_nickname},
        {"identify_interface", 22, ifc::unpack_identify_interface},
        {"set_eth_config", 26, ifc::unpack_set_eth_config},
        {"interface_send_tc10_command", 78, ifc::unpack_interface_send_tc10_command},
    };
    for (const Op& op : ops) {
        SCOPED_TRACE(op.name);
        EXPECT_TRUE(holds(op.unpack(2, frame(op.reply, le16(0))), ServiceStatus(Kind::Success)));
        EXPECT_TRUE(holds(op.unpack(2, frame(op.reply, le16(5))), ServiceStatus(Kind::OperationNotSupportedByDevice)));
        EXPECT_TRUE(holds(op.unpack(2, frame(op.reply, le16(7))),
                          ServiceStatus::not_yet_mapped(
                              "ServiceStatus mapping for QX_SERVICE_STATUS_NOT_CONNECTED not yet implemented")));
        EXPECT_TRUE(fails_with(op.unpack(2, frame(op.reply, {0x05})), too_short));
    }
}

TEST(StatusReplies, StatusAsACondition) {
    EXPECT_TRUE(succeeded(dev::unpack_set_device_nickname(2, frame(6, le16(0)))));
    EXPECT_TRUE(fails_with(dev::unpack_set_device_nickname(2, frame(6, le16(5))),
                           service_error(Kind::OperationNotSupportedByDevice)));
    EXPECT_TRUE(fails_with(dev::unpack_set_device_nickname(2, frame(6, le16(1))),
                           ProtocolError::service_status(ServiceStatus::not_yet_mapped(
                               "ServiceStatus mapping for QX_SERVICE_STATUS_NOT_IMPLEMENTED not yet implemented"))));

    // Any refusal of a chunk is the same failure; the status is not kept.
    EXPECT_TRUE(succeeded(dev::unpack_firmware_update_send_chunk(2, frame(52, le16(0)))));
    EXPECT_TRUE(
        fails_with(dev::unpack_firmware_update_send_chunk(2, frame(52, le16(7))), ProtocolError::chunk_rejected()));
    EXPECT_TRUE(
        fails_with(dev::unpack_firmware_update_send_chunk(2, frame(52, le16(3))), ProtocolError::chunk_rejected()));
}

TEST(EthConfigReplies, SupportedConfigsHonourTheStatusCurrentConfigIgnoresIt) {
    using enum EthLinkSpeed;
    const Bytes failed_with_10_full = frame(28, concat({le16(3), le16(0x0081)}));
    EXPECT_TRUE(holds(ifc::unpack_get_eth_config(2, failed_with_10_full),
                      EthInterfaceConfig{{Speed10MbitFullDuplex}, {}, EthAnegMode::AnegDisabled}));
    EXPECT_TRUE(fails_with(ifc::unpack_get_supported_eth_configs(2, frame(24, concat({le16(3), le16(0x0081)}))),
                           service_error(Kind::OperationFailed)));

    const EthInterfaceConfig all_100{
        {Speed100MbitFullDuplex}, {EthRole::Leader, EthRole::Follower}, EthAnegMode::IEEEAnegEnabled};
    EXPECT_TRUE(holds(ifc::unpack_get_supported_eth_configs(2, frame(24, concat({le16(0), le16(0x0782)}))), all_100));
    EXPECT_TRUE(holds(ifc::unpack_get_eth_config(2, frame(28, concat({le16(0), le16(0x0782)}))), all_100));

    const auto both_duplex = conversion_error("Unable to convert both full and half duplex at the same time");
    EXPECT_TRUE(
        fails_with(ifc::unpack_get_supported_eth_configs(2, frame(24, concat({le16(0), le16(0x00C1)}))), both_duplex));
    // A failing status wins over a link mode that would not convert.
    EXPECT_TRUE(fails_with(ifc::unpack_get_supported_eth_configs(2, frame(24, concat({le16(4), le16(0x00C1)}))),
                           service_error(Kind::OperationNotPermitted)));

    EXPECT_TRUE(fails_with(ifc::unpack_get_supported_eth_configs(2, frame(24, {0x00})),
                           status_error(QX_PROTOCOL_STATUS_PROTOCOL_ERROR)));
    EXPECT_TRUE(fails_with(ifc::unpack_get_eth_config(2, frame(28, le16(0))), too_short));
}

TEST(Tc10StateReply, StatusFirstThenTheStateByte) {
    const auto reply = [](uint16_t status, uint8_t state) { return frame(80, concat({le16(status), Bytes{state}})); };
    EXPECT_TRUE(holds(ifc::unpack_interface_get_tc10_state(2, reply(0, 0)), Tc10State::Normal));
    EXPECT_TRUE(holds(ifc::unpack_interface_get_tc10_state(2, reply(0, 3)), Tc10State::SleepAborted));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_get_tc10_state(2, reply(0, 4)),
                           conversion_error("Failed to convert 4 to TC10 state")));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_get_tc10_state(2, reply(6, 9)),
                           service_error(Kind::OperationNotSupportedByInterface)));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_get_tc10_state(2, frame(80, {0x00})), too_short));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_get_tc10_state(2, frame(80, le16(0))), too_short));
}

TEST(RecordReplies, InterfaceStatusDcqCableTest) {
    // Type, a byte the client drops, link mode, link state.
    EXPECT_TRUE(holds(
        ifc::unpack_get_interface_status(2, frame(20, concat({{0x02, 0x99}, le16(0x0282), {0x01}}))),
        InterfaceStatus{InterfaceType::T, {EthLinkState::Up, EthRole::Leader, EthLinkSpeed::Speed100MbitFullDuplex}}));
    EXPECT_TRUE(holds(ifc::unpack_get_interface_status(2, frame(20, concat({{0x00, 0x00}, le16(0x0144), {0x00}}))),
                      InterfaceStatus{InterfaceType::T1,
                                      {EthLinkState::Down, EthRole::Follower, EthLinkSpeed::Speed1000MbitHalfDuplex}}));
    EXPECT_TRUE(fails_with(ifc::unpack_get_interface_status(2, frame(20, concat({{0x01, 0x00}, le16(0x0282), {0x01}}))),
                           conversion_error("Encountered unknown interface type _QX_INTERFACE_RESERVED_1")));
    EXPECT_TRUE(
        fails_with(ifc::unpack_get_interface_status(2, frame(20, concat({{0x00, 0x00}, le16(0x0282)}))), too_short));

    // Wire order: sqi, sqi_worst, peak_mse, peak_mse_worst, mse, mse_worst.
    EXPECT_TRUE(holds(
        ifc::unpack_interface_read_dcq(2, frame(84, concat({{1, 2, 3, 4}, le16(0x0506), le16(0x0708)}))),
        DcqReading{.sqi = 1, .sqi_worst = 2, .mse = 0x0506, .mse_worst = 0x0708, .peak_mse = 3, .peak_mse_worst = 4}));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_read_dcq(2, frame(84, {1, 2, 3, 4, 5})), too_short));

    EXPECT_TRUE(holds(ifc::unpack_interface_run_cable_test(2, frame(86, {0x01, 0xFF})),
                      CableTestResult{CableTestHarnessStatus::CableShorted, 255}));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_run_cable_test(2, frame(86, {0x03, 0x00})),
                           conversion_error("Encountered invalid harness status")));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_run_cable_test(2, frame(86, {0x02})), too_short));
}

TEST(RecordReplies, PacketGeneratorConfig) {
    using Config = std::optional<PacketGeneratorConfig>;
    EXPECT_TRUE(holds(ifc::unpack_interface_get_packet_generator_config(2, frame(94, {0x01, 0x03, 0x01, 0xC8, 0x01})),
                      Config(PacketGeneratorConfig{PgPayloadSize::Size1518, PgPayloadType::OnlyOnes,
                                                   PgPacketValidity::SymbolErrorsBadCrc, 200})));
    EXPECT_TRUE(holds(ifc::unpack_interface_get_packet_generator_config(2, frame(94, {0x00, 0x01, 0x00, 0x00, 0x00})),
                      Config()));
    EXPECT_TRUE(holds(ifc::unpack_interface_get_packet_generator_config(2, frame(94, {0x07, 0x09, 0x09, 0x00, 0x00})),
                      Config()));
    EXPECT_TRUE(
        fails_with(ifc::unpack_interface_get_packet_generator_config(2, frame(94, {0x07, 0x00, 0x00, 0x00, 0x01})),
                   conversion_error("Failed to convert 7 to payload size ")));
    EXPECT_TRUE(fails_with(ifc::unpack_interface_get_packet_generator_config(2, frame(94, {0x00, 0x00, 0x00, 0x00})),
                           too_short));
}

TEST(AcknowledgeReplies, AnyPayloadIsSuccess) {
    for (const Bytes& payload : {Bytes{}, Bytes{0x03}, Bytes(100, 0xAB)}) {
        EXPECT_TRUE(succeeded(ifc::unpack_interface_set_loopback_state(2, frame(88, payload))));
        EXPECT_TRUE(succeeded(ifc::unpack_interface_set_packet_generator_config(2, frame(92, payload))));
    }
}

}  // namespace
