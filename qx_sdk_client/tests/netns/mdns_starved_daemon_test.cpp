// Starting the discovery daemon when what avahi-core opens cannot be had
// must end in an error: avahi itself would carry on and fail an assertion,
// killing the whole process. Each case runs in a child process of its own.
// Every test here sends multicast: run only through scripts/in_netns.sh.
#include <fcntl.h>
#include <grp.h>
#include <gtest/gtest.h>
#include <linux/filter.h>
#include <linux/seccomp.h>
#include <sys/prctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/syscall.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstdio>
#include <iterator>
#include <latch>
#include <string>
#include <thread>
#include <vector>

#include "qx_sdk_client/src/client.hpp"
#include "qx_sdk_client/src/mdns/service_daemon.hpp"
#include "qx_sdk_client/tests/netns/netns_support.hpp"

namespace {

using namespace std::chrono_literals;
using qx_sdk_client::mdns::ServiceDaemon;

// Lowers the soft limit so that exactly `free` more descriptors can be
// opened: up to the first free slot past them. Descriptors above the limit
// stay usable.
bool leave_free(rlim_t free) {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) != 0) {
        return false;
    }
    const int scan_end = static_cast<int>(std::min<rlim_t>(limit.rlim_cur, 4096));
    rlim_t seen = 0;
    for (int fd = 0; fd < scan_end; ++fd) {
        if (fcntl(fd, F_GETFD) >= 0) {
            continue;
        }
        if (seen == free) {
            limit.rlim_cur = static_cast<rlim_t>(fd);
            return setrlimit(RLIMIT_NOFILE, &limit) == 0;
        }
        ++seen;
    }
    return false;
}

// Lowers the soft limit so that exactly `spare` more threads can be
// started. Root is not held to it, so the process takes a uid of its own
// first; the limit counts every thread of that uid on the machine, and the
// process id keeps it apart from any other run's.
bool leave_threads(rlim_t spare) {
    const auto uid = static_cast<uid_t>(200000 + getpid());
    if (setgroups(0, nullptr) != 0 || setgid(uid) != 0 || setuid(uid) != 0) {
        return false;
    }
    rlimit limit{};
    if (getrlimit(RLIMIT_NPROC, &limit) != 0) {
        return false;
    }
    limit.rlim_cur = qx_netns_test::thread_count() + spare;
    return setrlimit(RLIMIT_NPROC, &limit) == 0;
}

// A thread already joined may take a moment to leave the process, and to
// give its place under the limit back.
bool threads_back_to(std::size_t count) {
    const auto deadline = std::chrono::steady_clock::now() + 5s;
    while (qx_netns_test::thread_count() != count) {
        if (std::chrono::steady_clock::now() > deadline) {
            return false;
        }
        std::this_thread::sleep_for(10ms);
    }
    return true;
}

// As a sandbox that allows only internet sockets does.
bool refuse_netlink_sockets() {
    sock_filter filter[] = {
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, nr)),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, __NR_socket, 0, 3),
        BPF_STMT(BPF_LD | BPF_W | BPF_ABS, offsetof(seccomp_data, args[0])),
        BPF_JUMP(BPF_JMP | BPF_JEQ | BPF_K, AF_NETLINK, 0, 1),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ERRNO | EAFNOSUPPORT),
        BPF_STMT(BPF_RET | BPF_K, SECCOMP_RET_ALLOW),
    };
    sock_fprog program{static_cast<unsigned short>(std::size(filter)), filter};
    return prctl(PR_SET_NO_NEW_PRIVS, 1, 0, 0, 0) == 0 &&
           prctl(PR_SET_SECCOMP, SECCOMP_MODE_FILTER, &program, 0, 0) == 0;
}

[[noreturn]] void fail_with(int code, const char* why) {
    std::fputs(why, stderr);
    std::fflush(stderr);
    _exit(code);
}

// What the starved process holds before a daemon is made, to find what the
// daemon leaves behind: exits 2 for a descriptor, 4 for a thread.
struct Holdings {
    std::size_t descriptors = qx_netns_test::open_fd_count();
    std::size_t threads = qx_netns_test::thread_count();

    void expect_threads_again() const {
        if (!threads_back_to(threads)) {
            fail_with(4, "a thread was left running");
        }
    }
    void expect_all_again() const {
        if (qx_netns_test::open_fd_count() != descriptors) {
            fail_with(2, "a descriptor was left open");
        }
        expect_threads_again();
    }
};

// Exits 0 when the daemon was refused and every descriptor and thread that
// its start took is gone again.
template <typename Starve>
[[noreturn]] void start_starved(Starve starve) {
    if (!starve()) {
        fail_with(3, "could not starve the process");
    }
    const Holdings before;
    const bool started = ServiceDaemon::create().has_value();
    if (started) {
        fail_with(1, "the daemon started");
    }
    before.expect_all_again();
    _exit(0);
}

class StarvedDaemonStart : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string refusal = qx_netns_test::multicast_refusal(); !refusal.empty()) {
            FAIL() << refusal;
        }
    }
};

TEST_F(StarvedDaemonStart, NetlinkRefusedByTheSandboxIsAnError) {
    EXPECT_EXIT(start_starved(refuse_netlink_sockets), ::testing::ExitedWithCode(0), "");
}

// The daemon's poll loop takes two of them for its wake-up pipe, so avahi
// would get its multicast sockets but not its netlink socket.
TEST_F(StarvedDaemonStart, TooFewDescriptorsForTheServerAreAnError) {
    for (const rlim_t free : {rlim_t{3}, rlim_t{4}}) {
        SCOPED_TRACE("descriptors free: " + std::to_string(free));
        EXPECT_EXIT(start_starved([free] { return leave_free(free); }), ::testing::ExitedWithCode(0), "");
    }
}

TEST_F(StarvedDaemonStart, NoThreadForTheDaemonIsAnError) {
    EXPECT_EXIT(start_starved([] { return leave_threads(0); }), ::testing::ExitedWithCode(0), "");
}

// With its own thread the only one to be had, a daemon cannot be stopped
// within a bound; it is kept until it can be stopped, or until it is stopped
// on the calling thread.
[[noreturn]] void stop_without_a_thread() {
    using Kind = qx_sdk_client::mdns::ShutdownFailure::Kind;
    if (!leave_threads(1)) {
        fail_with(3, "could not starve the process");
    }
    const Holdings before;
    {
        auto daemon = ServiceDaemon::create();
        if (!daemon) {
            fail_with(10, "the daemon did not start");
        }
        auto receiver = daemon->browse("_br-command-api._tcp.local.");
        auto stopped = daemon->shutdown(2s);
        if (!receiver || stopped || stopped.error().kind != Kind::NoThread) {
            fail_with(11, "the stop did not report that it had no thread");
        }
        if (!daemon->browse("_br-command-api._tcp.local.")) {
            fail_with(12, "the daemon was not kept");
        }
        auto waiting = receiver->recv_for(0ms);
        if (waiting || waiting.error() != qx_sdk_client::mdns::RecvError::Timeout) {
            fail_with(13, "the receiver ended before its channel was closed");
        }
        daemon->close_channels();
        auto closed = receiver->recv_for(0ms);
        if (closed || closed.error() != qx_sdk_client::mdns::RecvError::Closed) {
            fail_with(14, "closing the channels did not end the receiver");
        }
        daemon->stop_here();
        stopped = daemon->shutdown(2s);
        if (stopped || stopped.error().kind != Kind::AlreadyShutDown) {
            fail_with(15, "the daemon was not stopped here");
        }
    }
    before.expect_threads_again();
    // Destroyed without a shutdown, it is stopped here too.
    {
        auto daemon = ServiceDaemon::create();
        if (!daemon) {
            fail_with(16, "the daemon did not start again");
        }
    }
    before.expect_all_again();
    _exit(0);
}

TEST_F(StarvedDaemonStart, DaemonWithoutAThreadForItsStopIsKeptUntilStopped) {
    EXPECT_EXIT(stop_without_a_thread(), ::testing::ExitedWithCode(0), "");
}

// Scans on several threads at once, started together: true when each
// returned a list or the discovery error.
bool scans_side_by_side(const qx_sdk_client::client::Client& client) {
    constexpr int scanners = 4;
    std::latch start(scanners);
    std::vector<int> outcomes(scanners, -1);
    std::vector<std::thread> threads;
    for (size_t i = 0; i < outcomes.size(); ++i) {
        threads.emplace_back([&, i] {
            start.arrive_and_wait();
            auto devices = client.scan_for_devices_with_timeout(50ms);
            const bool clean = devices.has_value() ||
                               devices.error().kind() == qx_sdk_client::error::Error::Kind::DeviceDiscoveryError;
            outcomes[i] = clean ? 0 : 1;
        });
    }
    for (auto& thread : threads) {
        thread.join();
    }
    return std::ranges::count(outcomes, 0) == scanners;
}

// Rounds of them, each daemon's start racing the others' for the few
// descriptors left; whatever they opened is closed again.
[[noreturn]] void scan_side_by_side_starved(rlim_t free) {
    constexpr int rounds = 3;
    const qx_sdk_client::client::Client client(300ms);
    // UBSan's vptr check probes memory through a pipe, and starved of
    // descriptors takes sound objects for broken ones; a round with
    // descriptors to spare fills its cache of checked types first.
    if (!scans_side_by_side(client)) {
        fail_with(1, "a scan failed in another way");
    }
    if (!leave_free(free)) {
        fail_with(3, "could not starve the process");
    }
    const std::size_t before = qx_netns_test::open_fd_count();
    for (int round = 0; round < rounds; ++round) {
        if (!scans_side_by_side(client)) {
            fail_with(1, "a scan failed in another way");
        }
    }
    if (qx_netns_test::open_fd_count() != before) {
        fail_with(2, "a descriptor was left open");
    }
    _exit(0);
}

TEST_F(StarvedDaemonStart, ConcurrentScansWithFewDescriptorsFreeNeverAbort) {
    for (int run = 0; run < 20; ++run) {
        const auto free = static_cast<rlim_t>(12 + run % 5);
        SCOPED_TRACE("run " + std::to_string(run) + ", descriptors free: " + std::to_string(free));
        EXPECT_EXIT(scan_side_by_side_starved(free), ::testing::ExitedWithCode(0), "");
    }
}

}  // namespace
