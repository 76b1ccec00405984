// The memory layout of the module's objects and the per-class description
// that the method template relies on.
#pragma once

#include <concepts>
#include <new>
#include <utility>

#include "brisel_qx_api/src/borrow.hpp"
#include "brisel_qx_api/src/py_ref.hpp"

namespace brisel_qx_api {

// Every object of a module class: the interpreter's header, the borrow flag,
// then the C++ value the object stands for.
template <class T>
struct Instance {
    PyObject header;
    BorrowFlag borrow;
    T value;
};

// One specialisation per class whose objects hold a T:
//   static constexpr const char* name;    short class name ("Interface")
//   static constexpr BorrowKind borrow;   how its methods borrow the object
//   static PyTypeObject* type();          process-wide class (borrowed), made
//                                         on first use; null + Python error
template <class T>
struct PyClass;

template <class T>
concept ModuleClass = requires {
    { PyClass<T>::name } -> std::convertible_to<const char*>;
    { PyClass<T>::type() } -> std::same_as<PyTypeObject*>;
};

template <class T>
Instance<T>* instance_of(PyObject* object) {
    return reinterpret_cast<Instance<T>*>(object);
}

// A new object of `type` (the class of T or, for a subclassable class, a
// subclass) holding `value`. Empty with a Python error when allocation fails.
template <class T, class U>
PyRef new_instance_of(PyTypeObject* type, U&& value) {
    auto alloc = reinterpret_cast<allocfunc>(PyType_GetSlot(type, Py_tp_alloc));
    PyObject* object = alloc(type, 0);
    if (object == nullptr) {
        return {};
    }
    Instance<T>* instance = instance_of<T>(object);
    new (&instance->borrow) BorrowFlag();
    try {
        new (&instance->value) T(std::forward<U>(value));
    } catch (...) {
        // No value to destroy yet: free the bare object and drop the type
        // reference that allocation took.
        auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
        free(object);
        Py_DECREF(as_object(type));
        throw;
    }
    return PyRef::steal(object);
}

template <ModuleClass T, class U>
PyRef new_instance(U&& value) {
    PyTypeObject* type = PyClass<T>::type();
    if (type == nullptr) {
        return {};
    }
    return new_instance_of<T>(type, std::forward<U>(value));
}

// tp_dealloc of a class whose objects hold a T. Heap types own a reference to
// their type from each instance, which goes with the instance.
template <class T>
void destroy_instance(PyObject* object) {
    PyTypeObject* type = Py_TYPE(object);
    instance_of<T>(object)->value.~T();
    auto free = reinterpret_cast<freefunc>(PyType_GetSlot(type, Py_tp_free));
    free(object);
    Py_DECREF(as_object(type));
}

// Flags of a class that Python may not call: calling it raises TypeError
// "cannot create 'brisel_qx_api.<Class>' instances", with the name the class
// was made from, and the class gets no __new__ of its own.
inline constexpr unsigned int not_constructible_flags = Py_TPFLAGS_DEFAULT | Py_TPFLAGS_DISALLOW_INSTANTIATION;

}  // namespace brisel_qx_api
