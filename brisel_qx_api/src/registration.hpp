// The module's execution step: what a new module object is filled with.
#pragma once

#include "brisel_qx_api/src/python.hpp"

namespace brisel_qx_api {

// Adds the exceptions, classes and functions to `module`, each under its name
// and listed in __all__, in a fixed order. 0, or -1 with the Python error of
// the first addition that failed.
int exec_module(PyObject* module) noexcept;

// Lists `name` in the module's __all__ (made on first use) and sets it as a
// module attribute. False with an error set; a non-list __all__ is a TypeError.
bool add_to_module(PyObject* module, const char* name, PyObject* object);

}  // namespace brisel_qx_api
