// Little-endian byte writing and reading for the fake device and the tests.
// Deliberately independent of the client's codec, so that a codec fault
// cannot be mirrored on both ends of a test.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

namespace qx_test {

using Bytes = std::vector<uint8_t>;

inline constexpr uint16_t error_packet_command = 0xBAAD;
inline constexpr size_t header_size = 4;
inline constexpr size_t max_payload = 0xFFFF;

class ByteWriter {
public:
    ByteWriter& u8(uint8_t value);
    ByteWriter& u16(uint16_t value);
    ByteWriter& u32(uint32_t value);
    ByteWriter& u64(uint64_t value);
    // A 16-bit byte count, then the bytes (texts travel the same way).
    ByteWriter& counted(std::span<const uint8_t> bytes);
    ByteWriter& text(std::string_view text);
    ByteWriter& raw(std::span<const uint8_t> bytes);

    const Bytes& bytes() const { return bytes_; }
    size_t size() const { return bytes_.size(); }

private:
    Bytes bytes_;
};

class ByteReader {
public:
    explicit ByteReader(std::span<const uint8_t> bytes) : bytes_(bytes) {}

    std::optional<uint8_t> u8();
    std::optional<uint16_t> u16();
    std::optional<uint32_t> u32();
    std::optional<uint64_t> u64();
    // A 16-bit byte count and that many bytes.
    std::optional<std::span<const uint8_t>> counted();
    bool at_end() const { return position_ == bytes_.size(); }
    size_t remaining() const { return bytes_.size() - position_; }

private:
    std::optional<uint64_t> little_endian(size_t width);

    std::span<const uint8_t> bytes_;
    size_t position_ = 0;
};

// Header (command, payload length) and payload. The payload must not be
// longer than max_payload; a longer one is cut there so the frame stays whole.
Bytes frame(uint16_t command, std::span<const uint8_t> payload = {});
Bytes error_frame(uint16_t status);
// A request frame built by hand, for tests.
inline Bytes frame(uint16_t command, const ByteWriter& payload) { return frame(command, payload.bytes()); }

struct FrameHeader {
    uint16_t command;
    uint16_t length;
};
FrameHeader parse_header(std::span<const uint8_t, header_size> header);

std::string to_hex(std::span<const uint8_t> bytes);
// Two hex digits per byte, upper or lower case, no separators.
std::optional<Bytes> from_hex(std::string_view hex);

bool is_strict_utf8(std::span<const uint8_t> bytes);

inline std::span<const uint8_t> as_bytes(std::string_view text) {
    return {reinterpret_cast<const uint8_t*>(text.data()), text.size()};
}

}  // namespace qx_test
