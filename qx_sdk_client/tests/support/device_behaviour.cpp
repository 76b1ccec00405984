#include "qx_sdk_client/tests/support/device_behaviour.hpp"

#include <algorithm>
#include <array>
#include <optional>
#include <string>

namespace qx_test {
namespace {

struct Exchange {
    DeviceState& state;
    ByteReader args;
    ByteWriter reply;
};

// Empty: send the reply; otherwise the status of an error packet.
using Outcome = std::optional<uint16_t>;
constexpr Outcome reply_ok = std::nullopt;
constexpr Outcome malformed = device_status::protocol_error;

// Requests are parsed strictly, trailing bytes included, so a client that
// encodes a field wrongly gets an error instead of a lucky answer.
bool complete(const Exchange& x) { return x.args.at_end(); }

template <std::string DeviceState::*field>
Outcome text_field(Exchange& x) {
    if (!complete(x)) return malformed;
    x.reply.text(x.state.*field);
    return reply_ok;
}

template <uint64_t DeviceState::*field>
Outcome u64_field(Exchange& x) {
    if (!complete(x)) return malformed;
    x.reply.u64(x.state.*field);
    return reply_ok;
}

Outcome get_version(Exchange& x) {
    if (!complete(x)) return malformed;
    x.reply.u16(x.state.protocol_version);
    return reply_ok;
}

std::optional<std::string> read_text(ByteReader& args, Outcome& failure) {
    const auto bytes = args.counted();
    if (!bytes) {
        failure = malformed;
        return std::nullopt;
    }
    if (!is_strict_utf8(*bytes)) {
        failure = device_status::invalid_utf8;
        return std::nullopt;
    }
    return std::string(bytes->begin(), bytes->end());
}

Outcome set_device_nickname(Exchange& x) {
    Outcome failure;
    const auto nickname = read_text(x.args, failure);
    if (!nickname) return failure;
    if (!complete(x)) return malformed;
    if (x.state.set_nickname_status == device_status::success) x.state.nickname = *nickname;
    x.reply.u16(x.state.set_nickname_status);
    return reply_ok;
}

Outcome identify_device(Exchange& x) {
    if (!complete(x)) return malformed;
    x.reply.u16(x.state.identify_status);
    return reply_ok;
}

Outcome get_num_interfaces(Exchange& x) {
    if (!complete(x)) return malformed;
    x.reply.u16(x.state.reported_interface_count.value_or(
        static_cast<uint16_t>(std::min<size_t>(x.state.interfaces.size(), 0xFFFF))));
    return reply_ok;
}

Outcome firmware_start(Exchange& x) {
    const auto field = x.args.u8();
    const auto size = x.args.u32();
    if (!field || !size || !complete(x)) return malformed;
    FirmwareState& fw = x.state.firmware;
    ++fw.start_count;
    fw.start_field = *field;
    fw.announced_size = *size;
    fw.chunk_indices.clear();
    fw.image.clear();
    fw.finalize_count = 0;
    x.reply.u16(fw.chunk_size);
    return reply_ok;
}

Outcome firmware_chunk(Exchange& x) {
    const auto index = x.args.u16();
    const auto chunk = x.args.counted();
    if (!index || !chunk || !complete(x)) return malformed;
    FirmwareState& fw = x.state.firmware;
    if (fw.refuse_chunk == *index) {
        x.reply.u16(fw.refuse_status);
        return reply_ok;
    }
    fw.chunk_indices.push_back(*index);
    fw.image.insert(fw.image.end(), chunk->begin(), chunk->end());
    x.reply.u16(device_status::success);
    return reply_ok;
}

Outcome firmware_finalize(Exchange& x) {
    if (!complete(x)) return malformed;
    ++x.state.firmware.finalize_count;
    x.reply.u16(x.state.firmware.finalize_status);
    return reply_ok;
}

// Reads the interface index, then runs `body` with that interface; `body`
// reads the rest of the request itself.
template <class Body>
Outcome with_interface(Exchange& x, Body body) {
    const auto index = x.args.u16();
    if (!index) return malformed;
    if (*index >= x.state.interfaces.size()) return device_status::invalid_interface;
    return body(x.state.interfaces[*index]);
}

Outcome interface_get_nickname(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.text(i.nickname);
        return reply_ok;
    });
}

Outcome interface_set_nickname(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        Outcome failure;
        const auto nickname = read_text(x.args, failure);
        if (!nickname) return failure;
        if (!complete(x)) return malformed;
        if (i.set_nickname_status == device_status::success) i.nickname = *nickname;
        x.reply.u16(i.set_nickname_status);
        return reply_ok;
    });
}

Outcome interface_status(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u8(i.interface_type).u8(i.status_spare_byte).u16(i.link_mode).u8(i.link_state);
        return reply_ok;
    });
}

Outcome interface_identify(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u16(i.identify_status);
        return reply_ok;
    });
}

Outcome interface_supported_configs(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u16(i.supported_status).u16(i.supported_link_modes);
        return reply_ok;
    });
}

Outcome interface_set_config(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        const auto mode = x.args.u16();
        if (!mode || !complete(x)) return malformed;
        if (i.set_eth_config_status == device_status::success) i.eth_config = *mode;
        x.reply.u16(i.set_eth_config_status);
        return reply_ok;
    });
}

Outcome interface_get_config(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u16(i.eth_config_status).u16(i.eth_config);
        return reply_ok;
    });
}

Outcome interface_tc10_command(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        const auto command = x.args.u8();
        if (!command || !complete(x)) return malformed;
        if (*command > 1) {
            x.reply.u16(device_status::invalid_argument);
            return reply_ok;
        }
        // On the wire 0 asks for sleep and 1 for wake-up.
        if (i.tc10_command_status == device_status::success) i.tc10_state = *command == 0 ? 1 : 0;
        x.reply.u16(i.tc10_command_status);
        return reply_ok;
    });
}

Outcome interface_tc10_state(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u16(i.tc10_state_status).u8(i.tc10_state);
        return reply_ok;
    });
}

Outcome interface_dcq(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        const DcqState& d = i.dcq;
        x.reply.u8(d.sqi).u8(d.sqi_worst).u8(d.peak_mse).u8(d.peak_mse_worst).u16(d.mse).u16(d.mse_worst);
        return reply_ok;
    });
}

Outcome interface_cable_test(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u8(i.cable_harness_status).u8(i.cable_distance);
        return reply_ok;
    });
}

Outcome interface_set_loopback(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        const auto enabled = x.args.u8();
        if (!enabled || !complete(x)) return malformed;
        i.loopback = *enabled != 0;
        return reply_ok;  // acknowledged with an empty reply
    });
}

Outcome interface_get_loopback(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        x.reply.u8(i.loopback ? 1 : 0);
        return reply_ok;
    });
}

Outcome interface_set_packet_generator(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        std::array<uint8_t, 5> fields{};
        for (uint8_t& field : fields) {
            const auto byte = x.args.u8();
            if (!byte) return malformed;
            field = *byte;
        }
        if (!complete(x)) return malformed;
        i.packet_generator = {fields[0], fields[1], fields[2], fields[3], fields[4]};
        return reply_ok;  // acknowledged with an empty reply
    });
}

Outcome interface_get_packet_generator(Exchange& x) {
    return with_interface(x, [&](InterfaceState& i) -> Outcome {
        if (!complete(x)) return malformed;
        const PacketGeneratorState& pg = i.packet_generator;
        x.reply.u8(pg.payload_size).u8(pg.payload_type).u8(pg.validity).u8(pg.burst_size).u8(pg.enabled);
        return reply_ok;
    });
}

struct RequestKind {
    uint16_t command;
    int family;  // 0: answered whatever the version
    Outcome (*handle)(Exchange&);
};

constexpr RequestKind requests[] = {
    {1, 0, get_version},
    {3, 1, text_field<&DeviceState::name>},
    {5, 2, set_device_nickname},
    {7, 1, identify_device},
    {9, 1, u64_field<&DeviceState::firmware_ean>},
    {13, 1, get_num_interfaces},
    {15, 1, interface_get_nickname},
    {17, 1, interface_set_nickname},
    {19, 1, interface_status},
    {21, 1, interface_identify},
    {23, 1, interface_supported_configs},
    {25, 1, interface_set_config},
    {27, 1, interface_get_config},
    {29, 1, u64_field<&DeviceState::serial_number>},
    {33, 1, text_field<&DeviceState::firmware_version>},
    {37, 1, text_field<&DeviceState::bootloader_version>},
    {39, 1, u64_field<&DeviceState::ean>},
    {41, 1, text_field<&DeviceState::pcb_revision>},
    {49, 1, firmware_start},
    {51, 1, firmware_chunk},
    {53, 1, firmware_finalize},
    {69, 1, u64_field<&DeviceState::manufacturing_date>},
    {77, 2, interface_tc10_command},
    {79, 2, interface_tc10_state},
    {81, 2, text_field<&DeviceState::nickname>},
    {83, 2, interface_dcq},
    {85, 2, interface_cable_test},
    {87, 2, interface_set_loopback},
    {89, 2, interface_get_loopback},
    {91, 2, interface_set_packet_generator},
    {93, 2, interface_get_packet_generator},
};

const RequestKind* find_request(uint16_t command) {
    const auto it = std::find_if(std::begin(requests), std::end(requests),
                                 [command](const RequestKind& r) { return r.command == command; });
    return it == std::end(requests) ? nullptr : it;
}

}  // namespace

int request_family(uint16_t command) {
    const RequestKind* kind = find_request(command);
    return kind == nullptr ? 0 : std::max(kind->family, 1);
}

Bytes answer_request(DeviceState& state, uint16_t command, std::span<const uint8_t> payload) {
    const RequestKind* kind = find_request(command);
    if (kind == nullptr || (kind->family == 2 && state.protocol_version < 2)) {
        return error_frame(device_status::not_implemented);
    }
    Exchange x{state, ByteReader(payload), {}};
    if (const Outcome failure = kind->handle(x)) {
        return error_frame(*failure);
    }
    if (x.reply.size() > max_payload) {
        // A scripted text too long for one frame.
        return error_frame(device_status::exceeding_string_length_limit);
    }
    return frame(static_cast<uint16_t>(command + 1), x.reply.bytes());
}

}  // namespace qx_test
