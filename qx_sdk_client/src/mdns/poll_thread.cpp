#include "qx_sdk_client/src/mdns/poll_thread.hpp"

#include <poll.h>
#include <pthread.h>
#include <signal.h>

#include <cerrno>
#include <system_error>

namespace qx_sdk_client::mdns {

namespace {

// Signals are the caller's threads' to handle: the loop's thread is
// started with all of them blocked, and the caller's mask is put back.
class AllSignalsBlocked {
public:
    AllSignalsBlocked() {
        sigset_t all;
        sigfillset(&all);
        pthread_sigmask(SIG_BLOCK, &all, &previous_);
    }
    ~AllSignalsBlocked() { pthread_sigmask(SIG_SETMASK, &previous_, nullptr); }
    AllSignalsBlocked(const AllSignalsBlocked&) = delete;
    AllSignalsBlocked& operator=(const AllSignalsBlocked&) = delete;

private:
    sigset_t previous_{};
};

}  // namespace

std::unique_ptr<PollThread> PollThread::create() {
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (poll == nullptr) {
        return nullptr;
    }
    std::unique_ptr<PollThread> loop(new PollThread(poll));
    avahi_simple_poll_set_func(poll, &PollThread::wait_unlocked, loop.get());
    return loop;
}

PollThread::PollThread(AvahiSimplePoll* poll) : poll_(poll) {}

PollThread::~PollThread() {
    stop();
    avahi_simple_poll_free(poll_);
}

bool PollThread::start() noexcept {
    try {
        AllSignalsBlocked blocked;
        thread_ = std::thread(&PollThread::run, this);
        return true;
    } catch (const std::system_error&) {
        return false;
    }
}

void PollThread::stop() noexcept {
    if (!thread_.joinable()) {
        return;
    }
    {
        std::lock_guard lock(mutex_);
        avahi_simple_poll_quit(poll_);
    }
    thread_.join();
}

// Others may lock the loop to change its watches while it waits.
int PollThread::wait_unlocked(struct pollfd* descriptors, unsigned int count, int timeout, void* self) {
    auto& loop = *static_cast<PollThread*>(self);
    loop.mutex_.unlock();
    const int ready = ::poll(descriptors, count, timeout);
    const int saved = errno;
    loop.mutex_.lock();
    errno = saved;
    return ready;
}

void PollThread::run() noexcept {
    std::lock_guard lock(mutex_);
    while (true) {
        const int result = avahi_simple_poll_iterate(poll_, -1);
        if (result == 0 || (result < 0 && errno == EINTR)) {
            continue;
        }
        // 1 once stop() asked, -1 when the wait itself failed.
        return;
    }
}

}  // namespace qx_sdk_client::mdns
