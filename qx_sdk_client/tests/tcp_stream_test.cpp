#include "qx_sdk_client/src/tcp_stream.hpp"

#include <array>
#include <atomic>
#include <chrono>
#include <csignal>
#include <cstring>
#include <thread>
#include <vector>

#include <fcntl.h>
#include <linux/sockios.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include "qx_sdk_client/tests/bounded_waits.hpp"

namespace {

using namespace std::chrono_literals;
using qx_sdk_client::net::Deadline;
using qx_sdk_client::net::IoError;
using qx_sdk_client::net::IoResult;
using qx_sdk_client::net::SocketAddress;
using qx_sdk_client::net::TcpStream;

constexpr auto test_timeout = 5s;  // bounds every blocking read in these tests

// A listening loopback socket; accept() waits at most test_timeout.
class Listener {
public:
    explicit Listener(int family = AF_INET) : family_(family) {
        fd_ = ::socket(family, SOCK_STREAM | SOCK_CLOEXEC, 0);
        const auto address = family == AF_INET ? SocketAddress::parse("127.0.0.1", 0) : SocketAddress::parse("::1", 0);
        ok_ = fd_ >= 0 && ::bind(fd_, address->native(), address->native_size()) == 0 && ::listen(fd_, 16) == 0;
        sockaddr_storage bound{};
        socklen_t size = sizeof bound;
        if (ok_ && ::getsockname(fd_, reinterpret_cast<sockaddr*>(&bound), &size) == 0) {
            address_ = SocketAddress::from_native(reinterpret_cast<sockaddr*>(&bound), size);
        }
    }
    ~Listener() {
        if (fd_ >= 0) ::close(fd_);
    }
    bool ok() const { return ok_ && address_.has_value(); }
    const SocketAddress& address() const { return *address_; }

    TcpStream accept() {
        pollfd watch{fd_, POLLIN, 0};
        const int ready = ::poll(&watch, 1, static_cast<int>(std::chrono::milliseconds(test_timeout).count()));
        EXPECT_EQ(ready, 1) << "no connection to accept";
        return TcpStream::from_fd(ready == 1 ? ::accept4(fd_, nullptr, nullptr, SOCK_CLOEXEC) : -1);
    }

private:
    int family_;
    int fd_ = -1;
    bool ok_ = false;
    std::optional<SocketAddress> address_;
};

struct Pair {
    TcpStream client;
    TcpStream server;
};

Pair connected_pair(Listener& listener) {
    auto client = TcpStream::connect(listener.address(), test_timeout);
    EXPECT_TRUE(client.has_value()) << client.error().describe();
    TcpStream server = listener.accept();
    EXPECT_TRUE(client->set_read_timeout(test_timeout).has_value());
    EXPECT_TRUE(server.set_read_timeout(test_timeout).has_value());
    return {std::move(*client), std::move(server)};
}

// Fills `bytes` within the stream's read timeout, counted from now.
IoResult<void> read_exact(TcpStream& stream, std::span<uint8_t> bytes) {
    Deadline deadline = stream.read_deadline();
    return stream.read_exact(bytes, deadline);
}

std::span<const uint8_t> bytes_of(const char* text) {
    return {reinterpret_cast<const uint8_t*>(text), std::strlen(text)};
}

std::string read_text(TcpStream& stream, size_t n) {
    std::string text(n, '\0');
    const auto result = read_exact(stream, {reinterpret_cast<uint8_t*>(text.data()), n});
    EXPECT_TRUE(result.has_value()) << result.error().describe();
    return text;
}

// Waits until `n` bytes are queued for reading, so a test about "what already
// waits" does not depend on delivery timing.
void wait_for_queued(const TcpStream& stream, size_t n) {
    const auto deadline = std::chrono::steady_clock::now() + test_timeout;
    std::vector<uint8_t> peek(n);
    while (std::chrono::steady_clock::now() < deadline) {
        const ssize_t got = ::recv(stream.fd(), peek.data(), n, MSG_PEEK | MSG_DONTWAIT);
        if (got >= static_cast<ssize_t>(n)) return;
        std::this_thread::sleep_for(1ms);
    }
    ADD_FAILURE() << "bytes did not arrive";
}

class TcpStreamTest : public testing::Test {
protected:
    void SetUp() override { ASSERT_TRUE(listener.ok()); }
    Listener listener;
};

TEST_F(TcpStreamTest, WriteToClosedPeerFailsWithoutSigpipe) {
    // With the default disposition a SIGPIPE would end the test binary.
    const auto previous = std::signal(SIGPIPE, SIG_DFL);
    auto [client, server] = connected_pair(listener);
    { TcpStream gone = std::move(server); }

    std::optional<IoError> failure;
    const std::vector<uint8_t> chunk(1024, 0x55);
    for (int i = 0; i < 1000 && !failure; ++i) {  // the first writes may still be buffered
        const auto result = client.write_all(chunk);
        if (!result) failure = result.error();
        std::this_thread::sleep_for(1ms);
    }
    std::signal(SIGPIPE, previous);
    ASSERT_TRUE(failure.has_value());
    EXPECT_TRUE(failure->code() == EPIPE || failure->code() == ECONNRESET) << failure->describe();
}

TEST_F(TcpStreamTest, TimeoutsReadBack) {
    auto [client, server] = connected_pair(listener);
    constexpr auto enormous = std::chrono::nanoseconds::max();
    const struct {
        const char* label;
        std::optional<std::chrono::nanoseconds> set;
        std::chrono::nanoseconds at_least;  // 0: expect none
        std::chrono::nanoseconds at_most;   // the kernel keeps timeouts in clock ticks and may round up
    } rows[] = {
        {"client timeout", 1337ms, 1337ms, 1357ms},
        {"firmware timeout", 5s, 5s, 5020ms},
        // A sub-microsecond limit must not turn into "no limit".
        {"one nanosecond", 1ns, 1us, 20ms},
        {"none", std::nullopt, 0ns, 0ns},
        // Rounded up past what nanoseconds hold, it reads back as their most.
        {"enormous", enormous, enormous, enormous},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.label);
        ASSERT_TRUE(client.set_read_timeout(row.set).has_value());
        ASSERT_TRUE(client.set_write_timeout(row.set).has_value());
        EXPECT_EQ(client.read_limit(), row.set);
        EXPECT_EQ(client.write_limit(), row.set);
        for (const auto& read_back : {client.read_timeout(), client.write_timeout()}) {
            ASSERT_TRUE(read_back.has_value());
            if (row.at_least == 0ns) {
                EXPECT_FALSE(read_back->has_value());
            } else {
                ASSERT_TRUE(read_back->has_value());
                EXPECT_GE(**read_back, row.at_least);
                EXPECT_LE(**read_back, row.at_most);
            }
        }
    }
}

TEST_F(TcpStreamTest, ZeroOrNegativeTimeoutIsRefusedAndKeepsThePreviousOne) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(client.set_read_timeout(2s).has_value());
    for (const std::chrono::nanoseconds bad : {0ns, -1000000ns}) {
        const auto result = client.set_read_timeout(bad);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().code(), EINVAL);
        const auto read_back = client.read_timeout();
        ASSERT_TRUE(read_back.has_value() && read_back->has_value());
        EXPECT_GE(**read_back, 2s);
        EXPECT_EQ(client.read_limit(), std::optional<std::chrono::nanoseconds>(2s));
    }
}

TEST_F(TcpStreamTest, ReadTimesOutWhenNothingArrives) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(client.set_read_timeout(50ms).has_value());
    std::array<uint8_t, 4> header{};
    const auto result = read_exact(client, header);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is_timeout()) << result.error().describe();
}

TEST_F(TcpStreamTest, ReadExactAssemblesSplitWrites) {
    auto [client, server] = connected_pair(listener);
    std::thread writer([&server] {
        for (const char* piece : {"he", "ll", "o, ", "wor", "ld"}) {
            EXPECT_TRUE(server.write_all(bytes_of(piece)).has_value());
            std::this_thread::sleep_for(5ms);
        }
    });
    EXPECT_EQ(read_text(client, 3), "hel");
    EXPECT_EQ(read_text(client, 9), "lo, world");
    writer.join();
}

TEST_F(TcpStreamTest, ReadExactReportsPeerClosingPartWay) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(server.write_all(bytes_of("abc")).has_value());
    { TcpStream gone = std::move(server); }
    std::array<uint8_t, 4> buffer{};
    const auto result = read_exact(client, buffer);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is_closed());
    EXPECT_EQ(result.error().describe(), "connection closed by peer");
}

TEST_F(TcpStreamTest, DiscardPendingDropsOnlyWhatAlreadyWaits) {
    auto [client, server] = connected_pair(listener);

    // Nothing queued: returns at once with nothing dropped.
    auto dropped = client.discard_pending();
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(*dropped, 0u);

    // More than one scratch buffer's worth of stale bytes.
    const std::vector<uint8_t> stale(10000, 0xEE);
    ASSERT_TRUE(server.write_all(stale).has_value());
    wait_for_queued(client, stale.size());
    dropped = client.discard_pending();
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(*dropped, stale.size());

    ASSERT_TRUE(server.write_all(bytes_of("fresh")).has_value());
    EXPECT_EQ(read_text(client, 5), "fresh");
}

TEST_F(TcpStreamTest, DiscardPendingStopsAtItsLimit) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(server.write_all(bytes_of("0123456789")).has_value());
    wait_for_queued(client, 10);
    const auto dropped = client.discard_pending(4);
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(*dropped, 4u);
    EXPECT_EQ(read_text(client, 6), "456789");
}

TEST_F(TcpStreamTest, DiscardPendingAfterPeerClosedLeavesTheClosureToTheNextRead) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(server.write_all(bytes_of("late")).has_value());
    { TcpStream gone = std::move(server); }
    wait_for_queued(client, 4);
    const auto dropped = client.discard_pending();
    ASSERT_TRUE(dropped.has_value());
    EXPECT_EQ(*dropped, 4u);
    std::array<uint8_t, 1> one{};
    const auto result = read_exact(client, one);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is_closed());
}

// What `sender` has sent that its peer has not acknowledged yet.
int unacknowledged(const TcpStream& sender) {
    int bytes = -1;
    EXPECT_EQ(::ioctl(sender.fd(), SIOCOUTQ, &bytes), 0);
    return bytes;
}

TEST_F(TcpStreamTest, AfterAcknowledgeAtOnceEachReadIsAcknowledgedAtOnce) {
    auto [client, server] = connected_pair(listener);
    // One exchange puts the client's acknowledgements on delay, as request
    // and response traffic does.
    ASSERT_TRUE(server.write_all(bytes_of("hello")).has_value());
    EXPECT_EQ(read_text(client, 5), "hello");
    ASSERT_TRUE(client.write_all(bytes_of("request")).has_value());
    EXPECT_EQ(read_text(server, 7), "request");

    client.acknowledge_at_once();
    for (const char* piece : {"head", "payload"}) {
        ASSERT_TRUE(server.write_all(bytes_of(piece)).has_value());
        EXPECT_EQ(read_text(client, std::strlen(piece)), piece);
        EXPECT_EQ(unacknowledged(server), 0) << piece;
    }
}

TEST_F(TcpStreamTest, MoveTransfersOwnershipAndDestructionCloses) {
    auto [client, server] = connected_pair(listener);
    const int fd = client.fd();
    TcpStream moved = std::move(client);
    EXPECT_EQ(moved.fd(), fd);
    EXPECT_EQ(client.fd(), -1);  // NOLINT(bugprone-use-after-move): the moved-from state is the point
    EXPECT_EQ(client.write_all(bytes_of("x")).error().code(), EBADF);
    EXPECT_EQ(client.read_timeout().error().code(), EBADF);

    // Move-assigning over a live stream closes the old one: the peer sees end of stream.
    moved = TcpStream::from_fd(-1);
    std::array<uint8_t, 1> one{};
    const auto result = read_exact(server, one);
    ASSERT_FALSE(result.has_value());
    EXPECT_TRUE(result.error().is_closed());
}

TEST_F(TcpStreamTest, ConnectToAClosedPortFails) {
    SocketAddress address = listener.address();
    {
        Listener gone;  // bind a port, then free it again
        ASSERT_TRUE(gone.ok());
        address = gone.address();
    }
    const auto result = TcpStream::connect(address, test_timeout);
    ASSERT_FALSE(result.has_value());
    EXPECT_EQ(result.error().code(), ECONNREFUSED) << result.error().describe();
}

// How long a call that must give up after `limit` may take on a loaded machine.
constexpr auto slack = 700ms;

// How a call that was expected to fail ended, and how long it took.
struct TimedFailure {
    std::optional<IoError> failure;
    std::chrono::nanoseconds took;
};

template <class Call>
TimedFailure time_failure(Call&& call) {
    const auto start = std::chrono::steady_clock::now();
    const auto result = call();
    const std::chrono::nanoseconds took = std::chrono::steady_clock::now() - start;
    return {result ? std::nullopt : std::optional<IoError>(result.error()), took};
}

void expect_timed_out_within(const TimedFailure& ended, std::chrono::nanoseconds limit) {
    ASSERT_TRUE(ended.failure.has_value()) << "the call did not fail";
    EXPECT_TRUE(ended.failure->is_timeout()) << ended.failure->describe();
    EXPECT_LT(ended.took, limit + slack);
}

TEST(TcpStreamConnect, AnAddressThatNeverAnswersFailsAfterTheTimeoutEvenUnderSignals) {
    qx_sdk_test::UnansweredAddress unanswered;
    for (const bool interrupted : {false, true}) {
        SCOPED_TRACE(interrupted ? "with a signal every 50 ms" : "quiet");
        std::optional<qx_sdk_test::PeriodicSignal> signals;
        if (interrupted) signals.emplace(50ms);
        const TimedFailure ended = time_failure([&] { return TcpStream::connect(unanswered.address(), 300ms); });
        expect_timed_out_within(ended, 300ms);
        EXPECT_GE(ended.took, 300ms);
        if (interrupted) {
            EXPECT_GE(qx_sdk_test::PeriodicSignal::count(), 3);
        }
    }
}

TEST_F(TcpStreamTest, AConnectedStreamIsBlockingAndANonPositiveConnectTimeoutIsRefused) {
    auto [client, server] = connected_pair(listener);
    EXPECT_EQ(::fcntl(client.fd(), F_GETFL) & O_NONBLOCK, 0);
    for (const std::chrono::nanoseconds bad : {0ns, -1ns}) {
        const auto result = TcpStream::connect(listener.address(), bad);
        ASSERT_FALSE(result.has_value());
        EXPECT_EQ(result.error().code(), EINVAL);
    }
}

// The read timeout bounds a whole read, however the bytes come: a peer
// that sends a byte just inside each timeout, or a signal that interrupts
// every wait, must not stretch it.
TEST_F(TcpStreamTest, AReadEndsWithinItsTimeoutWhateverTrickles) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(client.set_read_timeout(300ms).has_value());
    std::atomic<bool> stop = false;
    std::thread trickle([&] {
        for (int i = 0; i < 40 && !stop; ++i) {
            const uint8_t byte = 0x42;
            if (!server.write_all({&byte, 1})) return;
            std::this_thread::sleep_for(100ms);
        }
    });
    std::array<uint8_t, 64> buffer{};
    const TimedFailure ended = time_failure([&] { return read_exact(client, buffer); });
    stop = true;
    trickle.join();
    expect_timed_out_within(ended, 300ms);
}

TEST_F(TcpStreamTest, ASilentPeerTimesOutUnderAPeriodicSignal) {
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(client.set_read_timeout(300ms).has_value());
    const qx_sdk_test::PeriodicSignal signals(100ms);
    std::array<uint8_t, 4> header{};
    const TimedFailure ended = time_failure([&] { return read_exact(client, header); });
    expect_timed_out_within(ended, 300ms);
    EXPECT_GE(ended.took, 300ms);
    EXPECT_GE(qx_sdk_test::PeriodicSignal::count(), 2);
}

// A peer that takes a little of a large write every now and then keeps each
// send short of its timeout; the write as a whole still ends in time.
TEST_F(TcpStreamTest, AWriteEndsWithinItsTimeoutAgainstASlowReader) {
    auto [client, server] = connected_pair(listener);
    const int small = 4096;
    ::setsockopt(client.fd(), SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
    ::setsockopt(server.fd(), SOL_SOCKET, SO_RCVBUF, &small, sizeof small);
    ASSERT_TRUE(client.set_write_timeout(300ms).has_value());
    std::atomic<bool> stop = false;
    std::thread slow_reader([&] {
        std::array<uint8_t, 2048> sink{};
        for (int i = 0; i < 100 && !stop; ++i) {
            ::recv(server.fd(), sink.data(), sink.size(), MSG_DONTWAIT);
            std::this_thread::sleep_for(50ms);
        }
    });
    const std::vector<uint8_t> large(8 << 20, 0x5A);
    const TimedFailure ended = time_failure([&] { return client.write_all(large); });
    stop = true;
    slow_reader.join();
    expect_timed_out_within(ended, 300ms);
}

TEST(TcpStreamIpv6, ConnectsToLoopback) {
    Listener listener(AF_INET6);
    if (!listener.ok()) GTEST_SKIP() << "no IPv6 loopback here";
    auto [client, server] = connected_pair(listener);
    ASSERT_TRUE(client.write_all(bytes_of("v6")).has_value());
    EXPECT_EQ(read_text(server, 2), "v6");
}

TEST(SocketAddressTest, ParseAndShow) {
    const struct {
        const char* text;
        uint16_t port;
        uint32_t scope;
        const char* shown;  // nullptr: refused
    } rows[] = {
        {"127.0.0.1", 5000, 0, "127.0.0.1:5000"},
        {"::1", 80, 0, "[::1]:80"},
        {"fe80::1", 7, 3, "[fe80::1%3]:7"},
        {"localhost", 1, 0, nullptr},  // never looked up
        {"", 1, 0, nullptr},
        {"1.2.3.4.5", 1, 0, nullptr},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.text);
        const auto address = SocketAddress::parse(row.text, row.port, row.scope);
        if (row.shown == nullptr) {
            EXPECT_FALSE(address.has_value());
            continue;
        }
        ASSERT_TRUE(address.has_value());
        EXPECT_EQ(address->to_string(), row.shown);
        EXPECT_EQ(address->port(), row.port);
        EXPECT_EQ(SocketAddress::from_native(address->native(), address->native_size()), address);
    }
    const auto v4 = SocketAddress::ipv4({127, 0, 0, 1}, 5000);
    EXPECT_EQ(v4, SocketAddress::parse("127.0.0.1", 5000));
    EXPECT_FALSE(SocketAddress::from_native(v4.native(), v4.native_size() - 1).has_value());
}

}  // namespace
