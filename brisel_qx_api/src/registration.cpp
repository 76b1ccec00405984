#include "brisel_qx_api/src/registration.hpp"

#include <array>

#include "brisel_qx_api/src/client_class.hpp"
#include "brisel_qx_api/src/device_class.hpp"
#include "brisel_qx_api/src/enums.hpp"
#include "brisel_qx_api/src/exceptions.hpp"
#include "brisel_qx_api/src/firmware_callbacks.hpp"
#include "brisel_qx_api/src/functions.hpp"
#include "brisel_qx_api/src/interface_class.hpp"
#include "brisel_qx_api/src/lock_wait.hpp"
#include "brisel_qx_api/src/value_classes.hpp"

namespace brisel_qx_api {
namespace {

namespace types = qx_sdk_protocol::types;

// One addition to the module. Exceptions and classes are process-wide objects,
// made on first use and shared by every module object; functions are made
// anew for each module object from their process-wide descriptions.
struct Registration {
    enum class Kind { Object, Function };

    Kind kind;
    const char* name;
    PyObject* (*object)();       // Object: borrowed, null with an error on failure
    PyMethodDef& (*function)();  // Function

    static constexpr Registration of(const char* name, PyObject* (*object)()) {
        return {Kind::Object, name, object, nullptr};
    }
    static constexpr Registration of(const char* name, PyMethodDef& (*function)()) {
        return {Kind::Function, name, nullptr, function};
    }
};

template <ModuleException E>
PyObject* exception_object() {
    return exception_type(E);
}
template <EnumId Id>
PyObject* enum_object() {
    return as_object(enum_class(Id));
}
template <class T>
PyObject* class_object() {
    return as_object(PyClass<T>::type());
}

using E = ModuleException;

constexpr std::array registrations{
    Registration::of("OperationFailed", exception_object<E::OperationFailed>),
    Registration::of("OperationNotPermitted", exception_object<E::OperationNotPermitted>),
    Registration::of("OperationNotSupportedByDevice", exception_object<E::OperationNotSupportedByDevice>),
    Registration::of("OperationNotSupportedByInterface", exception_object<E::OperationNotSupportedByInterface>),
    Registration::of("ApiNotAvailableInProtocolVersion", exception_object<E::ApiNotAvailableInProtocolVersion>),
    Registration::of("Client", class_object<qx_sdk_client::client::Client>),
    Registration::of("Device", class_object<qx_sdk_client::device::Device>),
    Registration::of("FirmwareUpdateCallbacks", class_object<FirmwareUpdateCallbacksBase>),
    Registration::of("FirmwareUpdateResult", enum_object<EnumId::FirmwareUpdateResult>),
    Registration::of("Interface", class_object<qx_sdk_client::interface::Interface>),
    Registration::of("InterfaceType", enum_object<EnumId::InterfaceType>),
    Registration::of("EthLinkState", enum_object<EnumId::EthLinkState>),
    Registration::of("EthRole", enum_object<EnumId::EthRole>),
    Registration::of("EthLinkSpeed", enum_object<EnumId::EthLinkSpeed>),
    Registration::of("EthAnegMode", enum_object<EnumId::EthAnegMode>),
    Registration::of("InterfaceStatus", class_object<types::InterfaceStatus>),
    Registration::of("EthInterfaceStatus", class_object<types::EthInterfaceStatus>),
    Registration::of("EthInterfaceConfig", class_object<types::EthInterfaceConfig>),
    Registration::of("Tc10Command", enum_object<EnumId::Tc10Command>),
    Registration::of("Tc10State", enum_object<EnumId::Tc10State>),
    Registration::of("DcqReading", class_object<types::DcqReading>),
    Registration::of("CableTestHarnessStatus", enum_object<EnumId::CableTestHarnessStatus>),
    Registration::of("CableTestResult", class_object<types::CableTestResult>),
    Registration::of("PgPayloadSize", enum_object<EnumId::PgPayloadSize>),
    Registration::of("PgPayloadType", enum_object<EnumId::PgPayloadType>),
    Registration::of("PgPacketValidity", enum_object<EnumId::PgPacketValidity>),
    Registration::of("PacketGeneratorConfig", class_object<PacketGeneratorSettings>),
    Registration::of("get_api_version", get_api_version_function),
    Registration::of("get_api_version_string", get_api_version_string_function),
    Registration::of("format_ean", format_ean_function),
    Registration::of("create_client", create_client_function),
};
static_assert(registrations.size() == 31);

bool add(PyObject* module, const Registration& registration) {
    switch (registration.kind) {
        case Registration::Kind::Object: {
            PyObject* object = registration.object();
            return object != nullptr && add_to_module(module, registration.name, object);
        }
        case Registration::Kind::Function: {
            PyRef module_name = PyRef::steal(PyModule_GetNameObject(module));
            if (!module_name) {
                return false;
            }
            PyRef function = PyRef::steal(PyCFunction_NewEx(&registration.function(), module, module_name.get()));
            return function && add_to_module(module, registration.name, function.get());
        }
    }
    return false;
}

}  // namespace

bool add_to_module(PyObject* module, const char* name, PyObject* object) {
    PyRef all = PyRef::steal(PyObject_GetAttrString(module, "__all__"));
    if (!all) {
        if (!PyErr_ExceptionMatches(PyExc_AttributeError)) {
            return false;
        }
        PyErr_Clear();
        all = PyRef::steal(PyList_New(0));
        if (!all || PyObject_SetAttrString(module, "__all__", all.get()) != 0) {
            return false;
        }
    } else if (!PyList_Check(all.get())) {
        PyErr_SetString(PyExc_TypeError, "`__all__` must be a list");
        return false;
    }
    PyRef name_object = PyRef::steal(PyUnicode_InternFromString(name));
    return name_object && PyList_Append(all.get(), name_object.get()) == 0 &&
           PyObject_SetAttr(module, name_object.get(), object) == 0;
}

int exec_module(PyObject* module) noexcept {
    install_lock_wait_hook();
    for (const Registration& registration : registrations) {
        if (!add(module, registration)) {
            return -1;
        }
    }
    return 0;
}

}  // namespace brisel_qx_api
