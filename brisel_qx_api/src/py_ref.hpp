// An owning reference to a Python object.
#pragma once

#include <utility>

#include "brisel_qx_api/src/python.hpp"

namespace brisel_qx_api {

// Holds one strong reference and drops it when destroyed. Every PyRef is made,
// copied and destroyed with the interpreter lock held.
class PyRef {
public:
    PyRef() = default;

    // Takes over a new reference, as the interpreter's "new reference" calls
    // return it; null stays null (the call failed and set an error).
    static PyRef steal(PyObject* object) { return PyRef(object); }
    // Adds a reference of its own to a borrowed object.
    static PyRef borrow(PyObject* object) {
        Py_XINCREF(object);
        return PyRef(object);
    }

    PyRef(const PyRef& other) : object_(other.object_) { Py_XINCREF(object_); }
    PyRef(PyRef&& other) noexcept : object_(std::exchange(other.object_, nullptr)) {}
    PyRef& operator=(PyRef other) noexcept {
        std::swap(object_, other.object_);
        return *this;
    }
    ~PyRef() { Py_XDECREF(object_); }

    PyObject* get() const { return object_; }
    // Hands the reference to the caller, e.g. as a C function's result.
    PyObject* release() { return std::exchange(object_, nullptr); }
    explicit operator bool() const { return object_ != nullptr; }

private:
    explicit PyRef(PyObject* object) : object_(object) {}
    PyObject* object_ = nullptr;
};

inline PyObject* as_object(PyTypeObject* type) { return reinterpret_cast<PyObject*>(type); }
inline PyTypeObject* as_type(PyObject* object) { return reinterpret_cast<PyTypeObject*>(object); }

}  // namespace brisel_qx_api
