#include "qx_sdk_protocol/codec/common_v1.h"

#include "qx_sdk_protocol/codec/field_widths.h"

qx_protocol_status_t read_uint8_widened(qx_packet_t* packet, uint32_t* destination) {
    return read_converted<uint8_t>(packet, destination, read_uint8_t);
}

qx_protocol_status_t read_uint16_widened(qx_packet_t* packet, uint32_t* destination) {
    return read_converted<uint16_t>(packet, destination, read_uint16_t);
}

qx_protocol_status_t write_interface_id(qx_packet_t* packet, uint16_t index) { return write_uint16_t(packet, index); }

qx_protocol_status_t read_qx_status(qx_packet_t* packet, qx_service_status_t* status) {
    return read_uint16_widened(packet, status);
}

qx_protocol_status_t read_eth_link_mode(qx_packet_t* packet, qx_eth_link_mode_t* link_mode) {
    return read_uint16_widened(packet, link_mode);
}

qx_protocol_status_t write_eth_link_mode(qx_packet_t* packet, qx_eth_link_mode_t link_mode) {
    return write_narrowed(packet, link_mode, QX_MAX_ETH_LINK_MODE, write_uint16_t);
}

qx_protocol_status_t read_interface_type(qx_packet_t* packet, qx_interface_type_t* type) {
    return read_uint8_widened(packet, type);
}

qx_protocol_status_t read_eth_link_state(qx_packet_t* packet, qx_eth_link_state_t* state) {
    return read_uint8_widened(packet, state);
}
