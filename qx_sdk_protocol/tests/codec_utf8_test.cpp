// Strict UTF-8: well-formed sequences only, as RFC 3629 defines them.
#include <gtest/gtest.h>

#include <vector>

#include "qx_sdk_protocol/codec/protocol_base.h"

namespace {

struct Utf8Case {
    const char* label;
    std::vector<uint8_t> bytes;
    bool valid;
};

const Utf8Case UTF8_CASES[] = {
    {"empty", {}, true},
    {"ascii with NUL", {'a', 0x00, 'b', 0x7F}, true},
    {"two-byte lowest", {0xC2, 0x80}, true},
    {"two-byte highest", {0xDF, 0xBF}, true},
    {"three-byte lowest", {0xE0, 0xA0, 0x80}, true},
    {"last before surrogates", {0xED, 0x9F, 0xBF}, true},
    {"first after surrogates", {0xEE, 0x80, 0x80}, true},
    {"U+FFFF", {0xEF, 0xBF, 0xBF}, true},
    {"four-byte lowest", {0xF0, 0x90, 0x80, 0x80}, true},
    {"U+10FFFF", {0xF4, 0x8F, 0xBF, 0xBF}, true},
    {"mixed", {'a', 0xC3, 0xA9, 0xE2, 0x82, 0xAC, 0xF0, 0x9F, 0x98, 0x80}, true},

    {"overlong two-byte C0", {0xC0, 0x80}, false},
    {"overlong two-byte C1", {0xC1, 0xBF}, false},
    {"overlong three-byte", {0xE0, 0x9F, 0xBF}, false},
    {"overlong four-byte", {0xF0, 0x8F, 0xBF, 0xBF}, false},
    {"surrogate low end", {0xED, 0xA0, 0x80}, false},
    {"surrogate high end", {0xED, 0xBF, 0xBF}, false},
    {"above U+10FFFF", {0xF4, 0x90, 0x80, 0x80}, false},
    {"lead F5", {0xF5, 0x80, 0x80, 0x80}, false},
    {"lead FF", {0xFF}, false},
    {"lone continuation", {0x80}, false},
    {"continuation after a complete sequence", {0xC3, 0xA9, 0xA9}, false},
    {"truncated three-byte", {0xE2, 0x82}, false},
    {"truncated four-byte", {0xF0, 0x9F, 0x98}, false},
    {"lead without continuation", {0xC3, 'a'}, false},
    {"bad third byte", {0xE2, 0x82, 0x41}, false},
    {"bad fourth byte", {0xF0, 0x9F, 0x98, 0xC0}, false},
    {"invalid after valid text", {'o', 'k', 0xC3, 0xA9, 0xFE}, false},
};

TEST(CodecUtf8, AcceptsWellFormedAndRejectsEverythingElse) {
    for (const Utf8Case& c : UTF8_CASES) {
        EXPECT_EQ(is_valid_utf8(c.bytes.data(), c.bytes.size()), c.valid) << c.label;
    }
}

// The check must stop at the given length, whatever follows in memory.
TEST(CodecUtf8, LooksOnlyAtTheGivenBytes) {
    const uint8_t bytes[] = {'a', 0xE2, 0x82, 0xAC};
    EXPECT_TRUE(is_valid_utf8(bytes, 1));
    EXPECT_FALSE(is_valid_utf8(bytes, 3));
    EXPECT_TRUE(is_valid_utf8(bytes, 4));
    EXPECT_TRUE(is_valid_utf8(nullptr, 0));
    EXPECT_FALSE(is_valid_utf8(nullptr, 1));
}

}  // namespace
