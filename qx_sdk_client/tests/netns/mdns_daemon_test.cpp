// The discovery daemon against a real mDNS responder on loopback. Every
// test here sends multicast: run only through scripts/in_netns.sh.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <future>
#include <optional>
#include <ostream>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

#include "qx_sdk_client/src/mdns/service_daemon.hpp"
#include "qx_sdk_client/tests/netns/netns_support.hpp"

namespace qx_sdk_client::mdns {

void PrintTo(const Ipv4Address& address, std::ostream* out) {
    *out << int{address.octets[0]} << '.' << int{address.octets[1]} << '.' << int{address.octets[2]} << '.'
         << int{address.octets[3]};
}

void PrintTo(const Ipv6Address& address, std::ostream* out) {
    char text[INET6_ADDRSTRLEN] = {};
    inet_ntop(AF_INET6, address.octets.data(), text, sizeof text);
    *out << '[' << text << '%' << address.scope_id << ']';
}

}  // namespace qx_sdk_client::mdns

namespace {

using namespace std::chrono_literals;
using qx_netns_test::Advertiser;
using qx_sdk_client::mdns::Ipv4Address;
using qx_sdk_client::mdns::Ipv6Address;
using qx_sdk_client::mdns::Receiver;
using qx_sdk_client::mdns::RecvError;
using qx_sdk_client::mdns::ResolvedService;
using qx_sdk_client::mdns::ServiceAddress;
using qx_sdk_client::mdns::ServiceDaemon;

constexpr char service_type[] = "_br-command-api._tcp.local.";
constexpr std::uint16_t base_port = 41000;
// Generous: resolution on loopback takes a fraction of a second, and a
// wait only ends this early when something is wrong.
constexpr auto resolve_wait = 10s;

const ServiceAddress loopback_v4 = Ipv4Address{{127, 0, 0, 1}};

std::vector<std::uint16_t> ports_for(std::size_t count) {
    std::vector<std::uint16_t> ports;
    for (std::size_t i = 0; i < count; ++i) {
        ports.push_back(static_cast<std::uint16_t>(base_port + i));
    }
    return ports;
}

std::string instance_fullname(std::size_t index) { return "qx-test-" + std::to_string(index) + "." + service_type; }

class DiscoveryOnLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string refusal = qx_netns_test::multicast_refusal(); !refusal.empty()) {
            FAIL() << refusal;
        }
    }

    // A set-up step that has nothing to return ends the test: there is no
    // value to go on with.
    template <typename T>
    static T value_of(std::expected<T, std::string> result, const char* step) {
        if (!result) {
            throw std::runtime_error(std::string(step) + ": " + result.error());
        }
        return std::move(*result);
    }

    static ServiceDaemon make_daemon() { return value_of(ServiceDaemon::create(), "daemon"); }

    static Receiver browse(ServiceDaemon& daemon) { return value_of(daemon.browse(service_type), "browse"); }

    static Advertiser advertise(Advertiser::Options options) {
        return value_of(Advertiser::start(options), "advertiser");
    }

    // Receives `count` events, failing at the first that does not come.
    static std::vector<ResolvedService> receive(Receiver& receiver, std::size_t count) {
        std::vector<ResolvedService> services;
        for (std::size_t i = 0; i < count; ++i) {
            auto event = receiver.recv_for(resolve_wait);
            if (!event) {
                ADD_FAILURE() << "event " << i << " of " << count << " did not arrive";
                break;
            }
            services.push_back(std::move(*event));
        }
        return services;
    }

    static void expect_closed(Receiver& receiver) {
        auto event = receiver.recv_for(5s);
        ASSERT_FALSE(event.has_value()) << "unexpected event for " << event->fullname;
        EXPECT_EQ(event.error(), RecvError::Closed);
    }

    // The i-th advertised instance, each exactly once, on 127.0.0.1 only.
    static void expect_instances(std::vector<ResolvedService> services, std::size_t count) {
        std::ranges::sort(services, {}, &ResolvedService::port);
        ASSERT_EQ(services.size(), count);
        for (std::size_t i = 0; i < count; ++i) {
            EXPECT_EQ(services[i].fullname, instance_fullname(i));
            EXPECT_EQ(services[i].port, base_port + i);
            EXPECT_EQ(services[i].addresses, std::vector{loopback_v4}) << services[i].fullname;
        }
    }
};

TEST_F(DiscoveryOnLoopback, NothingAdvertisedDeliversNothingAndShutdownWakesABlockedReceiver) {
    ServiceDaemon daemon = make_daemon();
    Receiver receiver = browse(daemon);

    auto nothing = receiver.recv_for(1500ms);
    ASSERT_FALSE(nothing.has_value()) << "unexpected event for " << nothing->fullname;
    EXPECT_EQ(nothing.error(), RecvError::Timeout);

    auto blocked = std::async(std::launch::async, [&receiver] { return receiver.recv(); });
    EXPECT_EQ(blocked.wait_for(200ms), std::future_status::timeout);
    ASSERT_TRUE(daemon.shutdown(2s).has_value());
    ASSERT_EQ(blocked.wait_for(5s), std::future_status::ready);
    auto woken = blocked.get();
    ASSERT_FALSE(woken.has_value());
    EXPECT_EQ(woken.error(), RecvError::Closed);
}

class EachInstanceOnce : public DiscoveryOnLoopback, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(EachInstanceOnce, DeliversEveryInstanceOnceWithItsPortAndAddress) {
    const std::size_t count = GetParam();
    Advertiser advertiser = advertise({.ports = ports_for(count)});
    ServiceDaemon daemon = make_daemon();

    const auto started = std::chrono::steady_clock::now();
    Receiver receiver = browse(daemon);
    auto services = receive(receiver, count);
    const auto took = std::chrono::steady_clock::now() - started;
    std::printf("[ timing   ] %zu service(s) resolved %lld ms after the browse began\n", count,
                static_cast<long long>(std::chrono::duration_cast<std::chrono::milliseconds>(took).count()));

    expect_instances(std::move(services), count);
    // Avahi keeps reporting while the browse runs; no instance comes twice.
    auto extra = receiver.recv_for(1500ms);
    EXPECT_FALSE(extra.has_value()) << "second event for " << extra->fullname;
    ASSERT_TRUE(daemon.shutdown(2s).has_value());
    expect_closed(receiver);
}

INSTANTIATE_TEST_SUITE_P(Counts, EachInstanceOnce, ::testing::Values(1, 8),
                         [](const auto& param_info) { return std::to_string(param_info.param) + "Services"; });

TEST_F(DiscoveryOnLoopback, DualStackHostGivesOneEventWithBothAddresses) {
    Advertiser advertiser = advertise({.ports = {base_port}, .ipv6 = true});
    ServiceDaemon daemon = make_daemon();
    Receiver receiver = browse(daemon);

    auto services = receive(receiver, 1);
    ASSERT_EQ(services.size(), 1u);
    const ServiceAddress loopback_v6 =
        Ipv6Address{{0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}, if_nametoindex("lo")};
    EXPECT_EQ(services[0].port, base_port);
    EXPECT_EQ(services[0].addresses.size(), 2u);
    EXPECT_NE(std::ranges::find(services[0].addresses, loopback_v4), services[0].addresses.end());
    EXPECT_NE(std::ranges::find(services[0].addresses, loopback_v6), services[0].addresses.end());

    auto extra = receiver.recv_for(1500ms);
    EXPECT_FALSE(extra.has_value()) << "second event for " << extra->fullname;
}

TEST_F(DiscoveryOnLoopback, InstanceThatLeavesAndReturnsIsNotDeliveredAgain) {
    Advertiser advertiser = advertise({.ports = {base_port}});
    ServiceDaemon daemon = make_daemon();
    Receiver receiver = browse(daemon);
    expect_instances(receive(receiver, 1), 1);

    ASSERT_TRUE(advertiser.reregister());
    auto again = receiver.recv_for(3s);
    EXPECT_FALSE(again.has_value()) << "second event for " << again->fullname;
}

TEST_F(DiscoveryOnLoopback, ShutdownDeliversQueuedEventsThenCloses) {
    constexpr std::size_t count = 8;
    Advertiser advertiser = advertise({.ports = ports_for(count)});
    ServiceDaemon daemon = make_daemon();
    Receiver receiver = browse(daemon);

    const auto deadline = std::chrono::steady_clock::now() + resolve_wait;
    while (receiver.queued() < count && std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(20ms);
    }
    ASSERT_EQ(receiver.queued(), count);

    ASSERT_TRUE(daemon.shutdown(2s).has_value());
    std::vector<ResolvedService> services;
    for (std::size_t i = 0; i < count; ++i) {
        auto event = receiver.recv();
        ASSERT_TRUE(event.has_value()) << "queued event " << i << " lost by the shutdown";
        services.push_back(std::move(*event));
    }
    expect_instances(std::move(services), count);
    expect_closed(receiver);
}

TEST_F(DiscoveryOnLoopback, DestroyingTheDaemonClosesItsReceivers) {
    std::optional<Receiver> receiver;
    {
        ServiceDaemon daemon = make_daemon();
        receiver = browse(daemon);
    }
    expect_closed(*receiver);
}

TEST_F(DiscoveryOnLoopback, RefusesBadTypesAndUseAfterShutdown) {
    ServiceDaemon daemon = make_daemon();
    auto bad = daemon.browse("not a service type");
    ASSERT_FALSE(bad.has_value());
    EXPECT_NE(bad.error().find("not a service type"), std::string::npos) << bad.error();

    ASSERT_TRUE(daemon.shutdown(2s).has_value());
    EXPECT_FALSE(daemon.shutdown(2s).has_value());
    EXPECT_FALSE(daemon.browse(service_type).has_value());
}

TEST_F(DiscoveryOnLoopback, RepeatedCyclesLeaveThreadsAndDescriptorsAsTheyWere) {
    Advertiser advertiser = advertise({.ports = {base_port}});
    const std::size_t threads_before = qx_netns_test::thread_count();
    const std::size_t fds_before = qx_netns_test::open_fd_count();

    for (int cycle = 0; cycle < 50; ++cycle) {
        ServiceDaemon daemon = make_daemon();
        Receiver receiver = browse(daemon);
        // Every other cycle stops while its resolvers are still at work.
        if (cycle % 2 == 0) {
            ASSERT_TRUE(receiver.recv_for(resolve_wait).has_value()) << "cycle " << cycle;
        }
        auto stopped = daemon.shutdown(2s);
        ASSERT_TRUE(stopped.has_value()) << "cycle " << cycle << ": " << stopped.error().text;
    }

    EXPECT_EQ(qx_netns_test::thread_count(), threads_before);
    EXPECT_EQ(qx_netns_test::open_fd_count(), fds_before);
}

// A zero bound is shorter than any stop, so this is the path of a stop that
// hangs: the caller is not held, its receivers are closed at once, and the
// stop still finishes and frees everything on its own.
TEST_F(DiscoveryOnLoopback, ShutdownPastItsBoundClosesAtOnceAndCleansUpLater) {
    const std::size_t threads_before = qx_netns_test::thread_count();
    const std::size_t fds_before = qx_netns_test::open_fd_count();
    {
        ServiceDaemon daemon = make_daemon();
        Receiver receiver = browse(daemon);
        auto stopped = daemon.shutdown(0ms);
        if (!stopped) {
            EXPECT_EQ(stopped.error().kind, qx_sdk_client::mdns::ShutdownFailure::Kind::Overran);
            EXPECT_NE(stopped.error().text.find("did not stop within 0 ms"), std::string::npos) << stopped.error().text;
        }
        auto closed = receiver.recv_for(0ms);
        ASSERT_FALSE(closed.has_value());
        EXPECT_EQ(closed.error(), RecvError::Closed);
    }
    const auto deadline = std::chrono::steady_clock::now() + 10s;
    while ((qx_netns_test::thread_count() != threads_before || qx_netns_test::open_fd_count() != fds_before) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    EXPECT_EQ(qx_netns_test::thread_count(), threads_before);
    EXPECT_EQ(qx_netns_test::open_fd_count(), fds_before);
}

TEST_F(DiscoveryOnLoopback, AvahiWritesNothingToStderr) {
    Advertiser advertiser = advertise({.ports = {base_port}});
    qx_netns_test::FdCapture capture(2);
    ASSERT_TRUE(capture.active());
    bool found = false;
    {
        ServiceDaemon daemon = make_daemon();
        Receiver receiver = browse(daemon);
        found = receiver.recv_for(resolve_wait).has_value();
        (void)daemon.shutdown(2s);
    }
    EXPECT_EQ(capture.finish(), "");
    EXPECT_TRUE(found);
}

}  // namespace
