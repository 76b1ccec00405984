// Writes the seed corpus: a well-formed reply for every decoder, a few error
// packets and damaged frames, and texts that exercise each escape.
//
// Usage: make_seeds <corpus directory>   (writes one subdirectory per target)
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>
#include <vector>

#include "harness/codec_replies.hpp"
#include "harness/typed_replies.hpp"

namespace {

using Bytes = std::vector<uint8_t>;
namespace fs = std::filesystem;

Bytes le16(uint16_t value) { return {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)}; }

Bytes operator+(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

Bytes text_bytes(std::string_view text) { return Bytes(text.begin(), text.end()); }

Bytes frame(uint16_t command, const Bytes& payload) {
    return le16(command) + le16(static_cast<uint16_t>(payload.size())) + payload;
}

// A plausible reply payload of each shape.
Bytes valid_payload(fuzz::ReplyShape shape) {
    using S = fuzz::ReplyShape;
    switch (shape) {
        case S::Text: {
            const Bytes text = text_bytes("QX nick \xC3\xA9");
            return le16(static_cast<uint16_t>(text.size())) + text;
        }
        case S::Status: return {0x05, 0x00};
        case S::OptionalStatus: return {0x00, 0x00};
        case S::Number64: return {0x30, 0x12, 0x90, 0x78, 0x56, 0x34, 0x12, 0x00};
        case S::Count16: return {0x04, 0x00};
        case S::OptionalChunkSize: return {0x00, 0x04};
        case S::InterfaceStatus: return {0x00, 0x00, 0x82, 0x02, 0x01};
        case S::StatusLinkMode: return {0x00, 0x00, 0x85, 0x06};
        case S::Tc10State: return {0x00, 0x00, 0x03};
        case S::Dcq: return {0x07, 0x03, 0x10, 0x20, 0x34, 0x12, 0xFF, 0x00};
        case S::CableTest: return {0x02, 0x07};
        case S::Flag: return {0x01};
        case S::PacketGenerator: return {0x01, 0x03, 0x00, 0x10, 0x01};
        case S::Unread: return {};
        case S::Version: return {0x02, 0x00};
    }
    return {};
}

class Corpus {
public:
    explicit Corpus(fs::path root) : root_(std::move(root)) {}

    void write(const std::string& target, const std::string& name, const Bytes& bytes) {
        const fs::path dir = root_ / target;
        fs::create_directories(dir);
        std::ofstream out(dir / name, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        ++written_;
    }
    int written() const { return written_; }

private:
    fs::path root_;
    int written_ = 0;
};

constexpr uint8_t version_2 = 2;
constexpr uint8_t reply_text_capacity = 128;

void codec_unpack_seeds(Corpus& corpus) {
    for (size_t i = 0; i < fuzz::codec_reply_count; ++i) {
        const fuzz::CodecReply& row = fuzz::codec_replies[i];
        const Bytes control = {static_cast<uint8_t>(i), version_2, 0x00, reply_text_capacity};
        corpus.write("fuzz_codec_unpack", std::string(row.name) + "-reply",
                     control + le16(row.reply) + valid_payload(row.shape));
    }
    // The longest text that fits the typed layer's 128-byte buffer; the slack
    // after it lets one changed count byte make the text too long.
    const Bytes longest = le16(127) + Bytes(127, 'n') + Bytes(8, 'n');
    corpus.write("fuzz_codec_unpack", "device_get_name-longest-text",
                 Bytes{1, version_2, 0x00, reply_text_capacity} + le16(4) + longest);
    // Error packets through one decoder: success, not implemented, not permitted.
    for (const uint16_t status : {uint16_t{0}, uint16_t{1}, uint16_t{4}}) {
        const Bytes control = {3, version_2, 0x01, reply_text_capacity};
        corpus.write("fuzz_codec_unpack", "device_identify-error-" + std::to_string(status),
                     control + le16(0xBAAD) + le16(status));
    }
}

void typed_unpack_seeds(Corpus& corpus) {
    for (size_t i = 0; i < fuzz::typed_reply_count; ++i) {
        const fuzz::TypedReply& row = fuzz::typed_replies[i];
        const fuzz::CodecReply* codec = fuzz::codec_reply_for(row.reply);
        std::string name = row.name;
        name = name.substr(name.find("::") + 2);
        corpus.write("fuzz_typed_unpack", name + "-reply",
                     Bytes{static_cast<uint8_t>(i), version_2} + frame(row.reply, valid_payload(codec->shape)));
    }
    corpus.write("fuzz_typed_unpack", "get_device_name-longest-text",
                 Bytes{1, version_2} + frame(4, le16(127) + Bytes(127, 'n') + Bytes(8, 'n')));
    // A reply followed by the rest of a receive buffer, and error packets.
    corpus.write("fuzz_typed_unpack", "get_device_name-trailing",
                 Bytes{1, version_2} + frame(4, le16(2) + text_bytes("ab")) + Bytes(12, 0xEE));
    corpus.write("fuzz_typed_unpack", "get_eth_config-error-success", Bytes{22, version_2} + frame(0xBAAD, le16(0)));
    corpus.write("fuzz_typed_unpack", "get_tc10_state-error-not-permitted",
                 Bytes{24, version_2} + frame(0xBAAD, le16(4)));
}

void from_buffer_seeds(Corpus& corpus) {
    corpus.write("fuzz_from_buffer", "set-nickname-frame", frame(17, {0x03, 0x00, 0x02, 0x00, 0x61, 0x62}));
    corpus.write("fuzz_from_buffer", "header-only", frame(2, {}));
    corpus.write("fuzz_from_buffer", "cut-short", Bytes{0x04, 0x00, 0x0A, 0x00} + Bytes(9, 0x41));
    corpus.write("fuzz_from_buffer", "three-bytes", {0x04, 0x00, 0x00});
    // Trailing bytes drive reads: u8, bool, u16, u64, bytes(cap 8), text(cap 4), raw(3).
    corpus.write(
        "fuzz_from_buffer", "fields-and-reads",
        frame(20, {0x01, 0x02, 0x03, 0x04, 0x05, 0x02, 0x00, 0x61, 0x62, 0x09}) + Bytes{0, 1, 2, 3, 4, 8, 5, 4, 6, 3});
    corpus.write("fuzz_from_buffer", "text-then-reads", frame(4, le16(3) + text_bytes("\xE2\x82\xAC")) + Bytes{5, 128});
}

void string_from_bytes_seeds(Corpus& corpus) {
    corpus.write("fuzz_string_from_bytes", "nul-in-middle", {0x61, 0x62, 0x00, 0x63, 0x64});
    corpus.write("fuzz_string_from_bytes", "multibyte", text_bytes("\xC3\xA9\xE2\x82\xAC\xF0\x9F\x98\x80") + Bytes{0});
    corpus.write("fuzz_string_from_bytes", "invalid", {0xED, 0xA0, 0x80, 0x00});
    corpus.write("fuzz_string_from_bytes", "no-nul", Bytes(128, 0x41));
    corpus.write("fuzz_string_from_bytes", "reply-buffer", text_bytes("fw 1.2.3") + Bytes(120, 0));
}

void debug_text_seeds(Corpus& corpus) {
    // The first byte picks the error kind: 0 ApiError, 16 Utf8Error, 5 a kind without text.
    corpus.write("fuzz_debug_text", "api-error-text", Bytes{0} + text_bytes("Encountered an unspecified error"));
    corpus.write("fuzz_debug_text", "quotes-and-controls",
                 Bytes{16} + text_bytes("say \"hi\"\t\\ \r\n") + Bytes{0x00, 0x1B, 0x7F});
    corpus.write(
        "fuzz_debug_text", "unicode",
        Bytes{14} + text_bytes("e\xCC\x81 \xC2\xA0 \xE2\x80\x8B \xEE\x80\x80 \xF0\x9F\x91\x8D\xF0\x9F\x8F\xBB"));
    corpus.write("fuzz_debug_text", "invalid-bytes", Bytes{4, 0xC0, 0x80, 0xFF, 0xE2, 0x82});
    corpus.write("fuzz_debug_text", "no-text-kind", Bytes{5} + text_bytes("ignored"));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: %s <corpus directory>\n", argv[0]);
        return 2;
    }
    Corpus corpus{fs::path(argv[1])};
    codec_unpack_seeds(corpus);
    typed_unpack_seeds(corpus);
    from_buffer_seeds(corpus);
    string_from_bytes_seeds(corpus);
    debug_text_seeds(corpus);
    std::printf("%d seed files written under %s\n", corpus.written(), argv[1]);
    return 0;
}
