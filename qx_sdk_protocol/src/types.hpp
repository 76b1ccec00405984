// Typed values returned by and accepted from the typed request layer, and
// their conversions to and from the codec's wire values.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

#include "qx_sdk_protocol/codec/qx_types.h"
#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"

namespace qx_sdk_protocol::types {

enum class EthLinkSpeed : uint8_t {
    Speed10MbitFullDuplex = 0,
    Speed10MbitHalfDuplex = 1,
    Speed100MbitFullDuplex = 2,
    Speed100MbitHalfDuplex = 3,
    Speed1000MbitFullDuplex = 4,
    Speed1000MbitHalfDuplex = 5,
};
enum class EthRole : uint8_t { Leader = 0, LeaderPreferred = 1, Follower = 2, FollowerPreferred = 3 };
enum class EthAnegMode : uint8_t { AnegDisabled = 0, IEEEAnegEnabled = 1 };
enum class EthLinkState : uint8_t { Up = 0, Down = 1 };
enum class InterfaceType : uint8_t { T1 = 0, T = 1 };
enum class Tc10State : uint8_t { Normal = 0, Sleep = 1, SleepFailed = 2, SleepAborted = 3 };
enum class Tc10Command : uint8_t { WakeUp = 0, Sleep = 1 };
enum class CableTestHarnessStatus : uint8_t { CableOpen = 0, CableShorted = 1, CableGood = 2 };
enum class PgPayloadSize : uint8_t { Size64 = 0, Size1518 = 1 };
enum class PgPayloadType : uint8_t { PseudoRandom = 0, Alternating = 1, OnlyOnes = 2, OnlyZeroes = 3 };
enum class PgPacketValidity : uint8_t { GoodCrc = 0, SymbolErrorsBadCrc = 1 };

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

// Encoders; none can fail.
qx_packet_generator_config_t encode_packet_generator_config(const std::optional<PacketGeneratorConfig>& config);
qx_tc10_command_t encode_tc10_command(Tc10Command command);

// Decoders of single wire bytes.
[[nodiscard]] ProtocolResult<Tc10State> decode_tc10_state(qx_tc10_state_t state);

}  // namespace qx_sdk_protocol::types
