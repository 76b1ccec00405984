#include "qx_sdk_protocol/src/interface.hpp"

#include "qx_sdk_protocol/codec/client_protocol.h"
#include "qx_sdk_protocol/src/reply_shapes.hpp"
#include "qx_sdk_protocol/src/request_steps.hpp"

namespace qx_sdk_protocol::interface {

namespace {

using namespace qx_sdk_protocol::detail;
using Buffer = std::span<uint8_t>;
using Bytes = std::span<const uint8_t>;

// Every bit set, so a link mode the device never sent cannot pass for a valid one.
inline constexpr qx_eth_link_mode_t unknown_link_mode = 0xFFFF;

struct LinkModeOutput {
    qx_eth_link_mode_t link_mode = unknown_link_mode;

    auto outputs() { return std::tuple(&link_mode); }
    [[nodiscard]] ProtocolResult<types::EthInterfaceConfig> result() const {
        return types::EthInterfaceConfig::try_from(link_mode);
    }
};

struct Tc10StateOutput {
    qx_tc10_state_t state = 0;

    auto outputs() { return std::tuple(&state); }
    [[nodiscard]] ProtocolResult<types::Tc10State> result() const { return types::decode_tc10_state(state); }
};

constexpr qx_eth_interface_status_t unknown_interface_status{
    .interface_type = QX_INTERFACE_T, .link_state = 0xFF, .link_mode = unknown_link_mode};
constexpr qx_dcq_reading_t no_dcq_reading{};
constexpr qx_cable_test_result_t no_cable_test_result{};

using InterfaceStatusReply = RecordReply<unknown_interface_status, &types::InterfaceStatus::try_from>;
using DcqReply = RecordReply<no_dcq_reading, &types::DcqReading::from>;
using CableTestReply = RecordReply<no_cable_test_result, &types::CableTestResult::try_from>;
// An undecoded reply reads as the generator off.
using PacketGeneratorReply = RecordReply<types::packet_generator_off, &types::PacketGeneratorConfig::try_from>;

}  // namespace

ProtocolResult<Buffer> pack_get_interface_nickname(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_get_nickname_request, index);
}
ProtocolResult<std::string> unpack_get_interface_nickname(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<TextReply>(version, bytes, unpack_interface_get_nickname_response);
}

ProtocolResult<Buffer> pack_set_interface_nickname(uint32_t version, Buffer buffer, uint16_t index,
                                                   std::string_view nickname) noexcept {
    return pack_text_with(version, buffer, nickname, pack_interface_set_nickname_request, index);
}
ProtocolResult<types::ServiceStatus> unpack_set_interface_nickname(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusValueReply>(version, bytes, unpack_interface_set_nickname_response);
}

ProtocolResult<Buffer> pack_get_interface_status(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_get_interface_status_request, index);
}
ProtocolResult<types::InterfaceStatus> unpack_get_interface_status(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<InterfaceStatusReply>(version, bytes, unpack_get_interface_status_response);
}

ProtocolResult<Buffer> pack_identify_interface(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_identify_request, index);
}
ProtocolResult<types::ServiceStatus> unpack_identify_interface(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusValueReply>(version, bytes, unpack_interface_identify_response);
}

ProtocolResult<Buffer> pack_get_supported_eth_configs(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_get_supported_eth_configs_request, index);
}
ProtocolResult<types::EthInterfaceConfig> unpack_get_supported_eth_configs(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusGatedReply<LinkModeOutput>>(version, bytes,
                                                         unpack_interface_get_supported_eth_configs_response);
}

ProtocolResult<Buffer> pack_set_eth_config(uint32_t version, Buffer buffer, uint16_t index,
                                           types::EthInterfaceConfig config) noexcept {
    return pack_with(version, buffer, pack_interface_set_eth_config_request, index, std::move(config).into_link_mode());
}
ProtocolResult<types::ServiceStatus> unpack_set_eth_config(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusValueReply>(version, bytes, unpack_interface_set_eth_config_response);
}

ProtocolResult<Buffer> pack_get_eth_config(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_get_eth_config_request, index);
}
ProtocolResult<types::EthInterfaceConfig> unpack_get_eth_config(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusIgnoredReply<LinkModeOutput>>(version, bytes, unpack_interface_get_eth_config_response);
}

ProtocolResult<Buffer> pack_interface_send_tc10_command(uint32_t version, Buffer buffer, uint16_t index,
                                                        types::Tc10Command command) noexcept {
    return pack_with(version, buffer, pack_interface_send_tc10_command_request, index,
                     types::encode_tc10_command(command));
}
ProtocolResult<types::ServiceStatus> unpack_interface_send_tc10_command(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusValueReply>(version, bytes, unpack_interface_send_tc10_command_response);
}

ProtocolResult<Buffer> pack_interface_get_tc10_state(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_get_tc10_state_request, index);
}
ProtocolResult<types::Tc10State> unpack_interface_get_tc10_state(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<StatusGatedReply<Tc10StateOutput>>(version, bytes, unpack_interface_get_tc10_state_response);
}

ProtocolResult<Buffer> pack_interface_read_dcq(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_read_dcq_request, index);
}
ProtocolResult<types::DcqReading> unpack_interface_read_dcq(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<DcqReply>(version, bytes, unpack_interface_read_dcq_response);
}

ProtocolResult<Buffer> pack_interface_run_cable_test(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_run_cable_test_request, index);
}
ProtocolResult<types::CableTestResult> unpack_interface_run_cable_test(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<CableTestReply>(version, bytes, unpack_interface_run_cable_test_response);
}

ProtocolResult<Buffer> pack_interface_set_loopback_state(uint32_t version, Buffer buffer, uint16_t index,
                                                         bool enabled) noexcept {
    return pack_with(version, buffer, pack_interface_set_loopback_state_request, index, enabled);
}
ProtocolResult<void> unpack_interface_set_loopback_state(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NoOutputReply>(version, bytes, unpack_interface_set_loopback_state_response);
}

ProtocolResult<Buffer> pack_interface_get_loopback_state(uint32_t version, Buffer buffer, uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_get_loopback_state_request, index);
}
ProtocolResult<bool> unpack_interface_get_loopback_state(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NumberReply<bool>>(version, bytes, unpack_interface_get_loopback_state_response);
}

ProtocolResult<Buffer> pack_interface_set_packet_generator_config(
    uint32_t version, Buffer buffer, uint16_t index,
    const std::optional<types::PacketGeneratorConfig>& config) noexcept {
    const qx_packet_generator_config_t record = types::encode_packet_generator_config(config);
    return pack_with(version, buffer, pack_interface_set_packet_generator_config_request, index, &record);
}
ProtocolResult<void> unpack_interface_set_packet_generator_config(uint32_t version, Bytes bytes) noexcept {
    return unpack_with<NoOutputReply>(version, bytes, unpack_interface_set_packet_generator_config_response);
}

ProtocolResult<Buffer> pack_interface_get_packet_generator_config(uint32_t version, Buffer buffer,
                                                                  uint16_t index) noexcept {
    return pack_with(version, buffer, pack_interface_get_packet_generator_config_request, index);
}
ProtocolResult<std::optional<types::PacketGeneratorConfig>> unpack_interface_get_packet_generator_config(
    uint32_t version, Bytes bytes) noexcept {
    return unpack_with<PacketGeneratorReply>(version, bytes, unpack_interface_get_packet_generator_config_response);
}

}  // namespace qx_sdk_protocol::interface
