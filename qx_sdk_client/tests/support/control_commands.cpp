#include "qx_sdk_client/tests/support/control_commands.hpp"

#include <charconv>
#include <expected>
#include <optional>
#include <type_traits>
#include <vector>

#include "qx_sdk_client/tests/support/state_fields.hpp"

namespace qx_test {
namespace {

// Splits off the first space-separated word of `rest`.
std::string_view next_word(std::string_view& rest) {
    const size_t space = rest.find(' ');
    const std::string_view word = rest.substr(0, space);
    rest = space == std::string_view::npos ? std::string_view() : rest.substr(space + 1);
    return word;
}

template <class T>
std::optional<T> number(std::string_view text) {
    T value{};
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (text.empty() || error != std::errc() || end != text.data() + text.size()) return std::nullopt;
    return value;
}

ControlResponse ok(const std::string& value = {}) { return {value.empty() ? "OK\n" : "OK " + value + "\n"}; }
ControlResponse err(const std::string& message) { return {"ERR " + message + "\n"}; }

std::optional<Fault> parse_fault(std::string_view kind, std::string_view rest, std::string& problem) {
    const std::string_view first = next_word(rest);
    const std::string_view second = next_word(rest);
    if (kind == "error") {
        if (const auto status = number<uint16_t>(first)) return Fault::error_packet(*status);
    } else if (kind == "raw") {
        if (auto bytes = from_hex(first)) return Fault::raw(std::move(*bytes));
    } else if (kind == "delay") {
        if (const auto ms = number<uint32_t>(first)) return Fault::delay_reply(std::chrono::milliseconds(*ms));
    } else if (kind == "close") {
        if (first.empty()) return Fault::close();
        if (const auto prefix = number<size_t>(first)) return Fault::close(*prefix);
    } else if (kind == "twice") {
        const auto gap = number<uint32_t>(first);
        if (gap && (second.empty() || second == "nagle")) {
            return Fault::reply_twice(std::chrono::milliseconds(*gap),
                                      second.empty() ? Fault::Sending::at_once : Fault::Sending::nagle);
        }
    } else if (kind == "noreply") {
        return Fault::no_reply();
    } else if (kind == "oversize") {
        if (const auto length = number<uint16_t>(first)) return Fault::oversize_header(*length);
    } else if (kind == "split") {
        const auto piece = first.empty() ? std::optional<size_t>(1) : number<size_t>(first);
        const auto gap = second.empty() ? std::optional<uint32_t>(2) : number<uint32_t>(second);
        const std::string_view third = next_word(rest);
        auto bytes = third.empty() ? std::optional<Bytes>(Bytes()) : from_hex(third);
        if (piece && gap && bytes) {
            return Fault::split_raw(std::move(*bytes), *piece, std::chrono::milliseconds(*gap));
        }
    } else {
        problem = "unknown fault kind " + std::string(kind);
        return std::nullopt;
    }
    problem = "bad arguments for fault " + std::string(kind);
    return std::nullopt;
}

ControlResponse inject(FakeDevice& device, std::string_view rest) {
    const std::string_view target = next_word(rest);
    const std::string_view times_text = next_word(rest);
    const std::string_view kind = next_word(rest);
    const auto command = target == "next" ? std::optional<uint16_t>() : number<uint16_t>(target);
    if (target != "next" && !command) return err("bad fault target " + std::string(target));
    const auto times = times_text == "always" ? std::optional<int>(FakeDevice::always) : number<int>(times_text);
    if (!times || (*times <= 0 && *times != FakeDevice::always))
        return err("bad fault count " + std::string(times_text));
    std::string problem;
    auto fault = parse_fault(kind, rest, problem);
    if (!fault) return err(problem);
    if (command) {
        device.inject(*command, std::move(*fault), *times);
    } else {
        device.inject_next(std::move(*fault), *times);
    }
    return ok();
}

template <class Result>
ControlResponse reply_with(const Result& result) {
    if (!result) return err(result.error());
    if constexpr (std::is_same_v<typename Result::value_type, void>) {
        return ok();
    } else {
        return ok(*result);
    }
}

}  // namespace

ControlResponse run_control_command(FakeDevice& device, std::string_view line) {
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    std::string_view rest = line;
    const std::string_view command = next_word(rest);

    if (command == "set" || command == "get") {
        const std::string_view field = next_word(rest);
        if (command == "get") return reply_with(get_device_field(device.state(), field));
        std::expected<void, std::string> result;
        device.update_state([&](DeviceState& s) { result = set_device_field(s, field, rest); });
        return reply_with(result);
    }
    if (command == "iset" || command == "iget") {
        const std::string_view index_text = next_word(rest);
        const auto index = number<size_t>(index_text);
        if (!index) return err("bad interface index " + std::string(index_text));
        const std::string_view field = next_word(rest);
        if (command == "iget") return reply_with(get_interface_field(device.state(), *index, field));
        std::expected<void, std::string> result;
        device.update_state([&](DeviceState& s) { result = set_interface_field(s, *index, field, rest); });
        return reply_with(result);
    }
    if (command == "fault") return inject(device, rest);
    if (command == "clear_faults") {
        device.clear_faults();
        return ok();
    }
    if (command == "requests") {
        const std::vector<Bytes> requests = device.requests();
        ControlResponse response = ok(std::to_string(requests.size()));
        for (const Bytes& r : requests) response.text += to_hex(r) + "\n";
        return response;
    }
    if (command == "handled") return ok(std::to_string(device.handled_request_count()));
    if (command == "clear") {
        device.clear_requests();
        return ok();
    }
    if (command == "connections") {
        return ok(std::to_string(device.open_connections()) + " " + std::to_string(device.accepted_connections()));
    }
    if (command == "quit") {
        ControlResponse response = ok();
        response.quit = true;
        return response;
    }
    return err("unknown command " + std::string(command));
}

}  // namespace qx_test
