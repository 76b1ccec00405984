#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {

PendingError PendingError::fetch() {
    PyObject* type = nullptr;
    PyObject* value = nullptr;
    PyObject* traceback = nullptr;
    PyErr_Fetch(&type, &value, &traceback);
    PyErr_NormalizeException(&type, &value, &traceback);
    if (value != nullptr && traceback != nullptr) {
        PyException_SetTraceback(value, traceback);
    }
    PendingError error;
    error.type_ = PyRef::steal(type);
    error.value_ = PyRef::steal(value);
    error.traceback_ = PyRef::steal(traceback);
    return error;
}

void PendingError::restore() && { PyErr_Restore(type_.release(), value_.release(), traceback_.release()); }

void raise_not_instance(PyObject* object, const char* class_name) {
    if (object == Py_None) {
        PyErr_Format(PyExc_TypeError, "'None' is not an instance of '%s'", class_name);
        return;
    }
    PyRef qualname = PyRef::steal(PyObject_GetAttrString(as_object(Py_TYPE(object)), "__qualname__"));
    if (!qualname || !PyUnicode_Check(qualname.get())) {
        // A metaclass can break __qualname__; the refusal must still be a TypeError.
        PyErr_Clear();
        PyErr_Format(PyExc_TypeError, "object is not an instance of '%s'", class_name);
        return;
    }
    PyErr_Format(PyExc_TypeError, "'%U' object is not an instance of '%s'", qualname.get(), class_name);
}

void raise_with_cause(PyObject* type, std::string_view message, PyObject* cause) {
    PyRef text = PyRef::steal(PyUnicode_DecodeUTF8(message.data(), static_cast<Py_ssize_t>(message.size()), "replace"));
    if (!text) {
        return;
    }
    PyRef error = PyRef::steal(PyObject_CallFunctionObjArgs(type, text.get(), nullptr));
    if (!error) {
        return;
    }
    if (cause != nullptr) {
        Py_INCREF(cause);
        PyException_SetCause(error.get(), cause);  // steals
    }
    PyErr_SetObject(type, error.get());
}

void name_argument_in_type_error(const char* parameter) {
    if (!PyErr_Occurred()) {
        return;
    }
    PendingError error = PendingError::fetch();
    // Subclasses of TypeError say something more specific; they pass as raised.
    if (error.type() != PyExc_TypeError) {
        std::move(error).restore();
        return;
    }
    PyRef text = PyRef::steal(PyObject_Str(error.value()));
    if (!text) {
        return;
    }
    PyRef message = PyRef::steal(PyUnicode_FromFormat("argument '%s': %U", parameter, text.get()));
    if (!message) {
        return;
    }
    PyRef replacement = PyRef::steal(PyObject_CallFunctionObjArgs(PyExc_TypeError, message.get(), nullptr));
    if (!replacement) {
        return;
    }
    if (PyObject* cause = PyException_GetCause(error.value())) {
        PyException_SetCause(replacement.get(), cause);  // steals the new reference
    }
    PyErr_SetObject(PyExc_TypeError, replacement.get());
}

}  // namespace brisel_qx_api
