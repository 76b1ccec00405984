// The typed layer's one error type.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <utility>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/src/service_status.hpp"

namespace qx_sdk_protocol {

class ProtocolError {
public:
    // Declaration order is part of the contract.
    enum class Kind : uint8_t {
        NotAvailableInProtocolVersion,
        ConversionError,         // text
        InvalidProtocolVersion,  // number
        ChunkRejected,
        ProtocolStatus,  // qx_protocol_status_t
        ServiceStatus,   // types::ServiceStatus
        UnfamiliarProtocolVersion,
        StringConversion,  // text
    };

    static ProtocolError not_available_in_protocol_version() {
        return ProtocolError(Kind::NotAvailableInProtocolVersion);
    }
    static ProtocolError conversion_error(std::string text) {
        return with_text(Kind::ConversionError, std::move(text));
    }
    static ProtocolError invalid_protocol_version(uint32_t version) {
        ProtocolError e(Kind::InvalidProtocolVersion);
        e.number_ = version;
        return e;
    }
    static ProtocolError chunk_rejected() { return ProtocolError(Kind::ChunkRejected); }
    static ProtocolError protocol_status(qx_protocol_status_t status) {
        ProtocolError e(Kind::ProtocolStatus);
        e.number_ = status;
        return e;
    }
    static ProtocolError service_status(types::ServiceStatus status) {
        ProtocolError e(Kind::ServiceStatus);
        e.service_status_ = std::move(status);
        return e;
    }
    static ProtocolError unfamiliar_protocol_version() { return ProtocolError(Kind::UnfamiliarProtocolVersion); }
    static ProtocolError string_conversion(std::string text) {
        return with_text(Kind::StringConversion, std::move(text));
    }

    Kind kind() const { return kind_; }
    // ConversionError and StringConversion.
    const std::string& text() const& { return text_; }
    std::string&& take_text() && { return std::move(text_); }
    // InvalidProtocolVersion.
    uint32_t version() const { return number_; }
    // ProtocolStatus.
    qx_protocol_status_t status() const { return static_cast<qx_protocol_status_t>(number_); }
    // ServiceStatus.
    const types::ServiceStatus& service_status() const& { return service_status_; }

    friend bool operator==(const ProtocolError&, const ProtocolError&) = default;

private:
    explicit ProtocolError(Kind kind) : kind_(kind) {}
    static ProtocolError with_text(Kind kind, std::string text) {
        ProtocolError e(kind);
        e.text_ = std::move(text);
        return e;
    }

    Kind kind_;
    uint32_t number_ = 0;
    std::string text_;
    types::ServiceStatus service_status_;
};

template <class T>
using ProtocolResult = std::expected<T, ProtocolError>;

// QX_PROTOCOL_STATUS_SUCCESS -> success;
// QX_PROTOCOL_STATUS_NOT_IMPLEMENTED -> NotAvailableInProtocolVersion;
// QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION -> UnfamiliarProtocolVersion;
// anything else -> ProtocolStatus.
[[nodiscard]] ProtocolResult<void> map_codec_status(qx_protocol_status_t status);

}  // namespace qx_sdk_protocol
