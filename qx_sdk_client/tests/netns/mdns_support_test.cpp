// The discovery daemon's building blocks that need no network.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <string_view>
#include <thread>

#include "qx_sdk_client/src/mdns/bounded_run.hpp"
#include "qx_sdk_client/src/mdns/event_channel.hpp"
#include "qx_sdk_client/src/mdns/service_type.hpp"

namespace {

using namespace std::chrono_literals;
using namespace std::string_view_literals;
using qx_sdk_client::mdns::BoundedRunOutcome;
using qx_sdk_client::mdns::EventChannel;
using qx_sdk_client::mdns::RecvError;
using qx_sdk_client::mdns::ResolvedService;
using qx_sdk_client::mdns::run_bounded;
using qx_sdk_client::mdns::split_service_type;

struct SplitCase {
    const char* label;
    std::string_view input;
    std::string_view type;  // empty: must be refused
    std::string_view domain;
};

class ServiceTypeSplit : public ::testing::TestWithParam<SplitCase> {};

TEST_P(ServiceTypeSplit, SplitsValidTypesAndRefusesTheRest) {
    const SplitCase& c = GetParam();
    auto target = split_service_type(c.input);
    if (c.type.empty()) {
        ASSERT_FALSE(target.has_value()) << target->type << " / " << target->domain;
        EXPECT_NE(target.error().find("invalid service type"), std::string::npos) << target.error();
        EXPECT_EQ(target.error().find('\0'), std::string::npos) << "raw NUL in the message";
        return;
    }
    ASSERT_TRUE(target.has_value()) << target.error();
    EXPECT_EQ(target->type, c.type);
    EXPECT_EQ(target->domain, c.domain);
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    Types, ServiceTypeSplit,
    ::testing::Values(
        SplitCase{"Browsed", "_br-command-api._tcp.local.", "_br-command-api._tcp", "local"},
        SplitCase{"WithoutFinalDot", "_br-command-api._tcp.local", "_br-command-api._tcp", "local"},
        SplitCase{"UdpInLongerDomain", "_http._udp.example.com.", "_http._udp", "example.com"},
        SplitCase{"Empty", "", "", ""},
        SplitCase{"LoneDot", ".", "", ""},
        SplitCase{"NoDomain", "_br-command-api._tcp", "", ""},
        SplitCase{"EmptyDomain", "_br-command-api._tcp.", "", ""},
        SplitCase{"NoUnderscore", "br-command-api._tcp.local.", "", ""},
        SplitCase{"UnknownTransport", "_br-command-api._sctp.local.", "", ""},
        SplitCase{"OnlyDots", "_br-command-api._tcp..", "", ""},
        SplitCase{"EmptyLastLabel", "_br-command-api._tcp.local..", "", ""},
        // Avahi reads C strings: what follows a NUL must not be dropped
        // unseen.
        SplitCase{"EmbeddedNul", "_br-command-api._tcp.local\0.evil."sv, "", ""}),
    [](const ::testing::TestParamInfo<SplitCase>& param_info) { return std::string(param_info.param.label); });
// clang-format on

ResolvedService named(std::string name) {
    ResolvedService service;
    service.fullname = std::move(name);
    return service;
}

TEST(EventChannel, KeepsQueuedEventsAfterCloseAndRefusesLaterOnes) {
    EventChannel channel;
    ASSERT_TRUE(channel.push(named("a")));
    ASSERT_TRUE(channel.push(named("b")));
    channel.close();
    EXPECT_FALSE(channel.push(named("late")));
    EXPECT_EQ(channel.queued(), 2u);

    EXPECT_EQ(channel.recv(std::nullopt)->fullname, "a");
    EXPECT_EQ(channel.recv(std::nullopt)->fullname, "b");
    for (int again = 0; again < 2; ++again) {
        auto closed = channel.recv(std::nullopt);
        ASSERT_FALSE(closed.has_value());
        EXPECT_EQ(closed.error(), RecvError::Closed);
    }
}

TEST(EventChannel, BoundedWaitTimesOutOnlyWhileOpenAndEmpty) {
    EventChannel channel;
    auto empty = channel.recv(std::chrono::steady_clock::now() + 30ms);
    ASSERT_FALSE(empty.has_value());
    EXPECT_EQ(empty.error(), RecvError::Timeout);

    channel.close();
    auto closed = channel.recv(std::chrono::steady_clock::now() + 5s);
    ASSERT_FALSE(closed.has_value());
    EXPECT_EQ(closed.error(), RecvError::Closed);
}

TEST(EventChannel, WakesABlockedReceiverForAnEventAndForClose) {
    EventChannel channel;
    auto first = std::async(std::launch::async, [&] { return channel.recv(std::nullopt); });
    EXPECT_EQ(first.wait_for(50ms), std::future_status::timeout);
    channel.push(named("a"));
    ASSERT_EQ(first.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(first.get()->fullname, "a");

    auto second = std::async(std::launch::async, [&] { return channel.recv(std::nullopt); });
    EXPECT_EQ(second.wait_for(50ms), std::future_status::timeout);
    channel.close();
    ASSERT_EQ(second.wait_for(5s), std::future_status::ready);
    EXPECT_EQ(second.get().error(), RecvError::Closed);
}

TEST(BoundedRun, JoinsWorkThatEndsInTime) {
    std::atomic<bool> ran = false;
    EXPECT_EQ(run_bounded([&] { ran = true; }, 5s), BoundedRunOutcome::Finished);
    EXPECT_TRUE(ran);
}

// The work stands for a daemon stop that hangs: the caller gets control back
// at the bound, and the work still ends and releases what it holds later.
TEST(BoundedRun, ReturnsAtTheBoundAndLetsHungWorkFinishOnItsOwn) {
    struct Release {
        explicit Release(std::promise<void>& on_release) : released(on_release) {}
        ~Release() { released.set_value(); }
        std::promise<void>& released;
    };
    std::promise<void> unblock;
    std::promise<void> released;
    auto release_future = released.get_future();
    auto holder = std::make_shared<Release>(released);
    std::shared_future<void> gate = unblock.get_future().share();

    const auto outcome = run_bounded([holder = std::move(holder), gate] { gate.wait(); }, 50ms);
    EXPECT_EQ(outcome, BoundedRunOutcome::TimedOut);
    EXPECT_EQ(release_future.wait_for(0ms), std::future_status::timeout);

    unblock.set_value();
    EXPECT_EQ(release_future.wait_for(5s), std::future_status::ready);
}

}  // namespace
