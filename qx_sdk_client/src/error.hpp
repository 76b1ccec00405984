// The SDK's one error type and the mappings into it.
#pragma once

#include <cstdint>
#include <expected>
#include <string>
#include <string_view>
#include <utility>

#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"

namespace qx_sdk_client::error {

class Error {
public:
    // Declaration order gives the kinds their numbers 0..16.
    enum class Kind : uint8_t {
        ApiError,  // text
        ApiNotAvailableInProtocolVersion,
        ClientSoftwareTooOldForDevice,
        ConnectionError,
        DeviceDiscoveryError,  // text
        FailedToAquireLock,
        FileOpenError,  // text
        FileReadError,  // text
        NetworkError,
        NotImplemented,
        RemoteOperationFailed,
        RemoteOperationNotPermitted,
        RemoteOperationNotSupportedByDevice,
        RemoteOperationNotSupportedByInterface,
        TcpStreamWriteError,  // text
        TcpStreamReadError,   // text
        Utf8Error,            // text
    };
    static constexpr int kind_count = 17;

    // For a kind with a text; the text is ignored for the others.
    Error(Kind kind, std::string text) : kind_(kind), text_(kind_has_text(kind) ? std::move(text) : std::string()) {}
    explicit Error(Kind kind) : kind_(kind) {}

    // ServiceStatus -> Error: the error side for Success ("Trying to convert
    // Success to an error"), an Error value for every other status.
    [[nodiscard]] static std::expected<Error, Error> try_from(qx_sdk_protocol::types::ServiceStatus status);

    Kind kind() const { return kind_; }
    const std::string& text() const& { return text_; }
    std::string&& take_text() && { return std::move(text_); }

    // The kind's name, e.g. "NetworkError".
    static std::string_view kind_name(Kind kind);
    static bool kind_has_text(Kind kind);

    // Name alone, or Name("escaped text").
    std::string debug_text() const;
    void write_debug_text(std::string& sink) const;

    friend bool operator==(const Error&, const Error&) = default;

private:
    Kind kind_;
    std::string text_;
};

template <class T>
using Result = std::expected<T, Error>;

// Writes `text` as a quoted, escaped string (the debug text's rule) to `sink`.
void write_quoted(std::string& sink, std::string_view text);

// Success for ServiceStatus::Success, otherwise the Error that try_from gives.
[[nodiscard]] Result<void> service_status_to_result(qx_sdk_protocol::types::ServiceStatus status);

// Every typed-layer failure as an SDK error; prints one line for ConversionError.
Error protocol_to_client_error(qx_sdk_protocol::ProtocolError error);

}  // namespace qx_sdk_client::error
