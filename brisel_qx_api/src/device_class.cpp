#include "brisel_qx_api/src/device_class.hpp"

#include <chrono>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "brisel_qx_api/src/class_spec.hpp"
#include "brisel_qx_api/src/firmware_callbacks.hpp"
#include "brisel_qx_api/src/interface_class.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/time_conversions.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::device::Device;
using qx_sdk_client::error::Result;
using qx_sdk_client::interface::Interface;

Result<std::string> get_name(Device& device) { return device.get_name(); }
Result<std::string> get_nickname(Device& device) { return device.get_nickname(); }
Result<void> set_nickname(Device& device, std::string_view nickname) { return device.set_nickname(nickname); }
Result<void> reset_nickname(Device& device) { return device.reset_nickname(); }
// Kept since the device was found: no exchange, so they answer also when the
// device is gone; the object's borrow is still taken.
uint64_t get_serial_number(Device& device) { return device.get_serial_number(); }
Result<std::string> get_pcb_revision(Device& device) { return device.get_pcb_revision(); }
Result<std::string> get_firmware_version(Device& device) { return device.get_firmware_version(); }
Result<std::string> get_bootloader_version(Device& device) { return device.get_bootloader_version(); }
Result<std::chrono::sys_seconds> get_manufacturing_date(Device& device) { return device.get_manufacturing_date(); }
uint64_t get_ean(Device& device) { return device.get_ean(); }
Result<uint64_t> get_firmware_ean(Device& device) { return device.get_firmware_ean(); }
Result<void> identify(Device& device) { return device.identify(); }
Result<std::vector<Interface>> get_interfaces(Device& device) { return device.get_interfaces(); }

// The image is the bytes object's own buffer; the call's arguments keep it
// alive, and Python cannot change a bytes object meanwhile. The callbacks
// run on this thread while the object stays borrowed.
Result<void> update_firmware_from_blob(Device& device, std::span<const uint8_t> blob, PyRef callbacks) {
    const FirmwareUpdateCallbacksWrapper wrapper(std::move(callbacks));
    return device.update_firmware_from_blob(blob, wrapper);
}

Result<void> update_firmware_from_path(Device& device, std::string_view path, PyRef callbacks) {
    const FirmwareUpdateCallbacksWrapper wrapper(std::move(callbacks));
    return device.update_firmware_from_path(std::string(path), wrapper);
}

constexpr const char* older_firmware_note =
    "\n"
    "\n"
    "Raises:\n"
    "    ApiNotAvailableInProtocolVersion: If the device firmware does not\n"
    "        yet support this api";

// Three docstrings end with the same note; spelled once.
const std::string get_nickname_doc = std::string(
                                         "get_nickname($self)\n--\n\n"
                                         "Gets the nickname\n"
                                         "\n"
                                         "Returns:\n"
                                         "    (str): Device nickname") +
                                     older_firmware_note;
const std::string set_nickname_doc = std::string(
                                         "set_nickname($self, nickname)\n--\n\n"
                                         "Sets the nickname\n"
                                         "\n"
                                         "Parameters:\n"
                                         "    nickname (str): New nickname") +
                                     older_firmware_note;
const std::string reset_nickname_doc = std::string(
                                           "reset_nickname($self)\n--\n\n"
                                           "Resets the nickname (sets it back to empty string).") +
                                       older_firmware_note;

PyMethodDef device_methods[] = {
    method<"get_name", get_name>(
        "get_name($self)\n--\n\n"
        "Gets device name\n"
        "\n"
        "Returns:\n"
        "    (str): Device name as a string"),
    method<"get_nickname", get_nickname>(get_nickname_doc.c_str()),
    method<"set_nickname", set_nickname, "nickname">(set_nickname_doc.c_str()),
    method<"reset_nickname", reset_nickname>(reset_nickname_doc.c_str()),
    method<"get_serial_number", get_serial_number>(
        "get_serial_number($self)\n--\n\n"
        "Returns the device serial number\n"
        "\n"
        "Returns:\n"
        "    (int): Device serial number as an integer"),
    method<"get_pcb_revision", get_pcb_revision>(
        "get_pcb_revision($self)\n--\n\n"
        "Returns PCB revision\n"
        "\n"
        "Returns:\n"
        "    (str): PCB revision"),
    method<"get_firmware_version", get_firmware_version>(
        "get_firmware_version($self)\n--\n\n"
        "Returns the firmware version string\n"
        "\n"
        "Returns:\n"
        "    (str): Firmware version"),
    // A signature and no docstring: __doc__ is None.
    method<"get_bootloader_version", get_bootloader_version>("get_bootloader_version($self)\n--\n\n"),
    method<"get_manufacturing_date", get_manufacturing_date>(
        "get_manufacturing_date($self)\n--\n\n"
        "Returns the date and time the device was manufactured\n"
        "\n"
        "Returns:\n"
        "    (datetime.datetime): Manufacturing date"),
    method<"get_ean", get_ean>(
        "get_ean($self)\n--\n\n"
        "Returns the EAN\n"
        "\n"
        "Returns:\n"
        "    (int): The EAN (encoded as an integer in hex)"),
    method<"get_firmware_ean", get_firmware_ean>(
        "get_firmware_ean($self)\n--\n\n"
        "Returns the firmware EAN\n"
        "\n"
        "Returns:\n"
        "    (int): The firmware EAN (encoded as an integer in hex)"),
    method<"identify", identify>(
        "identify($self)\n--\n\n"
        "Identifies device, meaning it will flash all LEDS on the device"),
    method<"get_interfaces", get_interfaces>(
        "get_interfaces($self)\n--\n\n"
        "Gets the device's interfaces\n"
        "\n"
        "Returns:\n"
        "    ([Interface]): The device's interfaces"),
    method<"update_firmware_from_blob", update_firmware_from_blob, "blob", "callbacks">(
        "update_firmware_from_blob($self, blob, callbacks)\n--\n\n"
        "Update device firmware with a firmware blob in memory\n"
        "\n"
        "Params:\n"
        "    blob (bytes): Firmware blob\n"
        "    callbacks (FirmwareUpdateCallbacks): A callbacks object"),
    method<"update_firmware_from_path", update_firmware_from_path, "path", "callbacks">(
        "update_firmware_from_path($self, path, callbacks)\n--\n\n"
        "Update device firmware with file at the given path\n"
        "\n"
        "Params:\n"
        "    path (str): Firmware file path\n"
        "    callbacks (FirmwareUpdateCallbacks): A callbacks object"),
    {},
};

ClassSpec device_class{
    .qualified_name = "brisel_qx_api.Device",
    .doc = "Device class, used for all device operations",
    .methods = device_methods,
};

}  // namespace

PyTypeObject* PyClass<Device>::type() { return class_type<Device>(device_class); }

}  // namespace brisel_qx_api
