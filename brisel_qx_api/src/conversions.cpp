#include "brisel_qx_api/src/conversions.hpp"

#include <cstring>

#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {
namespace {

bool attribute_is(PyObject* object, const char* attribute, std::initializer_list<const char*> texts) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(object, attribute));
    if (!value) {
        PyErr_Clear();
        return false;
    }
    for (const char* text : texts) {
        if (PyUnicode_Check(value.get()) && PyUnicode_CompareWithASCIIString(value.get(), text) == 0) {
            return true;
        }
    }
    return false;
}

// NumPy's boolean scalar, recognised by name so that NumPy need not be loaded.
bool is_numpy_bool(PyObject* object) {
    PyObject* type = as_object(Py_TYPE(object));
    return attribute_is(type, "__module__", {"numpy"}) && attribute_is(type, "__name__", {"bool_", "bool"});
}

}  // namespace

std::optional<std::string_view> FromPython<std::string_view>::convert(PyObject* object) {
    if (!PyUnicode_Check(object)) {
        raise_not_instance(object, "str");
        return std::nullopt;
    }
    Py_ssize_t size = 0;
    const char* text = PyUnicode_AsUTF8AndSize(object, &size);
    if (text == nullptr) {
        return std::nullopt;  // a lone surrogate: the interpreter's UnicodeEncodeError
    }
    return std::string_view(text, static_cast<size_t>(size));
}

std::optional<bool> FromPython<bool>::convert(PyObject* object) {
    if (object == Py_True) {
        return true;
    }
    if (object == Py_False) {
        return false;
    }
    if (is_numpy_bool(object)) {
        const int truth = PyObject_IsTrue(object);
        if (truth < 0) {
            return std::nullopt;
        }
        return truth == 1;
    }
    raise_not_instance(object, "bool");
    return std::nullopt;
}

std::optional<uint8_t> FromPython<uint8_t>::convert(PyObject* object) {
    PyRef number = PyRef::steal(PyNumber_Index(object));
    if (!number) {
        return std::nullopt;
    }
    const long long value = PyLong_AsLongLong(number.get());
    if (value == -1 && PyErr_Occurred()) {
        return std::nullopt;  // beyond 64 bits: the interpreter's OverflowError
    }
    if (value < 0 || value > UINT8_MAX) {
        PyErr_SetString(PyExc_OverflowError, out_of_range_text);
        return std::nullopt;
    }
    return static_cast<uint8_t>(value);
}

std::optional<uint64_t> FromPython<uint64_t>::convert(PyObject* object) {
    PyRef number;
    if (!PyLong_Check(object)) {
        number = PyRef::steal(PyNumber_Index(object));
        if (!number) {
            return std::nullopt;
        }
        object = number.get();
    }
    const unsigned long long value = PyLong_AsUnsignedLongLong(object);
    if (value == static_cast<unsigned long long>(-1) && PyErr_Occurred()) {
        return std::nullopt;
    }
    return static_cast<uint64_t>(value);
}

std::optional<std::span<const uint8_t>> FromPython<std::span<const uint8_t>>::convert(PyObject* object) {
    if (!PyBytes_Check(object)) {
        raise_not_instance(object, "bytes");
        return std::nullopt;
    }
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (PyBytes_AsStringAndSize(object, &data, &size) != 0) {
        return std::nullopt;
    }
    return std::span<const uint8_t>(reinterpret_cast<const uint8_t*>(data), static_cast<size_t>(size));
}

}  // namespace brisel_qx_api
