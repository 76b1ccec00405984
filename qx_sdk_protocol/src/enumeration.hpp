// Enumerations that know how many enumerators they have.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

// enum class Name : uint8_t { A, B, ... }, numbered 0, 1, 2, ... in list
// order, and enumerator_count(Name) counted from the same list, so that an
// enumerator added to one is in the other: what mirrors the enumeration
// elsewhere (the Python module's member lists) is checked against the count
// at compile time. Found by argument-dependent lookup: enumerator_count(Name{}).
// Written without a semicolon after it.
#define QX_ENUMERATION(Name, ...)                  \
    enum class Name : uint8_t { __VA_ARGS__ };     \
    consteval std::size_t enumerator_count(Name) { \
        using enum Name;                           \
        return std::array{__VA_ARGS__}.size();     \
    }
