// Raising, inspecting and replacing Python exceptions.
#pragma once

#include <string_view>

#include "brisel_qx_api/src/py_ref.hpp"

namespace brisel_qx_api {

// The pending exception, taken off the thread (normalized) so that it can be
// inspected, wrapped or put back.
class PendingError {
public:
    static PendingError fetch();

    PyObject* type() const { return type_.get(); }
    PyObject* value() const { return value_.get(); }
    // Makes it the pending exception again.
    void restore() &&;

private:
    PyRef type_;
    PyRef value_;
    PyRef traceback_;
};

// TypeError "'int' object is not an instance of 'str'", naming the object's
// type by its qualified name; for None: "'None' is not an instance of 'str'".
void raise_not_instance(PyObject* object, const char* class_name);

// Raises `type(message)` whose __cause__ is `cause` (none when null).
void raise_with_cause(PyObject* type, std::string_view message, PyObject* cause);

// A failed argument conversion: a pending TypeError, of exactly that type, is
// replaced by TypeError "argument '<parameter>': <its text>" carrying its
// cause; any other pending error is left as it is.
void name_argument_in_type_error(const char* parameter);

}  // namespace brisel_qx_api
