#include "brisel_qx_api/src/exceptions.hpp"

#include <array>
#include <string>

#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::error::Error;

struct ExceptionSpec {
    const char* name;
    const char* qualified_name;
    const char* doc;
};

// Indexed by ModuleException.
constexpr std::array<ExceptionSpec, module_exception_count> exception_specs{{
    {"OperationFailed", "brisel_qx_api.OperationFailed",
     "OperationFailed is raised when the device was unable to perform the\n"
     "requested operation"},
    {"OperationNotPermitted", "brisel_qx_api.OperationNotPermitted",
     "OperationNotPermitted is raised when the device was unable to perform\n"
     "the requested operation due to lack of permission"},
    // "due hardware" as shipped.
    {"OperationNotSupportedByDevice", "brisel_qx_api.OperationNotSupportedByDevice",
     "OperationNotSupportedByDevice is raised when the device was unable to\n"
     "perform the requested operation due hardware restrictions on this device."},
    {"OperationNotSupportedByInterface", "brisel_qx_api.OperationNotSupportedByInterface",
     "OperationNotSupportedByInterface is raised when an operation was\n"
     "attempted on an interface that does not support it (using TC10-related\n"
     "APIs on a 100/1000BASE-T interface for instance)"},
    {"ApiNotAvailableInProtocolVersion", "brisel_qx_api.ApiNotAvailableInProtocolVersion",
     "ApiNotAvailableInProtocolVersion is raised when attempting to call an\n"
     "API function that is not supported in the firmware currently running on\n"
     "the device, updating should resolve this error."},
}};

std::array<OnceSlot, module_exception_count> exception_slots;

PyRef make_exception_type(const ExceptionSpec& spec) {
    PyRef type = PyRef::steal(PyErr_NewExceptionWithDoc(spec.qualified_name, spec.doc, PyExc_RuntimeError, nullptr));
    if (!type) {
        PendingError failure = PendingError::fetch();
        raise_with_cause(PyExc_RuntimeError, "Failed to initialize new exception type.", failure.value());
    }
    return type;
}

// The kinds that have an exception of the module's own; every other kind is a
// ValueError showing the error's debug text.
struct ErrorRoute {
    Error::Kind kind;
    ModuleException exception;
    const char* message;
};

constexpr std::array<ErrorRoute, 5> error_routes{{
    {Error::Kind::ApiNotAvailableInProtocolVersion, ModuleException::ApiNotAvailableInProtocolVersion,
     "Operation not supported in older firmware"},
    {Error::Kind::RemoteOperationFailed, ModuleException::OperationFailed, "Operation failed"},
    {Error::Kind::RemoteOperationNotPermitted, ModuleException::OperationNotPermitted, "Operation not permitted"},
    {Error::Kind::RemoteOperationNotSupportedByDevice, ModuleException::OperationNotSupportedByDevice,
     "Operation failed"},  // the same text as RemoteOperationFailed, as shipped
    {Error::Kind::RemoteOperationNotSupportedByInterface, ModuleException::OperationNotSupportedByInterface,
     "Operation not supported by interface"},
}};

constexpr std::string_view unmapped_prefix = "Unknown error type ";

}  // namespace

const char* exception_name(ModuleException exception) { return exception_specs[static_cast<size_t>(exception)].name; }

PyObject* exception_type(ModuleException exception) {
    const auto index = static_cast<size_t>(exception);
    return exception_slots[index].get([&] { return make_exception_type(exception_specs[index]); });
}

PyRef client_to_pyerror(Error error) {
    PyObject* type = PyExc_ValueError;
    std::string message;
    for (const ErrorRoute& route : error_routes) {
        if (route.kind == error.kind()) {
            type = exception_type(route.exception);
            if (type == nullptr) {
                return {};
            }
            message = route.message;
            break;
        }
    }
    if (message.empty()) {
        message = unmapped_prefix;
        error.write_debug_text(message);
    }
    // The SDK's texts are UTF-8; should a device ever slip in something else,
    // the message still reaches the script rather than a decoding error.
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) {
        return {};
    }
    return PyRef::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
}

void raise_client_error(Error error) {
    PyRef exception = client_to_pyerror(std::move(error));
    if (exception) {
        PyErr_SetObject(as_object(Py_TYPE(exception.get())), exception.get());
    }
}

}  // namespace brisel_qx_api
