// A device created against the fake device on loopback, and the table of
// every operation that talks to a device, for the SDK's own tests.
#pragma once

#include <chrono>
#include <functional>
#include <optional>
#include <ostream>
#include <string_view>
#include <utility>
#include <vector>

#include <gtest/gtest.h>
#include <poll.h>

#include "qx_sdk_client/src/device.hpp"
#include "qx_sdk_client/src/device_connection.hpp"
#include "qx_sdk_client/src/error.hpp"
#include "qx_sdk_client/src/interface.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"

namespace qx_sdk_client::error {
inline void PrintTo(const Error& error, std::ostream* out) { *out << error.debug_text(); }
}  // namespace qx_sdk_client::error

namespace qx_sdk_test {

using namespace std::chrono_literals;
using qx_sdk_client::device::Device;
using qx_sdk_client::error::Error;
using qx_sdk_client::error::Result;
using qx_sdk_client::interface::Interface;
using Kind = qx_sdk_client::error::Error::Kind;

// Short enough to keep failing tests quick, long enough for a loaded machine.
inline constexpr std::chrono::milliseconds test_timeout = 250ms;

template <class T>
std::optional<Error> error_of(const Result<T>& result) {
    return result ? std::nullopt : std::optional<Error>(result.error());
}

template <class T>
testing::AssertionResult succeeded(const Result<T>& result) {
    if (result) {
        return testing::AssertionSuccess();
    }
    return testing::AssertionFailure() << result.error().debug_text();
}

inline Result<Device> connect_to(const qx_test::FakeDevice& fake, std::chrono::nanoseconds timeout = test_timeout) {
    auto address = qx_sdk_client::net::SocketAddress::parse(fake.address(), fake.port());
    if (!address) {
        return std::unexpected(Error(Kind::NetworkError));
    }
    auto stream = qx_sdk_client::net::TcpStream::connect(*address, timeout);
    if (!stream) {
        return std::unexpected(Error(Kind::NetworkError));
    }
    return Device::create(*address, std::move(*stream), timeout);
}

// True once bytes wait on the device's stream: a reply the device sent
// after its exchange was over has fully arrived.
inline bool wait_until_readable(const Device& device, std::chrono::milliseconds limit) {
    auto guard = qx_sdk_client::device::lock_connection(device.connection());
    if (!guard) return false;
    pollfd watch{guard.value()->stream.fd(), POLLIN, 0};
    return ::poll(&watch, 1, static_cast<int>(limit.count())) == 1;
}

// A created device and its first interface; the requests of creation and of
// get_interfaces are forgotten, so `fake.requests()` holds only a test's own.
struct Bench {
    explicit Bench(qx_test::DeviceState state = qx_test::DeviceState())
        : fake(std::move(state)), device(connect_to(fake).value()), interface(device.get_interfaces().value().at(0)) {
        fake.clear_requests();
    }

    qx_test::FakeDevice fake;
    Device device;
    Interface interface;
};

// One operation that talks to the device, with what it must send.
struct Operation {
    std::string_view qualified_name;  // as a failed send names it
    uint16_t request;                 // the request's command number
    int lowest_version;               // lowest device protocol version that offers it
    std::function<std::optional<Error>(const Device&, const Interface&)> run;
};

template <class Call>
Operation operation(std::string_view qualified_name, uint16_t request, int lowest_version, Call call) {
    return {qualified_name, request, lowest_version,
            [call](const Device& device, const Interface& interface) { return error_of(call(device, interface)); }};
}

// Every talking operation of Device and Interface.
inline std::vector<Operation> all_operations() {
    namespace types = qx_sdk_protocol::types;
    using D = const Device&;
    using I = const Interface&;
    return {
        operation("qx_sdk_client::device::Device::get_name", 3, 1, [](D d, I) { return d.get_name(); }),
        operation("qx_sdk_client::device::Device::get_nickname", 81, 2, [](D d, I) { return d.get_nickname(); }),
        operation("qx_sdk_client::device::Device::set_nickname", 5, 2, [](D d, I) { return d.set_nickname("Bench"); }),
        operation("qx_sdk_client::device::Device::set_nickname", 5, 2, [](D d, I) { return d.reset_nickname(); }),
        operation("qx_sdk_client::device::Device::get_interfaces", 13, 1, [](D d, I) { return d.get_interfaces(); }),
        operation("qx_sdk_client::device::Device::get_firmware_ean", 9, 1, [](D d, I) { return d.get_firmware_ean(); }),
        operation("qx_sdk_client::device::Device::get_pcb_revision", 41, 1,
                  [](D d, I) { return d.get_pcb_revision(); }),
        operation("qx_sdk_client::device::Device::get_firmware_version", 33, 1,
                  [](D d, I) { return d.get_firmware_version(); }),
        operation("qx_sdk_client::device::Device::get_bootloader_version", 37, 1,
                  [](D d, I) { return d.get_bootloader_version(); }),
        operation("qx_sdk_client::device::Device::get_manufacturing_date", 69, 1,
                  [](D d, I) { return d.get_manufacturing_date(); }),
        operation("qx_sdk_client::device::Device::identify", 7, 1, [](D d, I) { return d.identify(); }),
        operation("qx_sdk_client::interface::Interface::identify", 21, 1, [](D, I i) { return i.identify(); }),
        operation("qx_sdk_client::interface::Interface::get_nickname", 15, 1, [](D, I i) { return i.get_nickname(); }),
        operation("qx_sdk_client::interface::Interface::set_nickname", 17, 1,
                  [](D, I i) { return i.set_nickname("Port"); }),
        operation("qx_sdk_client::interface::Interface::set_nickname", 17, 1,
                  [](D, I i) { return i.reset_nickname(); }),
        operation("qx_sdk_client::interface::Interface::get_status", 19, 1, [](D, I i) { return i.get_status(); }),
        operation("qx_sdk_client::interface::Interface::get_eth_config", 27, 1,
                  [](D, I i) { return i.get_eth_config(); }),
        operation("qx_sdk_client::interface::Interface::set_eth_config", 25, 1,
                  [](D, I i) {
                      return i.set_eth_config(types::EthInterfaceConfig{{types::EthLinkSpeed::Speed100MbitFullDuplex},
                                                                        {types::EthRole::Leader},
                                                                        types::EthAnegMode::AnegDisabled});
                  }),
        operation("qx_sdk_client::interface::Interface::get_supported_eth_configs", 23, 1,
                  [](D, I i) { return i.get_supported_eth_configs(); }),
        operation("qx_sdk_client::interface::Interface::get_tc10_state", 79, 2,
                  [](D, I i) { return i.get_tc10_state(); }),
        operation("qx_sdk_client::interface::Interface::send_tc10_command", 77, 2,
                  [](D, I i) { return i.send_tc10_command(types::Tc10Command::Sleep); }),
        operation("qx_sdk_client::interface::Interface::read_dcq", 83, 2, [](D, I i) { return i.read_dcq(); }),
        operation("qx_sdk_client::interface::Interface::run_cable_test", 85, 2,
                  [](D, I i) { return i.run_cable_test(); }),
        operation("qx_sdk_client::interface::Interface::get_loopback_state", 89, 2,
                  [](D, I i) { return i.get_loopback_state(); }),
        operation("qx_sdk_client::interface::Interface::set_loopback_state", 87, 2,
                  [](D, I i) { return i.set_loopback_state(true); }),
        operation("qx_sdk_client::interface::Interface::get_packet_generator_config", 93, 2,
                  [](D, I i) { return i.get_packet_generator_config(); }),
        operation("qx_sdk_client::interface::Interface::set_packet_generator_config", 91, 2,
                  [](D, I i) { return i.set_packet_generator_config(std::nullopt); }),
    };
}

}  // namespace qx_sdk_test
