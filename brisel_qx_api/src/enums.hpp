// The module's enumeration classes: one shared member object per value, made
// when the class is set up and kept for the life of the process.
#pragma once

#include <cstdint>
#include <optional>
#include <type_traits>

#include "brisel_qx_api/src/conversions.hpp"
#include "qx_sdk_client/src/firmware_update_callbacks.hpp"
#include "qx_sdk_protocol/src/types.hpp"

namespace brisel_qx_api {

// The enumeration classes, one entry each, in the order the module adds them:
//   X(class name, C++ enumeration it mirrors, docstring, member count, members in value order...)
// A member is the C++ enumerator of the same name, and its integer that
// enumerator's value; enums.cpp checks the members against the count, and
// both against the C++ enumeration's enumerators and their number, at compile
// time. The docstrings are the shipped ones, "Paylad" included.
// clang-format off
#define QX_ENUM_CLASSES(X)                                                                                         \
    X(FirmwareUpdateResult, qx_sdk_client::device::FirmwareUpdateResult, "Result of firmware update", 6,           \
      Success, TransferError, FirmwareFailedSignatureCheck, FirmwareCorrupt, FirmwareForOtherDevice, UnknownError) \
    X(InterfaceType, qx_sdk_protocol::types::InterfaceType, "The interface type", 2, T1, T)                        \
    X(EthLinkState, qx_sdk_protocol::types::EthLinkState, "The ethernet link state", 2, Up, Down)                  \
    X(EthRole, qx_sdk_protocol::types::EthRole, "The ethernet role", 4,                                            \
      Leader, LeaderPreferred, Follower, FollowerPreferred)                                                        \
    X(EthLinkSpeed, qx_sdk_protocol::types::EthLinkSpeed, "The ethernet link speed", 6,                            \
      Speed10MbitFullDuplex, Speed10MbitHalfDuplex, Speed100MbitFullDuplex, Speed100MbitHalfDuplex,                \
      Speed1000MbitFullDuplex, Speed1000MbitHalfDuplex)                                                            \
    X(EthAnegMode, qx_sdk_protocol::types::EthAnegMode, "The ethernet auto negotiation mode", 2,                   \
      AnegDisabled, IEEEAnegEnabled)                                                                               \
    X(Tc10Command, qx_sdk_protocol::types::Tc10Command, "Available TC10 commands", 2, WakeUp, Sleep)               \
    X(Tc10State, qx_sdk_protocol::types::Tc10State, "Possible TC10 states", 4,                                     \
      Normal, Sleep, SleepFailed, SleepAborted)                                                                    \
    X(CableTestHarnessStatus, qx_sdk_protocol::types::CableTestHarnessStatus, "Cable test harness status", 3,      \
      CableOpen, CableShorted, CableGood)                                                                          \
    X(PgPayloadSize, qx_sdk_protocol::types::PgPayloadSize, "Packet Generator Paylad Size", 2, Size64, Size1518)   \
    X(PgPayloadType, qx_sdk_protocol::types::PgPayloadType, "Packet Generator Paylad Type", 4,                     \
      PseudoRandom, Alternating, OnlyOnes, OnlyZeroes)                                                             \
    X(PgPacketValidity, qx_sdk_protocol::types::PgPacketValidity, "Packet Generator Packet Validity", 2,           \
      GoodCrc, SymbolErrorsBadCrc)
// clang-format on

enum class EnumId : uint8_t {
#define QX_ENUM_ID(name, ...) name,
    QX_ENUM_CLASSES(QX_ENUM_ID)
#undef QX_ENUM_ID
};
inline constexpr int enum_class_count = 12;
#define QX_ENUM_ONE(...) +1
static_assert(0 QX_ENUM_CLASSES(QX_ENUM_ONE) == enum_class_count, "the list holds another number of classes");
#undef QX_ENUM_ONE

// The class object (borrowed), set up with all its members on first use;
// null with a Python error set if that fails.
PyTypeObject* enum_class(EnumId id);

// The shared member of `value` (new reference), or empty with an error.
PyRef enum_member(EnumId id, uint8_t value);

// The integer of a member of the class; any other object is refused with
// "'<type>' object is not an instance of '<Class>'".
std::optional<uint8_t> enum_value(EnumId id, PyObject* object);

// Which Python class mirrors a C++ enumeration.
template <class E>
struct EnumOf;
#define QX_ENUM_OF(name, type, ...)                \
    template <>                                    \
    struct EnumOf<type> {                          \
        static constexpr EnumId id = EnumId::name; \
    };
QX_ENUM_CLASSES(QX_ENUM_OF)
#undef QX_ENUM_OF

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
