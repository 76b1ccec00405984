#include "qx_sdk_client/src/mdns/event_channel.hpp"

#include <utility>

namespace qx_sdk_client::mdns {

bool EventChannel::push(ResolvedService service) {
    {
        std::lock_guard lock(mutex_);
        if (closed_) {
            return false;
        }
        queue_.push_back(std::move(service));
    }
    ready_.notify_one();
    return true;
}

void EventChannel::close() {
    {
        std::lock_guard lock(mutex_);
        closed_ = true;
    }
    ready_.notify_all();
}

std::expected<ResolvedService, RecvError> EventChannel::recv(
    std::optional<std::chrono::steady_clock::time_point> deadline) {
    std::unique_lock lock(mutex_);
    auto has_news = [this] { return !queue_.empty() || closed_; };
    if (deadline) {
        if (!ready_.wait_until(lock, *deadline, has_news)) {
            return std::unexpected(RecvError::Timeout);
        }
    } else {
        ready_.wait(lock, has_news);
    }
    if (queue_.empty()) {
        return std::unexpected(RecvError::Closed);
    }
    ResolvedService service = std::move(queue_.front());
    queue_.pop_front();
    return service;
}

std::size_t EventChannel::queued() const {
    std::lock_guard lock(mutex_);
    return queue_.size();
}

}  // namespace qx_sdk_client::mdns
