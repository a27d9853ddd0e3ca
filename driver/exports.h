// The library's exported channel interface: 58 names, the same operations in
// four calling conventions.
//
// Register convention (native and double families): the first three 32-bit
// arguments travel in EAX, EDX and ECX; doubles and singles are pushed on
// the stack first to last, so the first lies at the highest address, and the
// callee removes them. GCC's regparm(3) lays stack arguments out the other
// way round, so entries with two stack arguments list them in reverse here.
// Stdcall (std and std-double families): everything pushed last first, the
// callee removes it. Results: 32-bit values in EAX, floating point on top of
// the x87 stack.
//
// Texts are static Windows-1252 texts owned by the library; the empty text
// names a channel that does not exist. -777 (or -777.0) is the answer that
// has no value.
#pragma once

#include <stdint.h>

#if defined(__i386__)
#define REGISTER_CALL __attribute__((regparm(3), stdcall))
#define STD_CALL __attribute__((stdcall))
#define REGISTER_STACK_ARGS(first, second) second, first
#else
#define REGISTER_CALL
#define STD_CALL
#define REGISTER_STACK_ARGS(first, second) first, second
#endif

#if defined(_WIN32)
#define TARVEL_EXPORT
#else
#define TARVEL_EXPORT __attribute__((visibility("default")))
#endif

// Floating-point arguments as the library itself receives them on 32-bit x86:
// the same bytes in the same stack slots as a double or a single, but typed
// as integers, so that the compiler moves them with integer instructions.
// Loading a signalling NaN onto the x87 stack would raise an exception in a
// host that unmasks them before the library could mask it. Hosts (and the
// tests) see plain double and float.
//
// GCC would pass such an 8-byte structure in registers under regparm(3), so
// the library declares the register-convention entries that take doubles
// with only as many registers as they have 32-bit arguments before the
// doubles (REGISTER_CALL_WITH_DOUBLES(1) for sad, 0 for the double family):
// the same layout as REGISTER_CALL with real doubles.
#if defined(__i386__) && defined(TARVEL_LIBRARY)
struct DoubleArg {
    uint32_t low, high;
};
struct SingleArg {
    uint32_t bits;
};
#define REGISTER_CALL_WITH_DOUBLES(registers) __attribute__((regparm(registers), stdcall))
#else
typedef double DoubleArg;
typedef float SingleArg;
#define REGISTER_CALL_WITH_DOUBLES(registers) REGISTER_CALL
#endif

extern "C" {

// Native family, register convention. Channel 0 is the pH, channel 1 the
// electrode potential in mV.
TARVEL_EXPORT int32_t REGISTER_CALL ea(int32_t n);       // pH*100 or whole mV
TARVEL_EXPORT const char *REGISTER_CALL nea(int32_t n);  // "pH*100", "mV"
TARVEL_EXPORT double REGISTER_CALL ead(int32_t n);       // pH or mV
TARVEL_EXPORT const char *REGISTER_CALL nead(int32_t n); // "pH", "mV"
TARVEL_EXPORT int32_t REGISTER_CALL sa(int32_t n, int32_t value);
TARVEL_EXPORT const char *REGISTER_CALL nsa(int32_t n);
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(1) sad(int32_t n, DoubleArg value);
TARVEL_EXPORT const char *REGISTER_CALL nsad(int32_t n);
TARVEL_EXPORT int32_t REGISTER_CALL rsa(int32_t n);
TARVEL_EXPORT double REGISTER_CALL rsad(int32_t n);
TARVEL_EXPORT int32_t REGISTER_CALL eb(int32_t n);
TARVEL_EXPORT const char *REGISTER_CALL neb(int32_t n);
TARVEL_EXPORT int32_t REGISTER_CALL sb(int32_t n, int32_t value);
TARVEL_EXPORT const char *REGISTER_CALL nsb(int32_t n);
TARVEL_EXPORT int32_t REGISTER_CALL rsb(int32_t n);
TARVEL_EXPORT const char *REGISTER_CALL titre();
TARVEL_EXPORT const char *REGISTER_CALL detail();
TARVEL_EXPORT const double *REGISTER_CALL pead(int32_t n);
TARVEL_EXPORT const double *REGISTER_CALL psad(int32_t n, const double *value);

// Std family, stdcall.
TARVEL_EXPORT int32_t STD_CALL stdea(int32_t n);
TARVEL_EXPORT const char *STD_CALL stdnea(int32_t n);
TARVEL_EXPORT double STD_CALL stdead(int32_t n);
TARVEL_EXPORT const char *STD_CALL stdnead(int32_t n);
TARVEL_EXPORT int32_t STD_CALL stdsa(int32_t n, int32_t value);
TARVEL_EXPORT const char *STD_CALL stdnsa(int32_t n);
TARVEL_EXPORT double STD_CALL stdsad(int32_t n, DoubleArg value);
TARVEL_EXPORT const char *STD_CALL stdnsad(int32_t n);
TARVEL_EXPORT double STD_CALL stdrsad(int32_t n);
TARVEL_EXPORT int32_t STD_CALL stdeb(int32_t n);
TARVEL_EXPORT const char *STD_CALL stdneb(int32_t n);
TARVEL_EXPORT int32_t STD_CALL stdsb(int32_t n, int32_t value);
TARVEL_EXPORT const char *STD_CALL stdnsb(int32_t n);
TARVEL_EXPORT int32_t STD_CALL stdrsb(int32_t n);
TARVEL_EXPORT const char *STD_CALL stdtitre();
TARVEL_EXPORT const char *STD_CALL stddetail();
TARVEL_EXPORT float STD_CALL stdeas(int32_t n);
TARVEL_EXPORT float STD_CALL stdrsas(int32_t n);
TARVEL_EXPORT float STD_CALL stdsas(int32_t n, SingleArg value);

// Double family, register convention: every argument a double on the stack.
// A channel is the double rounded half to even; one without an integer
// rounding (not a number, infinite, beyond 64 bits) answers -777.0 or the
// empty text at once.
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(0) eadouble(DoubleArg n);
TARVEL_EXPORT const char *REGISTER_CALL_WITH_DOUBLES(0) neadouble(DoubleArg n);
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(0)
    sadouble(REGISTER_STACK_ARGS(DoubleArg n, DoubleArg value));
TARVEL_EXPORT const char *REGISTER_CALL_WITH_DOUBLES(0) nsadouble(DoubleArg n);
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(0) rsadouble(DoubleArg n);
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(0) ebdouble(DoubleArg n);
TARVEL_EXPORT const char *REGISTER_CALL_WITH_DOUBLES(0) nebdouble(DoubleArg n);
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(0)
    sbdouble(REGISTER_STACK_ARGS(DoubleArg n, DoubleArg value));
TARVEL_EXPORT const char *REGISTER_CALL_WITH_DOUBLES(0) nsbdouble(DoubleArg n);
TARVEL_EXPORT double REGISTER_CALL_WITH_DOUBLES(0) rsbdouble(DoubleArg n);

// Std-double family: the double family in stdcall.
TARVEL_EXPORT double STD_CALL stdeadouble(DoubleArg n);
TARVEL_EXPORT const char *STD_CALL stdneadouble(DoubleArg n);
TARVEL_EXPORT double STD_CALL stdsadouble(DoubleArg n, DoubleArg value);
TARVEL_EXPORT const char *STD_CALL stdnsadouble(DoubleArg n);
TARVEL_EXPORT double STD_CALL stdrsadouble(DoubleArg n);
TARVEL_EXPORT double STD_CALL stdebdouble(DoubleArg n);
TARVEL_EXPORT const char *STD_CALL stdnebdouble(DoubleArg n);
TARVEL_EXPORT double STD_CALL stdsbdouble(DoubleArg n, DoubleArg value);
TARVEL_EXPORT const char *STD_CALL stdnsbdouble(DoubleArg n);
TARVEL_EXPORT double STD_CALL stdrsbdouble(DoubleArg n);

} // extern "C"
