// Waiting without the interpreter lock, and objects made once per process.
#pragma once

#include <atomic>
#include <mutex>
#include <thread>

#include "brisel_qx_api/src/py_ref.hpp"

namespace brisel_qx_api {

// Gives up the interpreter lock for the object's lifetime. Nothing Python may
// be touched meanwhile; the lock is taken back before the destructor returns.
class GilReleased {
public:
    GilReleased() : state_(PyEval_SaveThread()) {}
    ~GilReleased() { PyEval_RestoreThread(state_); }
    GilReleased(const GilReleased&) = delete;
    GilReleased& operator=(const GilReleased&) = delete;

private:
    PyThreadState* state_;
};

// Takes `lock`, called with the interpreter lock held. When another thread
// holds `lock`, waits for it without the interpreter lock: that thread may
// need the interpreter lock to finish, and holding it here would deadlock
// both. Returns with both locks held.
template <class Lockable>
void lock_releasing_gil(Lockable& lock) {
    if (lock.try_lock()) {
        return;
    }
    GilReleased released;
    lock.lock();
}

// One process-wide object (an exception type, a class, an interned name) that
// is made on first need and then shared by every module object and thread. It
// is never released: the types and members outlive any module object.
class OnceSlot {
public:
    // Borrowed reference to the object; on first use `make` builds it (it
    // returns a PyRef, empty with a Python error set on failure). A failure
    // leaves the slot empty, so a later call tries again.
    template <class Make>
    PyObject* get(Make&& make) {
        if (PyObject* made = value_.load(std::memory_order_acquire)) {
            return made;
        }
        // `make` of this very slot running further up this thread's stack:
        // report it instead of waiting for ourselves.
        if (maker_.load(std::memory_order_relaxed) == std::this_thread::get_id()) {
            PyErr_SetString(PyExc_RuntimeError, "object requested during its own initialization");
            return nullptr;
        }
        lock_releasing_gil(mutex_);
        std::lock_guard guard(mutex_, std::adopt_lock);
        if (PyObject* made = value_.load(std::memory_order_acquire)) {
            return made;  // another thread made it while this one waited
        }
        maker_.store(std::this_thread::get_id(), std::memory_order_relaxed);
        PyRef made = make();
        maker_.store(std::thread::id{}, std::memory_order_relaxed);
        if (!made) {
            return nullptr;
        }
        PyObject* kept = made.release();
        value_.store(kept, std::memory_order_release);
        return kept;
    }

private:
    std::mutex mutex_;
    std::atomic<PyObject*> value_{nullptr};
    std::atomic<std::thread::id> maker_{};
};

}  // namespace brisel_qx_api
