#include "qx_sdk_protocol/src/protocol_error.hpp"

namespace qx_sdk_protocol {

ProtocolResult<void> map_codec_status(qx_protocol_status_t status) {
    switch (status) {
        case QX_PROTOCOL_STATUS_SUCCESS: return {};
        case QX_PROTOCOL_STATUS_NOT_IMPLEMENTED:
            return std::unexpected(ProtocolError::not_available_in_protocol_version());
        case QX_PROTOCOL_STATUS_UNFAMILIAR_PROTOCOL_VERSION:
            return std::unexpected(ProtocolError::unfamiliar_protocol_version());
        default: return std::unexpected(ProtocolError::protocol_status(status));
    }
}

}  // namespace qx_sdk_protocol
