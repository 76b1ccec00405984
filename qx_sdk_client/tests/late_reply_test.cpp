// A reply that comes after its exchange gave up, on a device that takes a
// moment over every reply: the next request of the same kind takes the late
// reply for its own (the stream has no way to tell them apart), and its own
// reply follows. That one has arrived before the next request goes out, so
// it must be dropped, not taken for the next request's reply.
#include <chrono>
#include <string>

#include <gtest/gtest.h>

#include "qx_sdk_client/tests/sdk_test_bench.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"

namespace qx_sdk_test {
namespace {

using qx_test::Fault;

// Long enough that the late reply lands well inside the next exchange's wait.
constexpr auto timeout = 500ms;
constexpr auto late = 750ms;
constexpr auto device_latency = 100ms;

struct Case {
    const char* label;
    uint16_t command;
    Result<std::string> (*read)(const Device&);
    void (*change)(qx_test::DeviceState&);
    std::string changed;
};

TEST(LateReply, TheReplyBehindALateOneIsNotTakenForTheNextRequest) {
    const Case cases[] = {
        {"get_name", 3, [](const Device& d) { return d.get_name(); },
         [](qx_test::DeviceState& s) { s.name = "Renamed"; }, "Renamed"},
        {"get_nickname", 81, [](const Device& d) { return d.get_nickname(); },
         [](qx_test::DeviceState& s) { s.nickname = "bench left"; }, "bench left"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        qx_test::FakeDevice fake;
        Result<Device> device = connect_to(fake, timeout);
        ASSERT_TRUE(succeeded(device));
        const std::string before = c.read(*device).value();
        fake.inject(c.command, Fault::delay_reply(std::chrono::duration_cast<std::chrono::milliseconds>(late)));
        fake.inject(c.command, Fault::delay_reply(device_latency));

        const Result<std::string> timed_out = c.read(*device);
        ASSERT_FALSE(timed_out);
        EXPECT_EQ(timed_out.error(), Error(Kind::TcpStreamReadError, "Failed to read packet header"));
        // Reads the late reply, which says what its own would have said.
        const Result<std::string> taken = c.read(*device);
        ASSERT_TRUE(succeeded(taken));
        EXPECT_EQ(*taken, before);

        ASSERT_TRUE(wait_until_readable(*device, 5s));
        fake.update_state(c.change);
        const Result<std::string> after = c.read(*device);
        ASSERT_TRUE(succeeded(after));
        EXPECT_EQ(*after, c.changed);
        const Result<std::string> again = c.read(*device);
        ASSERT_TRUE(succeeded(again));
        EXPECT_EQ(*again, c.changed);
    }
}

}  // namespace
}  // namespace qx_sdk_test
