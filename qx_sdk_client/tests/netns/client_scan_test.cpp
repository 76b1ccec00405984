// Whole scans against fake devices advertised by mDNS on loopback. Every
// test here sends multicast: run only through scripts/in_netns.sh.
#include <gtest/gtest.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <thread>
#include <tuple>
#include <vector>

#include "qx_sdk_client/src/client.hpp"
#include "qx_sdk_client/src/scan.hpp"
#include "qx_sdk_client/tests/bounded_waits.hpp"
#include "qx_sdk_client/tests/netns/netns_support.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"

namespace {

using namespace std::chrono_literals;
using qx_netns_test::Advertiser;
using qx_sdk_client::client::Client;
using qx_sdk_client::device::Device;
using qx_sdk_client::error::Result;
using Kind = qx_sdk_client::error::Error::Kind;
using Clock = std::chrono::steady_clock;

constexpr char newer_firmware_line[] = "Encountered a device with newer (incompatible) firmware";
constexpr char refused_line[] = "Failed to connect to device NetworkError";
constexpr char silent_line[] = "Failed to connect to device TcpStreamReadError(\"Failed to read packet header\")";
// Resolution on loopback takes a few hundred milliseconds after the browse
// begins; this leaves room for a loaded machine.
constexpr auto resolving_scan = 1500ms;

std::size_t socket_count() {
    std::size_t sockets = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        std::error_code failed;
        const auto target = std::filesystem::read_symlink(entry.path(), failed);
        if (!failed && target.string().starts_with("socket:")) {
            ++sockets;
        }
    }
    return sockets;
}

struct ResourceCounts {
    std::size_t threads = qx_netns_test::thread_count();
    std::size_t fds = qx_netns_test::open_fd_count();
    std::size_t sockets = socket_count();

    friend bool operator==(const ResourceCounts&, const ResourceCounts&) = default;
};

// Threads of a stop that outlasted its bound end on their own; give them a
// bounded while before comparing.
void expect_back_to(const ResourceCounts& before) {
    const auto deadline = Clock::now() + 10s;
    while (!(ResourceCounts{} == before) && Clock::now() < deadline) {
        std::this_thread::sleep_for(10ms);
    }
    const ResourceCounts after;
    EXPECT_EQ(after.threads, before.threads);
    EXPECT_EQ(after.fds, before.fds);
    EXPECT_EQ(after.sockets, before.sockets);
}

// fd 1, where the scan's diagnostic lines go, as lines.
class StdoutCapture {
public:
    bool active() const { return capture_.active(); }
    std::vector<std::string> finish() { return qx_netns_test::split_lines(capture_.finish()); }

private:
    qx_netns_test::FdCapture capture_{1};
};

// A port on 127.0.0.1 that refuses connections for as long as it lives:
// bound, so nothing else takes it, but never listening.
class RefusingPort {
public:
    RefusingPort() : fd_(socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0)) {
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        if (fd_ >= 0 && bind(fd_, reinterpret_cast<sockaddr*>(&address), size) == 0 &&
            getsockname(fd_, reinterpret_cast<sockaddr*>(&address), &size) == 0) {
            port_ = ntohs(address.sin_port);
        }
    }
    ~RefusingPort() {
        if (fd_ >= 0) {
            close(fd_);
        }
    }
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    std::uint16_t port() const { return port_; }

private:
    int fd_;
    std::uint16_t port_ = 0;
};

qx_test::DeviceState device_with(std::uint64_t ean, std::uint64_t serial_number, std::uint16_t version = 2) {
    qx_test::DeviceState state;
    state.ean = ean;
    state.serial_number = serial_number;
    state.protocol_version = version;
    return state;
}

std::vector<std::tuple<std::uint64_t, std::uint64_t>> keys_of(const std::vector<Device>& devices) {
    std::vector<std::tuple<std::uint64_t, std::uint64_t>> keys;
    for (const Device& device : devices) {
        keys.emplace_back(device.get_ean(), device.get_serial_number());
    }
    return keys;
}

std::vector<std::tuple<std::uint64_t, std::uint64_t>> keys_of_state(const qx_test::DeviceState& state) {
    return {{state.ean, state.serial_number}};
}

void print_overhead(const char* what, Clock::duration took, std::chrono::nanoseconds duration) {
    const auto ms = [](auto d) { return std::chrono::duration<double, std::milli>(d).count(); };
    std::printf("[ timing   ] %s: %.3f ms for a %.0f ms scan (%.3f ms over)\n", what, ms(took), ms(duration),
                ms(took - duration));
}

class ScanOnLoopback : public ::testing::Test {
protected:
    void SetUp() override {
        if (const std::string refusal = qx_netns_test::multicast_refusal(); !refusal.empty()) {
            FAIL() << refusal;
        }
    }

    static std::optional<Advertiser> advertise(std::vector<std::uint16_t> ports, bool ipv6 = false, bool each = false) {
        auto advertiser = Advertiser::start({.ports = std::move(ports), .ipv6 = ipv6, .each = each});
        EXPECT_TRUE(advertiser.has_value()) << advertiser.error();
        if (!advertiser) {
            return std::nullopt;
        }
        return std::move(*advertiser);
    }

    struct Scan {
        Result<std::vector<Device>> devices;
        std::vector<std::string> lines;
        Clock::duration took;
    };

    static Scan scan(const Client& client, std::chrono::nanoseconds duration) {
        StdoutCapture capture;
        EXPECT_TRUE(capture.active());
        const auto started = Clock::now();
        auto devices = client.scan_for_devices_with_timeout(duration);
        const auto took = Clock::now() - started;
        return Scan{std::move(devices), capture.finish(), took};
    }
};

TEST_F(ScanOnLoopback, NothingAdvertisedGivesAnEmptyListAfterTheDuration) {
    const Client client(300ms);
    for (const auto duration : {std::chrono::nanoseconds(500ms), qx_sdk_client::client::DEFAULT_SCAN_TIMEOUT}) {
        Scan result = scan(client, duration);
        ASSERT_TRUE(result.devices.has_value()) << result.devices.error().debug_text();
        EXPECT_TRUE(result.devices->empty());
        EXPECT_EQ(result.lines, std::vector<std::string>{});
        print_overhead("nothing advertised", result.took, duration);
    }
}

TEST_F(ScanOnLoopback, ReturnsWorkingDevicesSortedAndReportsTheOnesThatFail) {
    // Creation order of the fakes is not the order wanted back.
    std::vector<std::unique_ptr<qx_test::FakeDevice>> good;
    for (const auto& [ean, serial_number] : std::vector<std::tuple<std::uint64_t, std::uint64_t>>{
             {0x4260000000002, 1}, {0x4260000000001, 5}, {0x4260000000001, 2}, {0x4260000000001, 5}}) {
        good.push_back(std::make_unique<qx_test::FakeDevice>(device_with(ean, serial_number)));
    }
    qx_test::FakeDevice newer(device_with(0x4260000000000, 1, 3));
    RefusingPort refusing;
    ASSERT_NE(refusing.port(), 0);

    std::vector<std::uint16_t> ports{newer.port(), refusing.port()};
    for (const auto& fake : good) {
        ports.push_back(fake->port());
    }
    auto advertiser = advertise(ports);
    ASSERT_TRUE(advertiser.has_value());

    Scan result = scan(Client(300ms), resolving_scan);
    print_overhead("four devices, two failures", result.took, resolving_scan);

    ASSERT_TRUE(result.devices.has_value()) << result.devices.error().debug_text();
    const std::vector<std::tuple<std::uint64_t, std::uint64_t>> sorted{
        {0x4260000000001, 2}, {0x4260000000001, 5}, {0x4260000000001, 5}, {0x4260000000002, 1}};
    EXPECT_EQ(keys_of(*result.devices), sorted);
    std::vector<std::string> lines = result.lines;
    std::ranges::sort(lines);
    EXPECT_EQ(lines, (std::vector<std::string>{newer_firmware_line, refused_line}));

    // Each service was connected once; the newer device was only asked its
    // version and then let go.
    for (const auto& fake : good) {
        EXPECT_EQ(fake->accepted_connections(), 1u);
    }
    EXPECT_EQ(newer.accepted_connections(), 1u);
    EXPECT_EQ(newer.request_commands(), std::vector<std::uint16_t>{1});
    EXPECT_TRUE(newer.wait_for_open_connections(0, 2000ms));

    // Made on the scan's worker, used from here.
    for (const Device& device : *result.devices) {
        auto name = device.get_name();
        ASSERT_TRUE(name.has_value()) << name.error().debug_text();
        EXPECT_EQ(*name, qx_test::DeviceState().name);
    }
}

// Each silent device holds its worker for the client's timeout, and the
// scan waits for the workers, so it may run past its duration.
TEST_F(ScanOnLoopback, SilentDevicesDelayTheScanAndAreReportedWithTheReadError) {
    constexpr std::size_t silent_count = 4;
    constexpr auto client_timeout = 300ms;
    constexpr auto duration = 1s;
    std::vector<std::unique_ptr<qx_test::FakeDevice>> silent;
    std::vector<std::uint16_t> ports;
    for (std::size_t i = 0; i < silent_count; ++i) {
        silent.push_back(std::make_unique<qx_test::FakeDevice>());
        silent.back()->inject_next(qx_test::Fault::no_reply(), qx_test::FakeDevice::always);
        ports.push_back(silent.back()->port());
    }
    auto advertiser = advertise(ports);
    ASSERT_TRUE(advertiser.has_value());

    Scan result = scan(Client(client_timeout), duration);
    print_overhead("four silent devices at 300 ms each", result.took, duration);

    ASSERT_TRUE(result.devices.has_value()) << result.devices.error().debug_text();
    EXPECT_TRUE(result.devices->empty());
    EXPECT_EQ(result.lines, std::vector<std::string>(silent_count, silent_line));
    for (const auto& fake : silent) {
        EXPECT_EQ(fake->request_commands(), std::vector<std::uint16_t>{1});
        EXPECT_TRUE(fake->wait_for_open_connections(0, 2000ms));
    }
}

// An address that gets no answer at all (a host that is gone, a firewall
// that drops) costs one connect timeout, not the system's connection
// retries. Such services are connected side by side, so a bench full of
// them still holds the scan for about one timeout past its duration, and
// the working device is found.
class UnansweredServices : public ScanOnLoopback, public ::testing::WithParamInterface<std::size_t> {};

TEST_P(UnansweredServices, CostAboutOneTimeoutTogetherAndTheRestIsFound) {
    const std::size_t unanswered_count = GetParam();
    constexpr auto client_timeout = 1337ms;
    // Sixteen responders in one process, on a busy machine, may take over a
    // second to answer; every service must still resolve within the scan.
    constexpr auto duration = 3s;
    std::vector<std::unique_ptr<qx_sdk_test::UnansweredAddress>> unanswered;
    std::vector<std::uint16_t> ports;
    for (std::size_t i = 0; i < unanswered_count; ++i) {
        unanswered.push_back(std::make_unique<qx_sdk_test::UnansweredAddress>());
        ports.push_back(unanswered.back()->port());
    }
    qx_test::FakeDevice working;
    ports.push_back(working.port());
    // A responder of its own for each, as separate hosts have: behind one
    // shared responder most would resolve only after the scan.
    auto advertiser = advertise(ports, false, true);
    ASSERT_TRUE(advertiser.has_value());

    Scan result = scan(Client(client_timeout), duration);
    const std::string what = std::to_string(unanswered_count) + " services that never answer, and a device";
    print_overhead(what.c_str(), result.took, duration);

    ASSERT_TRUE(result.devices.has_value()) << result.devices.error().debug_text();
    EXPECT_EQ(keys_of(*result.devices), keys_of_state(qx_test::DeviceState()));
    EXPECT_EQ(result.lines, std::vector<std::string>(unanswered_count, refused_line));
    EXPECT_LT(result.took, duration + client_timeout + 1s);
}

INSTANTIATE_TEST_SUITE_P(ScanOnLoopback, UnansweredServices, ::testing::Values(1, 15),
                         [](const ::testing::TestParamInfo<std::size_t>& param_info) {
                             return std::to_string(param_info.param);
                         });

TEST_F(ScanOnLoopback, HostWithBothAddressFamiliesGivesOneDevice) {
    qx_test::FakeDevice fake;  // on 127.0.0.1 only, so ::1 refuses if tried first
    auto advertiser = advertise({fake.port()}, true);
    ASSERT_TRUE(advertiser.has_value());

    Scan result = scan(Client(300ms), resolving_scan);

    ASSERT_TRUE(result.devices.has_value()) << result.devices.error().debug_text();
    ASSERT_EQ(result.devices->size(), 1u);
    EXPECT_TRUE(result.devices->front().address().is_ipv4()) << result.devices->front().address().to_string();
    EXPECT_EQ(fake.accepted_connections(), 1u);
    EXPECT_EQ(result.lines, std::vector<std::string>{});
}

// The shutdown follows the browse at once; whatever was resolved by then
// would still be connected, but on loopback resolution takes longer.
TEST_F(ScanOnLoopback, ZeroDurationReturnsAtOnceWithWhatWasResolved) {
    qx_test::FakeDevice fake;
    auto advertiser = advertise({fake.port()});
    ASSERT_TRUE(advertiser.has_value());

    Scan result = scan(Client(300ms), 0ns);
    print_overhead("zero duration", result.took, 0ns);

    ASSERT_TRUE(result.devices.has_value()) << result.devices.error().debug_text();
    EXPECT_LE(result.devices->size(), 1u);
    EXPECT_EQ(fake.accepted_connections(), result.devices->size());
    EXPECT_EQ(result.lines, std::vector<std::string>{});
}

TEST_F(ScanOnLoopback, NegativeDurationIsRefusedBeforeAnythingStarts) {
    const ResourceCounts before;
    for (const auto duration : {std::chrono::nanoseconds(-1), std::chrono::nanoseconds::min()}) {
        Scan result = scan(Client(300ms), duration);
        ASSERT_FALSE(result.devices.has_value());
        EXPECT_EQ(result.devices.error().kind(), Kind::DeviceDiscoveryError);
        EXPECT_EQ(result.devices.error().text(), "Scan duration must not be negative");
        EXPECT_EQ(result.lines, std::vector<std::string>{});
    }
    EXPECT_EQ(ResourceCounts{}, before);
}

// Devices equal in EAN and serial number come back in the order they were
// found, however long each took to create. The slow one is advertised
// first, and the fast one only once the slow one has been taken from the
// channel, so that the order in which they are found is fixed; the fast one
// is created while the slow one still waits for its first reply.
TEST_F(ScanOnLoopback, EqualDevicesKeepTheOrderInWhichTheyWereFound) {
    constexpr auto slow_reply = 6s;
    qx_test::FakeDevice slow(device_with(0x4260000000001, 7));
    qx_test::FakeDevice fast(device_with(0x4260000000001, 7));
    slow.inject(1, qx_test::Fault::delay_reply(slow_reply));
    auto first = Advertiser::start({.ports = {slow.port()}, .name_prefix = "qx-slow"});
    ASSERT_TRUE(first.has_value()) << first.error();

    const Client client(slow_reply + 3s);
    std::optional<Scan> result;
    std::thread scanner([&] { result = scan(client, 6s); });
    std::optional<Advertiser> second;
    bool fast_done_first = false;
    if (slow.wait_for_requests(1, 10s)) {
        auto started = Advertiser::start({.ports = {fast.port()}, .name_prefix = "qx-fast"});
        EXPECT_TRUE(started.has_value()) << started.error();
        if (started) {
            second.emplace(std::move(*started));
            fast_done_first = fast.wait_for_requests(3, slow_reply) && slow.request_count() == 1;
        }
    } else {
        ADD_FAILURE() << "the slow device was never connected";
    }
    scanner.join();
    ASSERT_TRUE(fast_done_first) << "the fast device was not created while the slow one waited";

    ASSERT_TRUE(result->devices.has_value()) << result->devices.error().debug_text();
    std::vector<std::uint16_t> ports;
    for (const Device& device : *result->devices) {
        ports.push_back(device.address().port());
    }
    EXPECT_EQ(ports, (std::vector<std::uint16_t>{slow.port(), fast.port()}));
    EXPECT_EQ(result->lines, std::vector<std::string>{});
}

// A zero bound is shorter than any stop: the daemon is left to stop on its
// own, which must neither hold the scan nor cost it the devices it found.
TEST_F(ScanOnLoopback, DaemonThatOverrunsItsStopBoundKeepsTheDevicesFound) {
    qx_test::FakeDevice first(device_with(0x4260000000001, 1));
    qx_test::FakeDevice second(device_with(0x4260000000001, 2));
    auto advertiser = advertise({second.port(), first.port()});
    ASSERT_TRUE(advertiser.has_value());
    const ResourceCounts before;

    {
        StdoutCapture capture;
        ASSERT_TRUE(capture.active());
        const Client client(300ms);
        auto devices = qx_sdk_client::client::run_scan(
            qx_sdk_client::client::SERVICE_TYPE,
            [&client](const qx_sdk_client::mdns::ResolvedService& service) { return client.connect_device(service); },
            resolving_scan, 0ms);
        const auto lines = capture.finish();

        ASSERT_TRUE(devices.has_value()) << devices.error().debug_text();
        EXPECT_EQ(keys_of(*devices),
                  (std::vector<std::tuple<std::uint64_t, std::uint64_t>>{{0x4260000000001, 1}, {0x4260000000001, 2}}));
        ASSERT_LE(lines.size(), 1u);
        if (!lines.empty()) {
            EXPECT_TRUE(lines[0].starts_with("Failed to shut down MDNS Service Daemon: ")) << lines[0];
            std::printf("[ note     ] the stop overran its bound: %s\n", lines[0].c_str());
        }
    }
    ASSERT_TRUE(first.wait_for_open_connections(0, 2000ms));
    ASSERT_TRUE(second.wait_for_open_connections(0, 2000ms));
    expect_back_to(before);
}

// A responder answers the same records by multicast at most once a second,
// so back-to-back scans do not all find the device; the point is that
// nothing of any scan, found device or not, stays behind.
TEST_F(ScanOnLoopback, FiftyScansInARowLeaveNoThreadsSocketsOrDescriptors) {
    const ResourceCounts before;
    std::size_t found = 0;
    std::vector<std::string> lines;
    {
        qx_test::FakeDevice fake;
        auto advertiser = advertise({fake.port()});
        ASSERT_TRUE(advertiser.has_value());
        const Client client(300ms);
        for (int round = 0; round < 50; ++round) {
            // Odd rounds stop before anything can resolve, even ones after.
            const auto duration = round % 2 == 0 ? std::chrono::nanoseconds(400ms) : std::chrono::nanoseconds(0);
            Scan result = scan(client, duration);
            ASSERT_TRUE(result.devices.has_value()) << "round " << round << ": " << result.devices.error().debug_text();
            found += result.devices->size();
            lines.insert(lines.end(), result.lines.begin(), result.lines.end());
        }
        EXPECT_TRUE(fake.wait_for_open_connections(0, 2000ms));
    }
    std::printf("[ timing   ] 50 scans found the device %zu times\n", found);
    EXPECT_GT(found, 0u) << "no scan connected a device, so their sockets went untested";
    EXPECT_EQ(lines, std::vector<std::string>{});
    expect_back_to(before);
}

}  // namespace
