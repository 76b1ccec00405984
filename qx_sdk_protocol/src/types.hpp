// Typed values returned by and accepted from the typed request layer, and
// their conversions to and from the codec's wire values.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "qx_sdk_protocol/codec/qx_types.h"
#include "qx_sdk_protocol/src/enumeration.hpp"
#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"

namespace qx_sdk_protocol::types {

// Each numbered 0, 1, 2, ... in the order listed; the Python module's
// enumerations carry the same numbers.
QX_ENUMERATION(EthLinkSpeed, Speed10MbitFullDuplex, Speed10MbitHalfDuplex, Speed100MbitFullDuplex,
               Speed100MbitHalfDuplex, Speed1000MbitFullDuplex, Speed1000MbitHalfDuplex)
QX_ENUMERATION(EthRole, Leader, LeaderPreferred, Follower, FollowerPreferred)
QX_ENUMERATION(EthAnegMode, AnegDisabled, IEEEAnegEnabled)
QX_ENUMERATION(EthLinkState, Up, Down)
QX_ENUMERATION(InterfaceType, T1, T)
QX_ENUMERATION(Tc10State, Normal, Sleep, SleepFailed, SleepAborted)
QX_ENUMERATION(Tc10Command, WakeUp, Sleep)
QX_ENUMERATION(CableTestHarnessStatus, CableOpen, CableShorted, CableGood)
QX_ENUMERATION(PgPayloadSize, Size64, Size1518)
QX_ENUMERATION(PgPayloadType, PseudoRandom, Alternating, OnlyOnes, OnlyZeroes)
QX_ENUMERATION(PgPacketValidity, GoodCrc, SymbolErrorsBadCrc)

struct EthInterfaceConfig {
    std::vector<EthLinkSpeed> speed;
    std::vector<EthRole> role;
    EthAnegMode aneg_mode = EthAnegMode::AnegDisabled;

    [[nodiscard]] static ProtocolResult<EthInterfaceConfig> try_from(qx_eth_link_mode_t link_mode);
    // The link-mode encoding; consumes the configuration and cannot fail.
    qx_eth_link_mode_t into_link_mode() &&;

    friend bool operator==(const EthInterfaceConfig&, const EthInterfaceConfig&) = default;
};

// Single-speed decoding used for the interface status.
[[nodiscard]] ProtocolResult<EthLinkSpeed> eth_link_speed_try_from(qx_eth_link_mode_t link_mode);

struct EthInterfaceStatus {
    EthLinkState link_state;
    EthRole role;
    EthLinkSpeed speed;
    friend bool operator==(const EthInterfaceStatus&, const EthInterfaceStatus&) = default;
};

struct InterfaceStatus {
    InterfaceType interface_type;
    EthInterfaceStatus eth_interface_status;

    [[nodiscard]] static ProtocolResult<InterfaceStatus> try_from(const qx_eth_interface_status_t& status);
    friend bool operator==(const InterfaceStatus&, const InterfaceStatus&) = default;
};

struct DcqReading {
    uint8_t sqi;
    uint8_t sqi_worst;
    uint16_t mse;
    uint16_t mse_worst;
    uint8_t peak_mse;
    uint8_t peak_mse_worst;

    static DcqReading from(const qx_dcq_reading_t& reading);
    friend bool operator==(const DcqReading&, const DcqReading&) = default;
};

struct CableTestResult {
    CableTestHarnessStatus harness_status;
    uint32_t distance_to_fault;

    [[nodiscard]] static ProtocolResult<CableTestResult> try_from(const qx_cable_test_result_t& result);
    friend bool operator==(const CableTestResult&, const CableTestResult&) = default;
};

struct PacketGeneratorConfig {
    PgPayloadSize payload_size;
    PgPayloadType payload_type;
    PgPacketValidity validity;
    uint8_t burst_size;

    // Absent when the record says the generator is disabled.
    [[nodiscard]] static ProtocolResult<std::optional<PacketGeneratorConfig>> try_from(
        const qx_packet_generator_config_t& config);
    friend bool operator==(const PacketGeneratorConfig&, const PacketGeneratorConfig&) = default;
};

// What the device expects for "off": fields at their defaults, alternating payload.
inline constexpr qx_packet_generator_config_t packet_generator_off{
    .payload_size = 0, .payload_type = 1, .validity = 0, .burst_size = 0, .enabled = false};

// Encoders; none can fail.
qx_packet_generator_config_t encode_packet_generator_config(const std::optional<PacketGeneratorConfig>& config);
qx_tc10_command_t encode_tc10_command(Tc10Command command);

// Decoders of single wire bytes.
[[nodiscard]] ProtocolResult<Tc10State> decode_tc10_state(qx_tc10_state_t state);

}  // namespace qx_sdk_protocol::types
