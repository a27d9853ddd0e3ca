// The host's floating-point state, guarded at the library's boundary.
//
// Hosts run with all sorts of x87 control words and MXCSR settings: other
// rounding modes, other precisions, and exceptions unmasked (0x1332 unmasks
// invalid operation, zero divide and overflow on the x87 unit). Every entry
// that computes with floating point does so under UnderLibraryFpu: the
// platform's default modes (all exceptions masked, double precision, round to
// nearest), then the host's own state given back whole: its control word,
// its status flags (the sticky exception bits it had collected before the
// call included) and, on x86-64, its MXCSR. Whatever the library's own
// arithmetic raised is dropped with the library's flags, so nothing is left
// pending for the host. Floating-point arguments reach the library as bits
// (see exports.h), so nothing touches the x87 unit before the guard is in
// place.
#pragma once

#include <stdint.h>

#if defined(__i386__)

// The x87 environment as fnstenv stores it in 32-bit mode: seven words, the
// control, status and tag words in the low halves of the first three.
struct FpuEnvironment {
    uint32_t control, status, tag, pointers[4];
};

struct HostFpu {
    uint16_t control, status;
};

// The status word's TOP field: which register is the top of the x87 stack.
// It belongs to the stack as the library leaves it, not to the host's flags.
constexpr uint16_t FpuStackTop = 0x3800;

inline HostFpu FpuEnter() {
    HostFpu host;
    const uint16_t library = 0x027F;
    __asm__ __volatile__("fnstcw %0\n\tfnstsw %1\n\tfldcw %2"
                         : "=m"(host.control), "=m"(host.status)
                         : "m"(library)
                         : "memory");
    return host;
}

// Loads the host's control word and status flags together, over the stack
// as it is now (a floating result may be on it), so that no flag raised by
// the library's arithmetic ever meets the host's unmasked exceptions.
inline void FpuLeave(HostFpu host) {
    FpuEnvironment now;
    __asm__ __volatile__("fnstenv %0" : "=m"(now) : : "memory");
    now.control = (now.control & 0xFFFF0000u) | host.control;
    now.status = (now.status & 0xFFFF0000u) | (now.status & FpuStackTop) |
                 (host.status & static_cast<uint16_t>(~FpuStackTop));
    __asm__ __volatile__("fldenv %0" : : "m"(now) : "memory");
}

#elif defined(__x86_64__)

// On x86-64 the arithmetic is SSE's: the host's MXCSR, flags and all, is
// kept aside and the library computes under the default (every exception
// masked, round to nearest, no flush to zero).
struct HostFpu {
    uint32_t mxcsr;
};

inline HostFpu FpuEnter() {
    HostFpu host;
    const uint32_t library = 0x1F80;
    __asm__ __volatile__("stmxcsr %0\n\tldmxcsr %1" : "=m"(host.mxcsr) : "m"(library) : "memory");
    return host;
}

inline void FpuLeave(HostFpu host) {
    __asm__ __volatile__("ldmxcsr %0" : : "m"(host.mxcsr) : "memory");
}

#else

struct HostFpu {};
inline HostFpu FpuEnter() { return HostFpu(); }
inline void FpuLeave(HostFpu) {}

#endif

// x as if the guard had just written it: arithmetic on an argument that
// goes through here cannot be scheduled before the library's modes are in
// place (the compiler keeps volatile asm statements in their order).
template <typename T> inline T Guarded(T x) {
    __asm__ __volatile__("" : "+m"(x));
    return x;
}

// Makes sure x has been computed before the host's modes return. A floating
// result on i386 stays where it is returned, on top of the x87 stack: loading
// it again under the host's precision would be exact on a processor but is
// rounded by some emulators.
template <typename T> inline void Complete(T &x) { __asm__ __volatile__("" : "+m"(x)); }
#if defined(__i386__)
inline void Complete(double &x) { __asm__ __volatile__("" : "+t"(x)); }
inline void Complete(float &x) { __asm__ __volatile__("" : "+t"(x)); }
#endif

// Runs body() under the library's floating-point modes and returns its
// result. A body that computes with an argument of its own (rather than
// with what it calls) takes the argument through Guarded.
template <typename Result, typename Body> Result UnderLibraryFpu(Body body) {
    const HostFpu host = FpuEnter();
    Result result = body();
    Complete(result);
    FpuLeave(host);
    return result;
}
