// Conversions between Python objects and the C++ values that methods take and
// return. One specialisation per C++ type:
//   FromPython<T>::convert(PyObject*) -> std::optional<T>; empty with a Python
//     error set when the object is refused.
//   ToPython<T>::convert(value) -> PyRef; a new reference, or empty with a
//     Python error set.
// The method template picks them by the parameter and result types of the
// C++ function it wraps.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <tuple>
#include <utility>
#include <vector>

#include "brisel_qx_api/src/instance.hpp"
#include "brisel_qx_api/src/py_ref.hpp"

namespace brisel_qx_api {

template <class T>
struct FromPython;
template <class T>
struct ToPython;

// An integer that does not fit its C++ type. The text scripts have always seen
// for this, worded as no Python error is.
inline constexpr const char* out_of_range_text = "out of range integral type conversion attempted";

// A str (or subclass) as its UTF-8 text, valid while the str lives; the call's
// arguments keep it alive for the whole call.
template <>
struct FromPython<std::string_view> {
    static std::optional<std::string_view> convert(PyObject* object);
};

// True or False; also a NumPy boolean scalar, through its __bool__. An int is
// refused: 1 is not a boolean.
template <>
struct FromPython<bool> {
    static std::optional<bool> convert(PyObject* object);
};

// An int, or an object with __index__, in 0..255.
template <>
struct FromPython<uint8_t> {
    static std::optional<uint8_t> convert(PyObject* object);
};

// An int (or subclass), or an object with __index__, in 0..2^64-1.
template <>
struct FromPython<uint64_t> {
    static std::optional<uint64_t> convert(PyObject* object);
};

// A bytes object (or subclass), read in place for the duration of the call.
template <>
struct FromPython<std::span<const uint8_t>> {
    static std::optional<std::span<const uint8_t>> convert(PyObject* object);
};

// Any object at all, held by a strong reference.
template <>
struct FromPython<PyRef> {
    static std::optional<PyRef> convert(PyObject* object) { return PyRef::borrow(object); }
};

template <>
struct ToPython<bool> {
    static PyRef convert(bool value) { return PyRef::borrow(value ? Py_True : Py_False); }
};

template <class T>
    requires std::same_as<T, uint8_t> || std::same_as<T, uint16_t> || std::same_as<T, uint32_t> ||
             std::same_as<T, uint64_t>
struct ToPython<T> {
    static PyRef convert(T value) { return PyRef::steal(PyLong_FromUnsignedLongLong(value)); }
};

template <>
struct ToPython<std::string> {
    static PyRef convert(const std::string& text) {
        return PyRef::steal(PyUnicode_FromStringAndSize(text.data(), static_cast<Py_ssize_t>(text.size())));
    }
};

// A result that is already a Python object (empty: its error is pending).
template <>
struct ToPython<PyRef> {
    static PyRef convert(PyRef object) { return object; }
};

// A new object of the module class that holds T.
template <ModuleClass T>
struct ToPython<T> {
    template <class U>
    static PyRef convert(U&& value) {
        return new_instance<T>(std::forward<U>(value));
    }
};

// A list of new objects, one per value, in order (handles are moved in).
template <class T>
struct ToPython<std::vector<T>> {
    template <class Values>
    static PyRef convert(Values&& values) {
        PyRef list = PyRef::steal(PyList_New(static_cast<Py_ssize_t>(values.size())));
        if (!list) {
            return {};
        }
        Py_ssize_t index = 0;
        for (auto&& value : values) {
            PyRef item;
            if constexpr (std::is_rvalue_reference_v<Values&&>) {
                item = ToPython<T>::convert(std::move(value));
            } else {
                item = ToPython<T>::convert(value);
            }
            if (!item) {
                return {};
            }
            PyList_SetItem(list.get(), index++, item.release());  // steals
        }
        return list;
    }
};

template <class... Ts>
struct ToPython<std::tuple<Ts...>> {
    static PyRef convert(const std::tuple<Ts...>& values) {
        PyRef tuple = PyRef::steal(PyTuple_New(sizeof...(Ts)));
        if (!tuple) {
            return {};
        }
        bool ok = true;
        Py_ssize_t index = 0;
        std::apply(
            [&](const auto&... value) {
                ((ok = ok &&
                       set_item(tuple.get(), index++, ToPython<std::remove_cvref_t<decltype(value)>>::convert(value))),
                 ...);
            },
            values);
        return ok ? tuple : PyRef();
    }

private:
    static bool set_item(PyObject* tuple, Py_ssize_t index, PyRef item) {
        if (!item) {
            return false;
        }
        PyTuple_SetItem(tuple, index, item.release());  // steals
        return true;
    }
};

}  // namespace brisel_qx_api
