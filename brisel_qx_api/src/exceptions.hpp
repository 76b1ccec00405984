// The module's five exception types and the one mapping of SDK errors to
// Python exceptions.
#pragma once

#include "brisel_qx_api/src/py_ref.hpp"
#include "qx_sdk_client/src/error.hpp"

namespace brisel_qx_api {

// In the order the module adds them.
enum class ModuleException {
    OperationFailed,
    OperationNotPermitted,
    OperationNotSupportedByDevice,
    OperationNotSupportedByInterface,
    ApiNotAvailableInProtocolVersion,
};
inline constexpr int module_exception_count = 5;

// The exception's short name, e.g. "OperationFailed".
const char* exception_name(ModuleException exception);

// The process-wide type object (borrowed), made on first use; null with a
// Python error set when the interpreter cannot make it.
PyObject* exception_type(ModuleException exception);

// The exception instance that a method raises for an SDK error; it consumes
// the error. Empty only when the interpreter could not allocate the exception,
// with that failure pending.
PyRef client_to_pyerror(qx_sdk_client::error::Error error);

// Sets the exception of client_to_pyerror as the pending Python error.
void raise_client_error(qx_sdk_client::error::Error error);

}  // namespace brisel_qx_api
