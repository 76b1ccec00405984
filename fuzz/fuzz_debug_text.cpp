// The error debug text's quoted-string escaper on arbitrary bytes: the output
// is UTF-8 with no raw control or invisible character, it reads back to the
// input (with a replacement character for each byte that is not UTF-8), and
// every Error's debug text is its kind's name with that quoted text.
//
// Input: [error kind][text...]
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <string_view>

#include "harness/check.hpp"
#include "harness/utf8_oracle.hpp"
#include "qx_sdk_client/src/error.hpp"

namespace {

using qx_sdk_client::error::Error;

struct CodePointRange {
    char32_t low;
    char32_t high;
};

// Characters that must never appear unescaped, chosen from categories that
// do not move between Unicode versions: controls, separators other than the
// space, format characters, combining marks, private use, noncharacters.
// clang-format off
constexpr CodePointRange always_escaped[] = {
    {0x0000, 0x001F}, {0x007F, 0x00A0}, {0x00AD, 0x00AD}, {0x0300, 0x036F}, {0x1680, 0x1680},
    {0x2000, 0x200F}, {0x2028, 0x202F}, {0x205F, 0x2064}, {0x3000, 0x3000}, {0xE000, 0xF8FF},
    {0xFDD0, 0xFDEF}, {0xFEFF, 0xFEFF}, {0xFFF9, 0xFFFB}, {0xF0000, 0x10FFFF},
};
// clang-format on

// Printable characters outside ASCII that must stay as they are.
constexpr CodePointRange never_escaped[] = {
    {0x00A1, 0x00AC}, {0x00AE, 0x00FF}, {0x03B1, 0x03C9}, {0x4E00, 0x9FA5}, {0x1F600, 0x1F64F},
};

bool in_any(std::span<const CodePointRange> ranges, char32_t c) {
    for (const CodePointRange& range : ranges) {
        if (c >= range.low && c <= range.high) {
            return true;
        }
    }
    return false;
}

bool must_escape(char32_t c) { return in_any(always_escaped, c) || (c & 0xFFFE) == 0xFFFE; }

bool is_plain_ascii(char32_t c) { return c >= 0x20 && c <= 0x7E; }

int hex_digit(char c) {
    if (c >= '0' && c <= '9') {
        return c - '0';
    }
    if (c >= 'a' && c <= 'f') {
        return c - 'a' + 10;
    }
    return -1;  // upper-case digits are not written
}

// Reads the quoted string back, checking every escape and every literal.
std::u32string read_back(std::string_view quoted) {
    FUZZ_CHECK(quoted.size() >= 2 && quoted.front() == '"' && quoted.back() == '"', "enclosed in double quotes");
    const std::span<const uint8_t> inner = fuzz::bytes_of(quoted.substr(1, quoted.size() - 2));
    std::u32string text;
    for (size_t at = 0; at < inner.size();) {
        const fuzz::Utf8Char c = fuzz::utf8_char_at(inner, at);
        FUZZ_CHECK(c.length != 0, "the output is UTF-8");
        at += c.length;
        if (c.code_point == U'"') {
            FUZZ_CHECK(false, "a double quote inside is escaped");
        }
        if (c.code_point != U'\\') {
            FUZZ_CHECK(!must_escape(c.code_point), "no control or invisible character is written raw");
            text.push_back(c.code_point);
            continue;
        }
        FUZZ_CHECK(at < inner.size(), "a backslash starts an escape");
        const char escape = static_cast<char>(inner[at++]);
        switch (escape) {
            case '\\': text.push_back(U'\\'); continue;
            case '"': text.push_back(U'"'); continue;
            case 't': text.push_back(U'\t'); continue;
            case 'r': text.push_back(U'\r'); continue;
            case 'n': text.push_back(U'\n'); continue;
            case '0': text.push_back(U'\0'); continue;
            case 'u': break;
            default: FUZZ_CHECK(false, "a known escape");
        }
        FUZZ_CHECK(at < inner.size() && inner[at] == '{', "\\u{");
        ++at;
        char32_t code_point = 0;
        size_t digits = 0;
        while (at < inner.size() && inner[at] != '}') {
            const int digit = hex_digit(static_cast<char>(inner[at]));
            FUZZ_CHECK(digit >= 0, "lower-case hexadecimal digits");
            FUZZ_CHECK(!(digits == 0 && digit == 0), "no leading zeros");
            FUZZ_CHECK(digits < 6, "at most six digits");
            code_point = (code_point << 4) | static_cast<char32_t>(digit);
            ++digits;
            ++at;
        }
        FUZZ_CHECK(at < inner.size() && digits > 0, "the escape is closed after at least one digit");
        ++at;
        FUZZ_CHECK(code_point <= 0x10FFFF, "a Unicode code point");
        FUZZ_CHECK(!is_plain_ascii(code_point) && code_point != U'\t' && code_point != U'\r' && code_point != U'\n' &&
                       code_point != U'\0',
                   "plain characters and those with a short escape are not spelled as code points");
        FUZZ_CHECK(!in_any(never_escaped, code_point), "printable characters are written as they are");
        text.push_back(code_point);
    }
    return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 1) {
        return 0;
    }
    const auto kind = static_cast<Error::Kind>(data[0] % Error::kind_count);
    const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);

    const std::string prefix = "prefix kept: ";
    std::string sink = prefix;
    qx_sdk_client::error::write_quoted(sink, text);
    FUZZ_CHECK(sink.starts_with(prefix), "the escaper only appends");
    const std::string quoted = sink.substr(prefix.size());
    FUZZ_CHECK(fuzz::is_well_formed_utf8(fuzz::bytes_of(quoted)), "the output is UTF-8");
    FUZZ_CHECK(quoted.size() <= 2 + 8 * text.size(), "no byte grows into more than one escape");

    std::u32string expected;
    fuzz::append_utf8(expected, fuzz::bytes_of(text));
    FUZZ_CHECK(read_back(quoted) == expected, "the quoted string reads back to the text");

    const Error error(kind, std::string(text));
    const std::string name(Error::kind_name(kind));
    const std::string debug = error.debug_text();
    if (Error::kind_has_text(kind)) {
        FUZZ_CHECK(debug == name + "(" + quoted + ")", "Name(\"text\")");
    } else {
        FUZZ_CHECK(debug == name, "a kind without text shows its name alone");
    }
    std::string appended = prefix;
    error.write_debug_text(appended);
    FUZZ_CHECK(appended == prefix + debug, "the debug text appends to its sink");
    return 0;
}
