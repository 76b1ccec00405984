#include "qx_sdk_protocol/codec/protocol_base.h"

#include <cstring>
#include <new>

#include "qx_sdk_protocol/codec/field_widths.h"
#include "qx_sdk_protocol/codec/name_case.h"

namespace {

constexpr uint16_t GET_VERSION_REQUEST = 1;
constexpr uint16_t GET_VERSION_REPLY = 2;

// The bytes that may be read: a packet left half-parsed after a failed
// reservation announces a length that its buffer does not hold.
size_t readable_end(const qx_packet_t* packet) {
    if (packet->data == nullptr) {
        return 0;
    }
    return packet->length < packet->capacity ? packet->length : packet->capacity;
}

void store_le(uint8_t* out, uint64_t value, size_t width) {
    for (size_t i = 0; i < width; ++i) {
        out[i] = static_cast<uint8_t>(value >> (8 * i));
    }
}

uint64_t load_le(const uint8_t* in, size_t width) {
    uint64_t value = 0;
    for (size_t i = 0; i < width; ++i) {
        value |= static_cast<uint64_t>(in[i]) << (8 * i);
    }
    return value;
}

qx_protocol_status_t write_le(qx_packet_t* packet, uint64_t value, size_t width) {
    uint8_t bytes[sizeof(uint64_t)];
    store_le(bytes, value, width);
    return packet_write(packet, bytes, width);
}

// Reads into a local first so that a short payload leaves the destination as it was.
qx_protocol_status_t read_le(qx_packet_t* packet, uint64_t* value, size_t width) {
    uint8_t bytes[sizeof(uint64_t)];
    const qx_protocol_status_t status = packet_read(packet, bytes, width);
    if (status == QX_PROTOCOL_STATUS_SUCCESS) {
        *value = load_le(bytes, width);
    }
    return status;
}

}  // namespace

const char* qx_protocol_status_name(uint32_t status) {
    switch (status) { QX_PROTOCOL_STATUS_MAP(QX_NAME_CASE) }
    return "QX_PROTOCOL_STATUS_RESERVED";
}

qx_protocol_status_t init_packet(qx_packet_t* packet, uint16_t command, size_t reserve) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    packet->command = command;
    packet->length = 0;
    free_packet(packet);
    return packet_reserve_space(packet, reserve);
}

qx_protocol_status_t packet_reserve_space(qx_packet_t* packet, size_t n) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (packet->capacity - packet->position >= n) {
        return QX_PROTOCOL_STATUS_SUCCESS;
    }
    if (n > SIZE_MAX - packet->position) {
        return QX_PROTOCOL_STATUS_MEMORY_ERROR;
    }
    const size_t needed = packet->position + n;
    const size_t doubled = packet->capacity <= SIZE_MAX / 2 ? 2 * packet->capacity : SIZE_MAX;
    const size_t new_capacity = doubled > needed ? doubled : needed;

    uint8_t* buffer = new (std::nothrow) uint8_t[new_capacity];
    if (buffer == nullptr) {
        return QX_PROTOCOL_STATUS_MEMORY_ERROR;
    }
    // Only the bytes before the cursor carry meaning; the rest is scratch.
    if (packet->data != nullptr) {
        buffer_write(buffer, packet->data, packet->position);
        delete[] packet->data;
    }
    packet->data = buffer;
    packet->capacity = new_capacity;
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t packet_write(qx_packet_t* packet, const void* source, size_t n) {
    if (packet == nullptr || (source == nullptr && n > 0)) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (n > QX_MAX_PAYLOAD_LENGTH - packet->length) {
        return QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT;
    }
    const qx_protocol_status_t status = packet_reserve_space(packet, n);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    buffer_write(packet->data + packet->position, source, n);
    packet->position += n;
    packet->length = static_cast<uint16_t>(packet->length + n);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t packet_read(qx_packet_t* packet, void* destination, size_t n) {
    if (packet == nullptr || (destination == nullptr && n > 0)) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    const size_t end = readable_end(packet);
    if (packet->position > end || end - packet->position < n) {
        return QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;
    }
    if (n > 0) {
        buffer_write(destination, packet->data + packet->position, n);
    }
    packet->position += n;
    return QX_PROTOCOL_STATUS_SUCCESS;
}

// Also clears the cursor, capacity and length, so that a freed packet is an
// empty one again and no later call can reach the released buffer.
void free_packet(qx_packet_t* packet) {
    if (packet == nullptr) {
        return;
    }
    delete[] packet->data;
    packet->data = nullptr;
    packet->position = 0;
    packet->capacity = 0;
    packet->length = 0;
}

size_t buffer_write(void* destination, const void* source, size_t n) {
    if (n > 0) {
        std::memcpy(destination, source, n);
    }
    return n;
}

qx_protocol_status_t packet_pack_data(uint8_t* output, const qx_packet_t* packet, size_t room) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    const size_t frame_size = QX_PACKET_HEADER_SIZE + packet->length;
    if (room < frame_size) {
        return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
    }
    if (output == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (readable_end(packet) < packet->length) {
        return QX_PROTOCOL_STATUS_PACKET_TRYING_TO_READ_BEYOND_PAYLOAD_SIZE;
    }
    store_le(output, packet->command, 2);
    store_le(output + 2, packet->length, 2);
    buffer_write(output + QX_PACKET_HEADER_SIZE, packet->data, packet->length);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t to_buffer(const qx_packet_t* packet, uint8_t* output, size_t room) {
    return packet_pack_data(output, packet, room);
}

qx_protocol_status_t from_buffer(const uint8_t* input, size_t size, qx_packet_t* packet) {
    if (packet == nullptr || (input == nullptr && size > 0)) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (size < QX_PACKET_HEADER_SIZE) {
        return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
    }
    packet->command = static_cast<uint16_t>(load_le(input, 2));
    packet->length = static_cast<uint16_t>(load_le(input + 2, 2));
    if (packet->length == 0) {
        return QX_PROTOCOL_STATUS_SUCCESS;
    }
    const qx_protocol_status_t status = packet_reserve_space(packet, packet->length);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    if (size < QX_PACKET_HEADER_SIZE + packet->length) {
        // The payload never arrived: give the reservation back, so that the
        // announced length stands over no buffer and every read and to_buffer
        // refuses, as after a failed reservation, instead of reading bytes
        // nobody wrote.
        delete[] packet->data;
        packet->data = nullptr;
        packet->capacity = 0;
        packet->position = 0;
        return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
    }
    buffer_write(packet->data, input + QX_PACKET_HEADER_SIZE, packet->length);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t write_uint8_t(qx_packet_t* packet, uint8_t value) { return packet_write(packet, &value, 1); }

qx_protocol_status_t write_bool(qx_packet_t* packet, bool value) { return write_uint8_t(packet, value ? 1 : 0); }

qx_protocol_status_t write_uint16_t(qx_packet_t* packet, uint16_t value) { return write_le(packet, value, 2); }

qx_protocol_status_t write_uint32_t(qx_packet_t* packet, uint32_t value) { return write_le(packet, value, 4); }

qx_protocol_status_t write_bytes(qx_packet_t* packet, const uint8_t* bytes, size_t count) {
    if (packet == nullptr || (bytes == nullptr && count > 0)) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (count > QX_MAX_PAYLOAD_LENGTH) {
        return QX_PROTOCOL_STATUS_EXCEEDING_STRING_LENGTH_LIMIT;
    }
    const qx_protocol_status_t status = write_uint16_t(packet, static_cast<uint16_t>(count));
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    return packet_write(packet, bytes, count);
}

qx_protocol_status_t write_utf8_string(qx_packet_t* packet, const char* text) {
    if (packet == nullptr || text == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    const size_t n = std::strlen(text);
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    if (!is_valid_utf8(bytes, n)) {
        return QX_PROTOCOL_STATUS_INVALID_UTF8_STRING;
    }
    return write_bytes(packet, bytes, n);
}

qx_protocol_status_t read_uint8_t(qx_packet_t* packet, uint8_t* destination) {
    if (destination == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    return packet_read(packet, destination, 1);
}

// Any nonzero byte is true.
qx_protocol_status_t read_bool(qx_packet_t* packet, bool* destination) {
    return read_converted<uint8_t>(packet, destination, read_uint8_t);
}

qx_protocol_status_t read_uint16_t(qx_packet_t* packet, uint16_t* destination) {
    return read_converted<uint64_t>(packet, destination,
                                    [](qx_packet_t* p, uint64_t* value) { return read_le(p, value, 2); });
}

qx_protocol_status_t read_uint64_t(qx_packet_t* packet, uint64_t* destination) {
    if (destination == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    return read_le(packet, destination, 8);
}

qx_protocol_status_t read_bytes(qx_packet_t* packet, uint8_t* destination, size_t capacity, size_t* count) {
    if (destination == nullptr || packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    uint16_t announced = 0;
    const qx_protocol_status_t status = read_uint16_t(packet, &announced);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    // The caller learns the announced size even when it does not fit, so it can tell why.
    if (count != nullptr) {
        *count = announced;
    }
    if (announced > capacity) {
        return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
    }
    return packet_read(packet, destination, announced);
}

qx_protocol_status_t read_utf8_string(qx_packet_t* packet, char* destination, size_t capacity) {
    if (destination == nullptr || packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    // Not even the terminator fits.
    if (capacity == 0) {
        return QX_PROTOCOL_STATUS_BUFFER_TOO_SMALL;
    }
    auto* bytes = reinterpret_cast<uint8_t*>(destination);
    size_t n = 0;
    const qx_protocol_status_t status = read_bytes(packet, bytes, capacity - 1, &n);
    if (status != QX_PROTOCOL_STATUS_SUCCESS) {
        return status;
    }
    bytes[n] = 0;
    if (!is_valid_utf8(bytes, n + 1)) {
        return QX_PROTOCOL_STATUS_INVALID_UTF8_STRING;
    }
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t pack_get_version_request(qx_packet_t* packet) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    // No payload, so no reservation that could fail.
    (void)init_packet(packet, GET_VERSION_REQUEST, 0);
    return QX_PROTOCOL_STATUS_SUCCESS;
}

qx_protocol_status_t unpack_get_version_response(qx_packet_t* packet, uint16_t* version) {
    if (packet == nullptr) {
        return QX_PROTOCOL_INVALID_POINTER;
    }
    if (packet->command != GET_VERSION_REPLY) {
        return QX_PROTOCOL_STATUS_PROTOCOL_ERROR;
    }
    return read_uint16_t(packet, version);
}
