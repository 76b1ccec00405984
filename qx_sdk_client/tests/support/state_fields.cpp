#include "qx_sdk_client/tests/support/state_fields.hpp"

#include <charconv>
#include <functional>
#include <limits>
#include <optional>
#include <type_traits>

#include "qx_sdk_client/tests/support/wire_bytes.hpp"

namespace qx_test {
namespace {

using SetResult = std::expected<void, std::string>;

template <class T>
std::optional<T> parse_unsigned(std::string_view text) {
    int base = 10;
    if (text.starts_with("0x") || text.starts_with("0X")) {
        text.remove_prefix(2);
        base = 16;
    }
    unsigned long long value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value, base);
    if (text.empty() || error != std::errc() || end != text.data() + text.size() ||
        value > std::numeric_limits<T>::max()) {
        return std::nullopt;
    }
    return static_cast<T>(value);
}

// Parsing and printing of one value type; parse leaves `out` alone on failure.
template <class T>
struct Codec {
    static_assert(std::is_unsigned_v<T>);
    static bool parse(std::string_view text, T& out) {
        const auto value = parse_unsigned<T>(text);
        if (value) out = *value;
        return value.has_value();
    }
    static std::string format(T value) { return std::to_string(value); }
};

template <>
struct Codec<bool> {
    static bool parse(std::string_view text, bool& out) {
        if (text != "0" && text != "1" && text != "false" && text != "true") return false;
        out = text == "1" || text == "true";
        return true;
    }
    static std::string format(bool value) { return value ? "1" : "0"; }
};

template <>
struct Codec<Bytes> {
    static bool parse(std::string_view text, Bytes& out) {
        if (!text.starts_with("hex:")) return false;
        auto bytes = from_hex(text.substr(4));
        if (bytes) out = std::move(*bytes);
        return bytes.has_value();
    }
    static std::string format(const Bytes& value) { return "hex:" + to_hex(value); }
};

template <>
struct Codec<std::string> {
    static bool parse(std::string_view text, std::string& out) {
        if (!text.starts_with("hex:")) {
            out = text;
            return true;
        }
        const auto bytes = from_hex(text.substr(4));
        if (bytes) out.assign(bytes->begin(), bytes->end());
        return bytes.has_value();
    }
    // As is when the line protocol can carry it back unchanged.
    static std::string format(const std::string& value) {
        const bool plain = is_strict_utf8(as_bytes(value)) && !value.starts_with("hex:") &&
                           value.find_first_of(std::string_view("\n\r\0", 3)) == std::string::npos;
        return plain ? value : "hex:" + to_hex(as_bytes(value));
    }
};

template <>
struct Codec<std::optional<uint16_t>> {
    static bool parse(std::string_view text, std::optional<uint16_t>& out) {
        if (text == "none") {
            out.reset();
            return true;
        }
        const auto value = parse_unsigned<uint16_t>(text);
        if (value) out = *value;
        return value.has_value();
    }
    static std::string format(const std::optional<uint16_t>& value) { return value ? std::to_string(*value) : "none"; }
};

template <>
struct Codec<std::vector<uint16_t>> {
    static bool parse(std::string_view text, std::vector<uint16_t>& out) {
        std::vector<uint16_t> values;
        while (!text.empty()) {
            const size_t space = text.find(' ');
            const auto value = parse_unsigned<uint16_t>(text.substr(0, space));
            if (!value) return false;
            values.push_back(*value);
            text = space == std::string_view::npos ? std::string_view() : text.substr(space + 1);
        }
        out = std::move(values);
        return true;
    }
    static std::string format(const std::vector<uint16_t>& values) {
        std::string text;
        for (const uint16_t v : values) {
            if (!text.empty()) text.push_back(' ');
            text += std::to_string(v);
        }
        return text;
    }
};

template <class S>
struct Field {
    std::string_view name;
    std::function<SetResult(S&, std::string_view)> set;
    std::function<std::string(S&)> get;
};

// A field reached through `access`, a function from the state to a reference.
template <class S, class Access>
Field<S> field(std::string_view name, Access access) {
    using T = std::remove_cvref_t<decltype(access(std::declval<S&>()))>;
    return {name,
            [access, name](S& state, std::string_view text) -> SetResult {
                if (!Codec<T>::parse(text, access(state))) {
                    return std::unexpected("bad value for " + std::string(name) + ": " + std::string(text));
                }
                return {};
            },
            [access](S& state) { return Codec<T>::format(access(state)); }};
}

#define QX_FIELD(S, path) field<S>(#path, [](S& s) -> auto& { return s.path; })

const std::vector<Field<DeviceState>>& device_fields() {
    static const std::vector<Field<DeviceState>> fields = [] {
        std::vector<Field<DeviceState>> f = {
            QX_FIELD(DeviceState, protocol_version),
            QX_FIELD(DeviceState, ean),
            QX_FIELD(DeviceState, serial_number),
            QX_FIELD(DeviceState, firmware_ean),
            QX_FIELD(DeviceState, name),
            QX_FIELD(DeviceState, nickname),
            QX_FIELD(DeviceState, firmware_version),
            QX_FIELD(DeviceState, bootloader_version),
            QX_FIELD(DeviceState, pcb_revision),
            QX_FIELD(DeviceState, manufacturing_date),
            QX_FIELD(DeviceState, identify_status),
            QX_FIELD(DeviceState, set_nickname_status),
            QX_FIELD(DeviceState, reported_interface_count),
            QX_FIELD(DeviceState, firmware.chunk_size),
            QX_FIELD(DeviceState, firmware.refuse_chunk),
            QX_FIELD(DeviceState, firmware.refuse_status),
            QX_FIELD(DeviceState, firmware.finalize_status),
            QX_FIELD(DeviceState, firmware.start_count),
            QX_FIELD(DeviceState, firmware.start_field),
            QX_FIELD(DeviceState, firmware.announced_size),
            QX_FIELD(DeviceState, firmware.chunk_indices),
            QX_FIELD(DeviceState, firmware.image),
            QX_FIELD(DeviceState, firmware.finalize_count),
        };
        f.push_back({"interfaces",
                     [](DeviceState& s, std::string_view text) -> SetResult {
                         const auto count = parse_unsigned<uint16_t>(text);
                         if (!count) return std::unexpected("bad value for interfaces: " + std::string(text));
                         s.interfaces.resize(*count);
                         return {};
                     },
                     [](DeviceState& s) { return std::to_string(s.interfaces.size()); }});
        return f;
    }();
    return fields;
}

const std::vector<Field<InterfaceState>>& interface_fields() {
    static const std::vector<Field<InterfaceState>> fields = {
        QX_FIELD(InterfaceState, nickname),
        QX_FIELD(InterfaceState, interface_type),
        QX_FIELD(InterfaceState, status_spare_byte),
        QX_FIELD(InterfaceState, link_mode),
        QX_FIELD(InterfaceState, link_state),
        QX_FIELD(InterfaceState, supported_link_modes),
        QX_FIELD(InterfaceState, supported_status),
        QX_FIELD(InterfaceState, eth_config),
        QX_FIELD(InterfaceState, eth_config_status),
        QX_FIELD(InterfaceState, set_eth_config_status),
        QX_FIELD(InterfaceState, set_nickname_status),
        QX_FIELD(InterfaceState, identify_status),
        QX_FIELD(InterfaceState, tc10_state),
        QX_FIELD(InterfaceState, tc10_state_status),
        QX_FIELD(InterfaceState, tc10_command_status),
        QX_FIELD(InterfaceState, dcq.sqi),
        QX_FIELD(InterfaceState, dcq.sqi_worst),
        QX_FIELD(InterfaceState, dcq.peak_mse),
        QX_FIELD(InterfaceState, dcq.peak_mse_worst),
        QX_FIELD(InterfaceState, dcq.mse),
        QX_FIELD(InterfaceState, dcq.mse_worst),
        QX_FIELD(InterfaceState, cable_harness_status),
        QX_FIELD(InterfaceState, cable_distance),
        QX_FIELD(InterfaceState, loopback),
        QX_FIELD(InterfaceState, packet_generator.payload_size),
        QX_FIELD(InterfaceState, packet_generator.payload_type),
        QX_FIELD(InterfaceState, packet_generator.validity),
        QX_FIELD(InterfaceState, packet_generator.burst_size),
        QX_FIELD(InterfaceState, packet_generator.enabled),
    };
    return fields;
}

#undef QX_FIELD

template <class S>
const Field<S>* find(const std::vector<Field<S>>& fields, std::string_view name) {
    for (const Field<S>& f : fields) {
        if (f.name == name) return &f;
    }
    return nullptr;
}

template <class S>
std::vector<std::string_view> names(const std::vector<Field<S>>& fields) {
    std::vector<std::string_view> result;
    for (const Field<S>& f : fields) result.push_back(f.name);
    return result;
}

std::string unknown(std::string_view name) { return "unknown field " + std::string(name); }

std::string no_interface(size_t index) { return "no interface " + std::to_string(index); }

}  // namespace

SetResult set_device_field(DeviceState& state, std::string_view name, std::string_view value) {
    const auto* f = find(device_fields(), name);
    if (f == nullptr) return std::unexpected(unknown(name));
    return f->set(state, value);
}

std::expected<std::string, std::string> get_device_field(const DeviceState& state, std::string_view name) {
    const auto* f = find(device_fields(), name);
    if (f == nullptr) return std::unexpected(unknown(name));
    DeviceState copy = state;
    return f->get(copy);
}

SetResult set_interface_field(DeviceState& state, size_t index, std::string_view name, std::string_view value) {
    const auto* f = find(interface_fields(), name);
    if (f == nullptr) return std::unexpected(unknown(name));
    if (index >= state.interfaces.size()) return std::unexpected(no_interface(index));
    return f->set(state.interfaces[index], value);
}

std::expected<std::string, std::string> get_interface_field(const DeviceState& state, size_t index,
                                                            std::string_view name) {
    const auto* f = find(interface_fields(), name);
    if (f == nullptr) return std::unexpected(unknown(name));
    if (index >= state.interfaces.size()) return std::unexpected(no_interface(index));
    InterfaceState copy = state.interfaces[index];
    return f->get(copy);
}

std::vector<std::string_view> device_field_names() { return names(device_fields()); }

std::vector<std::string_view> interface_field_names() { return names(interface_fields()); }

}  // namespace qx_test
