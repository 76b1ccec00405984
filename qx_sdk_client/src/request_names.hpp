// The operation names that a failed send reports ("Failed to send <name>
// request"). Requests that share a name (set_nickname and reset_nickname,
// the steps of a firmware update) share the constant.
#pragma once

#include <string_view>

namespace qx_sdk_client::request_name {

// Device creation.
inline constexpr std::string_view update_protocol_version = "qx_sdk_client::device::Device::update_protocol_version";
inline constexpr std::string_view update_ean = "qx_sdk_client::device::Device::update_ean";
inline constexpr std::string_view update_serial_number = "qx_sdk_client::device::Device::update_serial_number";

// Device operations.
inline constexpr std::string_view device_get_name = "qx_sdk_client::device::Device::get_name";
inline constexpr std::string_view device_get_nickname = "qx_sdk_client::device::Device::get_nickname";
inline constexpr std::string_view device_set_nickname = "qx_sdk_client::device::Device::set_nickname";
inline constexpr std::string_view device_get_interfaces = "qx_sdk_client::device::Device::get_interfaces";
inline constexpr std::string_view device_get_firmware_ean = "qx_sdk_client::device::Device::get_firmware_ean";
inline constexpr std::string_view device_get_pcb_revision = "qx_sdk_client::device::Device::get_pcb_revision";
inline constexpr std::string_view device_get_firmware_version = "qx_sdk_client::device::Device::get_firmware_version";
inline constexpr std::string_view device_get_bootloader_version =
    "qx_sdk_client::device::Device::get_bootloader_version";
inline constexpr std::string_view device_get_manufacturing_date =
    "qx_sdk_client::device::Device::get_manufacturing_date";
inline constexpr std::string_view device_identify = "qx_sdk_client::device::Device::identify";
// Every request of a firmware update, from bytes or from a file.
inline constexpr std::string_view device_update_firmware = "qx_sdk_client::device::Device::update_firmware_from_blob";

// Interface operations.
inline constexpr std::string_view interface_identify = "qx_sdk_client::interface::Interface::identify";
inline constexpr std::string_view interface_get_nickname = "qx_sdk_client::interface::Interface::get_nickname";
inline constexpr std::string_view interface_set_nickname = "qx_sdk_client::interface::Interface::set_nickname";
inline constexpr std::string_view interface_get_status = "qx_sdk_client::interface::Interface::get_status";
inline constexpr std::string_view interface_get_eth_config = "qx_sdk_client::interface::Interface::get_eth_config";
inline constexpr std::string_view interface_set_eth_config = "qx_sdk_client::interface::Interface::set_eth_config";
inline constexpr std::string_view interface_get_supported_eth_configs =
    "qx_sdk_client::interface::Interface::get_supported_eth_configs";
inline constexpr std::string_view interface_get_tc10_state = "qx_sdk_client::interface::Interface::get_tc10_state";
inline constexpr std::string_view interface_send_tc10_command =
    "qx_sdk_client::interface::Interface::send_tc10_command";
inline constexpr std::string_view interface_read_dcq = "qx_sdk_client::interface::Interface::read_dcq";
inline constexpr std::string_view interface_run_cable_test = "qx_sdk_client::interface::Interface::run_cable_test";
inline constexpr std::string_view interface_get_loopback_state =
    "qx_sdk_client::interface::Interface::get_loopback_state";
inline constexpr std::string_view interface_set_loopback_state =
    "qx_sdk_client::interface::Interface::set_loopback_state";
inline constexpr std::string_view interface_get_packet_generator_config =
    "qx_sdk_client::interface::Interface::get_packet_generator_config";
inline constexpr std::string_view interface_set_packet_generator_config =
    "qx_sdk_client::interface::Interface::set_packet_generator_config";

}  // namespace qx_sdk_client::request_name
