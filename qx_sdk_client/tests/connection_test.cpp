// The request exchange, the connection lock and device creation, against
// real sockets on loopback.
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/exchange.hpp"
#include "qx_sdk_client/src/util.hpp"
#include "qx_sdk_client/tests/loopback_pair.hpp"
#include "qx_sdk_client/tests/sdk_test_bench.hpp"
#include "qx_sdk_protocol/src/device.hpp"

namespace qx_sdk_test {
namespace {

using qx_sdk_client::device::lock_connection;
using qx_sdk_client::device::PACKET_BUFFER_SIZE;
using qx_sdk_client::net::SocketAddress;
using qx_sdk_client::net::TcpStream;
using qx_test::Bytes;
using qx_test::Fault;

constexpr std::string_view header_failure = "Failed to read packet header";
constexpr std::string_view payload_failure = "Failed to read remaining payload";

Error read_error(std::string_view text) { return Error(Kind::TcpStreamReadError, std::string(text)); }

// --- the exchange on a device connection ------------------------------------

TEST(Exchange, ALateReplyIsNotTakenForTheNextOne) {
    Bench bench;
    bench.fake.inject(3, Fault::delay_reply(test_timeout * 2));
    EXPECT_EQ(error_of(bench.device.get_name()), read_error(header_failure));

    ASSERT_TRUE(wait_until_readable(bench.device, 2s));
    bench.fake.update_state([](qx_test::DeviceState& s) { s.name = "Renamed"; });
    const Result<std::string> name = bench.device.get_name();
    ASSERT_TRUE(succeeded(name));
    EXPECT_EQ(*name, "Renamed");
}

TEST(Exchange, AssemblesARepliesArrivingInPieces) {
    Bench bench;
    bench.fake.inject(3, Fault::split_reply(1, 1ms));
    const Result<std::string> name = bench.device.get_name();
    ASSERT_TRUE(succeeded(name));
    EXPECT_EQ(*name, "QX Test Device");
}

TEST(Exchange, ReportsWhereADeviceClosingMidReplyLeftIt) {
    struct Case {
        size_t reply_bytes_before_close;
        std::string_view failure;
    };
    for (const Case& c : {Case{0, header_failure}, Case{2, header_failure}, Case{6, payload_failure}}) {
        SCOPED_TRACE(c.reply_bytes_before_close);
        Bench bench;
        bench.fake.inject(3, Fault::close(c.reply_bytes_before_close));
        EXPECT_EQ(error_of(bench.device.get_name()), read_error(c.failure));
    }
}

TEST(Exchange, TakesRepliesOfEmptyAndOfFullPayload) {
    Bench bench;
    // The set-loopback reply's payload is not read, so any length is a valid reply.
    for (const size_t length : {size_t{0}, PACKET_BUFFER_SIZE - 4}) {
        SCOPED_TRACE(length);
        bench.fake.inject(87, Fault::raw(qx_test::frame(88, Bytes(length, 0xA5))));
        EXPECT_TRUE(succeeded(bench.interface.set_loopback_state(true)));
    }
    EXPECT_TRUE(succeeded(bench.device.get_name()));
}

TEST(Exchange, AnOversizeReplyFailsAndLeavesTheConnectionUsable) {
    Bench bench;
    for (const uint16_t length : {uint16_t{PACKET_BUFFER_SIZE - 3}, uint16_t{0xFFFF}}) {
        SCOPED_TRACE(length);
        bench.fake.inject(3, Fault::oversize_header(length));
        const Result<std::string> refused = bench.device.get_name();
        ASSERT_FALSE(refused);
        EXPECT_EQ(refused.error().kind(), Kind::TcpStreamReadError);
        const Result<std::string> name = bench.device.get_name();
        ASSERT_TRUE(succeeded(name));
        EXPECT_EQ(*name, "QX Test Device");
    }
}

TEST(Exchange, ARefusedPackSendsNothing) {
    Bench bench;
    EXPECT_EQ(error_of(bench.device.set_nickname(std::string("a\0b", 3))).value().kind(), Kind::Utf8Error);
    EXPECT_EQ(bench.fake.request_count(), 0u);
    EXPECT_TRUE(succeeded(bench.device.get_name()));
}

// --- the lock ----------------------------------------------------------------

struct Abandoned {};

TEST(ConnectionLock, AnExchangeAbandonedByAnExceptionBreaksTheLockForGood) {
    Bench bench;
    const auto throwing_pack = [](uint32_t, std::span<uint8_t>) -> qx_sdk_protocol::ProtocolResult<std::span<uint8_t>> {
        throw Abandoned{};
    };
    EXPECT_THROW(qx_sdk_client::device::request(bench.device.connection(), "test", throwing_pack,
                                                qx_sdk_protocol::device::unpack_get_device_name),
                 Abandoned);

    for (const Operation& op : all_operations()) {
        SCOPED_TRACE(op.qualified_name);
        EXPECT_EQ(op.run(bench.device, bench.interface), Error(Kind::FailedToAquireLock));
    }
    EXPECT_EQ(error_of(lock_connection(bench.device.connection())), Error(Kind::FailedToAquireLock));
    EXPECT_EQ(bench.fake.request_count(), 0u);
    EXPECT_EQ(bench.device.get_ean(), qx_test::DeviceState().ean);
    EXPECT_EQ(bench.device.get_serial_number(), qx_test::DeviceState().serial_number);
}

TEST(ConnectionLock, AnErrorReturnedUnderTheLockLeavesItUnbroken) {
    Bench bench;
    bench.fake.inject(3, Fault::no_reply());
    EXPECT_EQ(error_of(bench.device.get_name()), read_error(header_failure));
    EXPECT_TRUE(succeeded(bench.interface.get_status()));
}

TEST(ConnectionLock, ReentryFromTheHoldingThreadFailsAtOnceAndLeavesTheLockAlone) {
    Bench bench;
    {
        auto held = lock_connection(bench.device.connection());
        ASSERT_TRUE(succeeded(held));
        EXPECT_EQ(error_of(lock_connection(bench.device.connection())), Error(Kind::FailedToAquireLock));
        EXPECT_EQ(error_of(bench.interface.get_status()), Error(Kind::FailedToAquireLock));
        EXPECT_EQ(bench.fake.request_count(), 0u);

        // The outer holder still has its lock and its connection.
        const auto name = qx_sdk_client::device::exchange(
            held->connection(), "test",
            [](uint32_t version, std::span<uint8_t> buffer) {
                return qx_sdk_protocol::device::pack_get_device_name(version, buffer);
            },
            qx_sdk_protocol::device::unpack_get_device_name);
        EXPECT_EQ(name, std::string("QX Test Device"));
    }
    EXPECT_TRUE(succeeded(bench.device.get_name()));
}

// The hook sees only the waits of contended locks, and its wait returns only
// once the other thread has let go.
std::atomic<int> hook_calls{0};
std::atomic<bool> holder_released{false};
std::atomic<bool> released_when_wait_returned{false};

void recording_hook(void (*wait)(void*), void* wait_context) {
    hook_calls.fetch_add(1);
    wait(wait_context);
    released_when_wait_returned.store(holder_released.load());
}

struct HookInstalled {
    HookInstalled() { qx_sdk_client::device::set_lock_wait_hook(&recording_hook); }
    ~HookInstalled() { qx_sdk_client::device::set_lock_wait_hook(nullptr); }
};

TEST(ConnectionLock, AContendedLockIsWaitedForInsideTheHook) {
    Bench bench;
    HookInstalled installed;
    hook_calls = 0;
    holder_released = false;
    released_when_wait_returned = false;

    EXPECT_TRUE(succeeded(bench.device.get_name()));
    EXPECT_EQ(hook_calls.load(), 0);

    std::atomic<bool> holding{false};
    std::thread holder([&] {
        auto held = lock_connection(bench.device.connection());
        holding = true;
        // Let go once the main thread waits in the hook (or after a bound, and the test fails).
        const auto deadline = std::chrono::steady_clock::now() + 2s;
        while (hook_calls.load() == 0 && std::chrono::steady_clock::now() < deadline) {
            std::this_thread::sleep_for(1ms);
        }
        std::this_thread::sleep_for(20ms);
        holder_released = true;
    });
    while (!holding) {
        std::this_thread::yield();
    }
    const Result<std::string> name = bench.device.get_name();
    holder.join();
    ASSERT_TRUE(succeeded(name));
    EXPECT_EQ(hook_calls.load(), 1);
    EXPECT_TRUE(released_when_wait_returned.load());
}

// --- device creation ---------------------------------------------------------

TEST(DeviceCreation, DependsOnTheReportedProtocolVersion) {
    struct Case {
        uint16_t version;
        std::optional<Kind> failure;
    };
    for (const Case& c : {Case{0, Kind::ApiNotAvailableInProtocolVersion}, Case{1, std::nullopt}, Case{2, std::nullopt},
                          Case{3, Kind::ClientSoftwareTooOldForDevice}}) {
        SCOPED_TRACE(c.version);
        qx_test::DeviceState state;
        state.protocol_version = c.version;
        state.ean = 0x4260000000017;
        state.serial_number = 77;
        qx_test::FakeDevice fake(state);
        const Result<Device> device = connect_to(fake);
        if (c.failure) {
            EXPECT_EQ(error_of(device), Error(*c.failure));
            EXPECT_EQ(fake.request_commands(), std::vector<uint16_t>{1});
            EXPECT_TRUE(fake.wait_for_open_connections(0, 2s));
        } else {
            ASSERT_TRUE(succeeded(device));
            EXPECT_EQ(fake.request_commands(), (std::vector<uint16_t>{1, 39, 29}));
            EXPECT_EQ(device->get_ean(), state.ean);
            EXPECT_EQ(device->get_serial_number(), state.serial_number);
        }
    }
}

TEST(DeviceCreation, AFailedExchangeEndsCreationAndClosesTheStream) {
    qx_test::FakeDevice fake;
    fake.inject(29, Fault::no_reply());
    EXPECT_EQ(error_of(connect_to(fake)), read_error(header_failure));
    EXPECT_EQ(fake.request_commands(), (std::vector<uint16_t>{1, 39, 29}));
    EXPECT_TRUE(fake.wait_for_open_connections(0, 2s));
}

TEST(DeviceCreation, ATimeoutThatCannotBeSetIsPrintedAndCreationGoesOn) {
    qx_test::FakeDevice fake;
    auto address = SocketAddress::parse(fake.address(), fake.port());
    auto stream = TcpStream::connect(*address, test_timeout);
    ASSERT_TRUE(stream);
    // Bounds this test's reads: the zero duration below is refused, not applied.
    ASSERT_TRUE(stream->set_read_timeout(test_timeout));
    ASSERT_TRUE(stream->set_write_timeout(test_timeout));

    testing::internal::CaptureStdout();
    const Result<Device> device = Device::create(*address, std::move(*stream), 0ns);
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_TRUE(succeeded(device));
    EXPECT_EQ(printed,
              "Failed to set TCP read timeout EINVAL (22): Invalid argument\n"
              "Failed to set TCP write timeout EINVAL (22): Invalid argument\n");
}

TEST(DeviceCreation, SetsBothTimeouts) {
    qx_test::FakeDevice fake;
    const Result<Device> device = connect_to(fake, 300ms);
    ASSERT_TRUE(succeeded(device));
    auto guard = lock_connection(device->connection());
    ASSERT_TRUE(succeeded(guard));
    EXPECT_EQ(guard.value()->stream.read_timeout().value(), std::optional<std::chrono::nanoseconds>(300ms));
    EXPECT_EQ(guard.value()->stream.write_timeout().value(), std::optional<std::chrono::nanoseconds>(300ms));
}

}  // namespace
}  // namespace qx_sdk_test
