// Internal to the typed layer: what each kind of reply hands to the codec as
// outputs, what those outputs hold before decoding, and how they become the
// typed result. The initial values matter: an error packet carrying success
// makes the codec return without writing any output, and the result is then
// built from these.
#pragma once

#include <array>
#include <cstdint>
#include <expected>
#include <span>
#include <string>
#include <tuple>
#include <type_traits>

#include "qx_sdk_protocol/codec/qx_types.h"
#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/request_steps.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"
#include "qx_sdk_protocol/src/util.hpp"

namespace qx_sdk_protocol::detail {

// Reply texts go through a fixed buffer, so they hold at most 127 bytes.
inline constexpr size_t reply_text_capacity = 128;

struct TextReply {
    std::array<uint8_t, reply_text_capacity> text{};

    auto outputs() { return std::tuple(reinterpret_cast<char*>(text.data()), text.size()); }
    [[nodiscard]] ProtocolResult<std::string> result() const { return util::string_from_bytes(text); }
};

template <class T>
struct NumberReply {
    T value{};

    auto outputs() { return std::tuple(&value); }
    [[nodiscard]] ProtocolResult<T> result() const { return value; }
};

// The reply needs no decoding; the codec accepts it whatever it holds.
struct NoOutputReply {
    auto outputs() { return std::tuple(); }
    [[nodiscard]] ProtocolResult<void> result() const { return {}; }
};

// Until the device says otherwise, a status reply reports an unspecified error
// (a firmware chunk's reply is the one exception, in device.cpp).
inline constexpr uint32_t initial_device_status = QX_SERVICE_STATUS_UNSPECIFIED_ERROR;

// The device status is the value: the caller decides what a failure means.
struct StatusValueReply {
    uint32_t status = initial_device_status;

    auto outputs() { return std::tuple(&status); }
    [[nodiscard]] ProtocolResult<types::ServiceStatus> result() const {
        return types::ServiceStatus::from_device_status(status);
    }
};

// The device status is a condition: anything but success is the failure, and
// the rest of the reply is then not converted at all.
template <class Rest>
struct StatusGatedReply {
    uint32_t status = initial_device_status;
    Rest rest;

    auto outputs() { return std::tuple_cat(std::tuple(&status), rest.outputs()); }
    [[nodiscard]] UnpackResult<Rest> result() const {
        if (status != QX_SERVICE_STATUS_SUCCESS) {
            return std::unexpected(ProtocolError::service_status(types::ServiceStatus::from_device_status(status)));
        }
        return rest.result();
    }
};

// The codec reads the device status, but the result does not depend on it.
template <class Rest>
struct StatusIgnoredReply {
    uint32_t status = initial_device_status;
    Rest rest;

    auto outputs() { return std::tuple_cat(std::tuple(&status), rest.outputs()); }
    [[nodiscard]] UnpackResult<Rest> result() const { return rest.result(); }
};

template <class T>
[[nodiscard]] ProtocolResult<T> as_result(T value) {
    return value;
}
template <class T>
[[nodiscard]] ProtocolResult<T> as_result(ProtocolResult<T> result) {
    return result;
}

// One codec record, starting out as `Initial`, turned into its typed value by `Convert`.
template <auto Initial, auto Convert>
struct RecordReply {
    std::remove_cv_t<decltype(Initial)> record = Initial;

    auto outputs() { return std::tuple(&record); }
    [[nodiscard]] auto result() const { return as_result(Convert(record)); }
};

}  // namespace qx_sdk_protocol::detail
