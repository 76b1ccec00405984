#include "qx_sdk_protocol/src/types.hpp"

#include <array>
#include <string>

namespace qx_sdk_protocol::types {

namespace {

constexpr const char* both_duplex_text = "Unable to convert both full and half duplex at the same time";

[[nodiscard]] std::unexpected<ProtocolError> conversion_failure(std::string text) {
    return std::unexpected(ProtocolError::conversion_error(std::move(text)));
}

// One row per speed bit, lowest speed first: decoders take the rows in this
// order, so the lowest speed wins and lists come out sorted by speed.
struct SpeedBit {
    qx_eth_link_mode_t bit;
    EthLinkSpeed full_duplex;
    EthLinkSpeed half_duplex;
};
constexpr std::array<SpeedBit, 3> speed_bits{{
    {QX_ETH_LINK_MODE_10MBIT, EthLinkSpeed::Speed10MbitFullDuplex, EthLinkSpeed::Speed10MbitHalfDuplex},
    {QX_ETH_LINK_MODE_100MBIT, EthLinkSpeed::Speed100MbitFullDuplex, EthLinkSpeed::Speed100MbitHalfDuplex},
    {QX_ETH_LINK_MODE_1000MBIT, EthLinkSpeed::Speed1000MbitFullDuplex, EthLinkSpeed::Speed1000MbitHalfDuplex},
}};

// clang-format off
// Link-mode bits of each EthLinkSpeed, indexed by its value.
constexpr std::array<qx_eth_link_mode_t, 6> speed_encoding{
    QX_ETH_LINK_MODE_10MBIT | QX_ETH_LINK_MODE_FULL_DUPLEX,
    QX_ETH_LINK_MODE_10MBIT | QX_ETH_LINK_MODE_HALF_DUPLEX,
    QX_ETH_LINK_MODE_100MBIT | QX_ETH_LINK_MODE_FULL_DUPLEX,
    QX_ETH_LINK_MODE_100MBIT | QX_ETH_LINK_MODE_HALF_DUPLEX,
    QX_ETH_LINK_MODE_1000MBIT | QX_ETH_LINK_MODE_FULL_DUPLEX,
    QX_ETH_LINK_MODE_1000MBIT | QX_ETH_LINK_MODE_HALF_DUPLEX,
};
// clang-format on

// The wire has no "preferred" roles: they travel as the plain role.
constexpr std::array<qx_eth_link_mode_t, 4> role_encoding{
    QX_ETH_LINK_MODE_LEADER,    // Leader
    QX_ETH_LINK_MODE_LEADER,    // LeaderPreferred
    QX_ETH_LINK_MODE_FOLLOWER,  // Follower
    QX_ETH_LINK_MODE_FOLLOWER,  // FollowerPreferred
};

bool has(qx_eth_link_mode_t link_mode, qx_eth_link_mode_t bits) { return (link_mode & bits) == bits; }

// Payload types 2 and 3 are swapped on the wire; the swap is its own inverse,
// so this one table serves both directions.
constexpr std::array<uint32_t, 4> payload_type_swap{0, 1, 3, 2};

template <class Enum, size_t N>
qx_eth_link_mode_t bits_of(const std::array<qx_eth_link_mode_t, N>& table, Enum value) {
    const auto index = static_cast<size_t>(value);
    return index < table.size() ? table[index] : 0;
}

}  // namespace

ProtocolResult<EthInterfaceConfig> EthInterfaceConfig::try_from(qx_eth_link_mode_t link_mode) {
    if (has(link_mode, QX_ETH_LINK_MODE_HALF_DUPLEX | QX_ETH_LINK_MODE_FULL_DUPLEX)) {
        return conversion_failure(both_duplex_text);
    }
    // Neither duplex bit counts as half duplex.
    const bool full_duplex = has(link_mode, QX_ETH_LINK_MODE_FULL_DUPLEX);

    EthInterfaceConfig config;
    for (const SpeedBit& row : speed_bits) {
        if (has(link_mode, row.bit)) {
            config.speed.push_back(full_duplex ? row.full_duplex : row.half_duplex);
        }
    }
    if (has(link_mode, QX_ETH_LINK_MODE_LEADER)) {
        config.role.push_back(EthRole::Leader);
    }
    if (has(link_mode, QX_ETH_LINK_MODE_FOLLOWER)) {
        config.role.push_back(EthRole::Follower);
    }
    config.aneg_mode = has(link_mode, QX_ETH_LINK_MODE_ANEG) ? EthAnegMode::IEEEAnegEnabled : EthAnegMode::AnegDisabled;
    return config;
}

qx_eth_link_mode_t EthInterfaceConfig::into_link_mode() && {
    // Not validated: contradictory entries set both bits and the device judges.
    qx_eth_link_mode_t link_mode = 0;
    for (EthLinkSpeed speed_entry : speed) {
        link_mode |= bits_of(speed_encoding, speed_entry);
    }
    for (EthRole role_entry : role) {
        link_mode |= bits_of(role_encoding, role_entry);
    }
    if (aneg_mode == EthAnegMode::IEEEAnegEnabled) {
        link_mode |= QX_ETH_LINK_MODE_ANEG;
    }
    return link_mode;
}

ProtocolResult<EthLinkSpeed> eth_link_speed_try_from(qx_eth_link_mode_t link_mode) {
    const bool full_duplex = has(link_mode, QX_ETH_LINK_MODE_FULL_DUPLEX);
    // Half duplex is the default, so its bit only matters next to full duplex.
    if (full_duplex && has(link_mode, QX_ETH_LINK_MODE_HALF_DUPLEX)) {
        return conversion_failure(both_duplex_text);
    }
    for (const SpeedBit& row : speed_bits) {
        if (has(link_mode, row.bit)) {
            return full_duplex ? row.full_duplex : row.half_duplex;
        }
    }
    return conversion_failure("Missing valid speed");
}

ProtocolResult<InterfaceStatus> InterfaceStatus::try_from(const qx_eth_interface_status_t& status) {
    if (status.interface_type == _QX_INTERFACE_RESERVED_1) {
        return conversion_failure(std::string("Encountered unknown interface type ") +
                                  qx_interface_type_name(_QX_INTERFACE_RESERVED_1));
    }
    // Every type the device may add later is an Ethernet "T" port to us.
    const InterfaceType type = status.interface_type == QX_INTERFACE_T1 ? InterfaceType::T1 : InterfaceType::T;

    auto speed = eth_link_speed_try_from(status.link_mode);
    if (!speed) {
        return std::unexpected(std::move(speed).error());
    }
    const EthRole role = has(status.link_mode, QX_ETH_LINK_MODE_LEADER) ? EthRole::Leader : EthRole::Follower;

    EthLinkState link_state;
    switch (status.link_state) {
        case 0: link_state = EthLinkState::Down; break;
        case 1: link_state = EthLinkState::Up; break;
        default: return conversion_failure("Failed to convert qx_eth_link_state_t to EthLinkState");
    }
    return InterfaceStatus{type, EthInterfaceStatus{link_state, role, *speed}};
}

DcqReading DcqReading::from(const qx_dcq_reading_t& reading) {
    return DcqReading{
        .sqi = reading.sqi,
        .sqi_worst = reading.sqi_worst,
        .mse = reading.mse,
        .mse_worst = reading.mse_worst,
        .peak_mse = reading.peak_mse,
        .peak_mse_worst = reading.peak_mse_worst,
    };
}

ProtocolResult<CableTestResult> CableTestResult::try_from(const qx_cable_test_result_t& result) {
    if (result.harness_status > static_cast<uint32_t>(CableTestHarnessStatus::CableGood)) {
        return conversion_failure("Encountered invalid harness status");
    }
    return CableTestResult{static_cast<CableTestHarnessStatus>(result.harness_status), result.distance_to_fault};
}

ProtocolResult<std::optional<PacketGeneratorConfig>> PacketGeneratorConfig::try_from(
    const qx_packet_generator_config_t& config) {
    // A disabled generator's other fields are leftovers and are not judged.
    if (!config.enabled) {
        return std::nullopt;
    }
    if (config.payload_size > static_cast<uint32_t>(PgPayloadSize::Size1518)) {
        return conversion_failure("Failed to convert " + std::to_string(config.payload_size) + " to payload size ");
    }
    if (config.payload_type >= payload_type_swap.size()) {
        return conversion_failure("Failed to convert " + std::to_string(config.payload_type) + " to payload type ");
    }
    if (config.validity > static_cast<uint32_t>(PgPacketValidity::SymbolErrorsBadCrc)) {
        return conversion_failure("Failed to convert " + std::to_string(config.validity) + " to packet validity");
    }
    return PacketGeneratorConfig{
        .payload_size = static_cast<PgPayloadSize>(config.payload_size),
        .payload_type = static_cast<PgPayloadType>(payload_type_swap[config.payload_type]),
        .validity = static_cast<PgPacketValidity>(config.validity),
        .burst_size = config.burst_size,
    };
}

qx_packet_generator_config_t encode_packet_generator_config(const std::optional<PacketGeneratorConfig>& config) {
    if (!config) {
        return packet_generator_off;
    }
    const auto typed_payload_type = static_cast<uint32_t>(config->payload_type);
    return qx_packet_generator_config_t{
        .payload_size = static_cast<uint32_t>(config->payload_size),
        .payload_type =
            typed_payload_type < payload_type_swap.size() ? payload_type_swap[typed_payload_type] : typed_payload_type,
        .validity = static_cast<uint32_t>(config->validity),
        .burst_size = config->burst_size,
        .enabled = true,
    };
}

qx_tc10_command_t encode_tc10_command(Tc10Command command) {
    // The wire numbers the two commands the other way round.
    return static_cast<qx_tc10_command_t>(command) ^ 1U;
}

ProtocolResult<Tc10State> decode_tc10_state(qx_tc10_state_t state) {
    if (state > static_cast<uint32_t>(Tc10State::SleepAborted)) {
        return conversion_failure("Failed to convert " + std::to_string(state) + " to TC10 state");
    }
    return static_cast<Tc10State>(state);
}

}  // namespace qx_sdk_protocol::types
