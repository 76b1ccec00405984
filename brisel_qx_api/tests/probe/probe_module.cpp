// _qx_probe: an extension for the tests only, built from the module's own
// objects. It reaches without a device what the public classes reach only
// through one: the mapping of every SDK error kind (some of which no device
// can bring about), the argument conversions of the handle methods (text,
// bytes, configurations by attribute), the SDK records as results, and the
// exclusive borrow of a handle-like class while Python runs inside it, and
// the update callbacks' wrapper in a process with no device to update.
#include <string>

#include "brisel_qx_api/src/exceptions.hpp"
#include "brisel_qx_api/src/firmware_callbacks.hpp"
#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/registration.hpp"
#include "brisel_qx_api/src/value_classes.hpp"

namespace brisel_qx_api {

// Stands in for an SDK handle: borrowed exclusively, like the handle classes.
struct ProbeHandle {
    uint64_t calls = 0;
};

template <>
struct PyClass<ProbeHandle> {
    static constexpr const char* name = "Probe";
    static constexpr BorrowKind borrow = BorrowKind::Exclusive;
    static PyTypeObject* type();
};

namespace {

using qx_sdk_client::error::Error;
using qx_sdk_client::error::Result;

// The SDK error of kind number `kind` (declaration order) carrying `text`,
// raised the way every method raises an SDK error.
Result<void> fail_with(uint8_t kind, std::string_view text) {
    if (kind >= Error::kind_count) {
        return std::unexpected(Error(Error::Kind::ApiError, "probe: no such error kind"));
    }
    return std::unexpected(Error(static_cast<Error::Kind>(kind), std::string(text)));
}

std::string echo_text(std::string_view text) { return std::string(text); }

uint64_t byte_count(std::span<const uint8_t> blob) { return blob.size(); }

// The argument conversions of set_eth_config and set_packet_generator_config,
// handed back through the result conversions of the matching getters.
qx_sdk_protocol::types::EthInterfaceConfig extract_eth_config(qx_sdk_protocol::types::EthInterfaceConfig config) {
    return config;
}
std::optional<qx_sdk_protocol::types::PacketGeneratorConfig> extract_packet_generator_config(
    std::optional<qx_sdk_protocol::types::PacketGeneratorConfig> config) {
    return config;
}

// SDK records as the interface methods receive them, turned into objects.
qx_sdk_protocol::types::InterfaceStatus interface_status(qx_sdk_protocol::types::InterfaceType interface_type,
                                                         qx_sdk_protocol::types::EthLinkState link_state,
                                                         qx_sdk_protocol::types::EthRole role,
                                                         qx_sdk_protocol::types::EthLinkSpeed speed) {
    return {interface_type, {link_state, role, speed}};
}
qx_sdk_protocol::types::DcqReading dcq_reading(uint8_t sqi, uint8_t sqi_worst, uint64_t mse, uint64_t mse_worst,
                                               uint8_t peak_mse, uint8_t peak_mse_worst) {
    return {sqi, sqi_worst, static_cast<uint16_t>(mse), static_cast<uint16_t>(mse_worst), peak_mse, peak_mse_worst};
}
qx_sdk_protocol::types::CableTestResult cable_test_result(qx_sdk_protocol::types::CableTestHarnessStatus status,
                                                          uint64_t distance_to_fault) {
    return {status, static_cast<uint32_t>(distance_to_fault)};
}

// One report of each kind to `callbacks`, as a successful update of a
// one-byte image makes them, then what the update call would return.
PyRef update_reports(PyRef callbacks) {
    FirmwareUpdateCallbacksWrapper wrapper(std::move(callbacks));
    wrapper.update_started(1);
    wrapper.report_progress(1);
    wrapper.start_finalizing();
    wrapper.update_finished(qx_sdk_client::device::FirmwareUpdateResult::Success);
    return std::move(wrapper).outcome({});
}

ProbeHandle make_probe() { return {}; }

// Runs `function` while the probe is borrowed, as a callback inside a method.
PyRef probe_call(ProbeHandle& handle, PyRef function) {
    ++handle.calls;
    return PyRef::steal(PyObject_CallNoArgs(function.get()));
}

uint64_t probe_calls(ProbeHandle& handle) { return handle.calls; }

std::string probe_echo(ProbeHandle& handle, std::string_view text) {
    ++handle.calls;
    return std::string(text);
}

PyMethodDef probe_methods[] = {
    method<"call", probe_call, "function">("Calls function() while borrowed."_doc),
    method<"calls", probe_calls>("How many calls reached the C++ side."_doc),
    method<"echo", probe_echo, "text">("Returns text."_doc),
    {},
};

OnceSlot probe_type;

PyMethodDef functions[] = {
    function<"fail_with", fail_with, "kind", "text">(""_doc),
    function<"echo_text", echo_text, "text">(""_doc),
    function<"byte_count", byte_count, "blob">(""_doc),
    function<"extract_eth_config", extract_eth_config, "config">(""_doc),
    function<"extract_packet_generator_config", extract_packet_generator_config, "config">(""_doc),
    function<"interface_status", interface_status, "interface_type", "link_state", "role", "speed">(""_doc),
    function<"dcq_reading", dcq_reading, "sqi", "sqi_worst", "mse", "mse_worst", "peak_mse", "peak_mse_worst">(""_doc),
    function<"cable_test_result", cable_test_result, "harness_status", "distance_to_fault">(""_doc),
    function<"update_reports", update_reports, "callbacks">(""_doc),
};

// The probe's copy of the module's code has classes and exceptions of its own,
// so it offers the whole module too: tests pair its extras with its classes.
int exec_probe(PyObject* module) {
    if (exec_module(module) != 0) {
        return -1;
    }
    PyTypeObject* probe = PyClass<ProbeHandle>::type();
    if (probe == nullptr || !add_to_module(module, "Probe", as_object(probe))) {
        return -1;
    }
    for (PyMethodDef& def : functions) {
        PyRef function = PyRef::steal(PyCFunction_NewEx(&def, module, nullptr));
        if (!function || !add_to_module(module, def.ml_name, function.get())) {
            return -1;
        }
    }
    return 0;
}

PyModuleDef_Slot probe_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_probe)},
    {0, nullptr},
};

PyModuleDef probe_definition = {
    PyModuleDef_HEAD_INIT, "_qx_probe", nullptr, 0, nullptr, probe_slots, nullptr, nullptr, nullptr,
};

}  // namespace

PyTypeObject* PyClass<ProbeHandle>::type() {
    return as_type(probe_type.get([] {
        PyType_Slot slots[] = {
            {Py_tp_methods, probe_methods},
            {Py_tp_new, constructor<make_probe>()},
            {Py_tp_dealloc, reinterpret_cast<void*>(&destroy_instance<ProbeHandle>)},
            {0, nullptr},
        };
        PyType_Spec spec{"_qx_probe.Probe", sizeof(Instance<ProbeHandle>), 0, Py_TPFLAGS_DEFAULT, slots};
        return PyRef::steal(PyType_FromSpec(&spec));
    }));
}

}  // namespace brisel_qx_api

PyMODINIT_FUNC PyInit__qx_probe() { return PyModuleDef_Init(&brisel_qx_api::probe_definition); }
