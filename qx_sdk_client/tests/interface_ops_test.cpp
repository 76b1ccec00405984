// Interface operations: each one exchange carrying the handle's index.
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "qx_sdk_client/tests/sdk_test_bench.hpp"

namespace qx_sdk_test {
namespace {

// What the codec says of a request that does not fit the buffer.
const Error buffer_too_small(Kind::ApiError,
                             "An error ocurred in the protocol \"QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL\"");

namespace types = qx_sdk_protocol::types;
using qx_test::Bytes;
using qx_test::ByteWriter;

// Interface 1 differs from interface 0 in every field read here, so a handle
// that sent the wrong index would read the wrong values.
qx_test::DeviceState two_distinct_interfaces() {
    qx_test::DeviceState state;
    qx_test::InterfaceState& second = state.interfaces[1];
    second.nickname = "uplink";
    second.interface_type = 2;
    second.link_state = 0;
    second.tc10_state = 3;
    second.dcq = {11, 12, 13, 14, 1500, 1600};
    second.cable_harness_status = 1;
    second.cable_distance = 42;
    second.loopback = true;
    second.packet_generator = {1, 3, 1, 200, 1};  // wire payload type 3 is OnlyOnes
    return state;
}

struct SecondInterface : Bench {
    SecondInterface() : Bench(two_distinct_interfaces()), port(device.get_interfaces().value().at(1)) {
        fake.clear_requests();
    }
    Interface port;
};

TEST(InterfaceOperations, ReadTheirOwnInterface) {
    SecondInterface bench;
    EXPECT_EQ(bench.port.get_nickname(), std::string("uplink"));
    EXPECT_EQ(bench.port.get_status(), (types::InterfaceStatus{types::InterfaceType::T,
                                                               {types::EthLinkState::Down, types::EthRole::Leader,
                                                                types::EthLinkSpeed::Speed100MbitFullDuplex}}));
    EXPECT_EQ(bench.port.get_tc10_state(), types::Tc10State::SleepAborted);
    EXPECT_EQ(bench.port.read_dcq(), (types::DcqReading{11, 12, 1500, 1600, 13, 14}));
    EXPECT_EQ(bench.port.run_cable_test(), (types::CableTestResult{types::CableTestHarnessStatus::CableShorted, 42}));
    EXPECT_EQ(bench.port.get_loopback_state(), true);
    EXPECT_EQ(bench.port.get_packet_generator_config().value(),
              std::optional(types::PacketGeneratorConfig{types::PgPayloadSize::Size1518, types::PgPayloadType::OnlyOnes,
                                                         types::PgPacketValidity::SymbolErrorsBadCrc, 200}));
    EXPECT_EQ(bench.port.get_supported_eth_configs(),
              (types::EthInterfaceConfig{
                  {types::EthLinkSpeed::Speed100MbitFullDuplex, types::EthLinkSpeed::Speed1000MbitFullDuplex},
                  {types::EthRole::Leader, types::EthRole::Follower},
                  types::EthAnegMode::IEEEAnegEnabled}));
    for (const Bytes& request : bench.fake.requests()) {
        ASSERT_GE(request.size(), 6u);
        EXPECT_EQ(request[4] | request[5] << 8, 1) << "command " << (request[0] | request[1] << 8);
    }
}

TEST(InterfaceOperations, ChangeTheirOwnInterface) {
    SecondInterface bench;
    const types::EthInterfaceConfig config{
        {types::EthLinkSpeed::Speed1000MbitFullDuplex}, {types::EthRole::Follower}, types::EthAnegMode::AnegDisabled};
    ASSERT_TRUE(succeeded(bench.port.set_eth_config(config)));
    EXPECT_EQ(bench.port.get_eth_config(), config);

    ASSERT_TRUE(succeeded(bench.port.set_nickname("renamed")));
    EXPECT_EQ(bench.port.get_nickname(), std::string("renamed"));

    ASSERT_TRUE(succeeded(bench.port.send_tc10_command(types::Tc10Command::Sleep)));
    EXPECT_EQ(bench.port.get_tc10_state(), types::Tc10State::Sleep);
    ASSERT_TRUE(succeeded(bench.port.send_tc10_command(types::Tc10Command::WakeUp)));
    EXPECT_EQ(bench.port.get_tc10_state(), types::Tc10State::Normal);

    ASSERT_TRUE(succeeded(bench.port.set_loopback_state(false)));
    EXPECT_EQ(bench.port.get_loopback_state(), false);

    const types::PacketGeneratorConfig generator{types::PgPayloadSize::Size64, types::PgPayloadType::Alternating,
                                                 types::PgPacketValidity::GoodCrc, 7};
    ASSERT_TRUE(succeeded(bench.port.set_packet_generator_config(generator)));
    EXPECT_EQ(bench.port.get_packet_generator_config().value(), std::optional(generator));
    ASSERT_TRUE(succeeded(bench.port.set_packet_generator_config(std::nullopt)));
    EXPECT_EQ(bench.port.get_packet_generator_config().value(), std::optional<types::PacketGeneratorConfig>());
    EXPECT_EQ(bench.fake.state().interfaces[1].packet_generator.enabled, 0);

    // Interface 0 is untouched.
    const qx_test::InterfaceState first = bench.fake.state().interfaces[0];
    EXPECT_EQ(first.nickname, "");
    EXPECT_EQ(first.eth_config, qx_test::InterfaceState().eth_config);
}

TEST(InterfaceOperations, ResetNicknameSendsTheEmptyNicknameWithTheIndex) {
    SecondInterface bench;
    ASSERT_TRUE(succeeded(bench.port.reset_nickname()));
    EXPECT_EQ(bench.fake.requests(), std::vector<Bytes>{qx_test::frame(17, ByteWriter().u16(1).text(""))});
    EXPECT_EQ(bench.fake.state().interfaces[1].nickname, "");
}

TEST(InterfaceOperations, NicknameFitsTheBufferUpTo4088Bytes) {
    Bench bench;
    ASSERT_TRUE(succeeded(bench.interface.set_nickname(std::string(4088, 'i'))));
    ASSERT_EQ(bench.fake.request_count(), 1u);
    EXPECT_EQ(bench.fake.requests()[0].size(), 4096u);

    bench.fake.clear_requests();
    const Result<void> refused = bench.interface.set_nickname(std::string(4089, 'i'));
    EXPECT_EQ(error_of(refused), buffer_too_small);
    EXPECT_EQ(bench.fake.request_count(), 0u);

    // Stored by the device, but too long to be read back; the connection goes on.
    EXPECT_FALSE(bench.interface.get_nickname());
    EXPECT_TRUE(succeeded(bench.interface.get_status()));
}

TEST(InterfaceOperations, GetEthConfigIgnoresTheStatusWhileGetSupportedDoesNot) {
    Bench bench;
    bench.fake.update_state([](qx_test::DeviceState& s) {
        s.interfaces[0].eth_config_status = qx_test::device_status::operation_failed;
        s.interfaces[0].supported_status = qx_test::device_status::operation_failed;
    });
    EXPECT_EQ(bench.interface.get_eth_config(),
              (types::EthInterfaceConfig{{types::EthLinkSpeed::Speed100MbitFullDuplex},
                                         {types::EthRole::Leader},
                                         types::EthAnegMode::AnegDisabled}));
    EXPECT_EQ(error_of(bench.interface.get_supported_eth_configs()), Error(Kind::RemoteOperationFailed));
}

TEST(InterfaceOperations, ATc10StateOutOfRangeIsAnErrorAndTheConnectionGoesOn) {
    Bench bench;
    bench.fake.update_state([](qx_test::DeviceState& s) { s.interfaces[0].tc10_state = 4; });
    testing::internal::CaptureStdout();
    const Result<types::Tc10State> state = bench.interface.get_tc10_state();
    const std::string printed = testing::internal::GetCapturedStdout();
    EXPECT_EQ(error_of(state), Error(Kind::NotImplemented));
    EXPECT_FALSE(printed.empty());
    EXPECT_TRUE(succeeded(bench.interface.get_status()));
}

TEST(InterfaceOperations, HandlesOfOneInterfaceShareTheDevicesConnection) {
    Bench bench;
    const Interface again = bench.device.get_interfaces().value().at(0);
    ASSERT_TRUE(succeeded(again.set_nickname("shared")));
    EXPECT_EQ(bench.interface.get_nickname(), std::string("shared"));
    EXPECT_EQ(bench.fake.accepted_connections(), 1u);
}

}  // namespace
}  // namespace qx_sdk_test
