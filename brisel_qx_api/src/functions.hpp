// The module-level functions.
#pragma once

#include "brisel_qx_api/src/python.hpp"

namespace brisel_qx_api {

// Descriptions from which the module makes its function objects; they live
// for the whole process, as the function objects point into them.
PyMethodDef& get_api_version_function();
PyMethodDef& get_api_version_string_function();
PyMethodDef& format_ean_function();

}  // namespace brisel_qx_api
