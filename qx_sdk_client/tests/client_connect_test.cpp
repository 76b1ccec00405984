// Connecting resolved services and ordering the devices found, against fake
// devices on loopback. Nothing here browses: services are made by hand.
#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstdint>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <system_error>
#include <tuple>
#include <vector>

#include "qx_sdk_client/src/client.hpp"
#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/scan.hpp"
#include "qx_sdk_client/src/socket_address.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"

namespace qx_sdk_client::error {
inline void PrintTo(const Error& error, std::ostream* out) { *out << error.debug_text(); }
}  // namespace qx_sdk_client::error

namespace {

using namespace std::chrono_literals;
using qx_sdk_client::client::Client;
using qx_sdk_client::device::Device;
using qx_sdk_client::error::Result;
using qx_sdk_client::mdns::Ipv4Address;
using qx_sdk_client::mdns::Ipv6Address;
using qx_sdk_client::mdns::ResolvedService;
using qx_sdk_client::mdns::ServiceAddress;
using qx_sdk_client::net::SocketAddress;
using Kind = qx_sdk_client::error::Error::Kind;

constexpr auto client_timeout = 250ms;

TEST(ClientConstants, AreTheBrowsedTypeAndTheDefaultDuration) {
    EXPECT_EQ(qx_sdk_client::client::SERVICE_TYPE, "_br-command-api._tcp.local.");
    EXPECT_EQ(qx_sdk_client::client::SERVICE_TYPE.size(), 27u);
    EXPECT_EQ(qx_sdk_client::client::DEFAULT_SCAN_TIMEOUT, 1s);
    EXPECT_EQ(Client(1337ms).timeout, 1337ms);
}

// What listens at one address of a service.
enum class Peer {
    Nothing,   // connect is refused
    Device,    // a well-behaved device
    Version3,  // reports a protocol version this client does not know
    Version0,
    Silent,  // accepts, never answers
};

struct Endpoint {
    const char* ip;  // all endpoints of a service share its port
    Peer peer;
};

struct ConnectCase {
    const char* name;
    std::vector<Endpoint> endpoints;
    // Index of the endpoint whose device is returned; absent when an error is.
    std::optional<std::size_t> device_from;
    std::string error_debug_text;
};

void PrintTo(const ConnectCase& c, std::ostream* out) { *out << c.name; }

// The fake devices behind one hand-made service. The first endpoint that
// has a device takes a port from the system; the others bind the same port
// on their own address, as one host's addresses share the service's port.
// That port may be taken on another address, by anything else running
// meanwhile: then all start again on a new one.
class ServiceOnLoopback {
public:
    explicit ServiceOnLoopback(const std::vector<Endpoint>& endpoints) {
        constexpr int attempts = 20;
        for (int attempt = 1;; ++attempt) {
            try {
                start_fakes(endpoints);
                break;
            } catch (const std::system_error& error) {
                if (error.code() != std::errc::address_in_use || attempt == attempts) {
                    throw;
                }
                fakes_.clear();
                port_ = 0;
            }
        }
        if (port_ == 0) {
            port_ = unused_port();
        }
        service_.port = port_;
        for (const Endpoint& endpoint : endpoints) {
            service_.addresses.push_back(service_address(endpoint.ip));
            addresses_.push_back(*SocketAddress::parse(endpoint.ip, port_, if_nametoindex("lo")));
        }
    }

    const ResolvedService& service() const { return service_; }
    const SocketAddress& address(std::size_t index) const { return addresses_.at(index); }
    // Null for an endpoint where nothing listens.
    qx_test::FakeDevice* fake(std::size_t index) const { return fakes_.at(index).get(); }

private:
    void start_fakes(const std::vector<Endpoint>& endpoints) {
        for (const Endpoint& endpoint : endpoints) {
            fakes_.push_back(endpoint.peer != Peer::Nothing ? start_fake(endpoint) : nullptr);
        }
    }

    std::unique_ptr<qx_test::FakeDevice> start_fake(const Endpoint& endpoint) {
        qx_test::DeviceState state;
        if (endpoint.peer == Peer::Version3) {
            state.protocol_version = 3;
        } else if (endpoint.peer == Peer::Version0) {
            state.protocol_version = 0;
        }
        auto fake = std::make_unique<qx_test::FakeDevice>(
            state, qx_test::FakeDevice::Options{.bind_address = endpoint.ip, .port = port_});
        port_ = fake->port();
        if (endpoint.peer == Peer::Silent) {
            fake->inject_next(qx_test::Fault::no_reply(), qx_test::FakeDevice::always);
        }
        return fake;
    }

    // As discovery reports a loopback address: an IPv6 one with lo's index.
    static ServiceAddress service_address(const char* ip) {
        Ipv4Address v4;
        if (inet_pton(AF_INET, ip, v4.octets.data()) == 1) {
            return v4;
        }
        Ipv6Address v6{.scope_id = if_nametoindex("lo")};
        inet_pton(AF_INET6, ip, v6.octets.data());
        return v6;
    }

    // A port that was free a moment ago; good enough for a refused connect
    // on a loopback address nothing else uses.
    static uint16_t unused_port() {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in address{};
        address.sin_family = AF_INET;
        address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        socklen_t size = sizeof address;
        bind(fd, reinterpret_cast<sockaddr*>(&address), size);
        getsockname(fd, reinterpret_cast<sockaddr*>(&address), &size);
        close(fd);
        return ntohs(address.sin_port);
    }

    uint16_t port_ = 0;
    std::vector<std::unique_ptr<qx_test::FakeDevice>> fakes_;
    ResolvedService service_;
    std::vector<SocketAddress> addresses_;
};

class ConnectDevice : public ::testing::TestWithParam<ConnectCase> {};

TEST_P(ConnectDevice, UsesTheFirstAddressThatConnectsAndNoOther) {
    const ConnectCase& c = GetParam();
    ServiceOnLoopback loopback(c.endpoints);

    Result<Device> device = Client(client_timeout).connect_device(loopback.service());

    if (c.device_from) {
        ASSERT_TRUE(device.has_value()) << device.error().debug_text();
        EXPECT_EQ(device->address(), loopback.address(*c.device_from)) << device->address().to_string();
        EXPECT_EQ(device->get_ean(), qx_test::DeviceState().ean);
        EXPECT_EQ(device->get_serial_number(), qx_test::DeviceState().serial_number);
    } else {
        ASSERT_FALSE(device.has_value()) << device->address().to_string();
        EXPECT_EQ(device.error().debug_text(), c.error_debug_text);
    }

    // Addresses are tried in the service's order, and none after the first
    // that accepted, whatever became of the device created on it.
    bool accepted_one = false;
    for (std::size_t i = 0; i < c.endpoints.size(); ++i) {
        const qx_test::FakeDevice* fake = loopback.fake(i);
        if (fake == nullptr) {
            continue;
        }
        EXPECT_EQ(fake->accepted_connections(), accepted_one ? 0u : 1u) << "endpoint " << i;
        accepted_one = true;
        if (!device.has_value()) {
            EXPECT_TRUE(fake->wait_for_open_connections(0, 2000ms))
                << "failed creation left endpoint " << i << " connected";
        }
    }
}

INSTANTIATE_TEST_SUITE_P(
    Services, ConnectDevice,
    ::testing::Values(
        ConnectCase{"NoAddress", {}, std::nullopt, "NetworkError"},
        ConnectCase{"EveryAddressRefuses",
                    {{"127.0.0.3", Peer::Nothing}, {"127.0.0.4", Peer::Nothing}},
                    std::nullopt,
                    "NetworkError"},
        ConnectCase{"RefusedThenDevice", {{"127.0.0.3", Peer::Nothing}, {"127.0.0.2", Peer::Device}}, 1, ""},
        ConnectCase{"FirstOfTwoDevicesWins", {{"127.0.0.2", Peer::Device}, {"127.0.0.1", Peer::Device}}, 0, ""},
        ConnectCase{"Ipv6WithScope", {{"::1", Peer::Device}}, 0, ""},
        ConnectCase{"Ipv6RefusedThenIpv4", {{"::1", Peer::Nothing}, {"127.0.0.1", Peer::Device}}, 1, ""},
        ConnectCase{"NewerFirmwareEndsTheTry",
                    {{"127.0.0.1", Peer::Version3}, {"127.0.0.2", Peer::Device}},
                    std::nullopt,
                    "ClientSoftwareTooOldForDevice"},
        ConnectCase{"VersionZero", {{"127.0.0.1", Peer::Version0}}, std::nullopt, "ApiNotAvailableInProtocolVersion"},
        ConnectCase{"SilentDeviceEndsTheTry",
                    {{"127.0.0.1", Peer::Silent}, {"127.0.0.2", Peer::Device}},
                    std::nullopt,
                    "TcpStreamReadError(\"Failed to read packet header\")"}),
    [](const auto& param_info) { return std::string(param_info.param.name); });

TEST(ConnectDeviceTimeout, EveryConnectionGetsTheClientsTimeout) {
    qx_test::FakeDevice fake;
    ResolvedService service{.fullname = "one", .addresses = {Ipv4Address{{127, 0, 0, 1}}}, .port = fake.port()};

    for (const auto timeout : {300ms, 1337ms}) {
        Result<Device> device = Client(timeout).connect_device(service);
        ASSERT_TRUE(device.has_value()) << device.error().debug_text();
        auto guard = qx_sdk_client::device::lock_connection(device->connection());
        ASSERT_TRUE(guard.has_value());
        for (const auto& set : {(*guard)->stream.read_timeout(), (*guard)->stream.write_timeout()}) {
            ASSERT_TRUE(set.has_value());
            ASSERT_TRUE(set->has_value()) << "no timeout set";
            // The kernel keeps socket timeouts in clock ticks.
            EXPECT_GE(**set, timeout);
            EXPECT_LE(**set, timeout + 20ms);
        }
    }
}

// The socket refuses a zero or negative timeout: the device is connected and
// created all the same, without one, and creation prints that.
TEST(ConnectDeviceTimeout, AZeroOrNegativeTimeoutConnectsWithoutOneAndPrintsTheTimeoutLines) {
    qx_test::FakeDevice fake;
    ResolvedService service{.fullname = "one", .addresses = {Ipv4Address{{127, 0, 0, 1}}}, .port = fake.port()};

    for (const std::chrono::nanoseconds timeout : {0ns, -1ns, std::chrono::nanoseconds(-1337ms)}) {
        SCOPED_TRACE(timeout.count());
        testing::internal::CaptureStdout();
        Result<Device> device = Client(timeout).connect_device(service);
        const std::string printed = testing::internal::GetCapturedStdout();
        ASSERT_TRUE(device.has_value()) << device.error().debug_text();
        EXPECT_EQ(device->get_serial_number(), qx_test::DeviceState().serial_number);
        EXPECT_EQ(printed,
                  "Failed to set TCP read timeout EINVAL (22): Invalid argument\n"
                  "Failed to set TCP write timeout EINVAL (22): Invalid argument\n");
        auto guard = qx_sdk_client::device::lock_connection(device->connection());
        ASSERT_TRUE(guard.has_value());
        for (const auto& set : {(*guard)->stream.read_timeout(), (*guard)->stream.write_timeout()}) {
            ASSERT_TRUE(set.has_value());
            EXPECT_FALSE(set->has_value()) << "a timeout was set";
        }
    }
}

// Devices with keys from a small set, created in a known order; their ports
// tell them apart after sorting. Enough of them that an unstable sort would
// move equal keys (short ranges are insertion-sorted, which is stable by
// chance), and keys with the top bit set catch a signed comparison.
TEST(SortDevices, AscendsByEanThenSerialAndKeepsTheOrderOfEqualKeys) {
    constexpr uint64_t top_bit = uint64_t{1} << 63;
    const std::vector<std::tuple<uint64_t, uint64_t>> ascending_keys{
        {0, ~uint64_t{0}}, {1, 2}, {1, 5}, {1, top_bit}, {2, 1}, {top_bit, 0},
    };
    constexpr std::size_t device_count = 48;
    std::vector<std::size_t> key_of_device;  // index into ascending_keys, in creation order
    for (std::size_t i = 0; i < device_count; ++i) {
        key_of_device.push_back((i * 7 + i / 5) % ascending_keys.size());
    }

    std::vector<std::unique_ptr<qx_test::FakeDevice>> fakes;
    std::vector<Device> devices;
    const Client client(client_timeout);
    for (const std::size_t key : key_of_device) {
        qx_test::DeviceState state;
        std::tie(state.ean, state.serial_number) = ascending_keys[key];
        fakes.push_back(std::make_unique<qx_test::FakeDevice>(state));
        Result<Device> device = client.connect_device(
            {.fullname = "d", .addresses = {Ipv4Address{{127, 0, 0, 1}}}, .port = fakes.back()->port()});
        ASSERT_TRUE(device.has_value()) << device.error().debug_text();
        devices.push_back(std::move(*device));
    }

    qx_sdk_client::client::sort_devices(devices);

    // Key by key in ascending order, each key's devices in creation order.
    std::vector<std::size_t> expected_creation_indices;
    for (std::size_t key = 0; key < ascending_keys.size(); ++key) {
        for (std::size_t created = 0; created < device_count; ++created) {
            if (key_of_device[created] == key) {
                expected_creation_indices.push_back(created);
            }
        }
    }
    ASSERT_EQ(devices.size(), device_count);
    for (std::size_t i = 0; i < device_count; ++i) {
        const std::size_t created = expected_creation_indices[i];
        EXPECT_EQ(devices[i].address().port(), fakes[created]->port())
            << "position " << i << " should hold the device created as number " << created;
        EXPECT_EQ(std::tuple(devices[i].get_ean(), devices[i].get_serial_number()),
                  ascending_keys[key_of_device[created]]);
    }
}

TEST(SortDevices, LeavesAnEmptyListEmpty) {
    std::vector<Device> devices;
    qx_sdk_client::client::sort_devices(devices);
    EXPECT_TRUE(devices.empty());
}

}  // namespace
