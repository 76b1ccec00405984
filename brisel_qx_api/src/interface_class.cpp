#include "brisel_qx_api/src/interface_class.hpp"

#include <optional>
#include <string>
#include <string_view>

#include "brisel_qx_api/src/class_spec.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/value_classes.hpp"

namespace brisel_qx_api {
namespace {

namespace types = qx_sdk_protocol::types;
using qx_sdk_client::error::Result;
using qx_sdk_client::interface::Interface;

// Each method is the SDK operation of the same name; the template does the
// conversions on both sides.
Result<void> identify(Interface& handle) { return handle.identify(); }
Result<std::string> get_nickname(Interface& handle) { return handle.get_nickname(); }
Result<void> set_nickname(Interface& handle, std::string_view nickname) { return handle.set_nickname(nickname); }
Result<void> reset_nickname(Interface& handle) { return handle.reset_nickname(); }
Result<types::InterfaceStatus> get_status(Interface& handle) { return handle.get_status(); }
Result<types::EthInterfaceConfig> get_eth_config(Interface& handle) { return handle.get_eth_config(); }
Result<void> set_eth_config(Interface& handle, types::EthInterfaceConfig config) {
    return handle.set_eth_config(std::move(config));
}
Result<types::EthInterfaceConfig> get_supported_eth_configs(Interface& handle) {
    return handle.get_supported_eth_configs();
}
Result<types::Tc10State> get_tc10_state(Interface& handle) { return handle.get_tc10_state(); }
Result<void> send_tc10_command(Interface& handle, types::Tc10Command command) {
    return handle.send_tc10_command(command);
}
Result<types::DcqReading> read_dcq(Interface& handle) { return handle.read_dcq(); }
Result<types::CableTestResult> run_cable_test(Interface& handle) { return handle.run_cable_test(); }
Result<bool> get_loopback_state(Interface& handle) { return handle.get_loopback_state(); }
Result<void> set_loopback_state(Interface& handle, bool enabled) { return handle.set_loopback_state(enabled); }
Result<std::optional<types::PacketGeneratorConfig>> get_packet_generator_config(Interface& handle) {
    return handle.get_packet_generator_config();
}
Result<void> set_packet_generator_config(Interface& handle, std::optional<types::PacketGeneratorConfig> config) {
    return handle.set_packet_generator_config(config);
}

PyMethodDef interface_methods[] = {
    method<"identify", identify>(
        "identify($self)\n--\n\n"
        "Identifies interface, meaning it will flash the LED for this\n"
        "interface"),
    method<"get_nickname", get_nickname>(
        "get_nickname($self)\n--\n\n"
        "Gets the nickname\n"
        "\n"
        "Returns:\n"
        "    (str): Nicname\n"),
    method<"set_nickname", set_nickname, "nickname">(
        "set_nickname($self, nickname)\n--\n\n"
        "Sets the nickname\n"
        "\n"
        "Parameters:\n"
        "    nickname (str): The new nickname"),
    method<"reset_nickname", reset_nickname>(
        "reset_nickname($self)\n--\n\n"
        "Resets the nickname back to empty string"),
    method<"get_status", get_status>(
        "get_status($self)\n--\n\n"
        "Gets the interface status\n"
        "\n"
        "Returns:\n"
        "    (InterfaceStatus): The interface's status"),
    method<"get_eth_config", get_eth_config>(
        "get_eth_config($self)\n--\n\n"
        "Gets currently set ethernet configuration\n"
        "\n"
        "Returns:\n"
        "    (EthInterfaceConfig): Ethernet configuration"),
    method<"set_eth_config", set_eth_config, "config">(
        "set_eth_config($self, config)\n--\n\n"
        "Sets the given ethernet configuration\n"
        "\n"
        "Parameters:\n"
        "    config (EthInterfaceConfig): The new configuration"),
    method<"get_supported_eth_configs", get_supported_eth_configs>(
        "get_supported_eth_configs($self)\n--\n\n"
        "Gets the capabilities of the given interface\n"
        "\n"
        "Returns:\n"
        "    (EthInterfaceConfig): An configuration containing what\n"
        "    this interface is capable of."),
    method<"get_tc10_state", get_tc10_state>(
        "get_tc10_state($self)\n--\n\n"
        "Gets the tc10 state.\n"
        "\n"
        "Raises:\n"
        "    Will raise an ApiNotAvailableInProtocolVersion if the device\n"
        "    firmware does not yet have tc10 support\n"
        "\n"
        "Returns:\n"
        "    (Tc10State): The interface's TC10 state"),
    method<"send_tc10_command", send_tc10_command, "command">(
        "send_tc10_command($self, command)\n--\n\n"
        "Sends the given tc10 command\n"
        "\n"
        "Note:\n"
        "    Will respond with ApiNotAvailableInProtocolVersion if the device\n"
        "    firmware does not yet have tc10 support\n"
        "\n"
        "Parameters:\n"
        "    command (Tc10Command): The TC10 command to send"),
    method<"read_dcq", read_dcq>(
        "read_dcq($self)\n--\n\n"
        "Reads Dynamic Channel Quality\n"
        "\n"
        "Returns:\n"
        "    (DcqReading): A DCQ reading"),
    method<"run_cable_test", run_cable_test>(
        "run_cable_test($self)\n--\n\n"
        "Runst a cable test\n"
        "\n"
        "Returns:\n"
        "    (CableTestResult): A cable test result"),
    method<"get_loopback_state", get_loopback_state>(
        "get_loopback_state($self)\n--\n\n"
        "Gets the current loopback state\n"
        "\n"
        "Returns:\n"
        "    (bool): current loopback state"),
    method<"set_loopback_state", set_loopback_state, "enabled">(
        "set_loopback_state($self, enabled)\n--\n\n"
        "Sets the loopback state\n"
        "\n"
        "Parameters:\n"
        "    enabled (bool): set loopback to enabled/disabled"),
    method<"get_packet_generator_config", get_packet_generator_config>(
        "get_packet_generator_config($self)\n--\n\n"
        "Gets the packet generator config\n"
        "\n"
        "Returns:\n"
        "    (PacketGeneratorConfig): current packet generator config"),
    method<"set_packet_generator_config", set_packet_generator_config, "config">(
        "set_packet_generator_config($self, config)\n--\n\n"
        "Sets the packet generator config\n"
        "\n"
        "Parameters:\n"
        "    config (PacketGeneratorConfi): the new config"),
    {},
};

// No docstring: the class's __doc__ stays None.
ClassSpec interface_class{
    .qualified_name = "brisel_qx_api.Interface",
    .methods = interface_methods,
};

}  // namespace

PyTypeObject* PyClass<Interface>::type() { return class_type<Interface>(interface_class); }

}  // namespace brisel_qx_api
