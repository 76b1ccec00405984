#include "brisel_qx_api/src/client_class.hpp"

#include <chrono>

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/device_class.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/time_conversions.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::client::Client;

// Every read and write on the connections a scan opens is bounded by this.
constexpr std::chrono::nanoseconds client_timeout = std::chrono::seconds(1) + std::chrono::milliseconds(337);

Client create_client() { return Client(client_timeout); }

// A scan keeps the interpreter lock for its whole length, the wait included:
// Python code of other threads does not run meanwhile.
// clang-format off
PyMethodDef client_methods[] = {
    method<"scan_for_devices", &Client::scan_for_devices>(  // the three-space indent as shipped
        "Scans for devices using DNS-SD\n"
        "\n"
        "Returns:\n"
        "   ([Device]): A list of found devices"_doc),
    // As shipped: "timout", "time.duration" and "[Device]" without parentheses.
    method<"scan_for_devices_with_timeout", &Client::scan_for_devices_with_timeout, "timeout">(
        "Scans for devices using DNS-SD, using the given timout.\n"
        "\n"
        "Parameters:\n"
        "    timeout: A time.duration with how long to wait for DNS-SD to\n"
        "        resolve devices. Default (when using scan_for_devices) is\n"
        "        1000ms, but often 100ms will be sufficient.\n"
        "\n"
        "Returns:\n"
        "    [Device]: A list of found devices"_doc),
    {},
};
// clang-format on

ClassDefinition client_class{
    .qualified_name = "brisel_qx_api.Client",
    .doc = "A client, used for scanning for devices.",
    .methods = client_methods,
};

}  // namespace

PyTypeObject* PyClass<Client>::type() { return class_type<Client>(client_class); }

PyMethodDef& create_client_function() {
    static PyMethodDef def = function<"create_client", create_client>(
        "Creates a client instance.\n"
        "\n"
        "Returns:\n"
        "    (Client): A new client"_doc);
    return def;
}

}  // namespace brisel_qx_api
