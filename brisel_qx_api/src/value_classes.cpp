#include "brisel_qx_api/src/value_classes.hpp"

#include <string>

#include "brisel_qx_api/src/class_type.hpp"
#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/method.hpp"
#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {
namespace {

namespace types = qx_sdk_protocol::types;

// ---- the classes ----------------------------------------------------------

PyGetSetDef interface_status_attributes[] = {
    getter<"interface_type", &types::InterfaceStatus::interface_type>(),
    getter<"eth_interface_status", &types::InterfaceStatus::eth_interface_status>(),
    {},
};

PyGetSetDef eth_interface_status_attributes[] = {
    getter<"link_state", &types::EthInterfaceStatus::link_state>(),
    getter<"role", &types::EthInterfaceStatus::role>(),
    getter<"speed", &types::EthInterfaceStatus::speed>(),
    {},
};

PyGetSetDef eth_interface_config_attributes[] = {
    getter<"role", &types::EthInterfaceConfig::role>(),
    getter<"speed", &types::EthInterfaceConfig::speed>(),
    getter<"aneg_mode", &types::EthInterfaceConfig::aneg_mode>(),
    {},
};

PyGetSetDef packet_generator_config_attributes[] = {
    getter<"enabled", &PacketGeneratorSettings::enabled>(),
    getter<"payload_size", &PacketGeneratorSettings::payload_size>(),
    getter<"payload_type", &PacketGeneratorSettings::payload_type>(),
    getter<"validity", &PacketGeneratorSettings::validity>(),
    getter<"burst_size", &PacketGeneratorSettings::burst_size>(),
    {},
};

PyGetSetDef dcq_reading_attributes[] = {
    getter<"sqi", &types::DcqReading::sqi>(),
    getter<"sqi_worst", &types::DcqReading::sqi_worst>(),
    getter<"mse", &types::DcqReading::mse>(),
    getter<"mse_worst", &types::DcqReading::mse_worst>(),
    getter<"peak_mse", &types::DcqReading::peak_mse>(),
    getter<"peak_mse_worst", &types::DcqReading::peak_mse_worst>(),
    {},
};

PyGetSetDef cable_test_result_attributes[] = {
    getter<"harness_status", &types::CableTestResult::harness_status>(),
    getter<"distance_to_fault", &types::CableTestResult::distance_to_fault>(),
    {},
};

// Nothing beyond the types is checked: empty lists and duplicates are kept.
types::EthInterfaceConfig make_eth_interface_config(std::vector<types::EthLinkSpeed> speed,
                                                    std::vector<types::EthRole> role, types::EthAnegMode aneg_mode) {
    return {std::move(speed), std::move(role), aneg_mode};
}

PacketGeneratorSettings make_packet_generator_config(bool enabled, types::PgPayloadSize payload_size,
                                                     types::PgPayloadType payload_type,
                                                     types::PgPacketValidity validity, uint8_t burst_size) {
    return {enabled, payload_size, payload_type, validity, burst_size};
}

// The class docstrings are the shipped ones: typos ("ethernate", "continous"),
// a leading space, type names Python has not (u8, u16, u32) and uneven spacing included.
ClassDefinition interface_status_class{
    .qualified_name = "brisel_qx_api.InterfaceStatus",
    .doc =
        "Interface status is used to hold the response when querying the\n"
        "current status of an interface\n"
        "Attributes:\n"
        "    interface_type (InterfaceType): The type of interface\n"
        "    eth_interface_status (EthInterfaceStatus): The interfaces\n"
        "        EthInterfaceStatus (if the interface type is an ethernate\n"
        "        interface)",
    .attributes = interface_status_attributes,
};

ClassDefinition eth_interface_status_class{
    .qualified_name = "brisel_qx_api.EthInterfaceStatus",
    .doc =
        " Hold the ethernet-specific interface status\n"
        "\n"
        "Attributes:\n"
        "    link_state (EthLinkState): The link state\n"
        "    role (EthRole): The role\n"
        "    speed (EthLinkSpeed): The link speed",
    .attributes = eth_interface_status_attributes,
};

ClassDefinition eth_interface_config_class{
    .qualified_name = "brisel_qx_api.EthInterfaceConfig",
    .doc =
        "EthInterfaceConfig(speed, role, aneg_mode)\n--\n\n"
        "The ethernet interface config. Used for setting/getting the\n"
        "configuration for an interface.\n"
        "Attributes:\n"
        "    speed ([EthLinkSpeed]): The speeds in this configuration\n"
        "    role ([EthRole]): The roles in this configuration\n"
        "    aneg_mode (EthAnegMode): The aneg mode in this configuration",
    .attributes = eth_interface_config_attributes,
    .construct = constructor<make_eth_interface_config, "speed", "role", "aneg_mode">(),
};

ClassDefinition packet_generator_config_class{
    .qualified_name = "brisel_qx_api.PacketGeneratorConfig",
    .doc =
        "PacketGeneratorConfig(enabled, payload_size, payload_type, validity, burst_size)\n--\n\n"
        "A Packet Generator Config\n"
        "\n"
        "Attributes:\n"
        "    enabled(bool): Whether the Packet Generator is on\n"
        "    payload_size(PgPayloadSize): Payload size\n"
        "    payload_type(PgPayloadType): Payload type\n"
        "    validity(PgPacketValidity): Packet validity\n"
        "    burst_size(u8): Burst size (0 => continous)",
    .attributes = packet_generator_config_attributes,
    .construct = constructor<make_packet_generator_config, "enabled", "payload_size", "payload_type", "validity",
                             "burst_size">(),
};

ClassDefinition dcq_reading_class{
    .qualified_name = "brisel_qx_api.DcqReading",
    .doc =
        "A Dynamic Channel Quality result\n"
        "\n"
        "Attributes:\n"
        "    sqi (u8): Signal Quality Index\n"
        "    sqi_worst (u8): Worst Signal Quality Index since last read\n"
        "    mse (u16): Mean Square Error\n"
        "    mse_worst (u16): Worst Mean Square Error since last read\n"
        "    peak_mse (u8): Peak Mean Square Error\n"
        "    peak_mse_worst (u8): Worst Peak Mean Square Error since last read",
    .attributes = dcq_reading_attributes,
};

ClassDefinition cable_test_result_class{
    .qualified_name = "brisel_qx_api.CableTestResult",
    .doc =
        "A Cable Test Result\n"
        "\n"
        "Attributes:\n"
        "    harness_status(CableTestHarnessStatus): The status of the harness\n"
        "    distance_to_fault(u32): Distance to any detected fault",
    .attributes = cable_test_result_attributes,
};

// ---- extraction by attribute ----------------------------------------------

struct Field {
    Field(const char* name_, const char* qualified_name_) : name(name_), qualified_name(qualified_name_) {}

    const char* name;
    const char* qualified_name;  // for the message: the class we extract, not the object's
    OnceSlot interned;
};

template <class T>
bool extract(PyObject* object, Field& field, std::optional<T>& out) {
    PyObject* name = field.interned.get([&] { return PyRef::steal(PyUnicode_InternFromString(field.name)); });
    if (name == nullptr) {
        return false;
    }
    PyRef attribute = PyRef::steal(PyObject_GetAttr(object, name));
    if (!attribute) {
        return false;  // the object's own error, unchanged
    }
    out = FromPython<T>::convert(attribute.get());
    if (!out) {
        PendingError refusal = PendingError::fetch();
        raise_with_cause(PyExc_TypeError, std::string("failed to extract field ") + field.qualified_name,
                         refusal.value());
        return false;
    }
    return true;
}

Field eth_config_role{"role", "EthInterfaceConfig.role"};
Field eth_config_speed{"speed", "EthInterfaceConfig.speed"};
Field eth_config_aneg_mode{"aneg_mode", "EthInterfaceConfig.aneg_mode"};

Field pg_config_enabled{"enabled", "PacketGeneratorConfig.enabled"};
Field pg_config_payload_size{"payload_size", "PacketGeneratorConfig.payload_size"};
Field pg_config_payload_type{"payload_type", "PacketGeneratorConfig.payload_type"};
Field pg_config_validity{"validity", "PacketGeneratorConfig.validity"};
Field pg_config_burst_size{"burst_size", "PacketGeneratorConfig.burst_size"};

}  // namespace

PyTypeObject* PyClass<types::InterfaceStatus>::type() {
    return class_type<types::InterfaceStatus>(interface_status_class);
}
PyTypeObject* PyClass<types::EthInterfaceStatus>::type() {
    return class_type<types::EthInterfaceStatus>(eth_interface_status_class);
}
PyTypeObject* PyClass<types::EthInterfaceConfig>::type() {
    return class_type<types::EthInterfaceConfig>(eth_interface_config_class);
}
PyTypeObject* PyClass<types::DcqReading>::type() { return class_type<types::DcqReading>(dcq_reading_class); }
PyTypeObject* PyClass<types::CableTestResult>::type() {
    return class_type<types::CableTestResult>(cable_test_result_class);
}
PyTypeObject* PyClass<PacketGeneratorSettings>::type() {
    return class_type<PacketGeneratorSettings>(packet_generator_config_class);
}

std::optional<types::EthInterfaceConfig> FromPython<types::EthInterfaceConfig>::convert(PyObject* object) {
    std::optional<std::vector<types::EthRole>> role;
    std::optional<std::vector<types::EthLinkSpeed>> speed;
    std::optional<types::EthAnegMode> aneg_mode;
    if (!extract(object, eth_config_role, role) || !extract(object, eth_config_speed, speed) ||
        !extract(object, eth_config_aneg_mode, aneg_mode)) {
        return std::nullopt;
    }
    return types::EthInterfaceConfig{std::move(*speed), std::move(*role), *aneg_mode};
}

std::optional<std::optional<types::PacketGeneratorConfig>>
FromPython<std::optional<types::PacketGeneratorConfig>>::convert(PyObject* object) {
    std::optional<bool> enabled;
    std::optional<types::PgPayloadSize> payload_size;
    std::optional<types::PgPayloadType> payload_type;
    std::optional<types::PgPacketValidity> validity;
    std::optional<uint8_t> burst_size;
    if (!extract(object, pg_config_enabled, enabled) || !extract(object, pg_config_payload_size, payload_size) ||
        !extract(object, pg_config_payload_type, payload_type) || !extract(object, pg_config_validity, validity) ||
        !extract(object, pg_config_burst_size, burst_size)) {
        return std::nullopt;
    }
    using Extracted = std::optional<types::PacketGeneratorConfig>;
    if (!*enabled) {
        return std::make_optional<Extracted>(std::nullopt);
    }
    return std::make_optional<Extracted>(
        types::PacketGeneratorConfig{*payload_size, *payload_type, *validity, *burst_size});
}

PyRef ToPython<std::optional<types::PacketGeneratorConfig>>::convert(
    const std::optional<types::PacketGeneratorConfig>& config) {
    PacketGeneratorSettings settings;  // off: the defaults
    if (config) {
        settings = {true, config->payload_size, config->payload_type, config->validity, config->burst_size};
    }
    return new_instance<PacketGeneratorSettings>(settings);
}

}  // namespace brisel_qx_api
