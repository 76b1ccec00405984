// The one way our sources reach the interpreter's API: the stable ABI only
// (Py_LIMITED_API comes from the build), sizes as Py_ssize_t.
#pragma once

#define PY_SSIZE_T_CLEAN
#include <Python.h>

#ifndef Py_LIMITED_API
#error "brisel_qx_api is built against the stable ABI only"
#endif
