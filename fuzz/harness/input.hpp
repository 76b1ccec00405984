// Small readers for the fuzz inputs' leading control bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

namespace fuzz {

inline uint16_t le16(std::span<const uint8_t> bytes, size_t at) {
    return static_cast<uint16_t>(bytes[at] | (bytes[at + 1] << 8));
}

// One input byte as a protocol version. Below 0x80 it is the version itself;
// from 0x80 up the byte becomes the top byte of a large version whose low
// bits are 0..3, so a version truncated anywhere on its way would land on a
// known one and show up as a wrong gate decision.
inline uint32_t version_from_byte(uint8_t byte) {
    if (byte < 0x80) {
        return byte;
    }
    return (uint32_t{byte} << 24) | (byte & 0x03u);
}

// A frame header with as much of the frame as the bytes hold.
struct FrameView {
    bool has_header = false;
    bool complete = false;
    uint16_t command = 0;
    uint16_t length = 0;
    std::span<const uint8_t> payload;  // only when complete
    size_t size = 0;                   // header plus payload
};

inline FrameView frame_view(std::span<const uint8_t> bytes) {
    FrameView frame;
    if (bytes.size() < 4) {
        return frame;
    }
    frame.has_header = true;
    frame.command = le16(bytes, 0);
    frame.length = le16(bytes, 2);
    frame.size = 4 + size_t{frame.length};
    frame.complete = bytes.size() >= frame.size;
    if (frame.complete) {
        frame.payload = bytes.subspan(4, frame.length);
    }
    return frame;
}

}  // namespace fuzz
