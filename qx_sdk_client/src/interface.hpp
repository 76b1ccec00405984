// One Ethernet interface of a connected device. Every operation is one
// exchange on the device's shared connection, serialized with those of the
// device and of its other interfaces.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <utility>

#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace qx_sdk_client::interface {

class Interface {
public:
    // Made by Device::get_interfaces; the index is 16 bits on the wire.
    Interface(device::SharedConnection connection, uint16_t index)
        : connection_(std::move(connection)), index_(index) {}

    // 0-based position on the device.
    uint64_t index() const { return index_; }
    // The device's connection, shared with the device and its other interfaces.
    const device::SharedConnection& connection() const { return connection_; }

    // Makes the interface signal itself; a non-success status is the error.
    [[nodiscard]] error::Result<void> identify() const;
    // The caller's own copy of the nickname.
    [[nodiscard]] error::Result<std::string> get_nickname() const;
    // UTF-8 without NUL bytes, at most 4,088 bytes; a non-success status is the error.
    [[nodiscard]] error::Result<void> set_nickname(std::string_view nickname) const;
    // set_nickname("").
    [[nodiscard]] error::Result<void> reset_nickname() const;
    [[nodiscard]] error::Result<qx_sdk_protocol::types::InterfaceStatus> get_status() const;
    // Decoded whatever status the reply carries.
    [[nodiscard]] error::Result<qx_sdk_protocol::types::EthInterfaceConfig> get_eth_config() const;
    // A non-success status is the error.
    [[nodiscard]] error::Result<void> set_eth_config(qx_sdk_protocol::types::EthInterfaceConfig config) const;
    // A non-success status is the error.
    [[nodiscard]] error::Result<qx_sdk_protocol::types::EthInterfaceConfig> get_supported_eth_configs() const;

    // The rest needs a device of protocol version 2; an older one gets
    // ApiNotAvailableInProtocolVersion without anything being sent.

    // A non-success status is the error.
    [[nodiscard]] error::Result<qx_sdk_protocol::types::Tc10State> get_tc10_state() const;
    // A non-success status is the error.
    [[nodiscard]] error::Result<void> send_tc10_command(qx_sdk_protocol::types::Tc10Command command) const;
    [[nodiscard]] error::Result<qx_sdk_protocol::types::DcqReading> read_dcq() const;
    [[nodiscard]] error::Result<qx_sdk_protocol::types::CableTestResult> run_cable_test() const;
    // True: loopback on.
    [[nodiscard]] error::Result<bool> get_loopback_state() const;
    // Any reply of the right kind is success.
    [[nodiscard]] error::Result<void> set_loopback_state(bool enabled) const;
    // Absent: the generator is off.
    [[nodiscard]] error::Result<std::optional<qx_sdk_protocol::types::PacketGeneratorConfig>>
    get_packet_generator_config() const;
    // Absent switches the generator off; any reply of the right kind is success.
    [[nodiscard]] error::Result<void> set_packet_generator_config(
        const std::optional<qx_sdk_protocol::types::PacketGeneratorConfig>& config) const;

private:
    device::SharedConnection connection_;
    uint64_t index_;
};

}  // namespace qx_sdk_client::interface
