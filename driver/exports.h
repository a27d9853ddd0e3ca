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

#include <cstdint>

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

extern "C" {

// Native family, register convention. Channel 0 is the pH, channel 1 the
// electrode potential in mV.
TARVEL_EXPORT int32_t REGISTER_CALL ea(int32_t n);       // pH*100 or whole mV
TARVEL_EXPORT const char *REGISTER_CALL nea(int32_t n);  // "pH*100", "mV"
TARVEL_EXPORT double REGISTER_CALL ead(int32_t n);       // pH or mV
TARVEL_EXPORT const char *REGISTER_CALL nead(int32_t n); // "pH", "mV"
TARVEL_EXPORT int32_t REGISTER_CALL sa(int32_t n, int32_t value);
TARVEL_EXPORT const char *REGISTER_CALL nsa(int32_t n);
TARVEL_EXPORT double REGISTER_CALL sad(int32_t n, double value);
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
TARVEL_EXPORT double STD_CALL stdsad(int32_t n, double value);
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
TARVEL_EXPORT float STD_CALL stdsas(int32_t n, float value);

// Double family, register convention: every argument a double on the stack.
// A channel is the double rounded half to even; one without an integer
// rounding (not a number, infinite, beyond 64 bits) answers -777.0 or the
// empty text at once.
TARVEL_EXPORT double REGISTER_CALL eadouble(double n);
TARVEL_EXPORT const char *REGISTER_CALL neadouble(double n);
TARVEL_EXPORT double REGISTER_CALL sadouble(REGISTER_STACK_ARGS(double n, double value));
TARVEL_EXPORT const char *REGISTER_CALL nsadouble(double n);
TARVEL_EXPORT double REGISTER_CALL rsadouble(double n);
TARVEL_EXPORT double REGISTER_CALL ebdouble(double n);
TARVEL_EXPORT const char *REGISTER_CALL nebdouble(double n);
TARVEL_EXPORT double REGISTER_CALL sbdouble(REGISTER_STACK_ARGS(double n, double value));
TARVEL_EXPORT const char *REGISTER_CALL nsbdouble(double n);
TARVEL_EXPORT double REGISTER_CALL rsbdouble(double n);

// Std-double family: the double family in stdcall.
TARVEL_EXPORT double STD_CALL stdeadouble(double n);
TARVEL_EXPORT const char *STD_CALL stdneadouble(double n);
TARVEL_EXPORT double STD_CALL stdsadouble(double n, double value);
TARVEL_EXPORT const char *STD_CALL stdnsadouble(double n);
TARVEL_EXPORT double STD_CALL stdrsadouble(double n);
TARVEL_EXPORT double STD_CALL stdebdouble(double n);
TARVEL_EXPORT const char *STD_CALL stdnebdouble(double n);
TARVEL_EXPORT double STD_CALL stdsbdouble(double n, double value);
TARVEL_EXPORT const char *STD_CALL stdnsbdouble(double n);
TARVEL_EXPORT double STD_CALL stdrsbdouble(double n);

} // extern "C"
