// Our mDNS service-discovery daemon: an embedded avahi stack on a thread of
// its own that browses for service types and hands out resolved services.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <expected>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "qx_sdk_client/src/mdns/event_channel.hpp"
#include "qx_sdk_client/src/mdns/resolved_service.hpp"

namespace qx_sdk_client::mdns {

// The receiving end of one browse. Each service instance arrives once;
// after the daemon has shut down the events still queued arrive, then
// Closed.
class Receiver {
public:
    [[nodiscard]] std::expected<ResolvedService, RecvError> recv();
    // The scan needs neither of these two: its workers wait until the
    // channel closes, which the daemon's stop guarantees. They stay for
    // whoever must watch a daemon without trusting that stop, as the
    // daemon's own tests do: a receive that cannot hang them, and a look at
    // what is queued without taking it.
    [[nodiscard]] std::expected<ResolvedService, RecvError> recv_for(std::chrono::milliseconds timeout);
    // Events waiting to be received.
    std::size_t queued() const;

private:
    friend class ServiceDaemon;
    explicit Receiver(std::shared_ptr<EventChannel> channel) : channel_(std::move(channel)) {}

    std::shared_ptr<EventChannel> channel_;
};

struct DaemonCore;

// Why shutdown() did not stop the daemon.
struct ShutdownFailure {
    enum class Kind : std::uint8_t {
        AlreadyShutDown,
        // Past the bound: the channels are closed, and the stop goes on, on
        // a thread that owns the daemon and frees it when done.
        Overran,
        // No thread could be had for the stop: nothing has changed.
        NoThread,
    };
    Kind kind;
    std::string text;
};

class ServiceDaemon {
public:
    // Used by the destructor of a daemon that was not shut down.
    static constexpr std::chrono::milliseconds default_shutdown_bound{2000};

    // Binds the mDNS port (shared with any other responder on the host),
    // publishes nothing, and starts the daemon's thread. Fails, and starts
    // nothing, when the sockets the daemon needs cannot be opened or its
    // thread cannot be had.
    [[nodiscard]] static std::expected<ServiceDaemon, std::string> create();

    // `service_type` as "_name._tcp.local." (the final dot optional).
    [[nodiscard]] std::expected<Receiver, std::string> browse(std::string_view service_type);

    // Stops the daemon's thread, then closes every channel behind the events
    // already queued, on a thread of its own so as to wait at most `bound`.
    // When that thread cannot be started the daemon is kept as it is: call
    // again once threads are free, or stop_here().
    [[nodiscard]] std::expected<void, ShutdownFailure> shutdown(
        std::chrono::milliseconds bound = default_shutdown_bound);

    // Ends every receiver after the events already queued; what the daemon
    // finds from now on is dropped. The daemon runs on until it is stopped.
    void close_channels() noexcept;

    // shutdown() on the calling thread, without a bound, for when no thread
    // can be had for it. Nothing once the daemon has been shut down.
    void stop_here() noexcept;

    ServiceDaemon(ServiceDaemon&&) noexcept;
    ServiceDaemon& operator=(ServiceDaemon&&) noexcept;
    ServiceDaemon(const ServiceDaemon&) = delete;
    ServiceDaemon& operator=(const ServiceDaemon&) = delete;
    ~ServiceDaemon();

private:
    explicit ServiceDaemon(std::unique_ptr<DaemonCore> core);
    void stop_if_running() noexcept;

    std::unique_ptr<DaemonCore> core_;
    // Kept apart from the core so they can be closed even when the core
    // cannot be reached because its stop hangs.
    std::vector<std::shared_ptr<EventChannel>> channels_;
};

}  // namespace qx_sdk_client::mdns
