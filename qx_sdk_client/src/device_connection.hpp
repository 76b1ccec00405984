// The state of one device connection and the lock that every exchange on it
// takes. A device and all the interfaces taken from it share one connection;
// it closes when the last of them is destroyed.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <memory>

#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/tcp_stream.hpp"

namespace qx_sdk_client::device {

// Bytes of the one buffer that holds each request and then its reply.
inline constexpr size_t PACKET_BUFFER_SIZE = 4096;

// What the lock protects. Only reached through a ConnectionGuard.
struct DeviceConnection {
    net::TcpStream stream;                             // timeouts set once, at device creation
    uint32_t protocol_version = 0;                     // 0 until the device has reported its own
    std::array<uint8_t, PACKET_BUFFER_SIZE> buffer{};  // request frame at the front, then the reply frame
};

// Called when a lock is held by another thread, instead of blocking at once:
// it must call `wait(wait_context)` once, on the calling thread, which
// returns holding the lock. A host that runs callers under a global lock of
// its own releases that around `wait` so the holder can finish. The default
// just calls `wait`. Set it before devices are used from several threads.
using LockWaitHook = void (*)(void (*wait)(void* wait_context), void* wait_context);

// Installs the process-wide hook; nullptr restores the default.
void set_lock_wait_hook(LockWaitHook hook) noexcept;

class ConnectionGuard;

// A reference-counted, locked DeviceConnection. Copies share the connection;
// the stream closes with the last copy. One allocation per connection.
class SharedConnection {
public:
    // A connection with protocol version 0, a zeroed buffer and a free, unbroken lock.
    explicit SharedConnection(net::TcpStream stream);

private:
    struct State;
    std::shared_ptr<State> state_;

    friend class ConnectionGuard;
    friend error::Result<ConnectionGuard> lock_connection(const SharedConnection& connection);
};

// Holds the connection's lock. Released on destruction; when that happens
// during stack unwinding (the holder is being abandoned by an exception) the
// lock is marked broken for good, since the exchange may have left the
// stream half-way through a frame.
class ConnectionGuard {
public:
    ConnectionGuard(ConnectionGuard&& other) noexcept;
    ConnectionGuard& operator=(ConnectionGuard&&) = delete;
    ConnectionGuard(const ConnectionGuard&) = delete;
    ConnectionGuard& operator=(const ConnectionGuard&) = delete;
    ~ConnectionGuard();

    DeviceConnection& connection() const;
    DeviceConnection& operator*() const { return connection(); }
    DeviceConnection* operator->() const { return &connection(); }

private:
    ConnectionGuard(std::shared_ptr<SharedConnection::State> state, int uncaught_at_entry) noexcept;

    std::shared_ptr<SharedConnection::State> state_;  // null once moved from
    int uncaught_at_entry_;                           // std::uncaught_exceptions() when the lock was taken

    friend error::Result<ConnectionGuard> lock_connection(const SharedConnection& connection);
};

// Takes the lock exclusively. FailedToAquireLock, with the lock left as it
// was, when the calling thread already holds it (waiting would never end);
// FailedToAquireLock, after releasing it, when the lock is marked broken.
// When another thread holds it, waits without a time limit inside the hook.
[[nodiscard]] error::Result<ConnectionGuard> lock_connection(const SharedConnection& connection);

}  // namespace qx_sdk_client::device
