// The fake device is what the SDK tests trust to behave like a device, so
// its replies are checked here byte by byte, independently of the codec.
#include <algorithm>
#include <chrono>
#include <memory>
#include <optional>
#include <system_error>
#include <vector>

#include <poll.h>
#include <sys/resource.h>
#include <sys/socket.h>

#include <gtest/gtest.h>

#include "qx_sdk_client/src/tcp_stream.hpp"
#include "qx_sdk_client/tests/support/control_commands.hpp"
#include "qx_sdk_client/tests/support/device_behaviour.hpp"
#include "qx_sdk_client/tests/support/fake_device.hpp"
#include "qx_sdk_client/tests/support/state_fields.hpp"

namespace {

using namespace std::chrono_literals;
using qx_sdk_client::net::SocketAddress;
using qx_sdk_client::net::TcpStream;
using qx_test::Bytes;
using qx_test::ByteWriter;
using qx_test::DeviceState;
using qx_test::error_frame;
using qx_test::FakeDevice;
using qx_test::Fault;
using qx_test::frame;

constexpr auto read_limit = 5s;

Bytes index_only(uint16_t index) { return ByteWriter().u16(index).bytes(); }

// ---- Replies, straight from the behaviour function -------------------------

struct ReplyCase {
    const char* label;
    uint16_t command;
    Bytes payload;
    Bytes reply;
};

class Replies : public testing::TestWithParam<ReplyCase> {};

TEST_P(Replies, MatchTheWireFormat) {
    DeviceState state;
    const ReplyCase& c = GetParam();
    EXPECT_EQ(qx_test::to_hex(qx_test::answer_request(state, c.command, c.payload)), qx_test::to_hex(c.reply));
}

// clang-format off
INSTANTIATE_TEST_SUITE_P(
    DefaultDevice, Replies,
    testing::Values(
        ReplyCase{"version", 1, {}, {0x02, 0x00, 0x02, 0x00, 0x02, 0x00}},
        ReplyCase{"name", 3, {}, frame(4, ByteWriter().text("QX Test Device"))},
        ReplyCase{"ean", 39, {}, frame(40, ByteWriter().u64(0x4260123456789))},
        ReplyCase{"serial", 29, {}, frame(30, ByteWriter().u64(20240017))},
        ReplyCase{"interface_count", 13, {}, {0x0e, 0x00, 0x02, 0x00, 0x02, 0x00}},
        ReplyCase{"interface_status", 19, index_only(1), {0x14, 0x00, 0x05, 0x00, 0x00, 0x00, 0x82, 0x02, 0x01}},
        ReplyCase{"supported_configs", 23, index_only(0), {0x18, 0x00, 0x04, 0x00, 0x00, 0x00, 0x86, 0x07}},
        ReplyCase{"tc10_state", 79, index_only(0), {0x50, 0x00, 0x03, 0x00, 0x00, 0x00, 0x00}},
        ReplyCase{"dcq", 83, index_only(0), frame(84, ByteWriter().u8(7).u8(5).u8(3).u8(9).u16(120).u16(340))},
        ReplyCase{"cable_test", 85, index_only(0), {0x56, 0x00, 0x02, 0x00, 0x02, 0x00}},
        ReplyCase{"set_loopback_acknowledged_empty", 87, ByteWriter().u16(0).u8(1).bytes(), {0x58, 0x00, 0x00, 0x00}},
        ReplyCase{"packet_generator_off", 93, index_only(0), {0x5e, 0x00, 0x05, 0x00, 0x00, 0x01, 0x00, 0x00, 0x00}},
        ReplyCase{"firmware_start", 49, ByteWriter().u8(0).u32(5000).bytes(), {0x32, 0x00, 0x02, 0x00, 0x00, 0x04}},
        // Refusals.
        ReplyCase{"unknown_command", 999, {}, error_frame(1)},
        ReplyCase{"reply_number_as_request", 4, {}, error_frame(1)},
        ReplyCase{"no_such_interface", 19, index_only(2), error_frame(18)},
        ReplyCase{"missing_index", 19, {}, error_frame(20)},
        ReplyCase{"trailing_bytes", 3, {0x00}, error_frame(20)},
        ReplyCase{"nickname_not_utf8", 5, ByteWriter().counted(Bytes{0xc0, 0x80}).bytes(), error_frame(15)},
        ReplyCase{"nickname_count_beyond_payload", 5, {0x05, 0x00, 0x61}, error_frame(20)}),
    [](const testing::TestParamInfo<ReplyCase>& param_info) { return param_info.param.label; });
// clang-format on

TEST(Behaviour, SecondFamilyIsNotImplementedBelowVersionTwo) {
    constexpr uint16_t second_family_requests[] = {5, 77, 79, 81, 83, 85, 87, 89, 91, 93};
    for (const uint16_t version : {uint16_t{0}, uint16_t{1}}) {
        DeviceState state;
        state.protocol_version = version;
        for (const uint16_t command : second_family_requests) {
            EXPECT_EQ(qx_test::answer_request(state, command, index_only(0)), error_frame(1)) << command;
        }
        // The first family still answers, whatever the version.
        EXPECT_EQ(qx_test::answer_request(state, 39, {}), frame(40, ByteWriter().u64(state.ean)));
    }
    DeviceState newer;
    newer.protocol_version = 3;
    EXPECT_EQ(qx_test::answer_request(newer, 1, {}), (Bytes{0x02, 0x00, 0x02, 0x00, 0x03, 0x00}));
}

TEST(Behaviour, SetRequestsChangeWhatLaterGetsReport) {
    DeviceState state;
    const auto ask = [&](uint16_t command, const Bytes& payload) {
        return qx_test::answer_request(state, command, payload);
    };

    EXPECT_EQ(ask(5, ByteWriter().text("bench").bytes()), frame(6, ByteWriter().u16(0)));
    EXPECT_EQ(ask(81, {}), frame(82, ByteWriter().text("bench")));

    EXPECT_EQ(ask(17, ByteWriter().u16(1).text("port b").bytes()), frame(18, ByteWriter().u16(0)));
    EXPECT_EQ(ask(15, index_only(1)), frame(16, ByteWriter().text("port b")));
    EXPECT_EQ(ask(15, index_only(0)), frame(16, ByteWriter().text("")));

    EXPECT_EQ(ask(25, ByteWriter().u16(0).u16(0x0584).bytes()), frame(26, ByteWriter().u16(0)));
    EXPECT_EQ(ask(27, index_only(0)), frame(28, ByteWriter().u16(0).u16(0x0584)));

    EXPECT_EQ(ask(87, ByteWriter().u16(0).u8(1).bytes()), frame(88));
    EXPECT_EQ(ask(89, index_only(0)), frame(90, ByteWriter().u8(1)));

    const Bytes generator = {0x01, 0x03, 0x01, 0xff, 0x01};
    EXPECT_EQ(ask(91, ByteWriter().u16(0).raw(generator).bytes()), frame(92));
    EXPECT_EQ(ask(93, index_only(0)), frame(94, generator));

    // TC10 on the wire: 0 asks for sleep, 1 for wake-up.
    EXPECT_EQ(ask(77, ByteWriter().u16(0).u8(0).bytes()), frame(78, ByteWriter().u16(0)));
    EXPECT_EQ(ask(79, index_only(0)), frame(80, ByteWriter().u16(0).u8(1)));
    EXPECT_EQ(ask(77, ByteWriter().u16(0).u8(1).bytes()), frame(78, ByteWriter().u16(0)));
    EXPECT_EQ(ask(79, index_only(0)), frame(80, ByteWriter().u16(0).u8(0)));

    // A refusing status leaves the state alone.
    state.interfaces[0].set_nickname_status = 4;
    EXPECT_EQ(ask(17, ByteWriter().u16(0).text("nope").bytes()), frame(18, ByteWriter().u16(4)));
    EXPECT_EQ(state.interfaces[0].nickname, "");
    state.set_nickname_status = 3;
    EXPECT_EQ(ask(5, ByteWriter().text("nope").bytes()), frame(6, ByteWriter().u16(3)));
    EXPECT_EQ(state.nickname, "bench");
}

TEST(Behaviour, FirmwareUpdateKeepsTheImageAndRefusesTheScriptedChunk) {
    DeviceState state;
    state.firmware.chunk_size = 3;
    state.firmware.refuse_chunk = 2;
    state.firmware.finalize_status = 3;
    const auto ask = [&](uint16_t command, const Bytes& payload) {
        return qx_test::answer_request(state, command, payload);
    };

    EXPECT_EQ(ask(49, ByteWriter().u8(0).u32(7).bytes()), frame(50, ByteWriter().u16(3)));
    EXPECT_EQ(ask(51, ByteWriter().u16(0).counted(Bytes{1, 2, 3}).bytes()), frame(52, ByteWriter().u16(0)));
    EXPECT_EQ(ask(51, ByteWriter().u16(1).counted(Bytes{4, 5, 6}).bytes()), frame(52, ByteWriter().u16(0)));
    EXPECT_EQ(ask(51, ByteWriter().u16(2).counted(Bytes{7}).bytes()), frame(52, ByteWriter().u16(3)));
    EXPECT_EQ(ask(53, {}), frame(54, ByteWriter().u16(3)));

    EXPECT_EQ(state.firmware.announced_size, 7u);
    EXPECT_EQ(state.firmware.image, (Bytes{1, 2, 3, 4, 5, 6}));
    EXPECT_EQ(state.firmware.chunk_indices, (std::vector<uint16_t>{0, 1}));
    EXPECT_EQ(state.firmware.finalize_count, 1u);

    // A new start forgets the previous transfer.
    ask(49, ByteWriter().u8(0).u32(1).bytes());
    EXPECT_TRUE(state.firmware.image.empty());
    EXPECT_EQ(state.firmware.start_count, 2u);
}

// ---- Over a socket ----------------------------------------------------------

class Client {
public:
    explicit Client(const FakeDevice& device) {
        auto stream = TcpStream::connect(*SocketAddress::parse(device.address(), device.port()), read_limit);
        EXPECT_TRUE(stream.has_value());
        if (stream) {
            EXPECT_TRUE(stream->set_read_timeout(read_limit));
            EXPECT_TRUE(stream->set_write_timeout(read_limit));
            stream_.emplace(std::move(*stream));
        }
    }
    TcpStream& stream() { return *stream_; }

    void send(const Bytes& bytes) { ASSERT_TRUE(stream_->write_all(bytes).has_value()); }

    std::optional<Bytes> read(size_t n) {
        Bytes bytes(n);
        qx_sdk_client::net::Deadline deadline = stream_->read_deadline();
        if (!stream_->read_exact(bytes, deadline)) return std::nullopt;
        return bytes;
    }
    // One whole frame, or nothing if the stream fails first.
    std::optional<Bytes> read_frame() {
        auto header = read(4);
        if (!header) return std::nullopt;
        auto payload = read(static_cast<size_t>((*header)[2] | (*header)[3] << 8));
        if (!payload) return std::nullopt;
        header->insert(header->end(), payload->begin(), payload->end());
        return header;
    }
    std::optional<Bytes> ask(const Bytes& request) {
        send(request);
        return read_frame();
    }
    bool readable_within(std::chrono::milliseconds wait) {
        pollfd watch{stream_->fd(), POLLIN, 0};
        return ::poll(&watch, 1, static_cast<int>(wait.count())) == 1;
    }
    bool closed_by_peer() {
        uint8_t byte;
        qx_sdk_client::net::Deadline deadline = stream_->read_deadline();
        const auto result = stream_->read_exact({&byte, 1}, deadline);
        return !result && result.error().is_closed();
    }

private:
    std::optional<TcpStream> stream_;
};

const Bytes get_name = frame(3);
const Bytes name_reply = frame(4, ByteWriter().text("QX Test Device"));

TEST(FakeDeviceSocket, AnswersAndRecordsEveryRequest) {
    FakeDevice device;
    Client client(device);
    EXPECT_EQ(client.ask(frame(1)), (Bytes{0x02, 0x00, 0x02, 0x00, 0x02, 0x00}));
    EXPECT_EQ(client.ask(frame(15, index_only(1))), frame(16, ByteWriter().text("")));
    EXPECT_EQ(device.requests(), (std::vector<Bytes>{frame(1), frame(15, index_only(1))}));
    EXPECT_EQ(device.request_commands(), (std::vector<uint16_t>{1, 15}));
    device.clear_requests();
    EXPECT_EQ(device.request_count(), 0u);

    device.update_state([](DeviceState& s) { s.name = "Renamed"; });
    EXPECT_EQ(client.ask(get_name), frame(4, ByteWriter().text("Renamed")));
    EXPECT_EQ(device.state().name, "Renamed");
}

struct ReplacedReplyCase {
    const char* label;
    Fault fault;
    Bytes reply;
};

class ReplacedReply : public testing::TestWithParam<ReplacedReplyCase> {};

TEST_P(ReplacedReply, ThenTheNextRequestIsAnsweredNormally) {
    FakeDevice device;
    device.inject(3, GetParam().fault);
    Client client(device);
    client.send(get_name);
    EXPECT_EQ(client.read(GetParam().reply.size()), GetParam().reply);
    EXPECT_EQ(client.ask(get_name), name_reply);
}

INSTANTIATE_TEST_SUITE_P(
    Faults, ReplacedReply,
    testing::Values(ReplacedReplyCase{"error_packet", Fault::error_packet(5), {0xad, 0xba, 0x02, 0x00, 0x05, 0x00}},
                    ReplacedReplyCase{"raw_bytes", Fault::raw({0x04, 0x00, 0x01}), {0x04, 0x00, 0x01}},
                    ReplacedReplyCase{"delay", Fault::delay_reply(10ms), name_reply},
                    ReplacedReplyCase{"split", Fault::split_reply(2, 1ms), name_reply}),
    [](const testing::TestParamInfo<ReplacedReplyCase>& param_info) { return param_info.param.label; });

TEST(FakeDeviceFaults, DelayHoldsTheReplyBack) {
    FakeDevice device;
    device.inject(3, Fault::delay_reply(400ms));
    Client client(device);
    client.send(get_name);
    EXPECT_FALSE(client.readable_within(100ms));
    EXPECT_EQ(client.read_frame(), name_reply);
}

TEST(FakeDeviceFaults, SplitReplyArrivesInPieces) {
    FakeDevice device;
    device.inject(3, Fault::split_reply(1, 20ms));
    Client client(device);
    client.send(get_name);
    ASSERT_TRUE(client.readable_within(read_limit));
    Bytes first(name_reply.size());
    const ssize_t got = ::recv(client.stream().fd(), first.data(), first.size(), MSG_DONTWAIT);
    ASSERT_GT(got, 0);
    EXPECT_LT(static_cast<size_t>(got), name_reply.size());
    const auto rest = client.read(name_reply.size() - static_cast<size_t>(got));
    ASSERT_TRUE(rest.has_value());
    first.resize(static_cast<size_t>(got));
    first.insert(first.end(), rest->begin(), rest->end());
    EXPECT_EQ(first, name_reply);
}

TEST(FakeDeviceFaults, ReplyTwiceSendsTheCopyAfterTheGapAndCarriesTheRequestOutOnce) {
    FakeDevice device;
    device.inject(5, Fault::reply_twice(300ms));
    Client client(device);
    const Bytes set_reply = frame(6, ByteWriter().u16(0));
    EXPECT_EQ(client.ask(frame(5, ByteWriter().text("once"))), set_reply);
    EXPECT_FALSE(client.readable_within(100ms));
    EXPECT_EQ(client.read_frame(), set_reply);
    EXPECT_EQ(device.state().nickname, "once");
    EXPECT_EQ(device.request_count(), 1u);
    EXPECT_EQ(client.ask(get_name), name_reply);
}

TEST(FakeDeviceFaults, ACopySentWithNagleWaitsUntilTheReplyIsAcknowledged) {
    FakeDevice device;
    device.inject(3, Fault::reply_twice(0ms, Fault::Sending::nagle));
    device.inject(3, Fault::reply_twice(0ms));
    Client client(device);
    // On a new connection Linux acknowledges at once; a request sent right
    // after a reply puts its acknowledgements on delay.
    client.send(frame(1));
    ASSERT_TRUE(client.read_frame().has_value());
    EXPECT_EQ(client.ask(get_name), name_reply);
    ASSERT_TRUE(device.wait_for_handled_requests(2, read_limit));
    EXPECT_FALSE(client.readable_within(0ms));
    client.stream().acknowledge_at_once();
    EXPECT_EQ(client.read_frame(), name_reply);
    // Everything acknowledged: the device sends each piece at once again.
    EXPECT_EQ(client.ask(get_name), name_reply);
    ASSERT_TRUE(device.wait_for_handled_requests(3, read_limit));
    EXPECT_TRUE(client.readable_within(0ms));
    EXPECT_EQ(client.read_frame(), name_reply);
}

TEST(FakeDeviceFaults, CloseDropsTheConnectionAfterAnOptionalReplyPrefix) {
    FakeDevice device;
    device.inject(3, Fault::close());
    device.inject(3, Fault::close(6));
    {
        Client client(device);
        client.send(get_name);
        EXPECT_TRUE(client.closed_by_peer());
    }
    Client client(device);
    client.send(get_name);
    EXPECT_EQ(client.read(6), Bytes(name_reply.begin(), name_reply.begin() + 6));
    EXPECT_TRUE(client.closed_by_peer());
    EXPECT_TRUE(device.wait_for_open_connections(0, read_limit));
}

TEST(FakeDeviceFaults, NoReplyKeepsTheConnectionForTheNextRequest) {
    FakeDevice device;
    device.inject(1, Fault::no_reply());
    Client client(device);
    client.send(frame(1));
    ASSERT_TRUE(device.wait_for_requests(1, read_limit));
    EXPECT_EQ(client.ask(get_name), name_reply);  // the first bytes to arrive are the second reply
}

TEST(FakeDeviceFaults, OversizeHeaderSendsAllItAnnounces) {
    FakeDevice device;
    device.inject(3, Fault::oversize_header(5000));
    Client client(device);
    const auto reply = client.ask(get_name);
    ASSERT_TRUE(reply.has_value());
    EXPECT_EQ(reply->size(), 4u + 5000u);
    EXPECT_EQ((*reply)[0], 4);
    EXPECT_EQ(client.ask(get_name), name_reply);
}

TEST(FakeDeviceFaults, CountsNextAndAlways) {
    FakeDevice device;
    const Bytes refused = error_frame(3);
    device.inject(3, Fault::error_packet(3), 2);
    device.inject_next(Fault::error_packet(4));
    Client client(device);
    EXPECT_EQ(client.ask(frame(1)), error_frame(4));  // "next" takes any command
    EXPECT_EQ(client.ask(get_name), refused);
    EXPECT_EQ(client.ask(get_name), refused);
    EXPECT_EQ(client.ask(get_name), name_reply);

    device.inject(39, Fault::error_packet(6), FakeDevice::always);
    for (int i = 0; i < 5; ++i) EXPECT_EQ(client.ask(frame(39)), error_frame(6));
    device.clear_faults();
    EXPECT_EQ(client.ask(frame(39)), frame(40, ByteWriter().u64(device.state().ean)));
}

TEST(FakeDeviceFaults, AReplacedReplyLeavesTheStateAlone) {
    FakeDevice device;
    device.inject(5, Fault::error_packet(2));
    device.inject(5, Fault::delay_reply(1ms));
    Client client(device);
    EXPECT_EQ(client.ask(frame(5, ByteWriter().text("first"))), error_frame(2));
    EXPECT_EQ(device.state().nickname, "");
    EXPECT_EQ(client.ask(frame(5, ByteWriter().text("second"))), frame(6, ByteWriter().u16(0)));
    EXPECT_EQ(device.state().nickname, "second");
}

TEST(FakeDeviceLifetime, StopsWhileARequestIsDelayed) {
    std::optional<FakeDevice> device(std::in_place);
    device->inject(3, Fault::delay_reply(10min));
    Client client(*device);
    client.send(get_name);
    ASSERT_TRUE(device->wait_for_requests(1, read_limit));
    device.reset();  // must not wait out the delay
    EXPECT_TRUE(client.closed_by_peer());
}

TEST(FakeDeviceLifetime, ServesAThousandIdleConnections) {
    // Both ends live in this process: make sure the descriptors suffice.
    rlimit limit{};
    ASSERT_EQ(::getrlimit(RLIMIT_NOFILE, &limit), 0);
    if (limit.rlim_cur < 2200 && limit.rlim_max >= 2200) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
        ::setrlimit(RLIMIT_NOFILE, &limit);
    }
    if (limit.rlim_cur < 2200) GTEST_SKIP() << "too few file descriptors allowed";

    FakeDevice device;
    std::vector<std::unique_ptr<Client>> clients;
    for (int i = 0; i < 1000; ++i) clients.push_back(std::make_unique<Client>(device));
    ASSERT_TRUE(device.wait_for_open_connections(1000, 30s));
    EXPECT_EQ(clients.front()->ask(get_name), name_reply);
    EXPECT_EQ(clients.back()->ask(get_name), name_reply);
    clients.clear();
    EXPECT_TRUE(device.wait_for_open_connections(0, 30s));
    EXPECT_EQ(device.accepted_connections(), 1000u);
}

TEST(FakeDeviceIpv6, ListensOnIpv6Loopback) {
    std::optional<FakeDevice> device;
    try {
        device.emplace(DeviceState(), FakeDevice::Options{"::1", 0});
    } catch (const std::system_error&) {
        GTEST_SKIP() << "no IPv6 loopback here";
    }
    Client client(*device);
    EXPECT_EQ(client.ask(get_name), name_reply);
}

// ---- Control channel commands ---------------------------------------------

TEST(ControlCommands, SetGetAndFaults) {
    FakeDevice device;
    const auto run = [&](std::string_view line) { return qx_test::run_control_command(device, line).text; };
    const struct {
        const char* line;
        const char* answer;
    } rows[] = {
        {"set name Bench Device 1", "OK\n"},
        {"get name", "OK Bench Device 1\n"},
        {"set nickname hex:c080", "OK\n"},  // bytes a real device should never send
        {"get nickname", "OK hex:c080\n"},
        {"set ean 0x4006381333931", "OK\n"},
        {"get ean", "OK 1126327276222769\n"},
        {"set protocol_version 70000", "ERR bad value for protocol_version: 70000\n"},
        {"set firmware.refuse_chunk 2", "OK\n"},
        {"get firmware.refuse_chunk", "OK 2\n"},
        {"set firmware.refuse_chunk none", "OK\n"},
        {"get firmware.refuse_chunk", "OK none\n"},
        {"set interfaces 3", "OK\n"},
        {"iset 2 dcq.mse 0x1234", "OK\n"},
        {"iget 2 dcq.mse", "OK 4660\n"},
        {"iset 2 loopback true", "OK\n"},
        {"iget 2 loopback", "OK 1\n"},
        {"iget 3 loopback", "ERR no interface 3\n"},
        {"get colour", "ERR unknown field colour\n"},
        {"fault 3 1 error 4", "OK\n"},
        {"fault next 2 split 3 1", "OK\n"},
        {"fault 3 always oversize 9000", "OK\n"},
        {"fault 3 1 twice 10", "OK\n"},
        {"fault 3 1 twice 10 nagle", "OK\n"},
        {"fault 3 1 twice", "ERR bad arguments for fault twice\n"},
        {"fault 3 1 twice 10 slowly", "ERR bad arguments for fault twice\n"},
        {"fault 3 0 noreply", "ERR bad fault count 0\n"},
        {"fault 3 1 explode", "ERR unknown fault kind explode\n"},
        {"fault 3 1 raw abc", "ERR bad arguments for fault raw\n"},
        {"clear_faults", "OK\n"},
        {"connections", "OK 0 0\n"},
        {"dance", "ERR unknown command dance\n"},
    };
    for (const auto& row : rows) EXPECT_EQ(run(row.line), row.answer) << row.line;
    EXPECT_EQ(device.state().interfaces.size(), 3u);
    EXPECT_EQ(device.state().nickname, std::string("\xc0\x80"));
    EXPECT_TRUE(qx_test::run_control_command(device, "quit").quit);
}

TEST(ControlCommands, FaultAndRequestsOverTheWire) {
    FakeDevice device;
    EXPECT_EQ(qx_test::run_control_command(device, "fault 3 1 error 4").text, "OK\n");
    Client client(device);
    EXPECT_EQ(client.ask(get_name), error_frame(4));
    EXPECT_EQ(client.ask(frame(15, index_only(1))), frame(16, ByteWriter().text("")));
    EXPECT_EQ(qx_test::run_control_command(device, "requests").text, "OK 2\n03000000\n0f0002000100\n");
    ASSERT_TRUE(device.wait_for_handled_requests(2, read_limit));
    EXPECT_EQ(qx_test::run_control_command(device, "handled").text, "OK 2\n");
    EXPECT_EQ(qx_test::run_control_command(device, "clear").text, "OK\n");
    EXPECT_EQ(qx_test::run_control_command(device, "requests").text, "OK 0\n");
    EXPECT_EQ(qx_test::run_control_command(device, "handled").text, "OK 0\n");
}

TEST(StateFields, EveryFieldPrintsWhatItAccepts) {
    DeviceState state;
    for (const std::string_view name : qx_test::device_field_names()) {
        const auto value = qx_test::get_device_field(state, name);
        ASSERT_TRUE(value.has_value()) << name;
        EXPECT_TRUE(qx_test::set_device_field(state, name, *value).has_value()) << name << " = " << *value;
    }
    for (const std::string_view name : qx_test::interface_field_names()) {
        const auto value = qx_test::get_interface_field(state, 0, name);
        ASSERT_TRUE(value.has_value()) << name;
        EXPECT_TRUE(qx_test::set_interface_field(state, 0, name, *value).has_value()) << name << " = " << *value;
    }
}

}  // namespace
