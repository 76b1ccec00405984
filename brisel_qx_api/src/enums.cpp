#include "brisel_qx_api/src/enums.hpp"

#include <algorithm>
#include <array>
#include <span>
#include <string>
#include <string_view>

#include "brisel_qx_api/src/fixed_string.hpp"
#include "brisel_qx_api/src/gil.hpp"
#include "brisel_qx_api/src/python_errors.hpp"

namespace brisel_qx_api {
namespace {

struct EnumMember {
    const char* name;
    const char* repr;  // "Class.Member": a constant, whatever a script rebinds
};

// The member texts of a class, from its name and its member list as the
// preprocessor spells it ("Leader, LeaderPreferred, ..."). They are kept
// together as "Class.A\0Class.B\0..."; a name is the end of its repr.
template <FixedString Class, FixedString List>
struct MemberTexts {
    static constexpr std::string_view list = List.view();
    static constexpr size_t count = static_cast<size_t>(std::ranges::count(list, ',')) + 1;

    static constexpr auto text = [] {
        // Room for "Class." and a NUL per member, and the list's own text;
        // what stays unwritten is NUL.
        std::array<char, (Class.size() + 2) * count + list.size()> out{};
        size_t end = 0;
        auto put = [&](std::string_view part) {
            for (const char c : part) {
                out[end++] = c;
            }
        };
        put(Class.view());
        put(".");
        for (const char c : list) {
            if (c == ',') {
                put({"\0", 1});
                put(Class.view());
                put(".");
            } else if (c != ' ') {
                out[end++] = c;
            }
        }
        return out;
    }();

    static constexpr auto members = [] {
        std::array<EnumMember, count> out{};
        const char* repr = text.data();
        for (EnumMember& member : out) {
            member = {repr + Class.size() + 1, repr};
            repr += std::char_traits<char>::length(repr) + 1;
        }
        return out;
    }();
};

struct EnumSpec {
    const char* name;
    const char* qualified_name;
    const char* doc;
    std::span<const EnumMember> members;  // in value order, from 0, no gaps
};

// Indexed by EnumId.
#define QX_ENUM_SPEC(name, type, doc, stated_count, ...) \
    EnumSpec{#name, "brisel_qx_api." #name, doc, MemberTexts<#name, #__VA_ARGS__>::members},
constexpr std::array<EnumSpec, enum_class_count> enum_specs{{QX_ENUM_CLASSES(QX_ENUM_SPEC)}};
#undef QX_ENUM_SPEC

// A list that names other enumerators, in another order, or more or fewer
// than its count or than the C++ enumeration has, does not compile: the
// integers must cross unchanged, and every value must have its member.
template <class E, size_t N>
constexpr bool numbered_from_zero(const std::array<E, N>& values) {
    for (size_t i = 0; i < N; ++i) {
        if (static_cast<size_t>(values[i]) != i) {
            return false;
        }
    }
    return true;
}
// clang-format off
#define QX_CHECK_MEMBERS(name, type, doc, stated_count, ...)                                          \
    static_assert([] { using enum type; return std::array{__VA_ARGS__}; }().size() == (stated_count), \
                  #name ": the member list and its count differ");                                    \
    static_assert(enumerator_count(type{}) == (stated_count),                                         \
                  #name ": " #type " has another number of enumerators than the member list");        \
    static_assert(numbered_from_zero([] { using enum type; return std::array{__VA_ARGS__}; }()),      \
                  #name ": the members are not the enumerators 0, 1, 2, ... of " #type);              \
    static_assert(MemberTexts<#name, #__VA_ARGS__>::count == (stated_count), #name ": member texts");
// clang-format on
QX_ENUM_CLASSES(QX_CHECK_MEMBERS)
#undef QX_CHECK_MEMBERS

#define QX_MEMBER_COUNT(name, type, doc, stated_count, ...) size_t{stated_count},
constexpr size_t max_members = std::max({QX_ENUM_CLASSES(QX_MEMBER_COUNT)});
#undef QX_MEMBER_COUNT

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

// What a member holds, read under a shared borrow that ends at once; empty
// with the error if the borrow is refused.
std::optional<EnumValue> read_member(PyObject* object) {
    Instance<EnumValue>* member = instance_of<EnumValue>(object);
    Borrow<BorrowKind::Shared> borrow(member->borrow);
    if (!borrow.held()) {
        PyErr_SetString(PyExc_RuntimeError, already_mutably_borrowed_text);
        return std::nullopt;
    }
    return member->value;
}

PyObject* member_repr(PyObject* self) {
    const std::optional<EnumValue> member = read_member(self);
    return member ? PyUnicode_FromString(member->spec->members[member->value].repr) : nullptr;
}

PyObject* member_int(PyObject* self) {
    const std::optional<EnumValue> member = read_member(self);
    return member ? PyLong_FromLong(member->value) : nullptr;
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
        members[value] = new_instance_of<EnumValue>(as_type(type.get()), EnumValue{static_cast<uint8_t>(value), &spec});
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
    const std::optional<EnumValue> member = read_member(object);
    if (!member) {
        return std::nullopt;
    }
    return member->value;
}

bool check_member_sequence(PyObject* object) {
    if (PyUnicode_Check(object)) {
        // The shipped text, though no type here is called Vec.
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
