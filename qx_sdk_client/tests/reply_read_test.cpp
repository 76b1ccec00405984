// Reading one reply frame (read_packet): in as few receives as possible,
// within one deadline; and the exchange's dropping of whatever waits on the
// stream before its request: nothing that came before can be its reply.
#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <thread>
#include <type_traits>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/exchange.hpp"
#include "qx_sdk_client/src/util.hpp"
#include "qx_sdk_client/tests/bounded_waits.hpp"
#include "qx_sdk_client/tests/loopback_pair.hpp"
#include "qx_sdk_client/tests/sdk_test_bench.hpp"
#include "qx_sdk_client/tests/support/wire_bytes.hpp"
#include "qx_sdk_protocol/src/device.hpp"

namespace qx_sdk_test {
namespace {

using qx_sdk_client::device::PACKET_BUFFER_SIZE;
using qx_sdk_client::net::TcpStream;
using qx_test::Bytes;
using qx_test::Fault;

Bytes pattern(size_t size, uint8_t seed = 1) {
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) {
        bytes[i] = static_cast<uint8_t>(i * 7 + seed);
    }
    return bytes;
}

Bytes concat(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Error read_error(std::string_view text) { return Error(Kind::TcpStreamReadError, std::string(text)); }

constexpr std::string_view header_failure = "Failed to read packet header";
constexpr std::string_view payload_failure = "Failed to read remaining payload";

std::string oversize_failure(size_t length) {
    return "Reply payload of " + std::to_string(length) + " bytes does not fit the packet buffer of 4092 payload bytes";
}

// Joins on every path out of a test, early assertion failures included.
class Sender {
public:
    template <class Body>
    explicit Sender(Body body) : thread_(std::move(body)) {}
    ~Sender() { thread_.join(); }
    Sender(const Sender&) = delete;
    Sender& operator=(const Sender&) = delete;

private:
    std::thread thread_;
};

struct ReadCase {
    const char* label;
    Bytes sent;
    bool peer_closes;
    size_t frame_size;                        // bytes of the frame expected at the buffer's front
    std::optional<std::string_view> failure;  // absent: the frame is read whole
};

TEST(ReadPacket, ReadsOneFrameOrFailsWithWhereItStopped) {
    const Bytes header_of_ten = {0x04, 0x00, 0x0A, 0x00};
    const Bytes small = qx_test::frame(4, pattern(5));
    const Bytes full = qx_test::frame(4, pattern(PACKET_BUFFER_SIZE - 4));
    const std::vector<ReadCase> cases = {
        {"empty payload", qx_test::frame(2), false, 4, std::nullopt},
        {"small payload", small, false, small.size(), std::nullopt},
        {"payload filling the buffer", full, false, full.size(), std::nullopt},
        {"a frame and more", concat(small, qx_test::frame(6, pattern(3))), false, small.size(), std::nullopt},
        {"closed before any byte", {}, true, 0, header_failure},
        {"closed inside the header", {0x04, 0x00}, true, 0, header_failure},
        {"closed inside the payload", concat(header_of_ten, pattern(3)), true, 0, payload_failure},
        {"silent before the header", {}, false, 0, header_failure},
        {"silent inside the payload", concat(header_of_ten, pattern(9)), false, 0, payload_failure},
    };
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.label);
        LoopbackPair pair;
        pair.send(c.sent);
        if (c.peer_closes) {
            pair.close_peer();
        }
        std::array<uint8_t, PACKET_BUFFER_SIZE> buffer{};
        const Result<void> read = qx_sdk_client::util::read_packet(pair.stream(), buffer);
        if (c.failure) {
            EXPECT_EQ(error_of(read), read_error(*c.failure));
        } else {
            ASSERT_TRUE(succeeded(read));
            EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(c.frame_size)),
                      Bytes(c.sent.begin(), c.sent.begin() + static_cast<ptrdiff_t>(c.frame_size)));
        }
    }
}

TEST(ReadPacket, AssemblesAFrameArrivingOneByteAtATime) {
    LoopbackPair pair;
    const Bytes sent = qx_test::frame(4, pattern(40));
    const Sender trickle([&] {
        for (uint8_t byte : sent) {
            pair.send(std::span(&byte, 1));
            std::this_thread::sleep_for(1ms);
        }
    });
    std::array<uint8_t, PACKET_BUFFER_SIZE> buffer{};
    const Result<void> read = qx_sdk_client::util::read_packet(pair.stream(), buffer);
    ASSERT_TRUE(succeeded(read));
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(sent.size())), sent);
}

// Whatever of an oversize payload one receive took, the rest is dropped
// exactly, never past the buffer: the frame behind it is read whole next.
TEST(ReadPacket, RefusesAnOversizeFrameAndStaysInStep) {
    for (const size_t length : {PACKET_BUFFER_SIZE - 3, size_t{0xFFFF}}) {
        SCOPED_TRACE(length);
        LoopbackPair pair;
        const Bytes next = qx_test::frame(6, pattern(5));
        const Bytes oversize = {0x04, 0x00, static_cast<uint8_t>(length), static_cast<uint8_t>(length >> 8)};
        const Sender sender([&] { pair.send(concat(concat(oversize, Bytes(length, 0xEE)), next)); });
        // The buffer is a window of a larger array so an overrun would show.
        std::vector<uint8_t> memory(PACKET_BUFFER_SIZE + 64, 0x55);
        const std::span<uint8_t> buffer(memory.data(), PACKET_BUFFER_SIZE);
        const Result<void> read = qx_sdk_client::util::read_packet(pair.stream(), buffer);
        EXPECT_EQ(error_of(read), read_error(oversize_failure(length)));
        EXPECT_EQ(Bytes(memory.begin() + PACKET_BUFFER_SIZE, memory.end()), Bytes(64, 0x55));
        ASSERT_TRUE(succeeded(qx_sdk_client::util::read_packet(pair.stream(), buffer)));
        EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + static_cast<ptrdiff_t>(next.size())), next);
    }
}

// However the bytes come, one frame takes at most the read timeout, counted
// from the start of the read: a peer that sends a byte well inside each
// timeout, or a signal that interrupts every wait, must not stretch it.
TEST(ReadPacket, EndsWithinTheReadTimeoutWhateverTricklesIn) {
    constexpr auto gap = test_timeout / 3;
    const Bytes header_of_ten = {0x04, 0x00, 0x0A, 0x00};
    const Bytes oversize = {0x04, 0x00, 0xFF, 0xFF};
    const struct {
        const char* label;
        Bytes at_once;
        size_t trickled;  // bytes sent one at a time, `gap` apart, after `at_once`
        bool signals;     // SIGALRM every `gap` meanwhile
        std::string failure;
    } cases[] = {
        {"a frame a byte at a time", {}, 40, false, std::string(header_failure)},
        {"a payload a byte at a time", header_of_ten, 10, false, std::string(payload_failure)},
        {"an oversize payload a byte at a time", oversize, 40, false, oversize_failure(0xFFFF)},
        {"silence, under a periodic signal", {}, 0, true, std::string(header_failure)},
        {"a payload a byte at a time, under a periodic signal", header_of_ten, 10, true, std::string(payload_failure)},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.label);
        LoopbackPair pair;
        pair.send(c.at_once);
        std::atomic<bool> done = false;
        const Sender trickle([&] {
            for (size_t i = 0; i < c.trickled && !done; ++i) {
                std::this_thread::sleep_for(gap);
                const uint8_t byte = 0x42;
                ::send(pair.peer(), &byte, 1, MSG_NOSIGNAL);
            }
        });
        std::optional<PeriodicSignal> signals;
        if (c.signals) signals.emplace(gap);
        std::array<uint8_t, PACKET_BUFFER_SIZE> buffer{};
        const auto start = std::chrono::steady_clock::now();
        const Result<void> read = qx_sdk_client::util::read_packet(pair.stream(), buffer);
        const auto took = std::chrono::steady_clock::now() - start;
        signals.reset();
        done = true;
        EXPECT_EQ(error_of(read), read_error(c.failure));
        EXPECT_GE(took, test_timeout);
        EXPECT_LT(took, test_timeout + 700ms);
        if (c.signals) {
            EXPECT_GE(PeriodicSignal::count(), 2);
        }
    }
}

Bytes name_reply(std::string_view name) {
    qx_test::ByteWriter payload;
    payload.text(name);
    return qx_test::frame(4, payload);
}

// A device that trickles its reply holds the call no longer than the read
// timeout; once it has finished, the stale bytes are drained and the next
// call gets its own reply. An oversize reply trickled in ends as quickly.
TEST(Exchange, ATrickledReplyFailsInTimeAndTheConnectionStaysUsable) {
    constexpr auto gap = test_timeout / 4;
    Bench bench;
    const qx_test::Bytes name = name_reply("QX Test Device");
    bench.fake.inject(3, Fault::split_reply(1, gap));
    const auto start = std::chrono::steady_clock::now();
    const Result<std::string> trickled = bench.device.get_name();
    ASSERT_FALSE(trickled);
    EXPECT_EQ(trickled.error().kind(), Kind::TcpStreamReadError);
    EXPECT_LT(std::chrono::steady_clock::now() - start, test_timeout + 700ms);

    std::this_thread::sleep_until(start + gap * name.size() + 500ms);
    const Result<std::string> next = bench.device.get_name();
    ASSERT_TRUE(succeeded(next));
    EXPECT_EQ(*next, "QX Test Device");

    // The header at once, then its payload four bytes at a time.
    bench.fake.inject(3, Fault::split_raw(concat({0x04, 0x00, 0xFF, 0xFF}, Bytes(64, 0)), 4, gap));
    const auto oversize_start = std::chrono::steady_clock::now();
    EXPECT_EQ(error_of(bench.device.get_name()), read_error(oversize_failure(0xFFFF)));
    EXPECT_LT(std::chrono::steady_clock::now() - oversize_start, test_timeout + 700ms);
}

// Bytes that came in with a reply are no reply to anything: dropped, and
// the stream drained before the next request, so the next reply is the
// device's own answer.
TEST(Exchange, BytesArrivingBehindAReplyAreNotTakenForTheNextOne) {
    Bench bench;
    bench.fake.inject(3, Fault::raw(concat(name_reply("First"), name_reply("Stale"))));
    const Result<std::string> first = bench.device.get_name();
    ASSERT_TRUE(succeeded(first));
    EXPECT_EQ(*first, "First");
    const Result<std::string> second = bench.device.get_name();
    ASSERT_TRUE(succeeded(second));
    EXPECT_EQ(*second, "QX Test Device");
}

// What a call gave, as one comparable text.
template <class T>
std::string shown(const Result<T>& result) {
    if (!result) return result.error().debug_text();
    if constexpr (std::is_void_v<T>) {
        return "done";
    } else {
        return *result;
    }
}

// A device that sends a reply twice, the copy arriving before the next
// request: nothing that came before a request can answer it, so the next
// call, of the same kind or another, gets the device's answer to its own.
TEST(Exchange, ACopyOfAReplyThatArrivedBeforeTheNextRequestIsNotTakenForItsReply) {
    struct Case {
        const char* label;
        uint16_t doubled;  // the command whose reply comes twice
        std::string (*first)(Bench&);
        std::string first_gives;
        void (*change)(qx_test::DeviceState&);
        std::string (*next)(Bench&);
        std::string expected;
    };
    const auto get_name = [](Bench& b) { return shown(b.device.get_name()); };
    const auto identify = [](Bench& b) { return shown(b.device.identify()); };
    const Case cases[] = {
        {"get_name, then get_name", 3, get_name, "QX Test Device", [](qx_test::DeviceState& s) { s.name = "Renamed"; },
         get_name, "Renamed"},
        {"identify, then identify refused", 7, identify, "done",
         [](qx_test::DeviceState& s) { s.identify_status = qx_test::device_status::operation_not_permitted; }, identify,
         Error(Kind::RemoteOperationNotPermitted).debug_text()},
        {"get_name, then an interface's get_nickname", 3, get_name, "QX Test Device",
         [](qx_test::DeviceState& s) { s.interfaces[0].nickname = "port A"; },
         [](Bench& b) { return shown(b.interface.get_nickname()); }, "port A"},
        {"identify, then get_name", 7, identify, "done", [](qx_test::DeviceState&) {}, get_name, "QX Test Device"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        Bench bench;
        bench.fake.inject(c.doubled, Fault::reply_twice(10ms));
        ASSERT_EQ(c.first(bench), c.first_gives);
        ASSERT_TRUE(wait_until_readable(bench.device, 2s));
        bench.fake.update_state(c.change);
        EXPECT_EQ(c.next(bench), c.expected);
        EXPECT_EQ(bench.fake.request_count(), 2u);
    }
}

// A reply followed by the first bytes of another frame: the rest of that
// frame, arriving later, must be drained before the next request rather
// than read as the start of its reply.
TEST(Exchange, APartFrameReceivedBehindAReplyIsDrainedBeforeTheNextRequest) {
    namespace device = qx_sdk_client::device;
    namespace proto = qx_sdk_protocol::device;
    LoopbackPair pair;
    const int peer = pair.peer();
    const device::SharedConnection connection(std::move(pair.stream()));
    auto guard = device::lock_connection(connection);
    ASSERT_TRUE(guard);
    device::DeviceConnection& locked = guard->connection();
    locked.protocol_version = 2;
    const auto get_name = [&] {
        return device::exchange(locked, "get_name", proto::pack_get_device_name, proto::unpack_get_device_name);
    };
    // Answers once the next request (four bytes) is in.
    const auto answer_next_request = [&pair, peer](Bytes reply) {
        return std::thread([&pair, peer, reply = std::move(reply)] {
            std::array<uint8_t, 4> request{};
            size_t have = 0;
            while (have < request.size()) {
                const ssize_t n = ::recv(peer, request.data() + have, request.size() - have, 0);
                if (n <= 0) return;
                have += static_cast<size_t>(n);
            }
            pair.send(reply);
        });
    };

    const Bytes stale = name_reply("Stale");
    std::thread device_side = answer_next_request(concat(name_reply("First"), Bytes(stale.begin(), stale.begin() + 3)));
    const Result<std::string> first = get_name();
    device_side.join();
    ASSERT_TRUE(succeeded(first));
    EXPECT_EQ(*first, "First");

    pair.send(Bytes(stale.begin() + 3, stale.end()));
    pollfd readable{locked.stream.fd(), POLLIN, 0};
    ASSERT_EQ(::poll(&readable, 1, 2000), 1);
    device_side = answer_next_request(name_reply("Second"));
    const Result<std::string> second = get_name();
    device_side.join();
    ASSERT_TRUE(succeeded(second));
    EXPECT_EQ(*second, "Second");
}

}  // namespace
}  // namespace qx_sdk_test
