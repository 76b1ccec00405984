// Every typed unpack of the device and interface modules on arbitrary
// received bytes and versions: no abort, no exception, no stray read, and a
// result that obeys what the frame and the typed values promise.
//
// Input: [unpack][version][received bytes...]
#include <cstddef>
#include <cstdint>
#include <span>

#include "harness/input.hpp"
#include "harness/typed_replies.hpp"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 2) {
        return 0;
    }
    const fuzz::TypedReply& row = fuzz::typed_replies[data[0] % fuzz::typed_reply_count];
    row.run(fuzz::version_from_byte(data[1]), std::span<const uint8_t>(data + 2, size - 2), row);
    return 0;
}
