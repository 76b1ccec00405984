// Strings as template arguments, and texts put together at compile time from
// them: names of methods and parameters, docstrings, member texts.
#pragma once

#include <cstddef>
#include <string_view>

namespace brisel_qx_api {

// A NUL-terminated text of N - 1 characters, usable as a template argument.
template <size_t N>
struct FixedString {
    char text[N]{};

    constexpr FixedString() = default;
    constexpr FixedString(const char (&source)[N]) {
        for (size_t i = 0; i < N; ++i) {
            text[i] = source[i];
        }
    }

    static constexpr size_t size() { return N - 1; }
    constexpr std::string_view view() const { return {text, N - 1}; }
};

template <size_t A, size_t B>
constexpr FixedString<A + B - 1> operator+(const FixedString<A>& left, const FixedString<B>& right) {
    FixedString<A + B - 1> joined;
    for (size_t i = 0; i < A - 1; ++i) {
        joined.text[i] = left.text[i];
    }
    for (size_t i = 0; i < B; ++i) {
        joined.text[A - 1 + i] = right.text[i];
    }
    return joined;
}

// A docstring as a type, so that the method template can build the whole
// documentation text at compile time. Written out whole, as help() shows it,
// one source line per line of text:
//   "Returns the EAN\n"
//   "\n"
//   "Returns:\n"
//   "    (int): The EAN (encoded as an integer in hex)"_doc
template <FixedString Text>
struct Doc {};

template <FixedString Text>
constexpr Doc<Text> operator""_doc() {
    return {};
}

}  // namespace brisel_qx_api
