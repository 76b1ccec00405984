// The module's enumeration classes: one shared member object per value, made
// when the class is set up and kept for the life of the process.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>

#include "brisel_qx_api/src/conversions.hpp"
#include "qx_sdk_client/src/firmware_update.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace brisel_qx_api {

// In the order the module adds the classes.
enum class EnumId : uint8_t {
    FirmwareUpdateResult,
    InterfaceType,
    EthLinkState,
    EthRole,
    EthLinkSpeed,
    EthAnegMode,
    Tc10Command,
    Tc10State,
    CableTestHarnessStatus,
    PgPayloadSize,
    PgPayloadType,
    PgPacketValidity,
};
inline constexpr int enum_class_count = 12;

// The class object (borrowed), set up with all its members on first use;
// null with a Python error set if that fails.
PyTypeObject* enum_class(EnumId id);

// The shared member of `value` (new reference), or empty with an error.
PyRef enum_member(EnumId id, uint8_t value);

// The integer of a member of the class; any other object is refused with
// "'<type>' object is not an instance of '<Class>'".
std::optional<uint8_t> enum_value(EnumId id, PyObject* object);

// Which Python class mirrors a C++ enumeration: one line per type.
template <class E>
struct EnumOf;
template <EnumId Id>
struct EnumIs {
    static constexpr EnumId id = Id;
};
template <> struct EnumOf<qx_sdk_client::device::FirmwareUpdateResult> : EnumIs<EnumId::FirmwareUpdateResult> {};
template <> struct EnumOf<qx_sdk_protocol::types::InterfaceType> : EnumIs<EnumId::InterfaceType> {};
template <> struct EnumOf<qx_sdk_protocol::types::EthLinkState> : EnumIs<EnumId::EthLinkState> {};
template <> struct EnumOf<qx_sdk_protocol::types::EthRole> : EnumIs<EnumId::EthRole> {};
template <> struct EnumOf<qx_sdk_protocol::types::EthLinkSpeed> : EnumIs<EnumId::EthLinkSpeed> {};
template <> struct EnumOf<qx_sdk_protocol::types::EthAnegMode> : EnumIs<EnumId::EthAnegMode> {};
template <> struct EnumOf<qx_sdk_protocol::types::Tc10Command> : EnumIs<EnumId::Tc10Command> {};
template <> struct EnumOf<qx_sdk_protocol::types::Tc10State> : EnumIs<EnumId::Tc10State> {};
template <> struct EnumOf<qx_sdk_protocol::types::CableTestHarnessStatus> : EnumIs<EnumId::CableTestHarnessStatus> {};
template <> struct EnumOf<qx_sdk_protocol::types::PgPayloadSize> : EnumIs<EnumId::PgPayloadSize> {};
template <> struct EnumOf<qx_sdk_protocol::types::PgPayloadType> : EnumIs<EnumId::PgPayloadType> {};
template <> struct EnumOf<qx_sdk_protocol::types::PgPacketValidity> : EnumIs<EnumId::PgPacketValidity> {};

template <class E>
concept ModuleEnum = std::is_enum_v<E> && requires { EnumOf<E>::id; };

// Values cross unchanged: a member's integer is the C++ enumerator's value.
template <ModuleEnum E>
struct FromPython<E> {
    static std::optional<E> convert(PyObject* object) {
        const std::optional<uint8_t> value = enum_value(EnumOf<E>::id, object);
        if (!value) {
            return std::nullopt;
        }
        return static_cast<E>(*value);
    }
};

template <ModuleEnum E>
struct ToPython<E> {
    static PyRef convert(E value) { return enum_member(EnumOf<E>::id, static_cast<uint8_t>(value)); }
};

// Any sequence but a str, each element a member, in order.
template <ModuleEnum E>
struct FromPython<std::vector<E>> {
    static std::optional<std::vector<E>> convert(PyObject* object);
};

// The refusals of a list of members, shared by every element type.
bool check_member_sequence(PyObject* object);

template <ModuleEnum E>
std::optional<std::vector<E>> FromPython<std::vector<E>>::convert(PyObject* object) {
    if (!check_member_sequence(object)) {
        return std::nullopt;
    }
    PyRef iterator = PyRef::steal(PyObject_GetIter(object));
    if (!iterator) {
        return std::nullopt;
    }
    std::vector<E> values;
    while (PyRef item = PyRef::steal(PyIter_Next(iterator.get()))) {
        std::optional<E> value = FromPython<E>::convert(item.get());
        if (!value) {
            return std::nullopt;
        }
        values.push_back(*value);
    }
    if (PyErr_Occurred()) {
        return std::nullopt;
    }
    return values;
}

}  // namespace brisel_qx_api
