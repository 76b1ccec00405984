// A broken property must stop the run the way a crash does, so libFuzzer keeps
// the input that shows it.
#pragma once

#include <cstdio>
#include <cstdlib>

namespace fuzz {

[[noreturn]] inline void fail(const char* condition, const char* what, const char* file, int line) {
    std::fprintf(stderr, "%s:%d: check failed: %s\n  %s\n", file, line, what, condition);
    std::abort();
}

}  // namespace fuzz

#define FUZZ_CHECK(condition, what)                             \
    do {                                                        \
        if (!(condition)) {                                     \
            ::fuzz::fail(#condition, what, __FILE__, __LINE__); \
        }                                                       \
    } while (0)
