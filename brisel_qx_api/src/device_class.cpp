#include "brisel_qx_api/src/device_class.hpp"

#include <span>
#include <string>
#include <string_view>

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/firmware_callbacks.hpp"
#include "brisel_qx_api/src/interface_class.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/time_conversions.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::device::Device;
using qx_sdk_client::error::Result;

// The image is the bytes object's own buffer; the call's arguments keep it
// alive, and Python cannot change a bytes object meanwhile. The callbacks
// run on this thread while the object stays borrowed. None, or empty with
// the exception set: the update's error, or a Ctrl-C that a callback met.
[[nodiscard]] PyRef update_firmware_from_blob(Device& device, std::span<const uint8_t> blob, PyRef callbacks) {
    FirmwareUpdateCallbacksWrapper wrapper(std::move(callbacks));
    Result<void> update = device.update_firmware_from_blob(blob, wrapper);
    return std::move(wrapper).outcome(std::move(update));
}

[[nodiscard]] PyRef update_firmware_from_path(Device& device, std::string_view path, PyRef callbacks) {
    FirmwareUpdateCallbacksWrapper wrapper(std::move(callbacks));
    Result<void> update = device.update_firmware_from_path(std::string(path), wrapper);
    return std::move(wrapper).outcome(std::move(update));
}

// Each docstring as help() shows it, one source line per line of text.
// clang-format off
PyMethodDef device_methods[] = {
    method<"get_name", &Device::get_name>(
        "Gets device name\n"
        "\n"
        "Returns:\n"
        "    (str): Device name as a string"_doc),
    method<"get_nickname", &Device::get_nickname>(
        "Gets the nickname\n"
        "\n"
        "Returns:\n"
        "    (str): Device nickname\n"
        "\n"
        "Raises:\n"
        "    ApiNotAvailableInProtocolVersion: If the device firmware does not\n"
        "        yet support this api"_doc),
    method<"set_nickname", &Device::set_nickname, "nickname">(
        "Sets the nickname\n"
        "\n"
        "Parameters:\n"
        "    nickname (str): New nickname\n"
        "\n"
        "Raises:\n"
        "    ApiNotAvailableInProtocolVersion: If the device firmware does not\n"
        "        yet support this api"_doc),
    method<"reset_nickname", &Device::reset_nickname>(
        "Resets the nickname (sets it back to empty string).\n"
        "\n"
        "Raises:\n"
        "    ApiNotAvailableInProtocolVersion: If the device firmware does not\n"
        "        yet support this api"_doc),
    // Kept since the device was found, as the EAN is: no exchange, so it
    // answers also when the device is gone; the object's borrow is still
    // taken. Every other method asks the device.
    method<"get_serial_number", &Device::get_serial_number>(
        "Returns the device serial number\n"
        "\n"
        "Returns:\n"
        "    (int): Device serial number as an integer"_doc),
    method<"get_pcb_revision", &Device::get_pcb_revision>(
        "Returns PCB revision\n"
        "\n"
        "Returns:\n"
        "    (str): PCB revision"_doc),
    method<"get_firmware_version", &Device::get_firmware_version>(
        "Returns the firmware version string\n"
        "\n"
        "Returns:\n"
        "    (str): Firmware version"_doc),
    // A signature and no docstring, as shipped: __doc__ is None.
    method<"get_bootloader_version", &Device::get_bootloader_version>(""_doc),
    method<"get_manufacturing_date", &Device::get_manufacturing_date>(
        "Returns the date and time the device was manufactured\n"
        "\n"
        "Returns:\n"
        "    (datetime.datetime): Manufacturing date"_doc),
    method<"get_ean", &Device::get_ean>(  // kept, as the serial number is
        "Returns the EAN\n"
        "\n"
        "Returns:\n"
        "    (int): The EAN (encoded as an integer in hex)"_doc),
    method<"get_firmware_ean", &Device::get_firmware_ean>(
        "Returns the firmware EAN\n"
        "\n"
        "Returns:\n"
        "    (int): The firmware EAN (encoded as an integer in hex)"_doc),
    method<"identify", &Device::identify>(  // "LEDS" as shipped
        "Identifies device, meaning it will flash all LEDS on the device"_doc),
    method<"get_interfaces", &Device::get_interfaces>(
        "Gets the device's interfaces\n"
        "\n"
        "Returns:\n"
        "    ([Interface]): The device's interfaces"_doc),
    // "Params", not "Parameters", in the two update methods: as shipped.
    method<"update_firmware_from_blob", update_firmware_from_blob, "blob", "callbacks">(
        "Update device firmware with a firmware blob in memory\n"
        "\n"
        "Params:\n"
        "    blob (bytes): Firmware blob\n"
        "    callbacks (FirmwareUpdateCallbacks): A callbacks object"_doc),
    method<"update_firmware_from_path", update_firmware_from_path, "path", "callbacks">(
        "Update device firmware with file at the given path\n"
        "\n"
        "Params:\n"
        "    path (str): Firmware file path\n"
        "    callbacks (FirmwareUpdateCallbacks): A callbacks object"_doc),
    {},
};
// clang-format on

ClassDefinition device_class{
    .qualified_name = "brisel_qx_api.Device",
    .doc = "Device class, used for all device operations",
    .methods = device_methods,
};

}  // namespace

PyTypeObject* PyClass<Device>::type() { return class_type<Device>(device_class); }

}  // namespace brisel_qx_api
