// Hand-built frames and readable failure output for the typed-layer tests.
// Reply frames are written out byte by byte here rather than produced by the
// codec, so a codec fault cannot cancel itself out in a round trip.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <initializer_list>
#include <ostream>
#include <span>
#include <string>
#include <string_view>
#include <type_traits>
#include <vector>

#include "qx_sdk_protocol/codec/protocol_base.h"
#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace qx_sdk_protocol::types {

inline const char* kind_name(ServiceStatus::Kind kind) {
    static constexpr const char* names[] = {
        "Success",
        "NotYetMapped",
        "OperationNotPermitted",
        "OperationNotSupportedByInterface",
        "OperationNotSupportedByDevice",
        "OperationFailed",
        "UnspecifiedError",
    };
    return names[static_cast<size_t>(kind)];
}

inline void PrintTo(const ServiceStatus& status, std::ostream* os) {
    *os << kind_name(status.kind());
    if (status.kind() == ServiceStatus::Kind::NotYetMapped) {
        *os << "(\"" << status.text() << "\")";
    }
}

inline void PrintTo(const EthInterfaceConfig& config, std::ostream* os) {
    *os << "{speed [";
    for (EthLinkSpeed speed : config.speed) {
        *os << " " << static_cast<int>(speed);
    }
    *os << " ], role [";
    for (EthRole role : config.role) {
        *os << " " << static_cast<int>(role);
    }
    *os << " ], aneg " << static_cast<int>(config.aneg_mode) << "}";
}

}  // namespace qx_sdk_protocol::types

namespace qx_sdk_protocol {

inline void PrintTo(const ProtocolError& error, std::ostream* os) {
    using Kind = ProtocolError::Kind;
    switch (error.kind()) {
        case Kind::NotAvailableInProtocolVersion: *os << "NotAvailableInProtocolVersion"; break;
        case Kind::ConversionError: *os << "ConversionError(\"" << error.text() << "\")"; break;
        case Kind::InvalidProtocolVersion: *os << "InvalidProtocolVersion(" << error.version() << ")"; break;
        case Kind::ChunkRejected: *os << "ChunkRejected"; break;
        case Kind::ProtocolStatus: *os << "ProtocolStatus(" << qx_protocol_status_name(error.status()) << ")"; break;
        case Kind::ServiceStatus:
            *os << "ServiceStatus(";
            types::PrintTo(error.service_status(), os);
            *os << ")";
            break;
        case Kind::UnfamiliarProtocolVersion: *os << "UnfamiliarProtocolVersion"; break;
        case Kind::StringConversion: *os << "StringConversion(\"" << error.text() << "\")"; break;
    }
}

}  // namespace qx_sdk_protocol

namespace typed_test {

using Bytes = std::vector<uint8_t>;

inline Bytes le16(uint16_t value) { return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}; }

inline Bytes le64(uint64_t value) {
    Bytes bytes;
    for (int shift = 0; shift < 64; shift += 8) {
        bytes.push_back(static_cast<uint8_t>(value >> shift));
    }
    return bytes;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
    Bytes all;
    for (const Bytes& part : parts) {
        all.insert(all.end(), part.begin(), part.end());
    }
    return all;
}

inline Bytes frame(uint16_t command, const Bytes& payload = {}) {
    return concat({le16(command), le16(static_cast<uint16_t>(payload.size())), payload});
}

inline Bytes error_packet(uint16_t device_status) { return frame(QX_ERROR_PACKET, le16(device_status)); }

// A text field as the device sends it: 16-bit count, then the bytes.
inline Bytes text_field(std::string_view text) {
    return concat({le16(static_cast<uint16_t>(text.size())), Bytes(text.begin(), text.end())});
}

// The packed frame as an owned copy, or the pack's error.
[[nodiscard]] inline qx_sdk_protocol::ProtocolResult<Bytes> frame_bytes(
    const qx_sdk_protocol::ProtocolResult<std::span<uint8_t>>& packed) {
    if (!packed) {
        return std::unexpected(packed.error());
    }
    return Bytes(packed->begin(), packed->end());
}

template <class T>
std::string describe(const qx_sdk_protocol::ProtocolResult<T>& result) {
    if (!result) {
        return testing::PrintToString(result.error());
    }
    if constexpr (std::is_void_v<T>) {
        return "success";
    } else {
        return testing::PrintToString(*result);
    }
}

// EXPECT_TRUE(same_result(actual, expected)), printing both sides on a mismatch.
template <class T>
testing::AssertionResult same_result(const qx_sdk_protocol::ProtocolResult<T>& actual,
                                     const qx_sdk_protocol::ProtocolResult<T>& expected) {
    if (actual == expected) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << "got " << describe(actual) << ", expected " << describe(expected);
}

// EXPECT_TRUE(holds(result, value)): the result succeeded with exactly `value`.
template <class T, class U>
testing::AssertionResult holds(const qx_sdk_protocol::ProtocolResult<T>& result, const U& expected) {
    if (!result) {
        return testing::AssertionFailure() << "failed with " << testing::PrintToString(result.error());
    }
    if (!(*result == expected)) {
        return testing::AssertionFailure()
               << "holds " << testing::PrintToString(*result) << ", expected " << testing::PrintToString(expected);
    }
    return testing::AssertionSuccess();
}

inline testing::AssertionResult succeeded(const qx_sdk_protocol::ProtocolResult<void>& result) {
    if (!result) {
        return testing::AssertionFailure() << "failed with " << testing::PrintToString(result.error());
    }
    return testing::AssertionSuccess();
}

// EXPECT_TRUE(fails_with(result, error)): the result is exactly that error.
template <class T>
testing::AssertionResult fails_with(const qx_sdk_protocol::ProtocolResult<T>& result,
                                    const qx_sdk_protocol::ProtocolError& expected) {
    if (result) {
        return testing::AssertionFailure() << "succeeded, expected " << testing::PrintToString(expected);
    }
    if (!(result.error() == expected)) {
        return testing::AssertionFailure() << "failed with " << testing::PrintToString(result.error()) << ", expected "
                                           << testing::PrintToString(expected);
    }
    return testing::AssertionSuccess();
}

inline qx_sdk_protocol::ProtocolError status_error(qx_protocol_status_t status) {
    return qx_sdk_protocol::ProtocolError::protocol_status(status);
}

inline qx_sdk_protocol::ProtocolError conversion_error(std::string text) {
    return qx_sdk_protocol::ProtocolError::conversion_error(std::move(text));
}

inline qx_sdk_protocol::ProtocolError service_error(qx_sdk_protocol::types::ServiceStatus::Kind kind) {
    return qx_sdk_protocol::ProtocolError::service_status(qx_sdk_protocol::types::ServiceStatus(kind));
}

// The client's connection buffer size; every frame goes through one this big.
inline constexpr size_t connection_buffer_size = 4096;

}  // namespace typed_test
