// Forced into every translation unit of the fuzz build.
//
// libstdc++ 12 offers <expected> only when __cpp_concepts reports 202002L,
// because the type relies on conditionally trivial special members. Clang has
// implemented those since version 16 but reports 201907L until later, so the
// header comes out empty. Raising the macro is safe from clang 16 on; older
// clangs cannot build the type at all and are refused here with a clear
// message instead of a wall of template errors.
#pragma once

#if defined(__clang__) && defined(__cplusplus)
#if __clang_major__ < 16
#error "the fuzz build needs clang 16 or newer for libstdc++'s std::expected"
#endif
#if __cpp_concepts < 202002L
#pragma clang diagnostic push
#pragma clang diagnostic ignored "-Wbuiltin-macro-redefined"
#pragma clang diagnostic ignored "-Wmacro-redefined"
#undef __cpp_concepts
#define __cpp_concepts 202002L
#pragma clang diagnostic pop
#endif
#endif
