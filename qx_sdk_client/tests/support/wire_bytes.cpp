#include "qx_sdk_client/tests/support/wire_bytes.hpp"

#include <algorithm>

namespace qx_test {

ByteWriter& ByteWriter::u8(uint8_t value) {
    bytes_.push_back(value);
    return *this;
}

ByteWriter& ByteWriter::u16(uint16_t value) {
    bytes_.push_back(static_cast<uint8_t>(value));
    bytes_.push_back(static_cast<uint8_t>(value >> 8));
    return *this;
}

ByteWriter& ByteWriter::u32(uint32_t value) {
    for (int shift = 0; shift < 32; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
    return *this;
}

ByteWriter& ByteWriter::u64(uint64_t value) {
    for (int shift = 0; shift < 64; shift += 8) bytes_.push_back(static_cast<uint8_t>(value >> shift));
    return *this;
}

ByteWriter& ByteWriter::counted(std::span<const uint8_t> bytes) {
    u16(static_cast<uint16_t>(bytes.size()));
    return raw(bytes);
}

ByteWriter& ByteWriter::text(std::string_view text) { return counted(as_bytes(text)); }

ByteWriter& ByteWriter::raw(std::span<const uint8_t> bytes) {
    bytes_.insert(bytes_.end(), bytes.begin(), bytes.end());
    return *this;
}

std::optional<uint64_t> ByteReader::little_endian(size_t width) {
    if (remaining() < width) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) value |= static_cast<uint64_t>(bytes_[position_ + i]) << (8 * i);
    position_ += width;
    return value;
}

std::optional<uint8_t> ByteReader::u8() { return little_endian(1); }
std::optional<uint16_t> ByteReader::u16() { return little_endian(2); }
std::optional<uint32_t> ByteReader::u32() { return little_endian(4); }
std::optional<uint64_t> ByteReader::u64() { return little_endian(8); }

std::optional<std::span<const uint8_t>> ByteReader::counted() {
    const size_t start = position_;
    const auto count = u16();
    if (!count || remaining() < *count) {
        position_ = start;
        return std::nullopt;
    }
    const auto bytes = bytes_.subspan(position_, *count);
    position_ += *count;
    return bytes;
}

Bytes frame(uint16_t command, std::span<const uint8_t> payload) {
    const auto body = payload.first(std::min(payload.size(), max_payload));
    ByteWriter writer;
    writer.u16(command).u16(static_cast<uint16_t>(body.size())).raw(body);
    return writer.bytes();
}

Bytes error_frame(uint16_t status) { return frame(error_packet_command, ByteWriter().u16(status)); }

FrameHeader parse_header(std::span<const uint8_t, header_size> header) {
    return {static_cast<uint16_t>(header[0] | header[1] << 8), static_cast<uint16_t>(header[2] | header[3] << 8)};
}

std::string to_hex(std::span<const uint8_t> bytes) {
    static constexpr char digits[] = "0123456789abcdef";
    std::string hex;
    hex.reserve(bytes.size() * 2);
    for (const uint8_t b : bytes) {
        hex.push_back(digits[b >> 4]);
        hex.push_back(digits[b & 0xF]);
    }
    return hex;
}

std::optional<Bytes> from_hex(std::string_view hex) {
    const auto nibble = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (hex.size() % 2 != 0) return std::nullopt;
    Bytes bytes;
    bytes.reserve(hex.size() / 2);
    for (size_t i = 0; i < hex.size(); i += 2) {
        const int high = nibble(hex[i]);
        const int low = nibble(hex[i + 1]);
        if (high < 0 || low < 0) return std::nullopt;
        bytes.push_back(static_cast<uint8_t>(high << 4 | low));
    }
    return bytes;
}

bool is_strict_utf8(std::span<const uint8_t> bytes) {
    size_t i = 0;
    while (i < bytes.size()) {
        const uint8_t lead = bytes[i];
        size_t length;
        uint32_t code_point;
        uint32_t minimum;
        if (lead < 0x80) {
            ++i;
            continue;
        } else if (lead >= 0xC2 && lead <= 0xDF) {
            length = 2, code_point = lead & 0x1F, minimum = 0x80;
        } else if (lead >= 0xE0 && lead <= 0xEF) {
            length = 3, code_point = lead & 0x0F, minimum = 0x800;
        } else if (lead >= 0xF0 && lead <= 0xF4) {
            length = 4, code_point = lead & 0x07, minimum = 0x10000;
        } else {
            return false;
        }
        if (bytes.size() - i < length) return false;
        for (size_t k = 1; k < length; ++k) {
            if ((bytes[i + k] & 0xC0) != 0x80) return false;
            code_point = code_point << 6 | (bytes[i + k] & 0x3F);
        }
        if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
            return false;
        }
        i += length;
    }
    return true;
}

}  // namespace qx_test
