// brisel_qx_api.Device: one connected device, as a scan found it.
#pragma once

#include "brisel_qx_api/src/instance.hpp"
#include "qx_sdk_client/src/device.hpp"

namespace brisel_qx_api {

template <>
struct PyClass<qx_sdk_client::device::Device> {
    static constexpr const char* name = "Device";
    static constexpr BorrowKind borrow = BorrowKind::Exclusive;
    static PyTypeObject* type();
};

}  // namespace brisel_qx_api
