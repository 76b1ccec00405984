// Conversions between typed values and their wire encodings, the device-status
// mapping, the codec-status mapping and reply-text decoding.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"
#include "qx_sdk_protocol/src/types.hpp"
#include "qx_sdk_protocol/src/util.hpp"
#include "typed_test_support.hpp"

namespace {

using namespace qx_sdk_protocol;
using namespace qx_sdk_protocol::types;
using typed_test::conversion_error;
using typed_test::fails_with;
using typed_test::holds;
using typed_test::same_result;

using enum EthLinkSpeed;

const std::string both_duplex = "Unable to convert both full and half duplex at the same time";
const std::string missing_speed = "Missing valid speed";

// Both link-mode decoders side by side: what a configuration read and what an
// interface status make of the same bits.
struct LinkModeCase {
    qx_eth_link_mode_t link_mode;
    ProtocolResult<EthInterfaceConfig> config;
    ProtocolResult<EthLinkSpeed> single_speed;
};

std::unexpected<ProtocolError> fails(const std::string& text) { return std::unexpected(conversion_error(text)); }

TEST(LinkModeDecoding, ConfigurationAndSingleSpeed) {
    using enum EthRole;
    const std::vector<LinkModeCase> cases = {
        {0x0000, EthInterfaceConfig{{}, {}, EthAnegMode::AnegDisabled}, fails(missing_speed)},
        {0x00C1, fails(both_duplex), fails(both_duplex)},
        {0x00C3, fails(both_duplex), fails(both_duplex)},
        {0x0007, EthInterfaceConfig{{Speed10MbitHalfDuplex, Speed100MbitHalfDuplex, Speed1000MbitHalfDuplex}, {}, {}},
         Speed10MbitHalfDuplex},
        {0x0087, EthInterfaceConfig{{Speed10MbitFullDuplex, Speed100MbitFullDuplex, Speed1000MbitFullDuplex}, {}, {}},
         Speed10MbitFullDuplex},
        {0x0300, EthInterfaceConfig{{}, {Leader, Follower}, {}}, fails(missing_speed)},
        {0x0682, EthInterfaceConfig{{Speed100MbitFullDuplex}, {Leader}, EthAnegMode::IEEEAnegEnabled},
         Speed100MbitFullDuplex},
        // Full duplex without a speed still has no speed.
        {0x0080, EthInterfaceConfig{{}, {}, {}}, fails(missing_speed)},
        // The half-duplex bit alone is the default and changes nothing.
        {0x0044, EthInterfaceConfig{{Speed1000MbitHalfDuplex}, {}, {}}, Speed1000MbitHalfDuplex},
        {0x0106, EthInterfaceConfig{{Speed100MbitHalfDuplex, Speed1000MbitHalfDuplex}, {Follower}, {}},
         Speed100MbitHalfDuplex},
        // Bits outside the defined set are ignored by both decoders.
        {0xFF3A, EthInterfaceConfig{{Speed100MbitHalfDuplex}, {Leader, Follower}, EthAnegMode::IEEEAnegEnabled},
         Speed100MbitHalfDuplex},
    };
    for (const LinkModeCase& c : cases) {
        SCOPED_TRACE(testing::Message() << "link mode 0x" << std::hex << c.link_mode);
        EXPECT_TRUE(same_result(EthInterfaceConfig::try_from(c.link_mode), c.config));
        EXPECT_TRUE(same_result(eth_link_speed_try_from(c.link_mode), c.single_speed));
    }
}

TEST(LinkModeEncoding, SetsTheBitsOfEverySpeedRoleAndMode) {
    using enum EthRole;
    struct Case {
        EthInterfaceConfig config;
        qx_eth_link_mode_t link_mode;
    };
    const std::vector<Case> cases = {
        {{{}, {}, EthAnegMode::AnegDisabled}, 0x0000},
        {{{Speed10MbitFullDuplex}, {}, {}}, 0x0081},
        {{{Speed10MbitHalfDuplex}, {}, {}}, 0x0041},
        {{{Speed100MbitFullDuplex}, {}, {}}, 0x0082},
        {{{Speed100MbitHalfDuplex}, {}, {}}, 0x0042},
        {{{Speed1000MbitFullDuplex}, {}, {}}, 0x0084},
        {{{Speed1000MbitHalfDuplex}, {}, {}}, 0x0044},
        {{{Speed100MbitFullDuplex}, {Leader}, EthAnegMode::IEEEAnegEnabled}, 0x0682},
        {{{Speed1000MbitFullDuplex, Speed10MbitFullDuplex}, {}, {}}, 0x0085},
        // Nothing is validated: contradictions go to the device as they are.
        {{{Speed100MbitFullDuplex, Speed10MbitHalfDuplex}, {}, {}}, 0x00C3},
        {{{Speed10MbitFullDuplex, Speed10MbitFullDuplex}, {}, {}}, 0x0081},
        {{{}, {Leader}, {}}, 0x0200},
        {{{}, {LeaderPreferred}, {}}, 0x0200},
        {{{}, {Follower}, {}}, 0x0100},
        {{{}, {FollowerPreferred}, {}}, 0x0100},
        {{{}, {Follower, Leader}, {}}, 0x0300},
        {{{}, {}, EthAnegMode::IEEEAnegEnabled}, 0x0400},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.config));
        EXPECT_EQ(EthInterfaceConfig(c.config).into_link_mode(), c.link_mode);
    }
}

TEST(LinkModeEncoding, ReadBackSortsSpeedsAndLosesPreferredRoles) {
    using enum EthRole;
    struct Case {
        EthInterfaceConfig sent;
        EthInterfaceConfig read_back;
    };
    const std::vector<Case> cases = {
        {{{Speed1000MbitFullDuplex, Speed10MbitFullDuplex}, {}, {}},
         {{Speed10MbitFullDuplex, Speed1000MbitFullDuplex}, {}, {}}},
        {{{}, {LeaderPreferred}, {}}, {{}, {Leader}, {}}},
        {{{}, {FollowerPreferred}, {}}, {{}, {Follower}, {}}},
        {{{}, {Follower, Leader}, {}}, {{}, {Leader, Follower}, {}}},
        {{{Speed100MbitHalfDuplex}, {Follower}, EthAnegMode::IEEEAnegEnabled},
         {{Speed100MbitHalfDuplex}, {Follower}, EthAnegMode::IEEEAnegEnabled}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.sent));
        EXPECT_TRUE(holds(EthInterfaceConfig::try_from(EthInterfaceConfig(c.sent).into_link_mode()), c.read_back));
    }
}

TEST(InterfaceStatusConversion, TypesRolesAndLinkStates) {
    using enum EthRole;
    struct Case {
        qx_eth_interface_status_t wire;
        ProtocolResult<InterfaceStatus> typed;
    };
    const std::string unknown_type = "Encountered unknown interface type _QX_INTERFACE_RESERVED_1";
    const std::string bad_link_state = "Failed to convert qx_eth_link_state_t to EthLinkState";
    const std::vector<Case> cases = {
        {{0, 1, 0x0282}, InterfaceStatus{InterfaceType::T1, {EthLinkState::Up, Leader, Speed100MbitFullDuplex}}},
        {{2, 0, 0x0041}, InterfaceStatus{InterfaceType::T, {EthLinkState::Down, Follower, Speed10MbitHalfDuplex}}},
        // Any type the device may add later reads as T.
        {{3, 0, 0x0041}, InterfaceStatus{InterfaceType::T, {EthLinkState::Down, Follower, Speed10MbitHalfDuplex}}},
        {{255, 0, 0x0041}, InterfaceStatus{InterfaceType::T, {EthLinkState::Down, Follower, Speed10MbitHalfDuplex}}},
        {{1, 0, 0x0041}, fails(unknown_type)},
        // Both role bits: leader wins; no role bit: follower.
        {{0, 1, 0x0304}, InterfaceStatus{InterfaceType::T1, {EthLinkState::Up, Leader, Speed1000MbitHalfDuplex}}},
        {{0, 1, 0x0004}, InterfaceStatus{InterfaceType::T1, {EthLinkState::Up, Follower, Speed1000MbitHalfDuplex}}},
        {{0, 2, 0x0041}, fails(bad_link_state)},
        // The first failing step is the one reported.
        {{0, 2, 0x0000}, fails(missing_speed)},
        {{0, 0xFF, 0xFFFF}, fails(both_duplex)},
        {{1, 2, 0x0000}, fails(unknown_type)},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "type " << c.wire.interface_type << " state " << c.wire.link_state
                                        << " mode 0x" << std::hex << c.wire.link_mode);
        EXPECT_TRUE(same_result(InterfaceStatus::try_from(c.wire), c.typed));
    }
}

TEST(PacketGeneratorConversion, DecodesEnabledRecordsAndNamesTheBadField) {
    using enum PgPayloadType;
    struct Case {
        qx_packet_generator_config_t wire;
        ProtocolResult<std::optional<PacketGeneratorConfig>> typed;
    };
    const std::vector<Case> cases = {
        {{0, 1, 0, 0, false}, std::nullopt},
        // A disabled generator's other fields are not judged.
        {{7, 9, 9, 33, false}, std::nullopt},
        {{0, 0, 0, 0, true}, PacketGeneratorConfig{PgPayloadSize::Size64, PseudoRandom, PgPacketValidity::GoodCrc, 0}},
        {{1, 1, 1, 255, true},
         PacketGeneratorConfig{PgPayloadSize::Size1518, Alternating, PgPacketValidity::SymbolErrorsBadCrc, 255}},
        {{0, 2, 0, 5, true}, PacketGeneratorConfig{PgPayloadSize::Size64, OnlyZeroes, PgPacketValidity::GoodCrc, 5}},
        {{0, 3, 0, 5, true}, PacketGeneratorConfig{PgPayloadSize::Size64, OnlyOnes, PgPacketValidity::GoodCrc, 5}},
        {{7, 0, 0, 0, true}, fails("Failed to convert 7 to payload size ")},
        {{0, 4, 0, 0, true}, fails("Failed to convert 4 to payload type ")},
        {{0, 0, 300, 0, true}, fails("Failed to convert 300 to packet validity")},
        {{2, 4, 2, 0, true}, fails("Failed to convert 2 to payload size ")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "size " << c.wire.payload_size << " type " << c.wire.payload_type
                                        << " validity " << c.wire.validity << " enabled " << c.wire.enabled);
        EXPECT_TRUE(same_result(PacketGeneratorConfig::try_from(c.wire), c.typed));
    }
}

TEST(PacketGeneratorConversion, EncodesWirePayloadTypesAndTheDisabledRecord) {
    const qx_packet_generator_config_t off = encode_packet_generator_config(std::nullopt);
    EXPECT_EQ(off.payload_size, 0U);
    EXPECT_EQ(off.payload_type, 1U);
    EXPECT_EQ(off.validity, 0U);
    EXPECT_EQ(off.burst_size, 0U);
    EXPECT_FALSE(off.enabled);
    EXPECT_TRUE(holds(PacketGeneratorConfig::try_from(off), std::optional<PacketGeneratorConfig>()));

    struct Case {
        PgPayloadType typed;
        uint32_t wire;
    };
    for (const Case& c : {Case{PgPayloadType::PseudoRandom, 0}, Case{PgPayloadType::Alternating, 1},
                          Case{PgPayloadType::OnlyOnes, 3}, Case{PgPayloadType::OnlyZeroes, 2}}) {
        const PacketGeneratorConfig config{PgPayloadSize::Size1518, c.typed, PgPacketValidity::SymbolErrorsBadCrc, 77};
        const qx_packet_generator_config_t wire = encode_packet_generator_config(config);
        EXPECT_EQ(wire.payload_size, 1U);
        EXPECT_EQ(wire.payload_type, c.wire);
        EXPECT_EQ(wire.validity, 1U);
        EXPECT_EQ(wire.burst_size, 77U);
        EXPECT_TRUE(wire.enabled);
        EXPECT_TRUE(holds(PacketGeneratorConfig::try_from(wire), std::optional(config)));
    }
}

TEST(Tc10Conversion, CommandIsInvertedAndStateIsRangeChecked) {
    EXPECT_EQ(encode_tc10_command(Tc10Command::WakeUp), 1U);
    EXPECT_EQ(encode_tc10_command(Tc10Command::Sleep), 0U);

    EXPECT_TRUE(holds(decode_tc10_state(0), Tc10State::Normal));
    EXPECT_TRUE(holds(decode_tc10_state(1), Tc10State::Sleep));
    EXPECT_TRUE(holds(decode_tc10_state(2), Tc10State::SleepFailed));
    EXPECT_TRUE(holds(decode_tc10_state(3), Tc10State::SleepAborted));
    EXPECT_TRUE(fails_with(decode_tc10_state(4), conversion_error("Failed to convert 4 to TC10 state")));
    EXPECT_TRUE(fails_with(decode_tc10_state(255), conversion_error("Failed to convert 255 to TC10 state")));
}

TEST(CableTestConversion, HarnessStatusAndDistance) {
    using enum CableTestHarnessStatus;
    EXPECT_TRUE(holds(CableTestResult::try_from({0, 0}), CableTestResult{CableOpen, 0}));
    EXPECT_TRUE(holds(CableTestResult::try_from({1, 17}), CableTestResult{CableShorted, 17}));
    EXPECT_TRUE(holds(CableTestResult::try_from({2, 255}), CableTestResult{CableGood, 255}));
    EXPECT_TRUE(fails_with(CableTestResult::try_from({3, 1}), conversion_error("Encountered invalid harness status")));
}

TEST(DcqConversion, CopiesEveryFieldToItsNamesake) {
    const qx_dcq_reading_t wire{
        .sqi = 1, .sqi_worst = 2, .peak_mse = 3, .peak_mse_worst = 4, .mse = 0x0506, .mse_worst = 0x0708};
    EXPECT_EQ(
        DcqReading::from(wire),
        (DcqReading{.sqi = 1, .sqi_worst = 2, .mse = 0x0506, .mse_worst = 0x0708, .peak_mse = 3, .peak_mse_worst = 4}));
}

TEST(DeviceStatusMapping, KnownStatusesHaveKindsAndTheRestAreNamed) {
    using Kind = ServiceStatus::Kind;
    struct Case {
        qx_service_status_t status;
        ServiceStatus typed;
    };
    const auto unmapped = [](const std::string& name) {
        return ServiceStatus::not_yet_mapped("ServiceStatus mapping for " + name + " not yet implemented");
    };
    const std::vector<Case> cases = {
        {0, ServiceStatus(Kind::Success)},
        {1, unmapped("QX_SERVICE_STATUS_NOT_IMPLEMENTED")},
        {2, ServiceStatus(Kind::UnspecifiedError)},
        {3, ServiceStatus(Kind::OperationFailed)},
        {4, ServiceStatus(Kind::OperationNotPermitted)},
        {5, ServiceStatus(Kind::OperationNotSupportedByDevice)},
        {6, ServiceStatus(Kind::OperationNotSupportedByInterface)},
        {7, unmapped("QX_SERVICE_STATUS_NOT_CONNECTED")},
        {19, unmapped("QX_SERVICE_STATUS_INVALID_COMBINATION")},
        {21, unmapped("QX_SERVICE_STATUS_MAX")},
        // Past the name table the number is all there is to show.
        {22, unmapped("22")},
        {65535, unmapped("65535")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "device status " << c.status);
        EXPECT_EQ(ServiceStatus::from_device_status(c.status), c.typed);
    }
}

TEST(CodecStatusMapping, VersionStatusesHaveKindsOfTheirOwn) {
    EXPECT_TRUE(map_codec_status(QX_PROTOCOL_STATUS_SUCCESS).has_value());
    EXPECT_EQ(map_codec_status(QX_PROTOCOL_STATUS_NOT_IMPLEMENTED).error(),
              ProtocolError::not_available_in_protocol_version());
    EXPECT_EQ(map_codec_status(QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION).error(),
              ProtocolError::unfamiliar_protocol_version());
    for (qx_protocol_status_t status :
         {QX_PROTOCOL_INVALID_POINTER, QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL, QX_PROTOCOL_STATUS_PROTOCOL_ERROR,
          QX_PROTOCOL_STATUS_CONVERSION_ERROR, QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED,
          static_cast<qx_protocol_status_t>(4242)}) {
        EXPECT_EQ(map_codec_status(status).error(), ProtocolError::protocol_status(status)) << status;
    }
}

TEST(StringFromBytes, TextBeforeTheFirstNulMustBeUtf8) {
    struct Case {
        std::vector<uint8_t> bytes;
        ProtocolResult<std::string> text;
    };
    const auto refused = [](const char* text) { return std::unexpected(ProtocolError::string_conversion(text)); };
    const std::vector<Case> cases = {
        {{}, refused("Failed to decode utf-8 from bytes")},
        {{'a', 'b', 'c'}, refused("Failed to decode utf-8 from bytes")},
        {{0}, std::string()},
        {{'a', 'b', 0, 'c', 'd'}, std::string("ab")},
        {{0xE2, 0x82, 0xAC, 0}, std::string("\xE2\x82\xAC")},
        {{0xC0, 0x80, 0}, refused("Failed to convert cstring to native String")},
        {{0xE2, 0x82, 0}, refused("Failed to convert cstring to native String")},
        // What follows the NUL is never looked at.
        {{'a', 0, 0xFF}, std::string("a")},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::PrintToString(c.bytes));
        EXPECT_TRUE(same_result(util::string_from_bytes(c.bytes), c.text));
    }
}

}  // namespace
