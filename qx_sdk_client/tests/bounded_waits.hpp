// Test helpers for waits that must stay bounded: a signal that keeps
// interrupting the calling thread, and an address that never answers.
#pragma once

#include <atomic>
#include <chrono>
#include <csignal>
#include <ctime>
#include <optional>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include "qx_sdk_client/src/socket_address.hpp"
#include "qx_sdk_client/tests/loopback_pair.hpp"

namespace qx_sdk_test {

// Sends SIGALRM to the calling thread every `period` while it lives, with a
// handler installed without SA_RESTART, the way a profiler's or a script's
// interval timer interrupts blocking calls. Aimed at this thread alone so
// that a helper thread cannot take the signal in its place.
class PeriodicSignal {
public:
    explicit PeriodicSignal(std::chrono::nanoseconds period) {
        count_.store(0);
        struct sigaction action {};
        action.sa_handler = [](int) { count_.fetch_add(1); };
        sigemptyset(&action.sa_mask);
        ::sigaction(SIGALRM, &action, &previous_);

        sigevent event{};
        event.sigev_notify = SIGEV_THREAD_ID;
        event.sigev_signo = SIGALRM;
        event._sigev_un._tid = ::gettid();
        EXPECT_EQ(::timer_create(CLOCK_MONOTONIC, &event, &timer_), 0);
        const timespec every{static_cast<time_t>(period.count() / 1'000'000'000),
                             static_cast<long>(period.count() % 1'000'000'000)};
        const itimerspec schedule{every, every};
        EXPECT_EQ(::timer_settime(timer_, 0, &schedule, nullptr), 0);
    }
    ~PeriodicSignal() {
        ::timer_delete(timer_);
        ::sigaction(SIGALRM, &previous_, nullptr);
    }
    PeriodicSignal(const PeriodicSignal&) = delete;
    PeriodicSignal& operator=(const PeriodicSignal&) = delete;

    // How many signals arrived: shows that the wait really was interrupted.
    static int count() { return count_.load(); }

private:
    static inline std::atomic<int> count_{0};
    struct sigaction previous_ {};
    timer_t timer_{};
};

// A loopback listener whose accept queue is full and which never accepts:
// the system drops every further connection request without an answer, as
// a host that is gone or a firewall that drops would.
class UnansweredAddress {
public:
    UnansweredAddress() {
        sockaddr_in address{};
        // A backlog of 0 holds one connection; the filler takes it.
        listener_ = listen_on_loopback(0, address);
        if (listener_ < 0) {
            return;
        }
        filler_ = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
        if (filler_ < 0 || ::connect(filler_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
            ADD_FAILURE() << "filling the accept queue";
            return;
        }
        address_ = qx_sdk_client::net::SocketAddress::ipv4({127, 0, 0, 1}, ntohs(address.sin_port));
    }
    ~UnansweredAddress() {
        if (filler_ >= 0) ::close(filler_);
        if (listener_ >= 0) ::close(listener_);
    }
    UnansweredAddress(const UnansweredAddress&) = delete;
    UnansweredAddress& operator=(const UnansweredAddress&) = delete;

    const qx_sdk_client::net::SocketAddress& address() const { return *address_; }
    uint16_t port() const { return address_->port(); }

private:
    int listener_ = -1;
    int filler_ = -1;
    std::optional<qx_sdk_client::net::SocketAddress> address_;
};

}  // namespace qx_sdk_test
