// The borrow flag that every object of the module's classes carries.
#pragma once

#include <atomic>
#include <cstdint>

namespace brisel_qx_api {

enum class BorrowKind { Shared, Exclusive };

// 0: free; all bits set: borrowed exclusively; anything else: that many
// shared borrows. A conflicting borrow is refused at once, never waited for.
class BorrowFlag {
public:
    bool try_borrow_exclusive() {
        uintptr_t expected = 0;
        return word_.compare_exchange_strong(expected, exclusive, std::memory_order_acquire, std::memory_order_relaxed);
    }
    void release_exclusive() { word_.store(0, std::memory_order_release); }

    bool try_borrow_shared() {
        uintptr_t current = word_.load(std::memory_order_relaxed);
        do {
            if (current >= exclusive - 1) {
                return false;  // exclusive, or the counter would reach the exclusive mark
            }
        } while (
            !word_.compare_exchange_weak(current, current + 1, std::memory_order_acquire, std::memory_order_relaxed));
        return true;
    }
    void release_shared() { word_.fetch_sub(1, std::memory_order_release); }

private:
    static constexpr uintptr_t exclusive = ~uintptr_t{0};
    std::atomic<uintptr_t> word_{0};
};

// Holds one borrow of the given kind for its lifetime, if it got one.
template <BorrowKind Kind>
class Borrow {
public:
    explicit Borrow(BorrowFlag& flag)
        : flag_(flag), held_(Kind == BorrowKind::Exclusive ? flag.try_borrow_exclusive() : flag.try_borrow_shared()) {}
    ~Borrow() {
        if (!held_) {
            return;
        }
        if constexpr (Kind == BorrowKind::Exclusive) {
            flag_.release_exclusive();
        } else {
            flag_.release_shared();
        }
    }
    Borrow(const Borrow&) = delete;
    Borrow& operator=(const Borrow&) = delete;

    bool held() const { return held_; }

private:
    BorrowFlag& flag_;
    bool held_;
};

// The refusal texts; the first is what a second call on a busy handle sees.
inline constexpr const char* already_borrowed_text = "Already borrowed";
inline constexpr const char* already_mutably_borrowed_text = "Already mutably borrowed";

}  // namespace brisel_qx_api
