// brisel_qx_api.Interface: one Ethernet interface of a connected device.
#pragma once

#include "brisel_qx_api/src/instance.hpp"
#include "qx_sdk_client/src/interface.hpp"

namespace brisel_qx_api {

template <>
struct PyClass<qx_sdk_client::interface::Interface> {
    static constexpr const char* name = "Interface";
    static constexpr BorrowKind borrow = BorrowKind::Exclusive;
    static PyTypeObject* type();
};

}  // namespace brisel_qx_api
