// The queue between the daemon's thread and whoever receives its events.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <deque>
#include <expected>
#include <mutex>
#include <optional>

#include "qx_sdk_client/src/mdns/resolved_service.hpp"

namespace qx_sdk_client::mdns {

enum class RecvError : std::uint8_t {
    Closed,   // the daemon has stopped and every queued event was taken
    Timeout,  // only from a bounded wait
};

// Unbounded: the daemon reports each service once, so the network bounds it.
class EventChannel {
public:
    // False, and the event dropped, once the channel is closed.
    bool push(ResolvedService service);

    // Events already queued stay receivable; nothing more is accepted.
    void close();

    // Waits until an event is queued or the channel is closed and drained;
    // with a deadline, at most until then.
    [[nodiscard]] std::expected<ResolvedService, RecvError> recv(
        std::optional<std::chrono::steady_clock::time_point> deadline);

    std::size_t queued() const;

private:
    mutable std::mutex mutex_;
    std::condition_variable ready_;
    std::deque<ResolvedService> queue_;
    bool closed_ = false;
};

}  // namespace qx_sdk_client::mdns
