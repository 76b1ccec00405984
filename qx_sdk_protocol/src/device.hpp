// Requests addressed to the device as a whole: one pack and one unpack per
// request/reply pair.
//
// pack_*: builds the request frame into the front of `buffer` and returns that
// front part (4 + payload bytes); a failed pack leaves `buffer` unwritten.
// unpack_*: decodes the reply frame at the front of `bytes`; bytes after the
// frame are not read. `version` is the protocol version the device reported.
// Nothing here throws or keeps state.
#pragma once

#include <chrono>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "qx_sdk_protocol/src/protocol_error.hpp"
#include "qx_sdk_protocol/src/service_status.hpp"

namespace qx_sdk_protocol::device {

// Usable before the device's version is known, so neither takes one.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_version(std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<uint16_t> unpack_get_version(std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_device_name(uint32_t version,
                                                                      std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<std::string> unpack_get_device_name(uint32_t version,
                                                                 std::span<const uint8_t> bytes) noexcept;

// A nickname holding a NUL byte is refused with StringConversion.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_set_device_nickname(uint32_t version, std::span<uint8_t> buffer,
                                                                          std::string_view nickname) noexcept;
// A status other than success is the ServiceStatus error.
[[nodiscard]] ProtocolResult<void> unpack_set_device_nickname(uint32_t version,
                                                              std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_identify_device(uint32_t version,
                                                                      std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<types::ServiceStatus> unpack_identify_device(uint32_t version,
                                                                          std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_firmware_ean(uint32_t version,
                                                                       std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<uint64_t> unpack_get_firmware_ean(uint32_t version,
                                                               std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_num_interfaces(uint32_t version,
                                                                         std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<uint16_t> unpack_get_num_interfaces(uint32_t version,
                                                                 std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_serial_number(uint32_t version,
                                                                        std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<uint64_t> unpack_get_serial_number(uint32_t version,
                                                                std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_firmware_version(uint32_t version,
                                                                           std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<std::string> unpack_get_firmware_version(uint32_t version,
                                                                      std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_bootloader_version(uint32_t version,
                                                                             std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<std::string> unpack_get_bootloader_version(uint32_t version,
                                                                        std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_ean(uint32_t version, std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<uint64_t> unpack_get_ean(uint32_t version, std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_pcb_revision(uint32_t version,
                                                                       std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<std::string> unpack_get_pcb_revision(uint32_t version,
                                                                  std::span<const uint8_t> bytes) noexcept;

// Result: the chunk size the device asks for.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_firmware_update_start(uint32_t version, std::span<uint8_t> buffer,
                                                                            uint64_t image_size) noexcept;
[[nodiscard]] ProtocolResult<uint64_t> unpack_firmware_update_start(uint32_t version,
                                                                    std::span<const uint8_t> bytes) noexcept;

// A status other than success is ChunkRejected.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_firmware_update_send_chunk(
    uint32_t version, std::span<uint8_t> buffer, uint64_t chunk_index, std::span<const uint8_t> chunk) noexcept;
[[nodiscard]] ProtocolResult<void> unpack_firmware_update_send_chunk(uint32_t version,
                                                                     std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_firmware_update_finalize(uint32_t version,
                                                                               std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<types::ServiceStatus> unpack_firmware_update_finalize(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

// A date of 2^63 seconds or more does not fit the time point: ConversionError.
[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_manufacturing_date(uint32_t version,
                                                                             std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<std::chrono::sys_seconds> unpack_get_manufacturing_date(
    uint32_t version, std::span<const uint8_t> bytes) noexcept;

[[nodiscard]] ProtocolResult<std::span<uint8_t>> pack_get_device_nickname(uint32_t version,
                                                                          std::span<uint8_t> buffer) noexcept;
[[nodiscard]] ProtocolResult<std::string> unpack_get_device_nickname(uint32_t version,
                                                                     std::span<const uint8_t> bytes) noexcept;

}  // namespace qx_sdk_protocol::device
