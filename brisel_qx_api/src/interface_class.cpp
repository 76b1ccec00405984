#include "brisel_qx_api/src/interface_class.hpp"

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/value_classes.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::interface::Interface;

// Each method is the SDK operation of the same name; the template does the
// conversions on both sides. Each docstring as help() shows it, one source
// line per line of text.
// clang-format off
PyMethodDef interface_methods[] = {
    method<"identify", &Interface::identify>(
        "Identifies interface, meaning it will flash the LED for this\n"
        "interface"_doc),
    method<"get_nickname", &Interface::get_nickname>(  // "Nicname" and the final line break as shipped
        "Gets the nickname\n"
        "\n"
        "Returns:\n"
        "    (str): Nicname\n"_doc),
    method<"set_nickname", &Interface::set_nickname, "nickname">(
        "Sets the nickname\n"
        "\n"
        "Parameters:\n"
        "    nickname (str): The new nickname"_doc),
    method<"reset_nickname", &Interface::reset_nickname>(
        "Resets the nickname back to empty string"_doc),
    method<"get_status", &Interface::get_status>(
        "Gets the interface status\n"
        "\n"
        "Returns:\n"
        "    (InterfaceStatus): The interface's status"_doc),
    method<"get_eth_config", &Interface::get_eth_config>(
        "Gets currently set ethernet configuration\n"
        "\n"
        "Returns:\n"
        "    (EthInterfaceConfig): Ethernet configuration"_doc),
    method<"set_eth_config", &Interface::set_eth_config, "config">(
        "Sets the given ethernet configuration\n"
        "\n"
        "Parameters:\n"
        "    config (EthInterfaceConfig): The new configuration"_doc),
    method<"get_supported_eth_configs", &Interface::get_supported_eth_configs>(  // "An configuration" as shipped
        "Gets the capabilities of the given interface\n"
        "\n"
        "Returns:\n"
        "    (EthInterfaceConfig): An configuration containing what\n"
        "    this interface is capable of."_doc),
    method<"get_tc10_state", &Interface::get_tc10_state>(
        "Gets the tc10 state.\n"
        "\n"
        "Raises:\n"
        "    Will raise an ApiNotAvailableInProtocolVersion if the device\n"
        "    firmware does not yet have tc10 support\n"
        "\n"
        "Returns:\n"
        "    (Tc10State): The interface's TC10 state"_doc),
    method<"send_tc10_command", &Interface::send_tc10_command, "command">(
        "Sends the given tc10 command\n"
        "\n"
        "Note:\n"
        "    Will respond with ApiNotAvailableInProtocolVersion if the device\n"
        "    firmware does not yet have tc10 support\n"
        "\n"
        "Parameters:\n"
        "    command (Tc10Command): The TC10 command to send"_doc),
    method<"read_dcq", &Interface::read_dcq>(
        "Reads Dynamic Channel Quality\n"
        "\n"
        "Returns:\n"
        "    (DcqReading): A DCQ reading"_doc),
    method<"run_cable_test", &Interface::run_cable_test>(  // "Runst" as shipped
        "Runst a cable test\n"
        "\n"
        "Returns:\n"
        "    (CableTestResult): A cable test result"_doc),
    method<"get_loopback_state", &Interface::get_loopback_state>(
        "Gets the current loopback state\n"
        "\n"
        "Returns:\n"
        "    (bool): current loopback state"_doc),
    method<"set_loopback_state", &Interface::set_loopback_state, "enabled">(
        "Sets the loopback state\n"
        "\n"
        "Parameters:\n"
        "    enabled (bool): set loopback to enabled/disabled"_doc),
    method<"get_packet_generator_config", &Interface::get_packet_generator_config>(
        "Gets the packet generator config\n"
        "\n"
        "Returns:\n"
        "    (PacketGeneratorConfig): current packet generator config"_doc),
    method<"set_packet_generator_config", &Interface::set_packet_generator_config, "config">(  // "Confi" as shipped
        "Sets the packet generator config\n"
        "\n"
        "Parameters:\n"
        "    config (PacketGeneratorConfi): the new config"_doc),
    {},
};
// clang-format on

// No docstring: the class's __doc__ stays None.
ClassDefinition interface_class{
    .qualified_name = "brisel_qx_api.Interface",
    .methods = interface_methods,
};

}  // namespace

PyTypeObject* PyClass<Interface>::type() { return class_type<Interface>(interface_class); }

}  // namespace brisel_qx_api
