#include "qx_sdk_client/src/device_connection.hpp"

#include <atomic>
#include <exception>
#include <mutex>
#include <thread>
#include <utility>

namespace qx_sdk_client::device {

struct SharedConnection::State {
    explicit State(net::TcpStream stream) : connection{std::move(stream)} {}

    std::mutex lock;
    bool broken = false;                 // written and read only while `lock` is held
    std::atomic<std::thread::id> owner;  // the holder's id while held, otherwise no thread
    DeviceConnection connection;
};

namespace {

void wait_in_place(void (*wait)(void*), void* wait_context) { wait(wait_context); }

std::atomic<LockWaitHook> lock_wait_hook{&wait_in_place};

struct PendingWait {
    std::mutex* lock;
    bool acquired = false;
};

void wait_for_lock(void* context) {
    auto* pending = static_cast<PendingWait*>(context);
    if (!pending->acquired) {
        pending->lock->lock();
        pending->acquired = true;
    }
}

}  // namespace

void set_lock_wait_hook(LockWaitHook hook) noexcept { lock_wait_hook.store(hook != nullptr ? hook : &wait_in_place); }

SharedConnection::SharedConnection(net::TcpStream stream) : state_(std::make_shared<State>(std::move(stream))) {}

ConnectionGuard::ConnectionGuard(std::shared_ptr<SharedConnection::State> state, int uncaught_at_entry) noexcept
    : state_(std::move(state)), uncaught_at_entry_(uncaught_at_entry) {}

ConnectionGuard::ConnectionGuard(ConnectionGuard&& other) noexcept
    : state_(std::move(other.state_)), uncaught_at_entry_(other.uncaught_at_entry_) {}

ConnectionGuard::~ConnectionGuard() {
    if (!state_) {
        return;
    }
    // More exceptions in flight than when the lock was taken: the holder is
    // being unwound, maybe half-way through a frame.
    if (std::uncaught_exceptions() > uncaught_at_entry_) {
        state_->broken = true;
    }
    state_->owner.store(std::thread::id());
    state_->lock.unlock();
}

DeviceConnection& ConnectionGuard::connection() const { return state_->connection; }

error::Result<ConnectionGuard> lock_connection(const SharedConnection& connection) {
    SharedConnection::State& state = *connection.state_;
    const std::thread::id self = std::this_thread::get_id();
    // Only this thread can have stored its own id, and it clears it before
    // unlocking, so seeing it means this thread holds the lock right now.
    if (state.owner.load() == self) {
        return std::unexpected(error::Error(error::Error::Kind::FailedToAquireLock));
    }
    if (!state.lock.try_lock()) {
        PendingWait pending{&state.lock};
        lock_wait_hook.load()(&wait_for_lock, &pending);
        // A hook that forgot to wait must not let the caller in unlocked.
        wait_for_lock(&pending);
    }
    state.owner.store(self);
    ConnectionGuard guard(connection.state_, std::uncaught_exceptions());
    if (state.broken) {
        return std::unexpected(error::Error(error::Error::Kind::FailedToAquireLock));  // the guard unlocks
    }
    return guard;
}

}  // namespace qx_sdk_client::device
