#include "brisel_qx_api/src/firmware_callbacks.hpp"

#include <optional>
#include <string>

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/enums.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/python_errors.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/stdout_line.hpp"

namespace brisel_qx_api {
namespace {

using qx_sdk_client::device::FirmwareUpdateResult;

// ---- the base class --------------------------------------------------------

FirmwareUpdateCallbacksBase make_callbacks() { return {}; }

// The base class reports nothing; subclasses override what they need.
void ignore_update_started(FirmwareUpdateCallbacksBase&, uint64_t) {}
void ignore_report_progress(FirmwareUpdateCallbacksBase&, uint64_t) {}
void ignore_start_finalizing(FirmwareUpdateCallbacksBase&) {}
void ignore_update_finished(FirmwareUpdateCallbacksBase&, FirmwareUpdateResult) {}

PyMethodDef callbacks_methods[] = {
    method<"update_started", ignore_update_started, "_total_bytes">(
        "Called when the update starts"_doc +
        parameters<"total_bytes (int): Total number of bytes that will get transferred">),
    method<"report_progress", ignore_report_progress, "_total_transferred_bytes">(
        "Called for every chunk of bytes that get transferred over to the device"_doc +
        parameters<"total_transferred_bytes (int): Total number of bytes transferred\n"
                   "    up to this point">),
    method<"start_finalizing", ignore_start_finalizing>(
        "Called after transfer has completed and device starts validating the\n"
        "new firmware and writing it to flash."_doc),
    method<"update_finished", ignore_update_finished, "_update_result">(
        "Called when update has completed"_doc +
        parameters<"update_result (FirmwareUpdateResult): The result of the update">),
    {},
};

constexpr const char* callbacks_doc =
    "FirmwareUpdateCallbacks()\n--\n\n"
    "The FirmwareUpdateCallbacks is a base class to let user\n"
    "of update_firmware_from_blob or update_firmware_from_path track\n"
    "progress during the update.\n"
    "\n"
    "Example:\n"
    "    Example subclassing FirmwareUpdateCallbacks\n"
    "\n"
    "        class PrintfCallbacks(FirmwareUpdateCallbacks):\n"
    "            total_bytes = 0\n"
    "\n"
    "            def update_started(self, total_bytes):\n"
    "                self.total_bytes = total_bytes\n"
    "                print(f'Starting update with {total_bytes} bytes')\n"
    "\n"
    "            def report_progress(self, total_transferred_bytes):\n"
    "                percent = (\n"
    "                    100.0 * total_transferred_bytes / self.total_bytes\n"
    "                    if self.total_bytes != 0\n"
    "                    else 0\n"
    "                )\n"
    "                print(f'Sent {total_transfer_bytes} bytes [{percent}%]')\n"
    "\n"
    "            def start_finalizing(self):\n"
    "                print('Upload done, now finalizing...')\n"
    "                print('Do not unplug the device!')\n"
    "\n"
    "            def update_finished(self, update_result):\n"
    "                match update_result:\n"
    "                case qx_api.FirmwareUpdateResult.Success:\n"
    "                    print('Update success!')\n"
    "                case _:\n"
    "                    print('Update failed')\n"
    "\n"
    "        callbacks = PrintfCallbacks()\n"
    "        device.update_firmware_from_path(\n"
    "            '/some/path/to/firmware.img', callbacks\n"
    "        )";

ClassDefinition callbacks_class{
    .qualified_name = "brisel_qx_api.FirmwareUpdateCallbacks",
    .doc = callbacks_doc,
    .methods = callbacks_methods,
    .construct = constructor<make_callbacks>(),
    .subclassable = true,
};

// ---- reporting a failed callback -----------------------------------------

// A str as UTF-8; what has no UTF-8 form (surrogates from a file name) is
// escaped rather than lost.
std::optional<std::string> utf8_text(PyObject* text) {
    PyRef encoded = text ? PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace")) : PyRef();
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!encoded || PyBytes_AsStringAndSize(encoded.get(), &data, &size) != 0) {
        PyErr_Clear();
        return std::nullopt;
    }
    return std::string(data, static_cast<size_t>(size));
}

// repr(object); a repr that fails itself is no reason to lose the line.
std::string repr_text(PyObject* object) {
    PyRef repr = PyRef::steal(PyObject_Repr(object));
    PyErr_Clear();
    return utf8_text(repr.get()).value_or("<unprintable object>");
}

// The traceback exactly as the interpreter prints one, header line included.
std::optional<std::string> traceback_text(PyObject* traceback) {
    PyRef io = PyRef::steal(PyImport_ImportModule("io"));
    PyRef sink = io ? PyRef::steal(PyObject_CallMethod(io.get(), "StringIO", nullptr)) : PyRef();
    if (!sink || PyTraceBack_Print(traceback, sink.get()) != 0) {
        PyErr_Clear();
        return std::nullopt;
    }
    PyRef printed = PyRef::steal(PyObject_CallMethod(sink.get(), "getvalue", nullptr));
    PyErr_Clear();
    return utf8_text(printed.get());
}

// PyErr { type: <class 'E'>, value: E('...'), traceback: None | Some("...") }
std::string render(const PendingError& error) {
    std::string line = "PyErr { type: ";
    line += repr_text(error.type());
    line += ", value: ";
    line += repr_text(error.value());
    line += ", traceback: ";
    PyRef traceback = PyRef::steal(PyException_GetTraceback(error.value()));
    std::optional<std::string> printed = traceback ? traceback_text(traceback.get()) : std::nullopt;
    if (printed) {
        line += "Some(";
        qx_sdk_client::error::write_quoted(line, *printed);
        line += ')';
    } else {
        line += "None";
    }
    line += " }";
    return line;
}

// Takes the pending exception off the thread and prints it; the update
// that called the callback never sees it.
void report_failed_callback() {
    PendingError error = PendingError::fetch();
    if (error.value() == nullptr) {
        return;
    }
    std::string line = "Failed to call python function with error ";
    line += render(error);
    PyErr_Clear();  // anything rendering left behind goes too
    qx_sdk_client::util::print_stdout_line(line);
}

// callbacks.<name>(argument), or callbacks.<name>() for a null argument:
// ordinary attribute lookup, so an instance attribute, an override or the
// base class's method is found; what it returns is dropped unread.
void call_method(PyObject* callbacks, const char* name, PyObject* argument) {
    PyRef bound = PyRef::steal(PyObject_GetAttrString(callbacks, name));
    if (!bound) {
        report_failed_callback();
        return;
    }
    PyRef returned = argument != nullptr
                         ? PyRef::steal(PyObject_CallFunctionObjArgs(bound.get(), argument, nullptr))
                         : PyRef::steal(PyObject_CallNoArgs(bound.get()));
    if (!returned) {
        report_failed_callback();
    }
}

// As call_method with a freshly made argument; empty means making it failed.
void call_method_with(PyObject* callbacks, const char* name, PyRef argument) {
    if (!argument) {
        report_failed_callback();
        return;
    }
    call_method(callbacks, name, argument.get());
}

// The SDK's callbacks interface must not throw: a C++ exception leaving a
// report would abandon the update with the connection's lock marked broken.
// Only an allocation failure can get here; the report is dropped like a
// failing callback.
template <class Report>
void shielded(Report&& report) noexcept {
    try {
        report();
    } catch (...) {
        PyErr_Clear();
    }
}

}  // namespace

PyTypeObject* PyClass<FirmwareUpdateCallbacksBase>::type() {
    return class_type<FirmwareUpdateCallbacksBase>(callbacks_class);
}

void FirmwareUpdateCallbacksWrapper::update_started(uint64_t total_size) const {
    shielded([&] { call_method_with(callbacks.get(), "update_started", ToPython<uint64_t>::convert(total_size)); });
}

void FirmwareUpdateCallbacksWrapper::report_progress(uint64_t acknowledged_bytes) const {
    shielded([&] {
        call_method_with(callbacks.get(), "report_progress", ToPython<uint64_t>::convert(acknowledged_bytes));
    });
}

void FirmwareUpdateCallbacksWrapper::update_finished(FirmwareUpdateResult result) const {
    // The shared member, so `is FirmwareUpdateResult.Success` holds.
    shielded([&] {
        call_method_with(callbacks.get(), "update_finished", ToPython<FirmwareUpdateResult>::convert(result));
    });
}

void FirmwareUpdateCallbacksWrapper::start_finalizing() const {
    shielded([&] { call_method(callbacks.get(), "start_finalizing", nullptr); });
}

}  // namespace brisel_qx_api
