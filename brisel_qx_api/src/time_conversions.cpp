#include "brisel_qx_api/src/time_conversions.hpp"

#include <cstdint>
#include <limits>

#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {
namespace {

constexpr int64_t seconds_per_day = 86'400;
constexpr const char* negative_span_text = "Cannot convert a negative timedelta to a duration";

OnceSlot timedelta_class;
OnceSlot utc_epoch;

PyRef datetime_attribute(const char* name) {
    PyRef module = PyRef::steal(PyImport_ImportModule("datetime"));
    return module ? PyRef::steal(PyObject_GetAttrString(module.get(), name)) : PyRef();
}

PyObject* timedelta() {
    return timedelta_class.get([] { return datetime_attribute("timedelta"); });
}

// 1970-01-01 00:00:00 with tzinfo datetime.timezone.utc, made once.
PyObject* epoch() {
    return utc_epoch.get([]() -> PyRef {
        PyRef datetime = datetime_attribute("datetime");
        PyRef timezone = datetime_attribute("timezone");
        PyRef utc = timezone ? PyRef::steal(PyObject_GetAttrString(timezone.get(), "utc")) : PyRef();
        if (!datetime || !utc) {
            return {};
        }
        PyRef args = PyRef::steal(Py_BuildValue("(iii)", 1970, 1, 1));
        PyRef kwargs = PyRef::steal(Py_BuildValue("{sO}", "tzinfo", utc.get()));
        if (!args || !kwargs) {
            return {};
        }
        return PyRef::steal(PyObject_Call(datetime.get(), args.get(), kwargs.get()));
    });
}

// An attribute of a timedelta read as a 32-bit integer.
std::optional<int32_t> int32_attribute(PyObject* object, const char* name) {
    PyRef value = PyRef::steal(PyObject_GetAttrString(object, name));
    if (!value) {
        return std::nullopt;
    }
    const long long number = PyLong_AsLongLong(value.get());
    if (number == -1 && PyErr_Occurred()) {
        return std::nullopt;
    }
    if (number < std::numeric_limits<int32_t>::min() || number > std::numeric_limits<int32_t>::max()) {
        PyErr_SetString(PyExc_OverflowError, out_of_range_text);
        return std::nullopt;
    }
    return static_cast<int32_t>(number);
}

}  // namespace

PyRef ToPython<std::chrono::sys_seconds>::convert(std::chrono::sys_seconds time) {
    const int64_t since_epoch = time.time_since_epoch().count();
    // Whole days and the seconds left over, 0 to 86,399 also before 1970.
    int64_t days = since_epoch / seconds_per_day;
    int64_t seconds = since_epoch % seconds_per_day;
    if (seconds < 0) {
        seconds += seconds_per_day;
        days -= 1;
    }
    if (days > std::numeric_limits<int32_t>::max() || days < std::numeric_limits<int32_t>::min()) {
        PyErr_SetString(PyExc_ValueError, out_of_range_text);
        return {};
    }
    PyObject* span_type = timedelta();
    PyObject* start = span_type != nullptr ? epoch() : nullptr;
    if (start == nullptr) {
        return {};
    }
    PyRef span = PyRef::steal(
        PyObject_CallFunction(span_type, "LLi", static_cast<long long>(days), static_cast<long long>(seconds), 0));
    if (!span) {
        return {};  // datetime's own OverflowError for more than 999,999,999 days
    }
    return PyRef::steal(PyNumber_Add(start, span.get()));
}

std::optional<std::chrono::nanoseconds> FromPython<std::chrono::nanoseconds>::convert(PyObject* object) {
    PyObject* span_type = timedelta();
    if (span_type == nullptr) {
        return std::nullopt;
    }
    const int is_span = PyObject_IsInstance(object, span_type);
    if (is_span < 0) {
        return std::nullopt;
    }
    if (is_span == 0) {
        raise_not_instance(object, "timedelta");
        return std::nullopt;
    }
    const std::optional<int32_t> days = int32_attribute(object, "days");
    const std::optional<int32_t> seconds = days ? int32_attribute(object, "seconds") : std::nullopt;
    const std::optional<int32_t> microseconds = seconds ? int32_attribute(object, "microseconds") : std::nullopt;
    if (!microseconds) {
        return std::nullopt;
    }
    // A timedelta keeps seconds and microseconds non-negative, so the sign is
    // the days'; the whole sum is still checked, whatever a subclass reports.
    if (*days < 0) {
        PyErr_SetString(PyExc_ValueError, negative_span_text);
        return std::nullopt;
    }
    using Wide = __int128;
    const Wide total =
        Wide{*days} * seconds_per_day * 1'000'000'000 + Wide{*seconds} * 1'000'000'000 + Wide{*microseconds} * 1'000;
    if (total < 0) {
        PyErr_SetString(PyExc_ValueError, negative_span_text);
        return std::nullopt;
    }
    if (total > std::chrono::nanoseconds::max().count()) {
        PyErr_SetString(PyExc_OverflowError, "timedelta too large to be a duration");
        return std::nullopt;
    }
    return std::chrono::nanoseconds(static_cast<int64_t>(total));
}

}  // namespace brisel_qx_api
