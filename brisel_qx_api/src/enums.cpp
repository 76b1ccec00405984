#include "brisel_qx_api/src/enums.hpp"

#include <array>
#include <span>
#include <string>

#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {
namespace {

struct EnumMember {
    const char* name;
    const char* repr;  // "Class.Member": a constant, whatever a script rebinds
};

#define QX_MEMBER(class_name, member) EnumMember{#member, #class_name "." #member}

struct EnumSpec {
    const char* name;
    const char* qualified_name;
    const char* doc;
    std::span<const EnumMember> members;  // in value order, from 0, no gaps
};

constexpr EnumMember firmware_update_result_members[] = {
    QX_MEMBER(FirmwareUpdateResult, Success),
    QX_MEMBER(FirmwareUpdateResult, TransferError),
    QX_MEMBER(FirmwareUpdateResult, FirmwareFailedSignatureCheck),
    QX_MEMBER(FirmwareUpdateResult, FirmwareCorrupt),
    QX_MEMBER(FirmwareUpdateResult, FirmwareForOtherDevice),
    QX_MEMBER(FirmwareUpdateResult, UnknownError),
};
constexpr EnumMember interface_type_members[] = {
    QX_MEMBER(InterfaceType, T1),
    QX_MEMBER(InterfaceType, T),
};
constexpr EnumMember eth_link_state_members[] = {
    QX_MEMBER(EthLinkState, Up),
    QX_MEMBER(EthLinkState, Down),
};
constexpr EnumMember eth_role_members[] = {
    QX_MEMBER(EthRole, Leader),
    QX_MEMBER(EthRole, LeaderPreferred),
    QX_MEMBER(EthRole, Follower),
    QX_MEMBER(EthRole, FollowerPreferred),
};
constexpr EnumMember eth_link_speed_members[] = {
    QX_MEMBER(EthLinkSpeed, Speed10MbitFullDuplex),
    QX_MEMBER(EthLinkSpeed, Speed10MbitHalfDuplex),
    QX_MEMBER(EthLinkSpeed, Speed100MbitFullDuplex),
    QX_MEMBER(EthLinkSpeed, Speed100MbitHalfDuplex),
    QX_MEMBER(EthLinkSpeed, Speed1000MbitFullDuplex),
    QX_MEMBER(EthLinkSpeed, Speed1000MbitHalfDuplex),
};
constexpr EnumMember eth_aneg_mode_members[] = {
    QX_MEMBER(EthAnegMode, AnegDisabled),
    QX_MEMBER(EthAnegMode, IEEEAnegEnabled),
};
constexpr EnumMember tc10_command_members[] = {
    QX_MEMBER(Tc10Command, WakeUp),
    QX_MEMBER(Tc10Command, Sleep),
};
constexpr EnumMember tc10_state_members[] = {
    QX_MEMBER(Tc10State, Normal),
    QX_MEMBER(Tc10State, Sleep),
    QX_MEMBER(Tc10State, SleepFailed),
    QX_MEMBER(Tc10State, SleepAborted),
};
constexpr EnumMember cable_test_harness_status_members[] = {
    QX_MEMBER(CableTestHarnessStatus, CableOpen),
    QX_MEMBER(CableTestHarnessStatus, CableShorted),
    QX_MEMBER(CableTestHarnessStatus, CableGood),
};
constexpr EnumMember pg_payload_size_members[] = {
    QX_MEMBER(PgPayloadSize, Size64),
    QX_MEMBER(PgPayloadSize, Size1518),
};
constexpr EnumMember pg_payload_type_members[] = {
    QX_MEMBER(PgPayloadType, PseudoRandom),
    QX_MEMBER(PgPayloadType, Alternating),
    QX_MEMBER(PgPayloadType, OnlyOnes),
    QX_MEMBER(PgPayloadType, OnlyZeroes),
};
constexpr EnumMember pg_packet_validity_members[] = {
    QX_MEMBER(PgPacketValidity, GoodCrc),
    QX_MEMBER(PgPacketValidity, SymbolErrorsBadCrc),
};

#undef QX_MEMBER

// Indexed by EnumId.
constexpr std::array<EnumSpec, enum_class_count> enum_specs{{
    {"FirmwareUpdateResult", "brisel_qx_api.FirmwareUpdateResult", "Result of firmware update",
     firmware_update_result_members},
    {"InterfaceType", "brisel_qx_api.InterfaceType", "The interface type", interface_type_members},
    {"EthLinkState", "brisel_qx_api.EthLinkState", "The ethernet link state", eth_link_state_members},
    {"EthRole", "brisel_qx_api.EthRole", "The ethernet role", eth_role_members},
    {"EthLinkSpeed", "brisel_qx_api.EthLinkSpeed", "The ethernet link speed", eth_link_speed_members},
    {"EthAnegMode", "brisel_qx_api.EthAnegMode", "The ethernet auto negotiation mode", eth_aneg_mode_members},
    {"Tc10Command", "brisel_qx_api.Tc10Command", "Available TC10 commands", tc10_command_members},
    {"Tc10State", "brisel_qx_api.Tc10State", "Possible TC10 states", tc10_state_members},
    {"CableTestHarnessStatus", "brisel_qx_api.CableTestHarnessStatus", "Cable test harness status",
     cable_test_harness_status_members},
    {"PgPayloadSize", "brisel_qx_api.PgPayloadSize", "Packet Generator Paylad Size", pg_payload_size_members},
    {"PgPayloadType", "brisel_qx_api.PgPayloadType", "Packet Generator Paylad Type", pg_payload_type_members},
    {"PgPacketValidity", "brisel_qx_api.PgPacketValidity", "Packet Generator Packet Validity",
     pg_packet_validity_members},
}};

// The C++ enumerators and the members must agree on every integer.
namespace types = qx_sdk_protocol::types;
template <class E>
constexpr bool member_count_is(size_t count, E last) {
    return static_cast<size_t>(last) + 1 == count &&
           enum_specs[static_cast<size_t>(EnumOf<E>::id)].members.size() == count;
}
static_assert(member_count_is(6, qx_sdk_client::device::FirmwareUpdateResult::UnknownError));
static_assert(member_count_is(2, types::InterfaceType::T));
static_assert(member_count_is(2, types::EthLinkState::Down));
static_assert(member_count_is(4, types::EthRole::FollowerPreferred));
static_assert(member_count_is(6, types::EthLinkSpeed::Speed1000MbitHalfDuplex));
static_assert(member_count_is(2, types::EthAnegMode::IEEEAnegEnabled));
static_assert(member_count_is(2, types::Tc10Command::Sleep));
static_assert(member_count_is(4, types::Tc10State::SleepAborted));
static_assert(member_count_is(3, types::CableTestHarnessStatus::CableGood));
static_assert(member_count_is(2, types::PgPayloadSize::Size1518));
static_assert(member_count_is(4, types::PgPayloadType::OnlyZeroes));
static_assert(member_count_is(2, types::PgPacketValidity::SymbolErrorsBadCrc));

constexpr size_t max_members = 6;

struct EnumValue {
    uint8_t value;
    const EnumSpec* spec;
};

// Per class: the class object and the member table. The cells are filled
// while the class is set up, before the class slot is published, and never
// change afterwards, so readers that saw the class see the cells.
struct EnumState {
    OnceSlot type;
    std::array<PyObject*, max_members> members{};
};
std::array<EnumState, enum_class_count> enum_states;

PyObject* member_repr(PyObject* self) {
    Instance<EnumValue>* member = instance_of<EnumValue>(self);
    Borrow<BorrowKind::Shared> borrow(member->borrow);
    if (!borrow.held()) {
        PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed_text);
        return nullptr;
    }
    return PyUnicode_FromString(member->value.spec->members[member->value.value].repr);
}

PyObject* member_int(PyObject* self) {
    Instance<EnumValue>* member = instance_of<EnumValue>(self);
    Borrow<BorrowKind::Shared> borrow(member->borrow);
    if (!borrow.held()) {
        PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed_text);
        return nullptr;
    }
    return PyLong_FromLong(member->value.value);
}

PyRef set_up_enum_class(EnumId id) {
    const EnumSpec& spec = enum_specs[static_cast<size_t>(id)];
    PyType_Slot slots[] = {
        {Py_tp_doc, const_cast<char*>(spec.doc)},
        {Py_tp_repr, reinterpret_cast<void*>(&member_repr)},
        {Py_nb_int, reinterpret_cast<void*>(&member_int)},
        {Py_tp_dealloc, reinterpret_cast<void*>(&destroy_instance<EnumValue>)},
        {0, nullptr},
    };
    // Not a base type, not immutable: scripts may rebind class attributes,
    // which never changes the members that results hand out.
    PyType_Spec type_spec{spec.qualified_name, sizeof(Instance<EnumValue>), 0, not_constructible_flags, slots};
    PyRef type = PyRef::steal(PyType_FromSpec(&type_spec));
    if (!type) {
        return {};
    }

    std::array<PyRef, max_members> members;
    for (size_t value = 0; value < spec.members.size(); ++value) {
        members[value] = new_instance_of<EnumValue>(as_type(type.get()),
                                                    EnumValue{static_cast<uint8_t>(value), &spec});
        if (!members[value]) {
            PendingError failure = PendingError::fetch();
            std::string message = "An error occurred while initializing `";
            (message += spec.name) += '.';
            (message += spec.members[value].name) += '`';
            raise_with_cause(PyExc_RuntimeError, message, failure.value());
            return {};
        }
    }
    for (size_t value = 0; value < spec.members.size(); ++value) {
        if (PyObject_SetAttrString(type.get(), spec.members[value].name, members[value].get()) != 0) {
            return {};
        }
    }

    EnumState& state = enum_states[static_cast<size_t>(id)];
    for (size_t value = 0; value < spec.members.size(); ++value) {
        state.members[value] = members[value].release();  // the table's reference, kept for good
    }
    return type;
}

}  // namespace

PyTypeObject* enum_class(EnumId id) {
    return as_type(enum_states[static_cast<size_t>(id)].type.get([id] { return set_up_enum_class(id); }));
}

PyRef enum_member(EnumId id, uint8_t value) {
    if (enum_class(id) == nullptr) {
        return {};
    }
    const EnumSpec& spec = enum_specs[static_cast<size_t>(id)];
    if (value >= spec.members.size()) {
        // The typed layer hands out no other values; never make up a member.
        PyErr_Format(PyExc_ValueError, "%u is not a value of %s", static_cast<unsigned>(value), spec.name);
        return {};
    }
    return PyRef::borrow(enum_states[static_cast<size_t>(id)].members[value]);
}

std::optional<uint8_t> enum_value(EnumId id, PyObject* object) {
    PyTypeObject* type = enum_class(id);
    if (type == nullptr) {
        return std::nullopt;
    }
    if (!PyObject_TypeCheck(object, type)) {
        raise_not_instance(object, enum_specs[static_cast<size_t>(id)].name);
        return std::nullopt;
    }
    Instance<EnumValue>* member = instance_of<EnumValue>(object);
    Borrow<BorrowKind::Shared> borrow(member->borrow);
    if (!borrow.held()) {
        PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed_text);
        return std::nullopt;
    }
    return member->value.value;
}

bool check_member_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        PyErr_SetString(PyExc_TypeError, "Can't extract `str` to `Vec`");
        return false;
    }
    if (!PySequence_Check(object)) {
        raise_not_instance(object, "Sequence");
        return false;
    }
    return true;
}

}  // namespace brisel_qx_api
