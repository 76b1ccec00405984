#include "brisel_qx_api/src/interface_class.hpp"

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/value_classes.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::interface::Interface;

// Each method is the SDK operation of the same name; the template does the
// conversions on both sides.
PyMethodDef interface_methods[] = {
    method<"identify", &Interface::identify>(
        "Identifies interface, meaning it will flash the LED for this\n"
        "interface"_doc),
    method<"get_nickname", &Interface::get_nickname>("Gets the nickname"_doc + returns<"(str): Nicname\n">),
    method<"set_nickname", &Interface::set_nickname, "nickname">(
        "Sets the nickname"_doc + parameters<"nickname (str): The new nickname">),
    method<"reset_nickname", &Interface::reset_nickname>("Resets the nickname back to empty string"_doc),
    method<"get_status", &Interface::get_status>(
        "Gets the interface status"_doc + returns<"(InterfaceStatus): The interface's status">),
    method<"get_eth_config", &Interface::get_eth_config>(
        "Gets currently set ethernet configuration"_doc + returns<"(EthInterfaceConfig): Ethernet configuration">),
    method<"set_eth_config", &Interface::set_eth_config, "config">(
        "Sets the given ethernet configuration"_doc + parameters<"config (EthInterfaceConfig): The new configuration">),
    method<"get_supported_eth_configs", &Interface::get_supported_eth_configs>(
        "Gets the capabilities of the given interface"_doc +
        returns<"(EthInterfaceConfig): An configuration containing what\n"
                "    this interface is capable of.">),
    method<"get_tc10_state", &Interface::get_tc10_state>(
        "Gets the tc10 state."_doc +
        raises<"Will raise an ApiNotAvailableInProtocolVersion if the device\n"
               "    firmware does not yet have tc10 support"> +
        returns<"(Tc10State): The interface's TC10 state">),
    method<"send_tc10_command", &Interface::send_tc10_command, "command">(
        "Sends the given tc10 command"_doc +
        note<"Will respond with ApiNotAvailableInProtocolVersion if the device\n"
             "    firmware does not yet have tc10 support"> +
        parameters<"command (Tc10Command): The TC10 command to send">),
    method<"read_dcq", &Interface::read_dcq>(
        "Reads Dynamic Channel Quality"_doc + returns<"(DcqReading): A DCQ reading">),
    method<"run_cable_test", &Interface::run_cable_test>(
        "Runst a cable test"_doc + returns<"(CableTestResult): A cable test result">),
    method<"get_loopback_state", &Interface::get_loopback_state>(
        "Gets the current loopback state"_doc + returns<"(bool): current loopback state">),
    method<"set_loopback_state", &Interface::set_loopback_state, "enabled">(
        "Sets the loopback state"_doc + parameters<"enabled (bool): set loopback to enabled/disabled">),
    method<"get_packet_generator_config", &Interface::get_packet_generator_config>(
        "Gets the packet generator config"_doc + returns<"(PacketGeneratorConfig): current packet generator config">),
    method<"set_packet_generator_config", &Interface::set_packet_generator_config, "config">(
        "Sets the packet generator config"_doc + parameters<"config (PacketGeneratorConfi): the new config">),
    {},
};

// No docstring: the class's __doc__ stays None.
ClassDefinition interface_class{
    .qualified_name = "brisel_qx_api.Interface",
    .methods = interface_methods,
};

}  // namespace

PyTypeObject* PyClass<Interface>::type() { return class_type<Interface>(interface_class); }

}  // namespace brisel_qx_api
