// Requests addressed to one interface of a device: one pack and one unpack per
// request/reply pair. `index` is the 0-based interface index; the reply does
// not repeat it, so the unpacks take none.
//
// pack_*: builds the request frame into the front of `buffer` and returns that
// front part (4 + payload bytes); a failed pack leaves `buffer` unwritten.
// unpack_*: decodes the reply frame at the front of `bytes`; bytes after the
// frame are not read. `version` is the protocol version the device reported.
// Nothing here throws or keeps state.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>

#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace qx_sdk_protocol::interface {

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_interface_nickname(uint32_t version,
                                                                             std::span<uint8_t> buffer,
                                                                             uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<std::string> unpack_get_interface_nickname(uint32_t version,
                                                                        std::span<const uint8_t> bytes) noexcept;

// A nickname holding a NUL byte is refused with StringConversion.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_set_interface_nickname(uint32_t version,
                                                                             std::span<uint8_t> buffer, uint16_t index,
                                                                             std::string_view nickname) noexcept;
[[nodiscard]] ProtocolResult<types::ServiceStatus> unpack_set_interface_nickname(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_interface_status(uint32_t version, std::span<uint8_t> buffer,
                                                                           uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::InterfaceStatus> unpack_get_interface_status(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_identify_interface(uint32_t version, std::span<uint8_t> buffer,
                                                                         uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::ServiceStatus> unpack_identify_interface(uint32_t version,
                                                                             std::span<const uint8_t> bytes) noexcept;

// A status other than success is the ServiceStatus error.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_supported_eth_configs(uint32_t version,
                                                                                std::span<uint8_t> buffer,
                                                                                uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::EthInterfaceConfig> unpack_get_supported_eth_configs(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_set_eth_config(uint32_t version, std::span<uint8_t> buffer,
                                                                     uint16_t index,
                                                                     types::EthInterfaceConfig config) noexcept;
[[nodiscard]] ProtocolResult<types::ServiceStatus> unpack_set_eth_config(uint32_t version,
                                                                         std::span<const uint8_t> bytes) noexcept;

// The reply's status is not looked at: the link mode is decoded whatever it says.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_eth_config(uint32_t version, std::span<uint8_t> buffer,
                                                                     uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::EthInterfaceConfig> unpack_get_eth_config(uint32_t version,
                                                                              std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_send_tc10_command(uint32_t version,
                                                                                  std::span<uint8_t> buffer,
                                                                                  uint16_t index,
                                                                                  types::Tc10Command command) noexcept;
[[nodiscard]] ProtocolResult<types::ServiceStatus> unpack_interface_send_tc10_command(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

// A status other than success is the ServiceStatus error.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_get_tc10_state(uint32_t version,
                                                                               std::span<uint8_t> buffer,
                                                                               uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::Tc10State> unpack_interface_get_tc10_state(uint32_t version,
                                                                               std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_read_dcq(uint32_t version, std::span<uint8_t> buffer,
                                                                         uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::DcqReading> unpack_interface_read_dcq(uint32_t version,
                                                                          std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_run_cable_test(uint32_t version,
                                                                               std::span<uint8_t> buffer,
                                                                               uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<types::CableTestResult> unpack_interface_run_cable_test(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_set_loopback_state(uint32_t version,
                                                                                   std::span<uint8_t> buffer,
                                                                                   uint16_t index,
                                                                                   bool enabled) noexcept;
[[nodiscard]] ProtocolResult<void> unpack_interface_set_loopback_state(uint32_t version,
                                                                       std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_get_loopback_state(uint32_t version,
                                                                                   std::span<uint8_t> buffer,
                                                                                   uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<bool> unpack_interface_get_loopback_state(uint32_t version,
                                                                       std::span<const uint8_t> bytes) noexcept;

// An absent configuration switches the generator off.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_set_packet_generator_config(
    uint32_t version, std::span<uint8_t> buffer, uint16_t index,
    const std::optional<types::PacketGeneratorConfig>& config) noexcept;
[[nodiscard]] ProtocolResult<void> unpack_interface_set_packet_generator_config(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

// Absent: the generator is off.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_interface_get_packet_generator_config(uint32_t version,
                                                                                            std::span<uint8_t> buffer,
                                                                                            uint16_t index) noexcept;
[[nodiscard]] ProtocolResult<std::optional<types::PacketGeneratorConfig>> unpack_interface_get_packet_generator_config(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

}  // namespace qx_sdk_protocol::interface
