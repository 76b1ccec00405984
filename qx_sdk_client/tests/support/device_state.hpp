// The scripted state of a fake device. Every value is kept in its wire form
// (the byte or bit set that travels), so a test states exactly what the
// device sends and sees exactly what the client set.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace qx_test {

// Device statuses as a device reports them.
namespace device_status {
inline constexpr uint16_t success = 0;
inline constexpr uint16_t not_implemented = 1;
inline constexpr uint16_t unspecified_error = 2;
inline constexpr uint16_t operation_failed = 3;
inline constexpr uint16_t operation_not_permitted = 4;
inline constexpr uint16_t not_supported_by_device = 5;
inline constexpr uint16_t not_supported_by_interface = 6;
inline constexpr uint16_t exceeding_string_length_limit = 14;
inline constexpr uint16_t invalid_utf8 = 15;
inline constexpr uint16_t invalid_argument = 17;
inline constexpr uint16_t invalid_interface = 18;
inline constexpr uint16_t protocol_error = 20;
}  // namespace device_status

struct DcqState {
    uint8_t sqi = 7;
    uint8_t sqi_worst = 5;
    uint8_t peak_mse = 3;
    uint8_t peak_mse_worst = 9;
    uint16_t mse = 120;
    uint16_t mse_worst = 340;
};

// The five bytes of the packet-generator configuration, in wire order.
struct PacketGeneratorState {
    uint8_t payload_size = 0;
    uint8_t payload_type = 1;
    uint8_t validity = 0;
    uint8_t burst_size = 0;
    uint8_t enabled = 0;
};

struct InterfaceState {
    std::string nickname;
    uint8_t interface_type = 0;              // 0 T1, 1 reserved, 2 T
    uint8_t status_spare_byte = 0;           // the second byte of the status reply
    uint16_t link_mode = 0x0282;             // status reply: 100 Mbit/s full duplex, leader
    uint8_t link_state = 1;                  // 0 down, 1 up
    uint16_t supported_link_modes = 0x0786;  // 100 and 1000 Mbit/s full duplex, both roles, auto-negotiation
    uint16_t supported_status = device_status::success;
    uint16_t eth_config = 0x0282;  // what set-config stores and get-config reports
    uint16_t eth_config_status = device_status::success;
    uint16_t set_eth_config_status = device_status::success;
    uint16_t set_nickname_status = device_status::success;
    uint16_t identify_status = device_status::success;
    uint8_t tc10_state = 0;  // 0 normal .. 3 sleep aborted
    uint16_t tc10_state_status = device_status::success;
    uint16_t tc10_command_status = device_status::success;
    DcqState dcq;
    uint8_t cable_harness_status = 2;  // 0 open, 1 shorted, 2 good
    uint8_t cable_distance = 0;
    bool loopback = false;
    PacketGeneratorState packet_generator;
};

struct FirmwareState {
    // Script.
    uint16_t chunk_size = 1024;
    std::optional<uint16_t> refuse_chunk;  // the chunk index answered with refuse_status
    uint16_t refuse_status = device_status::operation_failed;
    uint16_t finalize_status = device_status::success;
    // What the device received; reset by each start request.
    uint32_t start_count = 0;
    uint8_t start_field = 0;
    uint32_t announced_size = 0;
    std::vector<uint16_t> chunk_indices;  // of accepted chunks, in arrival order
    std::vector<uint8_t> image;           // accepted chunks joined in arrival order
    uint32_t finalize_count = 0;
};

struct DeviceState {
    uint16_t protocol_version = 2;
    uint64_t ean = 0x4260123456789;  // 42-60123-45678-9
    uint64_t serial_number = 20240017;
    uint64_t firmware_ean = 0x4260123456796;
    std::string name = "QX Test Device";
    std::string nickname;
    std::string firmware_version = "2.4.1";
    std::string bootloader_version = "1.2.0";
    std::string pcb_revision = "C";
    uint64_t manufacturing_date = 1700000000;  // seconds since the Unix epoch
    uint16_t identify_status = device_status::success;
    uint16_t set_nickname_status = device_status::success;
    std::vector<InterfaceState> interfaces = std::vector<InterfaceState>(2);
    // Reported instead of interfaces.size() when set (requests to indices
    // without a state are refused as an invalid interface).
    std::optional<uint16_t> reported_interface_count;
    FirmwareState firmware;
};

}  // namespace qx_test
