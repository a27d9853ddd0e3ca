// The host's x87 floating-point unit, guarded at the library's boundary.
//
// Hosts run with all sorts of x87 control words: other rounding modes, other
// precisions, and exceptions unmasked (0x1332 unmasks invalid operation, zero
// divide and overflow). Every entry that computes with floating point does so
// under UnderLibraryFpu: the platform's default control word (all exceptions
// masked, double precision, round to nearest), then the host's own word given
// back with no exception left pending. Floating-point arguments reach the
// library as bits (see exports.h), so nothing touches the x87 unit before the
// guard is in place.
#pragma once

#include <stdint.h>

#if defined(__i386__)

inline uint16_t FpuEnter() {
    uint16_t host;
    const uint16_t library = 0x027F;
    __asm__ __volatile__("fnstcw %0\n\tfldcw %1" : "=m"(host) : "m"(library) : "memory");
    return host;
}

inline void FpuLeave(uint16_t host) {
    __asm__ __volatile__("fnclex\n\tfldcw %0" : : "m"(host) : "memory");
}

#else

inline uint16_t FpuEnter() { return 0; }
inline void FpuLeave(uint16_t) {}

#endif

// Runs body() under the library's control word and returns its result.
template <typename Result, typename Body> Result UnderLibraryFpu(Body body) {
    const uint16_t host = FpuEnter();
    const Result result = body();
    FpuLeave(host);
    return result;
}
