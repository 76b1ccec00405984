#include "qx_sdk_client/src/error.hpp"

#include <array>

#include "qx_sdk_client/src/stdout_line.hpp"
#include "qx_sdk_protocol/codec/protocol_base.h"

namespace qx_sdk_client::error {
namespace {

using qx_sdk_protocol::ProtocolError;
using qx_sdk_protocol::types::ServiceStatus;

struct KindInfo {
    std::string_view name;
    bool has_text;
};

// Indexed by Error::Kind. The names reach user-visible messages unchanged.
constexpr std::array<KindInfo, Error::kind_count> kind_table{{
    {"ApiError", true},
    {"ApiNotAvailableInProtocolVersion", false},
    {"ClientSoftwareTooOldForDevice", false},
    {"ConnectionError", false},
    {"DeviceDiscoveryError", true},
    {"FailedToAquireLock", false},  // "Aquire" as shipped: scripts match on it
    {"FileOpenError", true},
    {"FileReadError", true},
    {"NetworkError", false},
    {"NotImplemented", false},
    {"RemoteOperationFailed", false},
    {"RemoteOperationNotPermitted", false},
    {"RemoteOperationNotSupportedByDevice", false},
    {"RemoteOperationNotSupportedByInterface", false},
    {"TcpStreamWriteError", true},
    {"TcpStreamReadError", true},
    {"Utf8Error", true},
}};
static_assert(static_cast<int>(Error::Kind::Utf8Error) + 1 == Error::kind_count);

constexpr std::string_view success_as_error_text = "Trying to convert Success to an error";

struct StatusMapping {
    Error::Kind kind;
    std::string_view text;  // only for kinds with a text
};

// Indexed by ServiceStatus::Kind. The Success row is what try_from refuses with.
constexpr std::array<StatusMapping, 7> service_status_table{{
    {Error::Kind::ApiError, success_as_error_text},               // Success
    {Error::Kind::RemoteOperationNotSupportedByDevice, {}},       // NotYetMapped
    {Error::Kind::RemoteOperationNotPermitted, {}},               // OperationNotPermitted
    {Error::Kind::RemoteOperationNotSupportedByInterface, {}},    // OperationNotSupportedByInterface
    {Error::Kind::RemoteOperationNotSupportedByDevice, {}},       // OperationNotSupportedByDevice
    {Error::Kind::RemoteOperationFailed, {}},                     // OperationFailed
    {Error::Kind::ApiError, "Encountered an unspecified error"},  // UnspecifiedError
}};
static_assert(static_cast<size_t>(ServiceStatus::Kind::UnspecifiedError) + 1 == service_status_table.size());

const KindInfo& info(Error::Kind kind) { return kind_table[static_cast<size_t>(kind)]; }

Error error_for(ServiceStatus::Kind kind) {
    const StatusMapping& row = service_status_table[static_cast<size_t>(kind)];
    return Error(row.kind, std::string(row.text));
}

}  // namespace

std::string_view Error::kind_name(Kind kind) { return info(kind).name; }

bool Error::kind_has_text(Kind kind) { return info(kind).has_text; }

std::expected<Error, Error> Error::try_from(ServiceStatus status) {
    if (status.is_success()) {
        return std::unexpected(error_for(ServiceStatus::Kind::Success));
    }
    // A NotYetMapped text names the device status; the SDK kind does not keep it.
    return error_for(status.kind());
}

Result<void> service_status_to_result(ServiceStatus status) {
    if (status.is_success()) {
        return {};
    }
    return std::unexpected(error_for(status.kind()));
}

Error protocol_to_client_error(ProtocolError error) {
    switch (error.kind()) {
        case ProtocolError::Kind::NotAvailableInProtocolVersion:
            return Error(Error::Kind::ApiNotAvailableInProtocolVersion);
        case ProtocolError::Kind::ConversionError: {
            std::string line = "Conversion error not implemented, ";
            write_quoted(line, error.text());
            util::print_stdout_line(line);
            return Error(Error::Kind::NotImplemented);
        }
        case ProtocolError::Kind::InvalidProtocolVersion:
            return Error(Error::Kind::ApiError, "Invalid protocol version " + std::to_string(error.version()));
        case ProtocolError::Kind::ChunkRejected: return Error(Error::Kind::NotImplemented);
        case ProtocolError::Kind::ProtocolStatus: {
            std::string text = "An error ocurred in the protocol \"";  // "ocurred" as shipped
            text += qx_protocol_status_name(error.status());
            text += '"';
            return Error(Error::Kind::ApiError, std::move(text));
        }
        case ProtocolError::Kind::ServiceStatus:
            // Success arriving here is itself the failure, so it is not refused.
            return error_for(error.service_status().kind());
        case ProtocolError::Kind::UnfamiliarProtocolVersion: return Error(Error::Kind::ClientSoftwareTooOldForDevice);
        case ProtocolError::Kind::StringConversion: return Error(Error::Kind::Utf8Error, std::move(error).take_text());
    }
    // Only reachable with a corrupted kind byte; still give an error rather than none.
    return Error(Error::Kind::ApiError, "Unknown protocol error");
}

}  // namespace qx_sdk_client::error
