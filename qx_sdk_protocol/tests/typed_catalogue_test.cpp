// Properties that every pack and every unpack of the typed layer shares:
// version gating, wiring to the right command, error packets, and leaving
// the caller's buffer alone on failure.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "qx_sdk_protocol/src/device.hpp"
#include "qx_sdk_protocol/src/interface.hpp"
#include "typed_test_support.hpp"

namespace {

using namespace qx_sdk_protocol;
using namespace qx_sdk_protocol::types;
using namespace typed_test;

using Buffer = std::span<uint8_t>;
using Received = std::span<const uint8_t>;

// Which protocol versions a request may be sent with.
enum class Family { V1, V2 };

struct PackCase {
    const char* name;
    uint16_t request;
    Family family;
    std::function<ProtocolResult<Buffer>(uint32_t, Buffer)> pack;
};

// Sample arguments are arbitrary but valid; only the gating and wiring matter here.
const std::vector<PackCase>& pack_cases() {
    namespace dev = qx_sdk_protocol::device;
    namespace ifc = qx_sdk_protocol::interface;
    const std::vector<uint8_t> chunk{1, 2, 3};
    static const std::vector<PackCase> cases = {
        {"get_device_name", 3, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_get_device_name(v, b); }},
        {"set_device_nickname", 5, Family::V2,
         [](uint32_t v, Buffer b) { return dev::pack_set_device_nickname(v, b, "bench"); }},
        {"identify_device", 7, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_identify_device(v, b); }},
        {"get_firmware_ean", 9, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_get_firmware_ean(v, b); }},
        {"get_num_interfaces", 13, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_get_num_interfaces(v, b); }},
        {"get_serial_number", 29, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_get_serial_number(v, b); }},
        {"get_firmware_version", 33, Family::V1,
         [](uint32_t v, Buffer b) { return dev::pack_get_firmware_version(v, b); }},
        {"get_bootloader_version", 37, Family::V1,
         [](uint32_t v, Buffer b) { return dev::pack_get_bootloader_version(v, b); }},
        {"get_ean", 39, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_get_ean(v, b); }},
        {"get_pcb_revision", 41, Family::V1, [](uint32_t v, Buffer b) { return dev::pack_get_pcb_revision(v, b); }},
        {"firmware_update_start", 49, Family::V1,
         [](uint32_t v, Buffer b) { return dev::pack_firmware_update_start(v, b, 100000); }},
        {"firmware_update_send_chunk", 51, Family::V1,
         [chunk](uint32_t v, Buffer b) { return dev::pack_firmware_update_send_chunk(v, b, 4, chunk); }},
        {"firmware_update_finalize", 53, Family::V1,
         [](uint32_t v, Buffer b) { return dev::pack_firmware_update_finalize(v, b); }},
        {"get_manufacturing_date", 69, Family::V1,
         [](uint32_t v, Buffer b) { return dev::pack_get_manufacturing_date(v, b); }},
        {"get_device_nickname", 81, Family::V2,
         [](uint32_t v, Buffer b) { return dev::pack_get_device_nickname(v, b); }},
        {"get_interface_nickname", 15, Family::V1,
         [](uint32_t v, Buffer b) { return ifc::pack_get_interface_nickname(v, b, 1); }},
        {"set_interface_nickname", 17, Family::V1,
         [](uint32_t v, Buffer b) { return ifc::pack_set_interface_nickname(v, b, 1, "port"); }},
        {"get_interface_status", 19, Family::V1,
         [](uint32_t v, Buffer b) { return ifc::pack_get_interface_status(v, b, 1); }},
        {"identify_interface", 21, Family::V1,
         [](uint32_t v, Buffer b) { return ifc::pack_identify_interface(v, b, 1); }},
        {"get_supported_eth_configs", 23, Family::V1,
         [](uint32_t v, Buffer b) { return ifc::pack_get_supported_eth_configs(v, b, 1); }},
        {"set_eth_config", 25, Family::V1,
         [](uint32_t v, Buffer b) {
             return ifc::pack_set_eth_config(v, b, 1, {{EthLinkSpeed::Speed100MbitFullDuplex}, {}, {}});
         }},
        {"get_eth_config", 27, Family::V1, [](uint32_t v, Buffer b) { return ifc::pack_get_eth_config(v, b, 1); }},
        {"interface_send_tc10_command", 77, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_send_tc10_command(v, b, 1, Tc10Command::Sleep); }},
        {"interface_get_tc10_state", 79, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_get_tc10_state(v, b, 1); }},
        {"interface_read_dcq", 83, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_read_dcq(v, b, 1); }},
        {"interface_run_cable_test", 85, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_run_cable_test(v, b, 1); }},
        {"interface_set_loopback_state", 87, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_set_loopback_state(v, b, 1, true); }},
        {"interface_get_loopback_state", 89, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_get_loopback_state(v, b, 1); }},
        {"interface_set_packet_generator_config", 91, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_set_packet_generator_config(v, b, 1, std::nullopt); }},
        {"interface_get_packet_generator_config", 93, Family::V2,
         [](uint32_t v, Buffer b) { return ifc::pack_interface_get_packet_generator_config(v, b, 1); }},
    };
    return cases;
}

struct UnpackCase {
    const char* name;
    uint16_t reply;
    Family family;
    // The error the unpack reports, if any.
    std::function<std::optional<ProtocolError>(uint32_t, Received)> error_of;
    // Compares the result of an error packet carrying success with the result
    // that the initial outputs must produce.
    std::function<testing::AssertionResult(Received)> gives_initial_result;
};

template <class T>
UnpackCase unpack_case(const char* name, uint16_t reply, Family family, ProtocolResult<T> (*unpack)(uint32_t, Received),
                       ProtocolResult<T> initial_result) {
    return UnpackCase{
        name,
        reply,
        family,
        [unpack](uint32_t version, Received bytes) -> std::optional<ProtocolError> {
            auto result = unpack(version, bytes);
            return result ? std::nullopt : std::optional(result.error());
        },
        [unpack, initial_result](Received bytes) { return same_result(unpack(2, bytes), initial_result); },
    };
}

const std::vector<UnpackCase>& unpack_cases() {
    namespace dev = qx_sdk_protocol::device;
    namespace ifc = qx_sdk_protocol::interface;
    using Kind = ServiceStatus::Kind;
    const auto unspecified_value = ProtocolResult<ServiceStatus>(ServiceStatus(Kind::UnspecifiedError));
    const auto unspecified_error = service_error(Kind::UnspecifiedError);
    const auto both_duplex = conversion_error("Unable to convert both full and half duplex at the same time");
    const auto empty_text = ProtocolResult<std::string>(std::string());
    const ProtocolResult<void> success;

    static const std::vector<UnpackCase> cases = {
        unpack_case("get_device_name", 4, Family::V1, dev::unpack_get_device_name, empty_text),
        unpack_case<void>("set_device_nickname", 6, Family::V2, dev::unpack_set_device_nickname,
                          std::unexpected(unspecified_error)),
        unpack_case("identify_device", 8, Family::V1, dev::unpack_identify_device, unspecified_value),
        unpack_case<uint64_t>("get_firmware_ean", 10, Family::V1, dev::unpack_get_firmware_ean, 0),
        unpack_case<uint16_t>("get_num_interfaces", 14, Family::V1, dev::unpack_get_num_interfaces, 0),
        unpack_case<uint64_t>("get_serial_number", 30, Family::V1, dev::unpack_get_serial_number, 0),
        unpack_case("get_firmware_version", 34, Family::V1, dev::unpack_get_firmware_version, empty_text),
        unpack_case("get_bootloader_version", 38, Family::V1, dev::unpack_get_bootloader_version, empty_text),
        unpack_case<uint64_t>("get_ean", 40, Family::V1, dev::unpack_get_ean, 0),
        unpack_case("get_pcb_revision", 42, Family::V1, dev::unpack_get_pcb_revision, empty_text),
        unpack_case<uint64_t>("firmware_update_start", 50, Family::V1, dev::unpack_firmware_update_start, 0),
        unpack_case("firmware_update_send_chunk", 52, Family::V1, dev::unpack_firmware_update_send_chunk, success),
        unpack_case("firmware_update_finalize", 54, Family::V1, dev::unpack_firmware_update_finalize,
                    unspecified_value),
        unpack_case<std::chrono::sys_seconds>("get_manufacturing_date", 70, Family::V1,
                                              dev::unpack_get_manufacturing_date, std::chrono::sys_seconds{}),
        unpack_case("get_device_nickname", 82, Family::V2, dev::unpack_get_device_nickname, empty_text),
        unpack_case("get_interface_nickname", 16, Family::V1, ifc::unpack_get_interface_nickname, empty_text),
        unpack_case("set_interface_nickname", 18, Family::V1, ifc::unpack_set_interface_nickname, unspecified_value),
        unpack_case<InterfaceStatus>("get_interface_status", 20, Family::V1, ifc::unpack_get_interface_status,
                                     std::unexpected(both_duplex)),
        unpack_case("identify_interface", 22, Family::V1, ifc::unpack_identify_interface, unspecified_value),
        unpack_case<EthInterfaceConfig>("get_supported_eth_configs", 24, Family::V1,
                                        ifc::unpack_get_supported_eth_configs, std::unexpected(unspecified_error)),
        unpack_case("set_eth_config", 26, Family::V1, ifc::unpack_set_eth_config, unspecified_value),
        unpack_case<EthInterfaceConfig>("get_eth_config", 28, Family::V1, ifc::unpack_get_eth_config,
                                        std::unexpected(both_duplex)),
        unpack_case("interface_send_tc10_command", 78, Family::V2, ifc::unpack_interface_send_tc10_command,
                    unspecified_value),
        unpack_case<Tc10State>("interface_get_tc10_state", 80, Family::V2, ifc::unpack_interface_get_tc10_state,
                               std::unexpected(unspecified_error)),
        unpack_case<DcqReading>("interface_read_dcq", 84, Family::V2, ifc::unpack_interface_read_dcq,
                                DcqReading{0, 0, 0, 0, 0, 0}),
        unpack_case<CableTestResult>("interface_run_cable_test", 86, Family::V2, ifc::unpack_interface_run_cable_test,
                                     CableTestResult{CableTestHarnessStatus::CableOpen, 0}),
        unpack_case("interface_set_loopback_state", 88, Family::V2, ifc::unpack_interface_set_loopback_state, success),
        unpack_case<bool>("interface_get_loopback_state", 90, Family::V2, ifc::unpack_interface_get_loopback_state,
                          false),
        unpack_case("interface_set_packet_generator_config", 92, Family::V2,
                    ifc::unpack_interface_set_packet_generator_config, success),
        unpack_case<std::optional<PacketGeneratorConfig>>("interface_get_packet_generator_config", 94, Family::V2,
                                                          ifc::unpack_interface_get_packet_generator_config,
                                                          std::nullopt),
    };
    return cases;
}

// Enough zero bytes for the longest fixed reply payload.
Bytes complete_reply(uint16_t reply) { return frame(reply, Bytes(16, 0)); }

constexpr uint8_t untouched = 0xEE;

TEST(EveryPack, RefusesVersionsOutsideItsFamilyAndLeavesTheBufferUnwritten) {
    for (const PackCase& c : pack_cases()) {
        SCOPED_TRACE(c.name);
        struct VersionCase {
            uint32_t version;
            std::optional<ProtocolError> error;
        };
        const std::optional<ProtocolError> below = ProtocolError::not_available_in_protocol_version();
        const std::optional<ProtocolError> above = ProtocolError::unfamiliar_protocol_version();
        for (const VersionCase& v :
             {VersionCase{0, below}, VersionCase{1, c.family == Family::V1 ? std::nullopt : below},
              VersionCase{2, std::nullopt}, VersionCase{3, above}, VersionCase{65535, above}}) {
            SCOPED_TRACE(testing::Message() << "version " << v.version);
            Bytes buffer(connection_buffer_size, untouched);
            auto result = c.pack(v.version, buffer);
            if (v.error) {
                EXPECT_TRUE(fails_with(result, *v.error));
                EXPECT_TRUE(std::ranges::all_of(buffer, [](uint8_t b) { return b == untouched; }));
                continue;
            }
            ASSERT_TRUE(result) << testing::PrintToString(result.error());
            // The frame sits at the front of the buffer and carries this request's number.
            EXPECT_EQ(result->data(), buffer.data());
            ASSERT_GE(result->size(), 4U);
            EXPECT_EQ(Bytes(result->begin(), result->begin() + 2), le16(c.request));
            EXPECT_EQ(Bytes(result->begin() + 2, result->begin() + 4), le16(static_cast<uint16_t>(result->size() - 4)));
            EXPECT_TRUE(std::all_of(buffer.begin() + static_cast<ptrdiff_t>(result->size()), buffer.end(),
                                    [](uint8_t b) { return b == untouched; }));
        }
    }
}

TEST(EveryPack, BufferTooSmallForTheFrameWritesNothing) {
    for (const PackCase& c : pack_cases()) {
        SCOPED_TRACE(c.name);
        Bytes roomy(connection_buffer_size);
        auto framed = c.pack(2, roomy);
        ASSERT_TRUE(framed);
        const size_t length = framed->size();

        Bytes exact(length, untouched);
        EXPECT_TRUE(
            holds(frame_bytes(c.pack(2, exact)), Bytes(roomy.begin(), roomy.begin() + static_cast<ptrdiff_t>(length))));

        Bytes short_by_one(length - 1, untouched);
        EXPECT_TRUE(fails_with(c.pack(2, short_by_one), status_error(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL)));
        EXPECT_TRUE(std::ranges::all_of(short_by_one, [](uint8_t b) { return b == untouched; }));
    }
}

TEST(EveryUnpack, RefusesVersionsOutsideItsFamily) {
    const std::optional<ProtocolError> below = ProtocolError::not_available_in_protocol_version();
    const std::optional<ProtocolError> above = ProtocolError::unfamiliar_protocol_version();
    for (const UnpackCase& c : unpack_cases()) {
        SCOPED_TRACE(c.name);
        const Bytes reply = complete_reply(c.reply);
        EXPECT_EQ(c.error_of(0, reply), below);
        EXPECT_EQ(c.error_of(3, reply), above);
        EXPECT_EQ(c.error_of(65535, reply), above);
        const std::optional<ProtocolError> at_version_1 = c.error_of(1, reply);
        if (c.family == Family::V2) {
            EXPECT_EQ(at_version_1, below);
        } else {
            EXPECT_NE(at_version_1, below);
        }
    }
}

TEST(EveryUnpack, AcceptsOnlyItsOwnReplyNumber) {
    const std::optional<ProtocolError> wrong_reply = status_error(QX_PROTOCOL_STATUS_PROTOCOL_ERROR);
    for (const UnpackCase& c : unpack_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_NE(c.error_of(2, complete_reply(c.reply)), wrong_reply);
        // The request's own number is the likeliest mix-up.
        EXPECT_EQ(c.error_of(2, complete_reply(c.reply - 1)), wrong_reply);
        EXPECT_EQ(c.error_of(2, complete_reply(c.reply + 2)), wrong_reply);
    }
}

TEST(EveryUnpack, ErrorPacketStatuses) {
    for (const UnpackCase& c : unpack_cases()) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(c.error_of(2, error_packet(QX_SERVICE_STATUS_NOT_IMPLEMENTED)),
                  ProtocolError::not_available_in_protocol_version());
        EXPECT_EQ(c.error_of(2, error_packet(QX_SERVICE_STATUS_OPERATION_NOT_PERMITTED)),
                  status_error(QX_PROTOCOL_STATUS_SERVICE_ERROR_OPERATION_NOT_PERMITTED));
        EXPECT_EQ(c.error_of(2, error_packet(22)), status_error(QX_PROTOCOL_STATUS_SERVICE_API_ERROR));
        EXPECT_EQ(c.error_of(2, frame(QX_ERROR_PACKET, {0x04})),
                  status_error(QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE));
        // Success in an error packet decodes nothing: the initial outputs decide.
        EXPECT_TRUE(c.gives_initial_result(error_packet(QX_SERVICE_STATUS_SUCCESS)));
    }
}

TEST(EveryUnpack, TruncatedInputIsBufferTooSmall) {
    const std::optional<ProtocolError> too_small = status_error(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL);
    for (const UnpackCase& c : unpack_cases()) {
        SCOPED_TRACE(c.name);
        const Bytes reply = complete_reply(c.reply);
        EXPECT_EQ(c.error_of(2, {}), too_small);
        EXPECT_EQ(c.error_of(2, Received(reply).first(3)), too_small);
        EXPECT_EQ(c.error_of(2, Received(reply).first(reply.size() - 1)), too_small);
    }
}

TEST(GetVersion, NeedsNoVersionAndDoesNotDecodeErrorPackets) {
    namespace dev = qx_sdk_protocol::device;
    Bytes buffer(connection_buffer_size);
    EXPECT_TRUE(holds(frame_bytes(dev::pack_get_version(buffer)), Bytes{0x01, 0x00, 0x00, 0x00}));

    EXPECT_TRUE(holds(dev::unpack_get_version(frame(2, le16(2))), uint16_t{2}));
    EXPECT_TRUE(holds(dev::unpack_get_version(frame(2, le16(0xFFFF))), uint16_t{0xFFFF}));
    EXPECT_TRUE(fails_with(dev::unpack_get_version(error_packet(QX_SERVICE_STATUS_SUCCESS)),
                           status_error(QX_PROTOCOL_STATUS_PROTOCOL_ERROR)));
    EXPECT_TRUE(fails_with(dev::unpack_get_version(frame(2, {0x02})),
                           status_error(QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE)));
    EXPECT_TRUE(
        fails_with(dev::unpack_get_version(Bytes{0x02, 0x00}), status_error(QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL)));
}

}  // namespace
