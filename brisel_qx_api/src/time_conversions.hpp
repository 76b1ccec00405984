// Points in time and time spans between the SDK and Python's datetime module.
#pragma once

#include <chrono>
#include <optional>

#include "brisel_qx_api/src/conversions.hpp"

namespace brisel_qx_api {

// A timezone-aware datetime in UTC: the epoch plus whole days and seconds,
// computed by datetime itself, so its own limits (year 9999) raise its own
// OverflowError. Days beyond 32 bits raise ValueError first.
template <>
struct ToPython<std::chrono::sys_seconds> {
    static PyRef convert(std::chrono::sys_seconds time);
};

// A datetime.timedelta (or subclass) as a non-negative span, to the
// microsecond. A negative one is a ValueError; one beyond what 64-bit
// nanoseconds hold (about 292 years) an OverflowError rather than a wrapped,
// much shorter span.
template <>
struct FromPython<std::chrono::nanoseconds> {
    static std::optional<std::chrono::nanoseconds> convert(PyObject* object);
};

}  // namespace brisel_qx_api
