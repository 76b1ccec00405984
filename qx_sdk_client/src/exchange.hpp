// The request exchange every device operation is made of: pack into the
// connection's buffer, send, read one reply frame into the same buffer,
// unpack. One request is in flight at a time.
//
// A pack step is callable as (uint32_t version, std::span<uint8_t> buffer)
// -> ProtocolResult<std::span<uint8_t>> (the frame at the buffer's front);
// an unpack step as (uint32_t version, std::span<const uint8_t> buffer)
// -> ProtocolResult<T>. Both get the protocol version the device reported.
#pragma once

#include <cstdint>
#include <expected>
#include <functional>
#include <span>
#include <string_view>
#include <type_traits>
#include <utility>

#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/util.hpp"
#include "qx_sdk_protocol/src/protocol_error.hpp"

namespace qx_sdk_client::device {

// The value an unpack step yields.
template <class Unpack>
using UnpackedValue = typename std::invoke_result_t<Unpack&, uint32_t, std::span<const uint8_t>>::value_type;

// Drops whatever already waits on the stream, then writes `frame` whole.
// Any failure is TcpStreamWriteError "Failed to send <qualified_name>
// request".
[[nodiscard]] error::Result<void> send_frame(DeviceConnection& locked, std::span<const uint8_t> frame,
                                             std::string_view qualified_name);

namespace detail {

template <class Value>
[[nodiscard]] error::Result<Value> to_client_result(qx_sdk_protocol::ProtocolResult<Value>&& result) {
    if (!result) {
        return std::unexpected(error::protocol_to_client_error(std::move(result).error()));
    }
    if constexpr (std::is_void_v<Value>) {
        return {};
    } else {
        return std::move(*result);
    }
}

template <class Value, class Finish>
struct Finished {
    using type = std::invoke_result_t<Finish&, Value&&>;
};
template <class Finish>
struct Finished<void, Finish> {
    using type = std::invoke_result_t<Finish&>;
};

}  // namespace detail

// One exchange on a connection whose lock the caller holds. Pack and unpack
// failures come back through protocol_to_client_error; read failures as
// read_packet gives them. Nothing is sent when packing fails.
template <class Pack, class Unpack>
[[nodiscard]] error::Result<UnpackedValue<Unpack>> exchange(DeviceConnection& locked, std::string_view qualified_name,
                                                            Pack&& pack, Unpack&& unpack) {
    const uint32_t version = locked.protocol_version;
    auto frame = std::invoke(pack, version, std::span<uint8_t>(locked.buffer));
    if (!frame) {
        return std::unexpected(error::protocol_to_client_error(std::move(frame).error()));
    }
    if (error::Result<void> sent = send_frame(locked, *frame, qualified_name); !sent) {
        return std::unexpected(std::move(sent).error());
    }
    if (error::Result<void> received = util::read_packet(locked.stream, locked.buffer); !received) {
        return std::unexpected(std::move(received).error());
    }
    return detail::to_client_result(std::invoke(unpack, version, std::span<const uint8_t>(locked.buffer)));
}

// Takes the lock (see lock_connection) and runs one exchange.
template <class Pack, class Unpack>
[[nodiscard]] error::Result<UnpackedValue<Unpack>> request(const SharedConnection& connection,
                                                           std::string_view qualified_name, Pack&& pack,
                                                           Unpack&& unpack) {
    error::Result<ConnectionGuard> guard = lock_connection(connection);
    if (!guard) {
        return std::unexpected(std::move(guard).error());
    }
    return exchange(guard->connection(), qualified_name, pack, unpack);
}

// As above, then `finish` (value -> Result<U>, or () -> Result<U> for an
// unpack step without a value) shapes the result while the lock is still held.
template <class Pack, class Unpack, class Finish>
[[nodiscard]] typename detail::Finished<UnpackedValue<Unpack>, Finish>::type request(const SharedConnection& connection,
                                                                                     std::string_view qualified_name,
                                                                                     Pack&& pack, Unpack&& unpack,
                                                                                     Finish&& finish) {
    error::Result<ConnectionGuard> guard = lock_connection(connection);
    if (!guard) {
        return std::unexpected(std::move(guard).error());
    }
    auto value = exchange(guard->connection(), qualified_name, pack, unpack);
    if (!value) {
        return std::unexpected(std::move(value).error());
    }
    if constexpr (std::is_void_v<UnpackedValue<Unpack>>) {
        return std::invoke(finish);
    } else {
        return std::invoke(finish, std::move(*value));
    }
}

// A pack step for a typed-layer pack that takes more than the version and
// the buffer: pack_step(pack_x, index, argument) calls
// pack_x(version, buffer, index, argument).
template <class PackFunction, class... Arguments>
auto pack_step(PackFunction pack, Arguments&&... arguments) {
    return [pack, ... arguments = std::forward<Arguments>(arguments)](uint32_t version,
                                                                      std::span<uint8_t> buffer) mutable {
        return pack(version, buffer, std::move(arguments)...);
    };
}

}  // namespace qx_sdk_client::device
