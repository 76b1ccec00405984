// How a firmware update reports its progress to Python: the subclassable
// no-op base class brisel_qx_api.FirmwareUpdateCallbacks, and the wrapper
// that forwards the SDK's reports to any Python object by method name.
#pragma once

#include "brisel_qx_api/src/instance.hpp"
#include "brisel_qx_api/src/py_ref.hpp"
#include "brisel_qx_api/src/python_errors.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/firmware_update_callbacks.hpp"

namespace brisel_qx_api {

// What a FirmwareUpdateCallbacks object holds: nothing; subclasses keep
// their state in their instance dictionary.
struct FirmwareUpdateCallbacksBase {};

template <>
struct PyClass<FirmwareUpdateCallbacksBase> {
    static constexpr const char* name = "FirmwareUpdateCallbacks";
    static constexpr BorrowKind borrow = BorrowKind::Shared;
    static PyTypeObject* type();
};

// Lives for one update call, on the updating thread, which holds the
// interpreter lock whenever the SDK calls it. Each report calls the Python
// method of the same name with positional arguments; whatever goes wrong
// (a missing method, an exception in it) is printed to standard output and
// dropped, so the update goes on and nothing stays pending. A
// KeyboardInterrupt is printed too, but kept for the update call to raise:
// Ctrl-C most often lands in a callback, and the script must still see it.
class FirmwareUpdateCallbacksWrapper final : public qx_sdk_client::device::FirmwareUpdateCallbacks {
public:
    explicit FirmwareUpdateCallbacksWrapper(PyRef callbacks_object) : callbacks(std::move(callbacks_object)) {}

    void update_started(uint64_t total_size) const override;
    void report_progress(uint64_t acknowledged_bytes) const override;
    void update_finished(qx_sdk_client::device::FirmwareUpdateResult result) const override;
    void start_finalizing() const override;

    // What the update call returns once the update is over: None, or empty
    // with the exception set. A kept KeyboardInterrupt (the first, if several
    // came) wins over the update's own error, which becomes its __context__,
    // ahead of any context the interrupt had.
    [[nodiscard]] PyRef outcome(qx_sdk_client::error::Result<void> update) &&;

    PyRef callbacks;

private:
    mutable PendingError interrupt_;
};

}  // namespace brisel_qx_api
