#include "qx_sdk_protocol/src/service_status.hpp"

#include <array>
#include <optional>

namespace qx_sdk_protocol::types {

namespace {

using Kind = ServiceStatus::Kind;

// Device statuses 0..6 by value; an empty slot (1, the not-implemented status)
// and everything past the table have no kind of their own yet.
constexpr std::array<std::optional<Kind>, 7> kinds_by_status{
    Kind::Success,
    std::nullopt,
    Kind::UnspecifiedError,
    Kind::OperationFailed,
    Kind::OperationNotPermitted,
    Kind::OperationNotSupportedByDevice,
    Kind::OperationNotSupportedByInterface,
};

std::string status_label(qx_service_status_t status) {
    // Statuses from 22 up have no constant; the number is all we can show.
    const char* name = qx_service_status_name(status);
    return name != nullptr ? std::string(name) : std::to_string(status);
}

}  // namespace

ServiceStatus ServiceStatus::from_device_status(qx_service_status_t status) {
    if (status < kinds_by_status.size() && kinds_by_status[status]) {
        return ServiceStatus(*kinds_by_status[status]);
    }
    return not_yet_mapped("ServiceStatus mapping for " + status_label(status) + " not yet implemented");
}

}  // namespace qx_sdk_protocol::types
