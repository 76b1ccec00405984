// Device operations, and what holds for every talking operation of a device
// and its interfaces alike.
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include <gtest/gtest.h>

#include "qx_sdk_client/tests/sdk_test_bench.hpp"

namespace qx_sdk_test {
namespace {

// What the codec says of a request that does not fit the buffer.
const Error buffer_too_small(Kind::ApiError,
                             "An error ocurred in the protocol \"QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL\"");

using qx_test::Bytes;
using qx_test::ByteWriter;
using qx_test::Fault;

TEST(DeviceOperations, AnswerWithWhatTheDeviceReports) {
    Bench bench;
    const qx_test::DeviceState state;
    EXPECT_EQ(bench.device.get_name(), state.name);
    EXPECT_EQ(bench.device.get_firmware_ean(), state.firmware_ean);
    EXPECT_EQ(bench.device.get_pcb_revision(), state.pcb_revision);
    EXPECT_EQ(bench.device.get_firmware_version(), state.firmware_version);
    EXPECT_EQ(bench.device.get_bootloader_version(), state.bootloader_version);
    EXPECT_EQ(bench.device.get_manufacturing_date(), std::chrono::sys_seconds(std::chrono::seconds(1700000000)));
    EXPECT_TRUE(succeeded(bench.device.identify()));

    ASSERT_TRUE(succeeded(bench.device.set_nickname("Rack 3")));
    EXPECT_EQ(bench.fake.state().nickname, "Rack 3");
    EXPECT_EQ(bench.device.get_nickname(), std::string("Rack 3"));
    // Asked anew each time, never cached.
    bench.fake.update_state([](qx_test::DeviceState& s) { s.name = "Renamed"; });
    EXPECT_EQ(bench.device.get_name(), std::string("Renamed"));
}

TEST(DeviceOperations, EanAndSerialNumberComeFromCreationWithoutAnExchange) {
    qx_test::DeviceState state;
    state.ean = 0x4012345678901;
    state.serial_number = 123456789;
    Bench bench(state);
    bench.fake.update_state([](qx_test::DeviceState& s) {
        s.ean = 1;
        s.serial_number = 2;
    });
    EXPECT_EQ(bench.device.get_ean(), 0x4012345678901u);
    EXPECT_EQ(bench.device.get_serial_number(), 123456789u);
    EXPECT_EQ(bench.fake.request_count(), 0u);
}

TEST(DeviceOperations, ResetNicknameSendsTheEmptyNickname) {
    Bench bench;
    ASSERT_TRUE(succeeded(bench.device.set_nickname("")));
    ASSERT_TRUE(succeeded(bench.device.set_nickname("Named")));
    ASSERT_TRUE(succeeded(bench.device.reset_nickname()));
    const std::vector<Bytes> sent = bench.fake.requests();
    ASSERT_EQ(sent.size(), 3u);
    EXPECT_EQ(sent[0], qx_test::frame(5, ByteWriter().text("")));
    EXPECT_EQ(sent[2], sent[0]);
    EXPECT_EQ(bench.fake.state().nickname, "");
}

TEST(DeviceOperations, NicknameFitsTheBufferUpTo4090Bytes) {
    Bench bench;
    ASSERT_TRUE(succeeded(bench.device.set_nickname(std::string(4090, 'n'))));
    ASSERT_EQ(bench.fake.request_count(), 1u);
    EXPECT_EQ(bench.fake.requests()[0].size(), 4096u);

    bench.fake.clear_requests();
    const Result<void> refused = bench.device.set_nickname(std::string(4091, 'n'));
    EXPECT_EQ(error_of(refused), buffer_too_small);
    EXPECT_EQ(bench.fake.request_count(), 0u);
    EXPECT_TRUE(succeeded(bench.device.get_name()));
}

TEST(DeviceOperations, GetInterfacesMakesOneHandlePerReportedInterfaceInOrder) {
    for (const uint16_t count : {uint16_t{0}, uint16_t{1}, uint16_t{0xFFFF}}) {
        SCOPED_TRACE(count);
        qx_test::DeviceState state;
        state.reported_interface_count = count;
        qx_test::FakeDevice fake(state);
        const Result<Device> device = connect_to(fake);
        ASSERT_TRUE(succeeded(device));
        const Result<std::vector<Interface>> interfaces = device->get_interfaces();
        ASSERT_TRUE(succeeded(interfaces));
        ASSERT_EQ(interfaces->size(), count);
        for (size_t i = 0; i < interfaces->size(); ++i) {
            ASSERT_EQ((*interfaces)[i].index(), i);
        }
    }
}

TEST(DeviceOperations, InterfacesKeepTheConnectionOpenAfterTheDeviceIsGone) {
    qx_test::FakeDevice fake;
    std::optional<Device> device(connect_to(fake).value());
    std::optional<std::vector<Interface>> first(device->get_interfaces().value());
    std::optional<std::vector<Interface>> second(device->get_interfaces().value());

    device.reset();
    EXPECT_EQ(fake.open_connections(), 1u);
    EXPECT_TRUE(succeeded(first->at(1).get_status()));
    first.reset();
    EXPECT_EQ(fake.open_connections(), 1u);
    EXPECT_TRUE(succeeded(second->at(0).get_nickname()));
    second.reset();
    EXPECT_TRUE(fake.wait_for_open_connections(0, 2s));
}

// --- every talking operation -------------------------------------------------

TEST(AllOperations, AVersionOneDeviceRefusesTheNewerRequestsWithoutSendingThem) {
    qx_test::DeviceState state;
    state.protocol_version = 1;
    Bench bench(state);
    for (const Operation& op : all_operations()) {
        SCOPED_TRACE(op.qualified_name);
        bench.fake.clear_requests();
        const std::optional<Error> failure = op.run(bench.device, bench.interface);
        if (op.lowest_version == 2) {
            EXPECT_EQ(failure, Error(Kind::ApiNotAvailableInProtocolVersion));
            EXPECT_EQ(bench.fake.request_count(), 0u);
            EXPECT_TRUE(succeeded(bench.device.get_name()));
        } else {
            EXPECT_EQ(failure, std::nullopt);
            EXPECT_EQ(bench.fake.request_commands(), std::vector<uint16_t>{op.request});
        }
    }
    // The text check comes before the version check.
    EXPECT_EQ(error_of(bench.device.set_nickname(std::string("a\0b", 3))).value().kind(), Kind::Utf8Error);
}

TEST(AllOperations, SendTheirRequestAndSucceedOnAVersionTwoDevice) {
    Bench bench;
    for (const Operation& op : all_operations()) {
        SCOPED_TRACE(op.qualified_name);
        bench.fake.clear_requests();
        EXPECT_EQ(op.run(bench.device, bench.interface), std::nullopt);
        EXPECT_EQ(bench.fake.request_commands(), std::vector<uint16_t>{op.request});
    }
}

TEST(AllOperations, AFailedSendNamesTheOperationAndRaisesNoSignal) {
    Bench bench;
    bench.fake.inject_next(Fault::close());
    EXPECT_EQ(error_of(bench.device.get_name()), Error(Kind::TcpStreamReadError, "Failed to read packet header"));
    ASSERT_TRUE(bench.fake.wait_for_open_connections(0, 2s));
    // Until the peer's reset has come back a write may still be taken;
    // from then on every send fails.
    for (int attempt = 0; attempt < 20; ++attempt) {
        const std::optional<Error> failure = error_of(bench.device.get_name());
        if (failure && failure->kind() == Kind::TcpStreamWriteError) {
            break;
        }
        std::this_thread::sleep_for(10ms);
    }
    for (const Operation& op : all_operations()) {
        SCOPED_TRACE(op.qualified_name);
        EXPECT_EQ(op.run(bench.device, bench.interface),
                  Error(Kind::TcpStreamWriteError, "Failed to send " + std::string(op.qualified_name) + " request"));
    }
}

// A device status other than success fails the operation the same way
// whether the status came back as a value or inside a protocol error.
TEST(AllOperations, ARefusingStatusGivesTheSameErrorOnBothRoads) {
    struct StatusCase {
        uint16_t status;
        Error expected;
    };
    const std::vector<StatusCase> statuses = {
        {qx_test::device_status::unspecified_error, Error(Kind::ApiError, "Encountered an unspecified error")},
        {qx_test::device_status::operation_failed, Error(Kind::RemoteOperationFailed)},
        {qx_test::device_status::operation_not_permitted, Error(Kind::RemoteOperationNotPermitted)},
        {qx_test::device_status::not_supported_by_device, Error(Kind::RemoteOperationNotSupportedByDevice)},
        {qx_test::device_status::not_supported_by_interface, Error(Kind::RemoteOperationNotSupportedByInterface)},
        // Statuses without a kind of their own.
        {qx_test::device_status::not_implemented, Error(Kind::RemoteOperationNotSupportedByDevice)},
        {qx_test::device_status::invalid_argument, Error(Kind::RemoteOperationNotSupportedByDevice)},
        {0xFFFF, Error(Kind::RemoteOperationNotSupportedByDevice)},
    };
    using State = qx_test::DeviceState;
    struct StatusOperation {
        const char* name;
        void (*set_status)(State&, uint16_t);
        std::optional<Error> (*run)(const Bench&);
    };
    const std::vector<StatusOperation> operations = {
        {"device identify", [](State& s, uint16_t v) { s.identify_status = v; },
         [](const Bench& b) { return error_of(b.device.identify()); }},
        {"device set_nickname", [](State& s, uint16_t v) { s.set_nickname_status = v; },
         [](const Bench& b) { return error_of(b.device.set_nickname("x")); }},
        {"interface identify", [](State& s, uint16_t v) { s.interfaces[0].identify_status = v; },
         [](const Bench& b) { return error_of(b.interface.identify()); }},
        {"interface set_nickname", [](State& s, uint16_t v) { s.interfaces[0].set_nickname_status = v; },
         [](const Bench& b) { return error_of(b.interface.reset_nickname()); }},
        {"interface set_eth_config", [](State& s, uint16_t v) { s.interfaces[0].set_eth_config_status = v; },
         [](const Bench& b) { return error_of(b.interface.set_eth_config({})); }},
        {"interface send_tc10_command", [](State& s, uint16_t v) { s.interfaces[0].tc10_command_status = v; },
         [](const Bench& b) {
             return error_of(b.interface.send_tc10_command(qx_sdk_protocol::types::Tc10Command::WakeUp));
         }},
        {"interface get_supported_eth_configs", [](State& s, uint16_t v) { s.interfaces[0].supported_status = v; },
         [](const Bench& b) { return error_of(b.interface.get_supported_eth_configs()); }},
        {"interface get_tc10_state", [](State& s, uint16_t v) { s.interfaces[0].tc10_state_status = v; },
         [](const Bench& b) { return error_of(b.interface.get_tc10_state()); }},
    };
    Bench bench;
    for (const StatusOperation& op : operations) {
        for (const StatusCase& c : statuses) {
            SCOPED_TRACE(std::string(op.name) + " status " + std::to_string(c.status));
            bench.fake.update_state([&](State& s) { op.set_status(s, c.status); });
            EXPECT_EQ(op.run(bench), c.expected);
        }
        bench.fake.update_state([&](State& s) { op.set_status(s, qx_test::device_status::success); });
        EXPECT_EQ(op.run(bench), std::nullopt) << op.name;
    }
}

}  // namespace
}  // namespace qx_sdk_test
