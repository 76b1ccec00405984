// Frame parsing, framing back out, and the field readers on the parsed packet.
//
// Input: a frame as received, then bytes that from_buffer must ignore. Those
// trailing bytes are used here as a program of field reads on the parsed
// payload, each checked against a model of the cursor and of what it reads.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <memory>
#include <span>

#include "harness/check.hpp"
#include "harness/input.hpp"
#include "harness/utf8_oracle.hpp"
#include "qx_sdk_protocol/codec/protocol_base.h"

namespace {

using Bytes = std::span<const uint8_t>;

constexpr qx_protocol_status_t ok = QX_PROTOCOL_STATUS_SUCCESS;
constexpr qx_protocol_status_t short_payload = QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;
constexpr size_t max_reads = 256;
constexpr uint8_t untouched = 0xA5;

uint64_t le(Bytes bytes, size_t at, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= uint64_t{bytes[at + i]} << (8 * i);
    }
    return value;
}

// A heap block of exactly n bytes, so that writing past it trips ASan.
struct Destination {
    explicit Destination(size_t size) : n(size), bytes(new uint8_t[size]) { std::memset(bytes.get(), untouched, n); }
    size_t n;
    std::unique_ptr<uint8_t[]> bytes;
};

void check_framing_back(const qx_packet_t& packet, Bytes frame) {
    Destination exact(frame.size());
    FUZZ_CHECK(to_buffer(&packet, exact.bytes.get(), exact.n) == ok, "the frame fits a buffer of its own size");
    FUZZ_CHECK(std::memcmp(exact.bytes.get(), frame.data(), frame.size()) == 0, "framing back gives the same bytes");

    Destination short_by_one(frame.size() - 1);
    FUZZ_CHECK(to_buffer(&packet, short_by_one.bytes.get(), short_by_one.n) == QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL,
               "one byte less is too small");
    for (size_t i = 0; i < short_by_one.n; ++i) {
        FUZZ_CHECK(short_by_one.bytes[i] == untouched, "a refused framing writes nothing");
    }
}

// The field readers as a model: `at` is where the cursor must be.
class ReadModel {
public:
    ReadModel(qx_packet_t& packet, Bytes payload) : packet_(packet), payload_(payload) {}

    void run(Bytes program) {
        for (size_t i = 0; i < program.size() && i < max_reads; ++i) {
            const uint8_t op = program[i];
            const uint8_t argument = i + 1 < program.size() ? program[i + 1] : 0;
            switch (op % 7) {
                case 0: read_integer<uint8_t>(read_uint8_t); break;
                case 1: read_flag(); break;
                case 2: read_integer<uint16_t>(read_uint16_t); break;
                case 3: read_integer<uint64_t>(read_uint64_t); break;
                case 4: read_byte_string(argument, (op & 0x80) != 0), ++i; break;
                case 5: read_text(argument), ++i; break;
                case 6: read_raw(argument), ++i; break;
            }
            FUZZ_CHECK(packet_.position == at_, "the cursor moves exactly as far as the model says");
        }
    }

private:
    size_t remaining() const { return payload_.size() - at_; }

    template <class T>
    void read_integer(qx_protocol_status_t (*reader)(qx_packet_t*, T*)) {
        T value = static_cast<T>(0xA5A5A5A5A5A5A5A5ull);
        const T before = value;
        const qx_protocol_status_t status = reader(&packet_, &value);
        if (remaining() < sizeof(T)) {
            FUZZ_CHECK(status == short_payload && value == before, "a short integer is refused and not stored");
            return;
        }
        FUZZ_CHECK(status == ok && value == static_cast<T>(le(payload_, at_, sizeof(T))), "little-endian integer");
        at_ += sizeof(T);
    }

    void read_flag() {
        bool value = true;
        const qx_protocol_status_t status = read_bool(&packet_, &value);
        if (remaining() < 1) {
            FUZZ_CHECK(status == short_payload && value, "a missing flag is refused and not stored");
            return;
        }
        FUZZ_CHECK(status == ok && value == (payload_[at_] != 0), "any nonzero byte is true");
        at_ += 1;
    }

    // The count field and the bytes: what both byte-string readers share.
    // Returns the status and, on success, how many bytes landed.
    qx_protocol_status_t expected_byte_string(size_t capacity, size_t& count, bool& count_read) {
        count_read = false;
        if (remaining() < 2) {
            return short_payload;
        }
        count = static_cast<size_t>(le(payload_, at_, 2));
        count_read = true;
        at_ += 2;
        if (count > capacity) {
            return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
        }
        if (remaining() < count) {
            return short_payload;
        }
        return ok;
    }

    void read_byte_string(size_t capacity, bool with_count) {
        Destination destination(capacity);
        size_t count = 0xA5A5;
        const qx_protocol_status_t status =
            read_bytes(&packet_, destination.bytes.get(), capacity, with_count ? &count : nullptr);
        size_t announced = 0;
        bool count_read = false;
        const size_t start = at_ + 2;
        const qx_protocol_status_t expected = expected_byte_string(capacity, announced, count_read);
        FUZZ_CHECK(status == expected, "byte string status");
        if (with_count) {
            FUZZ_CHECK(count == (count_read ? announced : 0xA5A5), "the announced count is reported once read");
        }
        if (expected == ok) {
            FUZZ_CHECK(std::memcmp(destination.bytes.get(), payload_.data() + start, announced) == 0,
                       "the byte string's bytes");
            at_ += announced;
            return;
        }
        for (size_t i = 0; i < capacity; ++i) {
            FUZZ_CHECK(destination.bytes[i] == untouched, "a refused byte string writes nothing");
        }
    }

    void read_text(size_t capacity) {
        Destination destination(capacity);
        const qx_protocol_status_t status =
            read_utf8_string(&packet_, reinterpret_cast<char*>(destination.bytes.get()), capacity);
        if (capacity == 0) {
            FUZZ_CHECK(status == QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL, "no room even for the terminator");
            return;
        }
        size_t announced = 0;
        bool count_read = false;
        const size_t start = at_ + 2;
        qx_protocol_status_t expected = expected_byte_string(capacity - 1, announced, count_read);
        if (expected == ok) {
            const Bytes text = payload_.subspan(start, announced);
            FUZZ_CHECK(
                std::memcmp(destination.bytes.get(), text.data(), announced) == 0 && destination.bytes[announced] == 0,
                "the text's bytes and its terminator");
            if (!fuzz::is_well_formed_utf8(text)) {
                expected = QX_PROTOCOL_STATUS_INVALID_UTF8_STRING;
            }
            at_ += announced;
        } else {
            for (size_t i = 0; i < capacity; ++i) {
                FUZZ_CHECK(destination.bytes[i] == untouched, "a refused text writes nothing");
            }
        }
        FUZZ_CHECK(status == expected, "text status");
    }

    void read_raw(size_t n) {
        Destination destination(n);
        const qx_protocol_status_t status = packet_read(&packet_, destination.bytes.get(), n);
        if (remaining() < n) {
            FUZZ_CHECK(status == short_payload, "a read past the payload is refused");
            return;
        }
        FUZZ_CHECK(status == ok && std::memcmp(destination.bytes.get(), payload_.data() + at_, n) == 0, "raw bytes");
        at_ += n;
    }

    qx_packet_t& packet_;
    Bytes payload_;
    size_t at_ = 0;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const Bytes input(data, size);
    const fuzz::FrameView frame = fuzz::frame_view(input);
    qx_packet_t packet{};
    const qx_protocol_status_t status = from_buffer(data, size, &packet);

    if (!frame.has_header) {
        FUZZ_CHECK(status == QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL, "fewer than 4 bytes are too small");
        FUZZ_CHECK(packet.command == 0 && packet.length == 0 && packet.data == nullptr && packet.position == 0 &&
                       packet.capacity == 0,
                   "a refused header leaves the packet as it was");
        return 0;
    }
    FUZZ_CHECK(packet.command == frame.command && packet.length == frame.length, "the header is stored");
    FUZZ_CHECK(packet.position == 0, "decoding starts at the first payload byte");
    if (frame.length == 0) {
        FUZZ_CHECK(status == ok && packet.data == nullptr && packet.capacity == 0, "an empty payload needs no buffer");
    } else if (frame.complete) {
        FUZZ_CHECK(status == ok && packet.capacity == frame.length, "one buffer of exactly the payload length");
    } else {
        FUZZ_CHECK(status == QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL, "a frame cut short is too small");
        FUZZ_CHECK(packet.data == nullptr && packet.capacity == 0, "a frame cut short keeps no buffer");
        uint8_t byte = 0;
        FUZZ_CHECK(read_uint8_t(&packet, &byte) == QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE,
                   "nothing of a frame cut short can be read");
    }
    if (status == ok) {
        FUZZ_CHECK(frame.length == 0 || std::memcmp(packet.data, frame.payload.data(), frame.length) == 0,
                   "the payload is copied whole");
        check_framing_back(packet, input.first(frame.size));
        ReadModel(packet, frame.payload).run(input.subspan(frame.size));
    }
    free_packet(&packet);
    FUZZ_CHECK(packet.data == nullptr, "a freed packet holds no buffer");
    return 0;
}
