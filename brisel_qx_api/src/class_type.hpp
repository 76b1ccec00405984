// What sets one class of the module apart, and the class object made from it.
#pragma once

#include <array>
#include <cstddef>

#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/instance.hpp"

namespace brisel_qx_api {

// The class goes without whatever is left null.
struct ClassDefinition {
    const char* qualified_name;  // "brisel_qx_api.<Class>"
    const char* doc = nullptr;   // null: __doc__ is None
    PyMethodDef* methods = nullptr;
    PyGetSetDef* attributes = nullptr;
    void* construct = nullptr;  // tp_new; null: Python may not call the class
    bool subclassable = false;
    OnceSlot type{};  // the process-wide class, made on first use
};

// The class (borrowed) whose objects hold a T; null with a Python error set
// if it cannot be made.
template <class T>
PyTypeObject* class_type(ClassDefinition& definition) {
    return as_type(definition.type.get([&] {
        std::array<PyType_Slot, 6> slots{};  // the unused rest ends the list
        size_t used = 0;
        auto add = [&](int slot, void* value) {
            if (value != nullptr) {
                slots[used++] = {slot, value};
            }
        };
        add(Py_tp_doc, const_cast<char*>(definition.doc));
        add(Py_tp_methods, definition.methods);
        add(Py_tp_getset, definition.attributes);
        add(Py_tp_new, definition.construct);
        add(Py_tp_dealloc, reinterpret_cast<void*>(&destroy_instance<T>));
        unsigned int flags = definition.construct != nullptr ? Py_TPFLAGS_DEFAULT : not_constructible_flags;
        if (definition.subclassable) {
            flags |= Py_TPFLAGS_BASETYPE;
        }
        PyType_Spec type_spec{definition.qualified_name, sizeof(Instance<T>), 0, flags, slots.data()};
        return PyRef::steal(PyType_FromSpec(&type_spec));
    }));
}

}  // namespace brisel_qx_api
