#pragma once

#include <cstddef>

// Run-time dispatch of hot loops: CORVANE_DISPATCH compiles a function once per
// instruction-set level and lets the loader pick the version for the machine at hand; the
// portable baseline is the fallback and what the default build targets otherwise.
// CORVANE_VERSIONS says whether functions may also be written per level by hand with
// target("arch=...") and target("default") attributes. Compilers or targets without x86-64
// function versions get the plain loops only. ThreadSanitizer instruments the version
// resolver, which the loader runs before the sanitizer's runtime exists, so those builds
// keep the default only.
#if defined(__x86_64__) && defined(__GNUC__) && !defined(__clang__) && __GNUC__ >= 12 && \
    !defined(__SANITIZE_THREAD__)
#define CORVANE_DISPATCH \
    __attribute__((target_clones("arch=x86-64-v4", "arch=x86-64-v3", "default")))
#define CORVANE_VERSIONS 1
#else
#define CORVANE_DISPATCH
#define CORVANE_VERSIONS 0
#endif

namespace corvane {

// How many of the hand-written copies of a kernel, in the order portable, x86-64-v3,
// x86-64-v4, this machine can run (each level includes the one before it): callers keep
// their copies in that order and take the last one the machine runs.
inline std::size_t machine_levels() {
#if CORVANE_VERSIONS
    __builtin_cpu_init();
    if (__builtin_cpu_supports("x86-64-v4")) return 3;
    if (__builtin_cpu_supports("x86-64-v3")) return 2;
#endif
    return 1;
}

}  // namespace corvane
