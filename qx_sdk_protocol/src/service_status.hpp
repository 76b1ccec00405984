// The typed form of a device status carried inside a regular reply.
#pragma once

#include <cstdint>
#include <string>

#include "qx_sdk_protocol/codec/qx_types.h"

namespace qx_sdk_protocol::types {

class ServiceStatus {
public:
    // Declaration order is part of the contract.
    enum class Kind : uint8_t {
        Success,
        NotYetMapped,
        OperationNotPermitted,
        OperationNotSupportedByInterface,
        OperationNotSupportedByDevice,
        OperationFailed,
        UnspecifiedError,
    };

    ServiceStatus() = default;
    explicit ServiceStatus(Kind kind) : kind_(kind) {}
    static ServiceStatus not_yet_mapped(std::string text) {
        ServiceStatus s(Kind::NotYetMapped);
        s.text_ = std::move(text);
        return s;
    }
    // The device-status mapping; it cannot fail.
    static ServiceStatus from_device_status(qx_service_status_t status);

    Kind kind() const { return kind_; }
    bool is_success() const { return kind_ == Kind::Success; }
    // The text of NotYetMapped; empty for every other kind.
    const std::string& text() const { return text_; }

    friend bool operator==(const ServiceStatus&, const ServiceStatus&) = default;

private:
    Kind kind_ = Kind::Success;
    std::string text_;
};

}  // namespace qx_sdk_protocol::types
