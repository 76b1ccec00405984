// The device protocol's message catalogue: command numbers, the payload
// reservation each packer makes up front, and the protocol family that gates
// each message. Codec-internal; the dispatchers and family codecs read it.
#pragma once

#include <cstddef>
#include <cstdint>

struct qx_message_t {
    uint16_t request;
    // Bytes of the payload's fixed part, reserved before the first field is
    // written so that a request without text needs a single allocation.
    size_t reserve;
    // The lowest device protocol version that knows this message.
    uint32_t family;

    constexpr uint16_t reply() const { return static_cast<uint16_t>(request + 1); }
};

namespace qx_catalogue {

inline constexpr qx_message_t DEVICE_GET_NAME{3, 0, 1};
inline constexpr qx_message_t DEVICE_SET_NICKNAME{5, 0, 2};
inline constexpr qx_message_t DEVICE_IDENTIFY{7, 0, 1};
inline constexpr qx_message_t GET_FIRMWARE_EAN{9, 0, 1};
inline constexpr qx_message_t GET_NUM_INTERFACES{13, 0, 1};
inline constexpr qx_message_t INTERFACE_GET_NICKNAME{15, 2, 1};
inline constexpr qx_message_t INTERFACE_SET_NICKNAME{17, 2, 1};
inline constexpr qx_message_t GET_INTERFACE_STATUS{19, 2, 1};
inline constexpr qx_message_t INTERFACE_IDENTIFY{21, 2, 1};
inline constexpr qx_message_t INTERFACE_GET_SUPPORTED_ETH_CONFIGS{23, 2, 1};
inline constexpr qx_message_t INTERFACE_SET_ETH_CONFIG{25, 4, 1};
inline constexpr qx_message_t INTERFACE_GET_ETH_CONFIG{27, 2, 1};
inline constexpr qx_message_t GET_SERIAL_NUMBER{29, 0, 1};
inline constexpr qx_message_t GET_FIRMWARE_VERSION{33, 0, 1};
inline constexpr qx_message_t GET_BOOTLOADER_VERSION{37, 0, 1};
inline constexpr qx_message_t GET_EAN{39, 0, 1};
inline constexpr qx_message_t GET_PCB_REVISION{41, 0, 1};
inline constexpr qx_message_t FIRMWARE_UPDATE_START{49, 5, 1};
// The chunk's own length is added to this reservation.
inline constexpr qx_message_t FIRMWARE_UPDATE_SEND_CHUNK{51, 4, 1};
inline constexpr qx_message_t FIRMWARE_UPDATE_FINALIZE{53, 0, 1};
inline constexpr qx_message_t GET_MANUFACTURING_DATE{69, 0, 1};
inline constexpr qx_message_t INTERFACE_SEND_TC10_COMMAND{77, 3, 2};
inline constexpr qx_message_t INTERFACE_GET_TC10_STATE{79, 2, 2};
inline constexpr qx_message_t DEVICE_GET_NICKNAME{81, 0, 2};
inline constexpr qx_message_t INTERFACE_READ_DCQ{83, 2, 2};
inline constexpr qx_message_t INTERFACE_RUN_CABLE_TEST{85, 2, 2};
inline constexpr qx_message_t INTERFACE_SET_LOOPBACK_STATE{87, 3, 2};
inline constexpr qx_message_t INTERFACE_GET_LOOPBACK_STATE{89, 2, 2};
inline constexpr qx_message_t INTERFACE_SET_PACKET_GENERATOR_CONFIG{91, 7, 2};
inline constexpr qx_message_t INTERFACE_GET_PACKET_GENERATOR_CONFIG{93, 2, 2};

}  // namespace qx_catalogue
