// The debug text of an Error, the SDK's one text form of it.
#include <optional>
#include <utility>

#include <utf8proc.h>

#include "qx_sdk_client/src/error.hpp"

namespace qx_sdk_client::error {
namespace {

struct DecodedChar {
    char32_t code_point;
    size_t length;
};

bool is_continuation(unsigned char byte) { return (byte & 0xC0) == 0x80; }

// Strict UTF-8: no overlong forms, no surrogates, nothing above U+10FFFF.
std::optional<DecodedChar> decode_at(std::string_view text, size_t at) {
    const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[at + i]); };
    const unsigned char lead = byte(0);
    if (lead < 0x80) {
        return DecodedChar{lead, 1};
    }
    size_t length;
    char32_t code_point;
    char32_t minimum;
    if (lead >= 0xC2 && lead <= 0xDF) {
        length = 2, code_point = lead & 0x1F, minimum = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        length = 3, code_point = lead & 0x0F, minimum = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        length = 4, code_point = lead & 0x07, minimum = 0x10000;
    } else {
        return std::nullopt;
    }
    if (text.size() - at < length) {
        return std::nullopt;
    }
    for (size_t i = 1; i < length; ++i) {
        if (!is_continuation(byte(i))) {
            return std::nullopt;
        }
        code_point = (code_point << 6) | (byte(i) & 0x3F);
    }
    if (code_point < minimum || code_point > 0x10FFFF || (code_point >= 0xD800 && code_point <= 0xDFFF)) {
        return std::nullopt;
    }
    return DecodedChar{code_point, length};
}

// Grapheme_Extend is Mn, Me and Other_Grapheme_Extend. The grapheme-break
// class Extend holds all of these plus the emoji modifiers (category Sk),
// which are ordinary printable symbols and so are left out.
bool extends_grapheme(const utf8proc_property_t& property) {
    switch (property.category) {
        case UTF8PROC_CATEGORY_MN:
        case UTF8PROC_CATEGORY_ME: return true;
        case UTF8PROC_CATEGORY_SK: return false;
        default: return property.boundclass == UTF8PROC_BOUNDCLASS_EXTEND;
    }
}

bool is_printable(char32_t code_point, const utf8proc_property_t& property) {
    switch (property.category) {
        case UTF8PROC_CATEGORY_CN:
        case UTF8PROC_CATEGORY_CC:
        case UTF8PROC_CATEGORY_CF:
        case UTF8PROC_CATEGORY_CS:
        case UTF8PROC_CATEGORY_CO:
        case UTF8PROC_CATEGORY_ZL:
        case UTF8PROC_CATEGORY_ZP: return false;
        case UTF8PROC_CATEGORY_ZS: return code_point == U' ';
        default: return true;
    }
}

bool needs_unicode_escape(char32_t code_point) {
    const utf8proc_property_t* property = utf8proc_get_property(static_cast<utf8proc_int32_t>(code_point));
    return extends_grapheme(*property) || !is_printable(code_point, *property);
}

// \u{1b}: the form the debug text has always had, neither C's nor Python's.
void write_unicode_escape(std::string& sink, char32_t code_point) {
    static constexpr char digits[] = "0123456789abcdef";
    char hex[8];
    size_t n = 0;
    do {
        hex[n++] = digits[code_point & 0xF];
        code_point >>= 4;
    } while (code_point != 0);
    sink += "\\u{";
    while (n > 0) {
        sink.push_back(hex[--n]);
    }
    sink.push_back('}');
}

// Error texts are made by us and are valid UTF-8; should one not be, each
// stray byte shows as an escaped replacement character, so the result is
// still valid UTF-8 and nothing is read past the text.
constexpr char32_t replacement_character = 0xFFFD;

}  // namespace

void write_quoted(std::string& sink, std::string_view text) {
    sink.reserve(sink.size() + text.size() + 2);
    sink.push_back('"');
    size_t at = 0;
    while (at < text.size()) {
        const std::optional<DecodedChar> decoded = decode_at(text, at);
        if (!decoded) {
            write_unicode_escape(sink, replacement_character);
            ++at;
            continue;
        }
        switch (decoded->code_point) {
            case U'\\': sink += "\\\\"; break;
            case U'"': sink += "\\\""; break;
            case U'\t': sink += "\\t"; break;
            case U'\r': sink += "\\r"; break;
            case U'\n': sink += "\\n"; break;
            case U'\0': sink += "\\0"; break;
            default:
                if (needs_unicode_escape(decoded->code_point)) {
                    write_unicode_escape(sink, decoded->code_point);
                } else {
                    sink.append(text.substr(at, decoded->length));
                }
        }
        at += decoded->length;
    }
    sink.push_back('"');
}

// Name or Name("text"), as shipped: messages that scripts match on carry it.
void Error::write_debug_text(std::string& sink) const {
    sink.append(kind_name(kind_));
    if (kind_has_text(kind_)) {
        sink.push_back('(');
        write_quoted(sink, text_);
        sink.push_back(')');
    }
}

std::string Error::debug_text() const {
    std::string text;
    write_debug_text(text);
    return text;
}

}  // namespace qx_sdk_client::error
