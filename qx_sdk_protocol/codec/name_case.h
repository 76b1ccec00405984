// The switch case that gives a list entry's constant name: the name lookups
// are made from the same lists as their enumerations, so a value listed
// twice is a duplicate case and does not compile.
#pragma once

#define QX_NAME_CASE(value, name, ...) \
    case value: return #name;
