// Every typed unpack of the device and interface modules behind one call
// shape, each with the checks that hold for any bytes and any version.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "harness/check.hpp"
#include "harness/input.hpp"
#include "harness/utf8_oracle.hpp"
#include "qx_sdk_protocol/src/device.hpp"
#include "qx_sdk_protocol/src/interface.hpp"
#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace fuzz {

namespace types = qx_sdk_protocol::types;
using qx_sdk_protocol::ProtocolError;
using qx_sdk_protocol::ProtocolResult;

struct TypedReply;
using TypedRun = void (*)(uint32_t version, std::span<const uint8_t> bytes, const TypedReply& row);

struct TypedReply {
    const char* name;
    uint16_t reply;
    uint32_t family;  // the lowest version that has the message; 0: not version-gated
    TypedRun run;
};

// Values: what any successful decode must look like.
template <class T>
void check_value(const T&) {}  // numbers, flags, DCQ figures: every value is one the wire can carry

inline void check_value(const std::string& text) {
    FUZZ_CHECK(text.size() <= 127, "a reply text fits the 128-byte buffer with its terminator");
    FUZZ_CHECK(text.find('\0') == std::string::npos, "a reply text ends at its first NUL");
    FUZZ_CHECK(is_well_formed_utf8(bytes_of(text)), "a reply text is UTF-8");
}

inline void check_value(const types::ServiceStatus& status) {
    FUZZ_CHECK(status.kind() <= types::ServiceStatus::Kind::UnspecifiedError, "a known status kind");
    if (status.kind() == types::ServiceStatus::Kind::NotYetMapped) {
        const std::string& text = status.text();
        FUZZ_CHECK(text.starts_with("ServiceStatus mapping for ") && text.ends_with(" not yet implemented"),
                   "an unmapped status names itself");
    } else {
        FUZZ_CHECK(status.text().empty(), "only an unmapped status has a text");
    }
}

inline bool is_full_duplex(types::EthLinkSpeed speed) { return static_cast<int>(speed) % 2 == 0; }

inline void check_value(const types::EthInterfaceConfig& config) {
    FUZZ_CHECK(config.speed.size() <= 3, "each speed at most once");
    for (size_t i = 0; i < config.speed.size(); ++i) {
        FUZZ_CHECK(config.speed[i] <= types::EthLinkSpeed::Speed1000MbitHalfDuplex, "a known speed");
        if (i > 0) {
            FUZZ_CHECK(config.speed[i - 1] < config.speed[i], "speeds ordered from slow to fast");
            FUZZ_CHECK(is_full_duplex(config.speed[i - 1]) == is_full_duplex(config.speed[i]),
                       "one duplex for all speeds");
        }
    }
    FUZZ_CHECK(config.role.size() <= 2, "each role at most once");
    for (size_t i = 0; i < config.role.size(); ++i) {
        FUZZ_CHECK(config.role[i] == types::EthRole::Leader || config.role[i] == types::EthRole::Follower,
                   "the preferred roles never come back");
        if (i > 0) {
            FUZZ_CHECK(config.role[0] == types::EthRole::Leader && config.role[1] == types::EthRole::Follower,
                       "leader before follower");
        }
    }
    FUZZ_CHECK(config.aneg_mode <= types::EthAnegMode::IEEEAnegEnabled, "a known auto-negotiation mode");
}

inline void check_value(const types::InterfaceStatus& status) {
    FUZZ_CHECK(status.interface_type <= types::InterfaceType::T, "a known interface type");
    const types::EthInterfaceStatus& eth = status.eth_interface_status;
    FUZZ_CHECK(eth.link_state <= types::EthLinkState::Down, "a known link state");
    FUZZ_CHECK(eth.role == types::EthRole::Leader || eth.role == types::EthRole::Follower, "a plain role");
    FUZZ_CHECK(eth.speed <= types::EthLinkSpeed::Speed1000MbitHalfDuplex, "a known speed");
}

inline void check_value(const types::Tc10State& state) {
    FUZZ_CHECK(state <= types::Tc10State::SleepAborted, "a known TC10 state");
}

inline void check_value(const types::CableTestResult& result) {
    FUZZ_CHECK(result.harness_status <= types::CableTestHarnessStatus::CableGood, "a known harness status");
    FUZZ_CHECK(result.distance_to_fault <= 255, "the distance is one wire byte");
}

inline void check_value(const std::optional<types::PacketGeneratorConfig>& config) {
    if (config) {
        FUZZ_CHECK(config->payload_size <= types::PgPayloadSize::Size1518, "a known payload size");
        FUZZ_CHECK(config->payload_type <= types::PgPayloadType::OnlyZeroes, "a known payload type");
        FUZZ_CHECK(config->validity <= types::PgPacketValidity::SymbolErrorsBadCrc, "a known validity");
    }
}

inline void check_value(const std::chrono::sys_seconds& date) {
    FUZZ_CHECK(date.time_since_epoch().count() >= 0, "a date is never before the epoch");
}

// Errors: what any failure must look like.
inline void check_error(const ProtocolError& error) {
    using Kind = ProtocolError::Kind;
    switch (error.kind()) {
        case Kind::NotAvailableInProtocolVersion:
        case Kind::ChunkRejected:
        case Kind::UnfamiliarProtocolVersion: return;
        case Kind::ConversionError:
        case Kind::StringConversion:
            FUZZ_CHECK(!error.text().empty(), "a conversion failure says what failed");
            FUZZ_CHECK(is_well_formed_utf8(bytes_of(error.text())), "an error text is UTF-8");
            return;
        case Kind::ProtocolStatus:
            FUZZ_CHECK(error.status() != QX_PROTOCOL_STATUS_SUCCESS &&
                           error.status() != QX_PROTOCOL_STATUS_NOT_IMPLEMENTED &&
                           error.status() != QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION,
                       "codec statuses with a kind of their own never arrive as ProtocolStatus");
            return;
        case Kind::ServiceStatus:
            FUZZ_CHECK(!error.service_status().is_success(), "success is never the failure of a reply");
            check_value(error.service_status());
            return;
        case Kind::InvalidProtocolVersion: break;
    }
    FUZZ_CHECK(false, "unpacking never gives InvalidProtocolVersion or an unknown kind");
}

template <class T>
void check_result(const ProtocolResult<T>& result) {
    if (result) {
        if constexpr (!std::is_void_v<T>) {
            check_value(*result);
        }
    } else {
        check_error(result.error());
    }
}

inline bool is_protocol_status(const ProtocolError& error, qx_protocol_status_t status) {
    return error.kind() == ProtocolError::Kind::ProtocolStatus && error.status() == status;
}

// What the frame alone decides, before any field of the reply is looked at.
template <class T>
void check_frame_decisions(const ProtocolResult<T>& result, uint32_t version, const FrameView& frame,
                           const TypedReply& row) {
    using Kind = ProtocolError::Kind;
    if (!frame.complete) {
        FUZZ_CHECK(!result && is_protocol_status(result.error(), QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL),
                   "bytes short of a whole frame are too small, whatever the version");
        return;
    }
    if (row.family != 0 && version < row.family) {
        FUZZ_CHECK(!result && result.error().kind() == Kind::NotAvailableInProtocolVersion,
                   "a version below the message's family refuses it");
        return;
    }
    if (row.family != 0 && version > QX_CURRENT_PROTOCOL_VERSION) {
        FUZZ_CHECK(!result && result.error().kind() == Kind::UnfamiliarProtocolVersion,
                   "a version above the current one refuses every message");
        return;
    }
    if (frame.command == QX_ERROR_PACKET && row.family != 0) {
        if (frame.length < 2) {
            FUZZ_CHECK(!result && is_protocol_status(result.error(),
                                                     QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE),
                       "an error packet too short for its status");
        } else if (le16(frame.payload, 0) == 1) {
            FUZZ_CHECK(!result && result.error().kind() == Kind::NotAvailableInProtocolVersion,
                       "a device that does not implement the request");
        } else if (le16(frame.payload, 0) != 0) {
            FUZZ_CHECK(!result && result.error().kind() == Kind::ProtocolStatus,
                       "every other refusal is a codec status");
        }
        return;
    }
    if (frame.command != row.reply) {
        FUZZ_CHECK(!result && is_protocol_status(result.error(), QX_PROTOCOL_STATUS_PROTOCOL_ERROR),
                   "a reply with another command number");
    }
}

template <auto Unpack>
void run_typed(uint32_t version, std::span<const uint8_t> bytes, const TypedReply& row) {
    const auto result = Unpack(version, bytes);
    check_result(result);
    FUZZ_CHECK(Unpack(version, bytes) == result, "the same bytes decode the same way");

    const FrameView frame = frame_view(bytes);
    check_frame_decisions(result, version, frame, row);
    if (frame.complete && bytes.size() > frame.size) {
        FUZZ_CHECK(Unpack(version, bytes.first(frame.size)) == result, "bytes after the frame are not read");
    }
}

// The get-version decoder takes no version; the input's version byte is then unused.
[[nodiscard]] inline ProtocolResult<uint16_t> unpack_get_version(uint32_t, std::span<const uint8_t> bytes) noexcept {
    return qx_sdk_protocol::device::unpack_get_version(bytes);
}

namespace device = qx_sdk_protocol::device;
namespace interface = qx_sdk_protocol::interface;

// clang-format off
inline constexpr TypedReply typed_replies[] = {
    {"device::unpack_get_version", 2, 0, run_typed<unpack_get_version>},
    {"device::unpack_get_device_name", 4, 1, run_typed<device::unpack_get_device_name>},
    {"device::unpack_set_device_nickname", 6, 2, run_typed<device::unpack_set_device_nickname>},
    {"device::unpack_identify_device", 8, 1, run_typed<device::unpack_identify_device>},
    {"device::unpack_get_firmware_ean", 10, 1, run_typed<device::unpack_get_firmware_ean>},
    {"device::unpack_get_num_interfaces", 14, 1, run_typed<device::unpack_get_num_interfaces>},
    {"device::unpack_get_serial_number", 30, 1, run_typed<device::unpack_get_serial_number>},
    {"device::unpack_get_firmware_version", 34, 1, run_typed<device::unpack_get_firmware_version>},
    {"device::unpack_get_bootloader_version", 38, 1, run_typed<device::unpack_get_bootloader_version>},
    {"device::unpack_get_ean", 40, 1, run_typed<device::unpack_get_ean>},
    {"device::unpack_get_pcb_revision", 42, 1, run_typed<device::unpack_get_pcb_revision>},
    {"device::unpack_firmware_update_start", 50, 1, run_typed<device::unpack_firmware_update_start>},
    {"device::unpack_firmware_update_send_chunk", 52, 1, run_typed<device::unpack_firmware_update_send_chunk>},
    {"device::unpack_firmware_update_finalize", 54, 1, run_typed<device::unpack_firmware_update_finalize>},
    {"device::unpack_get_manufacturing_date", 70, 1, run_typed<device::unpack_get_manufacturing_date>},
    {"device::unpack_get_device_nickname", 82, 2, run_typed<device::unpack_get_device_nickname>},
    {"interface::unpack_get_interface_nickname", 16, 1, run_typed<interface::unpack_get_interface_nickname>},
    {"interface::unpack_set_interface_nickname", 18, 1, run_typed<interface::unpack_set_interface_nickname>},
    {"interface::unpack_get_interface_status", 20, 1, run_typed<interface::unpack_get_interface_status>},
    {"interface::unpack_identify_interface", 22, 1, run_typed<interface::unpack_identify_interface>},
    {"interface::unpack_get_supported_eth_configs", 24, 1, run_typed<interface::unpack_get_supported_eth_configs>},
    {"interface::unpack_set_eth_config", 26, 1, run_typed<interface::unpack_set_eth_config>},
    {"interface::unpack_get_eth_config", 28, 1, run_typed<interface::unpack_get_eth_config>},
    {"interface::unpack_interface_send_tc10_command", 78, 2, run_typed<interface::unpack_interface_send_tc10_command>},
    {"interface::unpack_interface_get_tc10_state", 80, 2, run_typed<interface::unpack_interface_get_tc10_state>},
    {"interface::unpack_interface_read_dcq", 84, 2, run_typed<interface::unpack_interface_read_dcq>},
    {"interface::unpack_interface_run_cable_test", 86, 2, run_typed<interface::unpack_interface_run_cable_test>},
    {"interface::unpack_interface_set_loopback_state", 88, 2, run_typed<interface::unpack_interface_set_loopback_state>},
    {"interface::unpack_interface_get_loopback_state", 90, 2, run_typed<interface::unpack_interface_get_loopback_state>},
    {"interface::unpack_interface_set_packet_generator_config", 92, 2, run_typed<interface::unpack_interface_set_packet_generator_config>},
    {"interface::unpack_interface_get_packet_generator_config", 94, 2, run_typed<interface::unpack_interface_get_packet_generator_config>},
};
// clang-format on

inline constexpr size_t typed_reply_count = sizeof typed_replies / sizeof typed_replies[0];

}  // namespace fuzz
