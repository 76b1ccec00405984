// Well-formed UTF-8 read straight from the table of well-formed byte
// sequences (RFC 3629 and the Unicode standard's table 3-7). It is written
// apart from the checks in the library so that the two can be compared.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>

namespace fuzz {

struct Utf8Char {
    char32_t code_point = 0;
    size_t length = 0;  // 0: no well-formed sequence starts here
};

struct ByteRange {
    uint8_t low;
    uint8_t high;
};

struct SequenceForm {
    ByteRange lead;
    ByteRange second;
    size_t length;
};

// Every multi-byte form; third and fourth bytes are always 80..BF.
inline constexpr SequenceForm utf8_forms[] = {
    {{0xC2, 0xDF}, {0x80, 0xBF}, 2}, {{0xE0, 0xE0}, {0xA0, 0xBF}, 3}, {{0xE1, 0xEC}, {0x80, 0xBF}, 3},
    {{0xED, 0xED}, {0x80, 0x9F}, 3}, {{0xEE, 0xEF}, {0x80, 0xBF}, 3}, {{0xF0, 0xF0}, {0x90, 0xBF}, 4},
    {{0xF1, 0xF3}, {0x80, 0xBF}, 4}, {{0xF4, 0xF4}, {0x80, 0x8F}, 4},
};

inline bool in(ByteRange range, uint8_t byte) { return byte >= range.low && byte <= range.high; }

inline Utf8Char utf8_char_at(std::span<const uint8_t> bytes, size_t at) {
    const uint8_t lead = bytes[at];
    if (lead < 0x80) {
        return {lead, 1};
    }
    for (const SequenceForm& form : utf8_forms) {
        if (!in(form.lead, lead)) {
            continue;
        }
        if (bytes.size() - at < form.length || !in(form.second, bytes[at + 1])) {
            return {};
        }
        char32_t code_point = lead & (0x7F >> form.length);
        for (size_t i = 1; i < form.length; ++i) {
            if (!in({0x80, 0xBF}, bytes[at + i])) {
                return {};
            }
            code_point = (code_point << 6) | (bytes[at + i] & 0x3F);
        }
        return {code_point, form.length};
    }
    return {};
}

inline bool is_well_formed_utf8(std::span<const uint8_t> bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const Utf8Char c = utf8_char_at(bytes, at);
        if (c.length == 0) {
            return false;
        }
        at += c.length;
    }
    return true;
}

inline std::span<const uint8_t> bytes_of(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

inline void append_utf8(std::u32string& out, std::span<const uint8_t> bytes) {
    for (size_t at = 0; at < bytes.size();) {
        const Utf8Char c = utf8_char_at(bytes, at);
        out.push_back(c.length == 0 ? U'\uFFFD' : c.code_point);
        at += c.length == 0 ? 1 : c.length;
    }
}

}  // namespace fuzz
