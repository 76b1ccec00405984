#include "qx_sdk_client/src/mdns/bounded_run.hpp"

#include <condition_variable>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>
#include <utility>

namespace qx_sdk_client::mdns {

namespace {

// Shared, so a thread left running after a timeout still has somewhere to
// report to.
struct Completion {
    std::mutex mutex;
    std::condition_variable finished;
    bool done = false;
};

}  // namespace

BoundedRunOutcome run_bounded(std::function<void()> work, std::chrono::milliseconds bound) {
    auto completion = std::make_shared<Completion>();
    std::thread runner;
    try {
        runner = std::thread([work = std::move(work), completion]() mutable {
            work();
            // Whatever the work owns is released before the waiter is told.
            work = nullptr;
            {
                std::lock_guard lock(completion->mutex);
                completion->done = true;
            }
            completion->finished.notify_all();
        });
    } catch (const std::system_error&) {
        return BoundedRunOutcome::NoThread;
    }
    bool done = false;
    {
        std::unique_lock lock(completion->mutex);
        done = completion->finished.wait_for(lock, bound, [&] { return completion->done; });
    }
    if (done) {
        runner.join();
        return BoundedRunOutcome::Finished;
    }
    runner.detach();
    return BoundedRunOutcome::TimedOut;
}

}  // namespace qx_sdk_client::mdns
