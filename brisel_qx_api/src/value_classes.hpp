// The six classes that carry plain data between scripts and the SDK, and the
// extraction of the two configurations from any object by attribute.
#pragma once

#include <optional>

#include "brisel_qx_api/src/enums.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace brisel_qx_api {

// What a PacketGeneratorConfig object holds: a disabled configuration keeps
// the other four values too, as the script gave them.
struct PacketGeneratorSettings {
    bool enabled = false;
    qx_sdk_protocol::types::PgPayloadSize payload_size = qx_sdk_protocol::types::PgPayloadSize::Size64;
    qx_sdk_protocol::types::PgPayloadType payload_type = qx_sdk_protocol::types::PgPayloadType::PseudoRandom;
    qx_sdk_protocol::types::PgPacketValidity validity = qx_sdk_protocol::types::PgPacketValidity::GoodCrc;
    uint8_t burst_size = 0;
};

struct ValueClassTraits {
    static constexpr BorrowKind borrow = BorrowKind::Shared;
};

template <>
struct PyClass<qx_sdk_protocol::types::InterfaceStatus> : ValueClassTraits {
    static constexpr const char* name = "InterfaceStatus";
    static PyTypeObject* type();
};
template <>
struct PyClass<qx_sdk_protocol::types::EthInterfaceStatus> : ValueClassTraits {
    static constexpr const char* name = "EthInterfaceStatus";
    static PyTypeObject* type();
};
template <>
struct PyClass<qx_sdk_protocol::types::EthInterfaceConfig> : ValueClassTraits {
    static constexpr const char* name = "EthInterfaceConfig";
    static PyTypeObject* type();
};
template <>
struct PyClass<qx_sdk_protocol::types::DcqReading> : ValueClassTraits {
    static constexpr const char* name = "DcqReading";
    static PyTypeObject* type();
};
template <>
struct PyClass<qx_sdk_protocol::types::CableTestResult> : ValueClassTraits {
    static constexpr const char* name = "CableTestResult";
    static PyTypeObject* type();
};
template <>
struct PyClass<PacketGeneratorSettings> : ValueClassTraits {
    static constexpr const char* name = "PacketGeneratorConfig";
    static PyTypeObject* type();
};

// Extraction by attribute (role, speed, aneg_mode), from any object: a failed
// read passes unchanged; a refused value becomes TypeError "failed to extract
// field EthInterfaceConfig.<attribute>" caused by the refusal.
template <>
struct FromPython<qx_sdk_protocol::types::EthInterfaceConfig> {
    static std::optional<qx_sdk_protocol::types::EthInterfaceConfig> convert(PyObject* object);
};

// Extraction by attribute (enabled, payload_size, payload_type, validity,
// burst_size), all read and checked; disabled gives the absent configuration.
template <>
struct FromPython<std::optional<qx_sdk_protocol::types::PacketGeneratorConfig>> {
    static std::optional<std::optional<qx_sdk_protocol::types::PacketGeneratorConfig>> convert(PyObject* object);
};

// The generator's configuration as read from a device: absent means off.
template <>
struct ToPython<std::optional<qx_sdk_protocol::types::PacketGeneratorConfig>> {
    static PyRef convert(const std::optional<qx_sdk_protocol::types::PacketGeneratorConfig>& config);
};

}  // namespace brisel_qx_api
