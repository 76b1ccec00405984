// A misbehaviour the fake device shows instead of, or around, its reply.
#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <string>

#include "qx_sdk_client/tests/support/wire_bytes.hpp"

namespace qx_test {

// A request is still carried out (a set request changes the state) only
// where the normal reply, or part of it, is sent: Delay, SplitReply,
// ReplyTwice, and Close with a reply prefix.
struct Fault {
    enum class Kind : uint8_t {
        ErrorPacket,     // an error packet with `status` instead of the reply
        RawBytes,        // `bytes` instead of the reply
        Delay,           // wait `delay`, then the normal reply
        Close,           // the first `reply_prefix` bytes of the normal reply, then close
        NoReply,         // nothing; the connection stays open for the next request
        OversizeHeader,  // a reply header announcing `announced_length`, then that many bytes
        SplitReply,      // the normal reply, or `bytes` if any, in pieces of `piece_size` bytes, `delay` apart
        ReplyTwice,      // the normal reply, then the same bytes again `delay` later
    };
    // How a reply sent twice leaves the device.
    enum class Sending : uint8_t {
        at_once,  // each send goes out as it is made
        // As from a stack with Nagle's algorithm on: the copy waits until
        // the client has acknowledged everything before it, and so does
        // every later reply until one finds nothing unacknowledged.
        nagle,
    };

    static Fault error_packet(uint16_t status) {
        return with(Kind::ErrorPacket, [&](Fault& f) { f.status = status; });
    }
    static Fault raw(Bytes bytes) {
        return with(Kind::RawBytes, [&](Fault& f) { f.bytes = std::move(bytes); });
    }
    static Fault delay_reply(std::chrono::milliseconds delay) {
        return with(Kind::Delay, [&](Fault& f) { f.delay = delay; });
    }
    static Fault close(size_t reply_prefix = 0) {
        return with(Kind::Close, [&](Fault& f) { f.reply_prefix = reply_prefix; });
    }
    static Fault no_reply() {
        return with(Kind::NoReply, [](Fault&) {});
    }
    static Fault oversize_header(uint16_t announced_length) {
        return with(Kind::OversizeHeader, [&](Fault& f) { f.announced_length = announced_length; });
    }
    static Fault split_reply(size_t piece_size = 1, std::chrono::milliseconds gap = std::chrono::milliseconds(2)) {
        return with(Kind::SplitReply, [&](Fault& f) {
            f.piece_size = piece_size == 0 ? 1 : piece_size;
            f.delay = gap;
        });
    }
    // The request carried out once, its reply sent twice.
    static Fault reply_twice(std::chrono::milliseconds gap, Sending sending = Sending::at_once) {
        return with(Kind::ReplyTwice, [&](Fault& f) {
            f.delay = gap;
            f.sending = sending;
        });
    }
    // `bytes` instead of the reply, in pieces as split_reply sends them.
    static Fault split_raw(Bytes bytes, size_t piece_size, std::chrono::milliseconds gap) {
        Fault f = split_reply(piece_size, gap);
        f.bytes = std::move(bytes);
        return f;
    }

    Kind kind = Kind::NoReply;
    uint16_t status = 0;
    Bytes bytes;
    std::chrono::milliseconds delay{0};
    size_t reply_prefix = 0;
    uint16_t announced_length = 0;
    size_t piece_size = 1;
    Sending sending = Sending::at_once;

private:
    template <class Set>
    static Fault with(Kind kind, Set set) {
        Fault f;
        f.kind = kind;
        set(f);
        return f;
    }
};

}  // namespace qx_test
