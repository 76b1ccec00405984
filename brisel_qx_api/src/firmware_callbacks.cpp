#include "brisel_qx_api/src/firmware_callbacks.hpp"

#include <optional>
#include <string>
#include <utility>

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/enums.hpp"
#include "brisel_qx_api/src/exceptions.hpp"
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

// clang-format off
PyMethodDef callbacks_methods[] = {
    method<"update_started", ignore_update_started, "_total_bytes">(
        "Called when the update starts\n"
        "\n"
        "Parameters:\n"
        "    total_bytes (int): Total number of bytes that will get transferred"_doc),
    method<"report_progress", ignore_report_progress, "_total_transferred_bytes">(
        "Called for every chunk of bytes that get transferred over to the device\n"
        "\n"
        "Parameters:\n"
        "    total_transferred_bytes (int): Total number of bytes transferred\n"
        "    up to this point"_doc),
    method<"start_finalizing", ignore_start_finalizing>(
        "Called after transfer has completed and device starts validating the\n"
        "new firmware and writing it to flash."_doc),
    method<"update_finished", ignore_update_finished, "_update_result">(
        "Called when update has completed\n"
        "\n"
        "Parameters:\n"
        "    update_result (FirmwareUpdateResult): The result of the update"_doc),
    {},
};
// clang-format on

// As shipped, slips included: total_transfer_bytes, qx_api, case lines not indented under match.
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

// A KeyboardInterrupt (or subclass) goes to `interrupt` unless an earlier
// one is kept there; anything else is dropped.
void keep_interrupt(PendingError& interrupt, PendingError error) {
    if (error.value() != nullptr && interrupt.value() == nullptr &&
        PyErr_GivenExceptionMatches(error.type(), PyExc_KeyboardInterrupt)) {
        interrupt = std::move(error);
    }
}

// Takes the pending exception, if any, off the thread. Every Python error of
// a report ends here or in keep_interrupt, so no Ctrl-C is lost, not even one
// that lands while another failure is being printed.
void settle_error(PendingError& interrupt) { keep_interrupt(interrupt, PendingError::fetch()); }

// A str as UTF-8; what has no UTF-8 form (surrogates from a file name) is
// escaped rather than lost.
std::optional<std::string> utf8_text(PyObject* text, PendingError& interrupt) {
    PyRef encoded = text ? PyRef::steal(PyUnicode_AsEncodedString(text, "utf-8", "backslashreplace")) : PyRef();
    char* data = nullptr;
    Py_ssize_t size = 0;
    if (!encoded || PyBytes_AsStringAndSize(encoded.get(), &data, &size) != 0) {
        settle_error(interrupt);
        return std::nullopt;
    }
    return std::string(data, static_cast<size_t>(size));
}

// repr(object); a repr that fails itself is no reason to lose the line.
std::string repr_text(PyObject* object, PendingError& interrupt) {
    PyRef repr = PyRef::steal(PyObject_Repr(object));
    settle_error(interrupt);
    return utf8_text(repr.get(), interrupt).value_or("<unprintable object>");
}

// The traceback exactly as the interpreter prints one, header line included.
std::optional<std::string> traceback_text(PyObject* traceback, PendingError& interrupt) {
    PyRef io = PyRef::steal(PyImport_ImportModule("io"));
    PyRef sink = io ? PyRef::steal(PyObject_CallMethod(io.get(), "StringIO", nullptr)) : PyRef();
    if (!sink || PyTraceBack_Print(traceback, sink.get()) != 0) {
        settle_error(interrupt);
        return std::nullopt;
    }
    PyRef printed = PyRef::steal(PyObject_CallMethod(sink.get(), "getvalue", nullptr));
    settle_error(interrupt);
    return utf8_text(printed.get(), interrupt);
}

// PyErr { type: <class 'E'>, value: E('...'), traceback: None | Some("...") }
// The form this line has always had, though no type here is called PyErr.
std::string render(const PendingError& error, PendingError& interrupt) {
    std::string line = "PyErr { type: ";
    line += repr_text(error.type(), interrupt);
    line += ", value: ";
    line += repr_text(error.value(), interrupt);
    line += ", traceback: ";
    PyRef traceback = PyRef::steal(PyException_GetTraceback(error.value()));
    std::optional<std::string> printed = traceback ? traceback_text(traceback.get(), interrupt) : std::nullopt;
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
// that called the callback never sees it, except a KeyboardInterrupt, which
// the update call raises once the update is over. It is kept before the
// line is made: rendering and printing allocate, and may meet another
// interrupt, and neither may cost or replace this one.
void report_failed_callback(PendingError& interrupt) {
    PendingError error = PendingError::fetch();
    if (error.value() == nullptr) {
        return;
    }
    keep_interrupt(interrupt, error);  // a copy: the same exception is printed below
    std::string line = "Failed to call python function with error ";
    line += render(error, interrupt);
    settle_error(interrupt);  // anything rendering left behind
    qx_sdk_client::util::print_stdout_line(line);
}

// callbacks.<name>(argument), or callbacks.<name>() for a null argument:
// ordinary attribute lookup, so an instance attribute, an override or the
// base class's method is found; what it returns is dropped unread.
void call_method(PyObject* callbacks, const char* name, PyObject* argument, PendingError& interrupt) {
    PyRef bound = PyRef::steal(PyObject_GetAttrString(callbacks, name));
    if (!bound) {
        report_failed_callback(interrupt);
        return;
    }
    PyRef returned = argument != nullptr ? PyRef::steal(PyObject_CallFunctionObjArgs(bound.get(), argument, nullptr))
                                         : PyRef::steal(PyObject_CallNoArgs(bound.get()));
    if (!returned) {
        report_failed_callback(interrupt);
    }
}

// As call_method with a freshly made argument; empty means making it failed.
void call_method_with(PyObject* callbacks, const char* name, PyRef argument, PendingError& interrupt) {
    if (!argument) {
        report_failed_callback(interrupt);
        return;
    }
    call_method(callbacks, name, argument.get(), interrupt);
}

// The SDK's callbacks interface must not throw: a C++ exception leaving a
// report would abandon the update with the connection's lock marked broken.
// Only an allocation failure can get here; the report is dropped like a
// failing callback.
template <class Report>
void shielded(PendingError& interrupt, Report&& report) noexcept {
    try {
        report();
    } catch (...) {
        settle_error(interrupt);
    }
}

// The update's error as an exception object to go with a kept interrupt;
// empty when there is no memory for it, and then the interrupt comes out alone.
PyRef failure_of(qx_sdk_client::error::Error error) noexcept {
    try {
        PyRef failure = client_to_pyerror(std::move(error));
        if (failure) {
            return failure;
        }
    } catch (...) {  // only an allocation failure can get here
    }
    PyErr_Clear();
    return {};
}

}  // namespace

PyTypeObject* PyClass<FirmwareUpdateCallbacksBase>::type() {
    return class_type<FirmwareUpdateCallbacksBase>(callbacks_class);
}

void FirmwareUpdateCallbacksWrapper::update_started(uint64_t total_size) const {
    shielded(interrupt_, [&] {
        call_method_with(callbacks.get(), "update_started", ToPython<uint64_t>::convert(total_size), interrupt_);
    });
}

void FirmwareUpdateCallbacksWrapper::report_progress(uint64_t acknowledged_bytes) const {
    shielded(interrupt_, [&] {
        call_method_with(callbacks.get(), "report_progress", ToPython<uint64_t>::convert(acknowledged_bytes),
                         interrupt_);
    });
}

void FirmwareUpdateCallbacksWrapper::update_finished(FirmwareUpdateResult result) const {
    // The shared member, so `is FirmwareUpdateResult.Success` holds.
    shielded(interrupt_, [&] {
        call_method_with(callbacks.get(), "update_finished", ToPython<FirmwareUpdateResult>::convert(result),
                         interrupt_);
    });
}

void FirmwareUpdateCallbacksWrapper::start_finalizing() const {
    shielded(interrupt_, [&] { call_method(callbacks.get(), "start_finalizing", nullptr, interrupt_); });
}

PyRef FirmwareUpdateCallbacksWrapper::outcome(qx_sdk_client::error::Result<void> update) && {
    if (interrupt_.value() == nullptr) {
        if (!update) {
            raise_client_error(std::move(update).error());
            return {};
        }
        return PyRef::borrow(Py_None);
    }
    // The script learns of a failed update from the interrupt's context, as
    // if the Ctrl-C had come a moment later, while the failure was handled.
    // An interrupt raised amid other exceptions already has a context: the
    // failure goes in front of it and takes it over as its own, so the chain
    // loses nothing, needs no walk, and the fresh failure cannot close a loop.
    if (!update) {
        PyRef failure = failure_of(std::move(update).error());
        if (failure) {
            if (PyObject* context = PyException_GetContext(interrupt_.value())) {
                PyException_SetContext(failure.get(), context);  // steals
            }
            PyException_SetContext(interrupt_.value(), failure.release());  // steals
        }
    }
    std::move(interrupt_).restore();
    return {};
}

}  // namespace brisel_qx_api
