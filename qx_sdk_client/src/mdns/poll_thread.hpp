// avahi's poll loop on a thread of our own. avahi's threaded poll reports
// its thread as started even when pthread_create fails (it tests for a
// negative result, and pthread_create returns a positive one), and its stop
// then joins a thread that never existed; a std::thread says when it
// cannot be had.
#pragma once

#include <memory>
#include <mutex>
#include <thread>

#include <avahi-common/simple-watch.h>
#include <avahi-common/watch.h>

namespace qx_sdk_client::mdns {

class PollThread {
public:
    // The loop, not yet running; nullptr when avahi cannot make it.
    [[nodiscard]] static std::unique_ptr<PollThread> create();

    const AvahiPoll* api() const { return avahi_simple_poll_get(poll_); }

    // False when no thread can be had; the loop then stays as it was.
    [[nodiscard]] bool start() noexcept;

    // Held, the loop runs nothing: it holds this itself except while it
    // waits for its descriptors and timeouts.
    void lock() { mutex_.lock(); }
    void unlock() { mutex_.unlock(); }

    // Ends the loop and joins its thread, if it was started. Never from a
    // callback of the loop.
    void stop() noexcept;

    ~PollThread();
    PollThread(const PollThread&) = delete;
    PollThread& operator=(const PollThread&) = delete;

private:
    explicit PollThread(AvahiSimplePoll* poll);

    static int wait_unlocked(struct pollfd* descriptors, unsigned int count, int timeout, void* self);
    void run() noexcept;

    AvahiSimplePoll* poll_;
    std::mutex mutex_;
    std::thread thread_;
};

}  // namespace qx_sdk_client::mdns
