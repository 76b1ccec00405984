// Running a piece of work that might never return without waiting for ever.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>

namespace qx_sdk_client::mdns {

enum class BoundedRunOutcome : std::uint8_t {
    Finished,  // the work ended within the bound and its thread is joined
    TimedOut,  // the work goes on, on a detached thread that owns it
    NoThread,  // no thread could be started; the work was not run
};

// Runs `work` on a thread of its own and waits at most `bound` for it.
BoundedRunOutcome run_bounded(std::function<void()> work, std::chrono::milliseconds bound);

}  // namespace qx_sdk_client::mdns
