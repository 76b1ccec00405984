// The module's entry: the definition that the interpreter's import machinery
// asks for. Nothing else happens at import than the execution step.
#include "brisel_qx_api/src/python.hpp"
#include "brisel_qx_api/src/registration.hpp"

namespace {

int exec_brisel_qx_api(PyObject* module) { return brisel_qx_api::exec_module(module); }

PyModuleDef_Slot module_slots[] = {
    {Py_mod_exec, reinterpret_cast<void*>(&exec_brisel_qx_api)},
    {0, nullptr},
};

// No per-module state: the types and members are shared by the whole process.
PyModuleDef module_definition = {
    PyModuleDef_HEAD_INIT,
    "brisel_qx_api",
    "QX API for Python module",
    0,
    nullptr,
    module_slots,
    nullptr,
    nullptr,
    nullptr,
};

}  // namespace

PyMODINIT_FUNC PyInit_brisel_qx_api() { return PyModuleDef_Init(&module_definition); }
