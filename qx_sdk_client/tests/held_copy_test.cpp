// A device whose stack sends with Nagle's algorithm holds the copy of a reply
// it sends twice until the client has acknowledged the reply. A client that
// delays that acknowledgement (Linux does, by up to about 40 ms, in request
// and response traffic) sends it with its next request: the copy then lands
// just after that request went out, where no drain can see it, and is taken
// for its answer; each later reply waits the same way while calls come fast.
#include <chrono>
#include <string>
#include <thread>
#include <vector>

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include "qx_sdk_client/tests/sdk_test_bench.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"

namespace qx_sdk_test {
namespace {

using qx_test::Fault;
using testing::IsEmpty;

constexpr auto copy_gap = 10ms;
constexpr uint16_t get_name_command = 3;

// Each call asks for a name the device has only just been given, so an
// answer meant for an earlier call shows as that call's name.
struct NamedCalls {
    Bench bench;
    size_t calls = 0;

    void send_the_next_reply_twice() {
        bench.fake.inject(get_name_command, Fault::reply_twice(copy_gap, Fault::Sending::nagle));
    }
    // Empty when the call got its own answer, else what it got instead.
    std::string wrong_answer() {
        const std::string name = "call " + std::to_string(++calls);
        bench.fake.update_state([&](qx_test::DeviceState& s) { s.name = name; });
        const Result<std::string> got = bench.device.get_name();
        if (got && *got == name) return {};
        return name + " got " + (got ? *got : got.error().debug_text());
    }
    // The device has sent all it will for the calls so far, held back or not.
    // The tests wait for it so that a slow device thread on a busy machine
    // cannot pass for a held copy.
    bool device_done() { return bench.fake.wait_for_handled_requests(calls, 5s); }
};

TEST(HeldCopy, CallsTwentyMillisecondsApartEachGetTheirOwnAnswer) {
    NamedCalls named;
    std::vector<std::string> wrong;
    for (int round = 0; round < 5; ++round) {
        named.send_the_next_reply_twice();
        for (int call = 0; call < 5; ++call) {
            if (std::string w = named.wrong_answer(); !w.empty()) wrong.push_back(std::move(w));
            std::this_thread::sleep_for(20ms);
            ASSERT_TRUE(named.device_done());
        }
    }
    EXPECT_THAT(wrong, IsEmpty());
}

// The call right after the doubled one goes out while the device waits to
// send the copy, so it takes the copy: nothing tells the two apart. Its own
// reply, held behind the copy, is released by the acknowledgement of the
// copy and is in before the next call goes out, provided the device has
// answered by then; one slower than the caller's next call (a busy device
// thread here, a device across a real network) keeps back-to-back calls
// one behind whatever the client acknowledges.
TEST(HeldCopy, BackToBackCallsTakeAtMostOneWrongAnswer) {
    NamedCalls named;
    for (int round = 0; round < 5; ++round) {
        SCOPED_TRACE("round " + std::to_string(round));
        named.send_the_next_reply_twice();
        std::vector<std::string> wrong;
        for (int call = 0; call < 10; ++call) {
            if (call >= 2) {
                ASSERT_TRUE(named.device_done());
            }
            if (std::string w = named.wrong_answer(); !w.empty()) wrong.push_back(std::move(w));
        }
        EXPECT_LE(wrong.size(), 1u) << testing::PrintToString(wrong);
        ASSERT_TRUE(named.device_done());
    }
}

}  // namespace
}  // namespace qx_sdk_test
