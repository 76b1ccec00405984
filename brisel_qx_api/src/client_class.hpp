// brisel_qx_api.Client, which scans for devices, and create_client.
#pragma once

#include "brisel_qx_api/src/instance.hpp"
#include "qx_sdk_client/src/client.hpp"

namespace brisel_qx_api {

template <>
struct PyClass<qx_sdk_client::client::Client> {
    static constexpr const char* name = "Client";
    static constexpr BorrowKind borrow = BorrowKind::Exclusive;
    static PyTypeObject* type();
};

// The description the module makes its create_client function from.
PyMethodDef& create_client_function();

}  // namespace brisel_qx_api
