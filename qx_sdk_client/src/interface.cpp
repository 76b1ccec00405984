#include "qx_sdk_client/src/interface.hpp"

#include "qx_sdk_client/src/exchange.hpp"
#include "qx_sdk_client/src/request_names.hpp"
#include "qx_sdk_protocol/src/interface.hpp"

namespace qx_sdk_client::interface {
namespace {

namespace proto = qx_sdk_protocol::interface;
namespace types = qx_sdk_protocol::types;
namespace names = request_name;
using device::pack_step;
using device::request;
using error::Result;

// Handles are only made with 16-bit indices, so this never cuts.
uint16_t wire_index(const Interface& interface) { return static_cast<uint16_t>(interface.index()); }

}  // namespace

Result<void> Interface::identify() const {
    return request(connection_, names::interface_identify, pack_step(proto::pack_identify_interface, wire_index(*this)),
                   proto::unpack_identify_interface, error::service_status_to_result);
}

Result<std::string> Interface::get_nickname() const {
    return request(connection_, names::interface_get_nickname,
                   pack_step(proto::pack_get_interface_nickname, wire_index(*this)),
                   proto::unpack_get_interface_nickname);
}

Result<void> Interface::set_nickname(std::string_view nickname) const {
    return request(connection_, names::interface_set_nickname,
                   pack_step(proto::pack_set_interface_nickname, wire_index(*this), nickname),
                   proto::unpack_set_interface_nickname, error::service_status_to_result);
}

Result<void> Interface::reset_nickname() const { return set_nickname(""); }

Result<types::InterfaceStatus> Interface::get_status() const {
    return request(connection_, names::interface_get_status,
                   pack_step(proto::pack_get_interface_status, wire_index(*this)), proto::unpack_get_interface_status);
}

Result<types::EthInterfaceConfig> Interface::get_eth_config() const {
    return request(connection_, names::interface_get_eth_config,
                   pack_step(proto::pack_get_eth_config, wire_index(*this)), proto::unpack_get_eth_config);
}

Result<void> Interface::set_eth_config(types::EthInterfaceConfig config) const {
    return request(connection_, names::interface_set_eth_config,
                   pack_step(proto::pack_set_eth_config, wire_index(*this), std::move(config)),
                   proto::unpack_set_eth_config, error::service_status_to_result);
}

Result<types::EthInterfaceConfig> Interface::get_supported_eth_configs() const {
    return request(connection_, names::interface_get_supported_eth_configs,
                   pack_step(proto::pack_get_supported_eth_configs, wire_index(*this)),
                   proto::unpack_get_supported_eth_configs);
}

Result<types::Tc10State> Interface::get_tc10_state() const {
    return request(connection_, names::interface_get_tc10_state,
                   pack_step(proto::pack_interface_get_tc10_state, wire_index(*this)),
                   proto::unpack_interface_get_tc10_state);
}

Result<void> Interface::send_tc10_command(types::Tc10Command command) const {
    return request(connection_, names::interface_send_tc10_command,
                   pack_step(proto::pack_interface_send_tc10_command, wire_index(*this), command),
                   proto::unpack_interface_send_tc10_command, error::service_status_to_result);
}

Result<types::DcqReading> Interface::read_dcq() const {
    return request(connection_, names::interface_read_dcq, pack_step(proto::pack_interface_read_dcq, wire_index(*this)),
                   proto::unpack_interface_read_dcq);
}

Result<types::CableTestResult> Interface::run_cable_test() const {
    return request(connection_, names::interface_run_cable_test,
                   pack_step(proto::pack_interface_run_cable_test, wire_index(*this)),
                   proto::unpack_interface_run_cable_test);
}

Result<bool> Interface::get_loopback_state() const {
    return request(connection_, names::interface_get_loopback_state,
                   pack_step(proto::pack_interface_get_loopback_state, wire_index(*this)),
                   proto::unpack_interface_get_loopback_state);
}

Result<void> Interface::set_loopback_state(bool enabled) const {
    return request(connection_, names::interface_set_loopback_state,
                   pack_step(proto::pack_interface_set_loopback_state, wire_index(*this), enabled),
                   proto::unpack_interface_set_loopback_state);
}

Result<std::optional<types::PacketGeneratorConfig>> Interface::get_packet_generator_config() const {
    return request(connection_, names::interface_get_packet_generator_config,
                   pack_step(proto::pack_interface_get_packet_generator_config, wire_index(*this)),
                   proto::unpack_interface_get_packet_generator_config);
}

Result<void> Interface::set_packet_generator_config(const std::optional<types::PacketGeneratorConfig>& config) const {
    return request(connection_, names::interface_set_packet_generator_config,
                   pack_step(proto::pack_interface_set_packet_generator_config, wire_index(*this), config),
                   proto::unpack_interface_set_packet_generator_config);
}

}  // namespace qx_sdk_client::interface
