// The host's x87 floating-point unit.
//
// Hosts run with all sorts of x87 control words: other rounding modes, other
// precisions, and exceptions unmasked (0x1332 unmasks invalid operation, zero
// divide and overflow). Each entry that computes with floating point runs
// under the platform's default control word (all exceptions masked, double
// precision, round to nearest) and gives the host back its own word, with no
// exception left pending.
#pragma once

#include <cstdint>

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
