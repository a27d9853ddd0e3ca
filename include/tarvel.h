/* tarvel.h: the PHN130T pH meter driver for C and C++ hosts.
 *
 * The driver is five Windows DLLs, tarvel_1.dll ... tarvel_5.dll, one per
 * serial port com1: ... com5: (and tarvel_6.dll ... in the package's
 * more-ports folder for the ports above), each exporting the same entries by
 * name: 32-bit ones in the package's top folder for 32-bit hosts, 64-bit ones
 * in its x64 folder for 64-bit hosts (a process loads only DLLs of its own
 * bitness).
 * A host loads the one of its port with LoadLibrary and takes the entries
 * with GetProcAddress (TARVEL_ENTRY below); this header gives the type of
 * each entry. Channel 0 is the pH, channel 1 the electrode potential in mV.
 *
 * Conventions of 32-bit hosts (the top folder's DLLs). The std family
 * (stdea ... stdsas) and the std-double family
 * (stdeadouble ... stdrsbdouble) are stdcall, which every Windows C compiler
 * knows as __stdcall: use them. The native family (ea ... psad) and the
 * double family (eadouble ... rsbdouble) use Delphi's register convention:
 * the first three 32-bit arguments in EAX, EDX and ECX, doubles pushed on the
 * stack in declaration order, the callee removes them. MSVC has no
 * equivalent (its __fastcall uses ECX and EDX), so under 32-bit MSVC those
 * entries are not declared here. GCC and Clang can call them as
 * __attribute__((regparm(3), stdcall)), declared below for those compilers;
 * but where an entry has two doubles on the stack (sadouble, sbdouble) GCC
 * lays them out the other way round, so there their types list the value
 * first and the channel second.
 *
 * 64-bit hosts (x64 DLLs). x64 Windows has one calling convention: every
 * family, the native and double ones included, is a plain call with the same
 * arguments in their declared order and the same results, for every
 * compiler, MSVC too. TARVEL_STDCALL and TARVEL_REGISTER mean nothing there.
 *
 * Texts. Every text an entry returns is a static, zero-terminated
 * Windows-1252 string owned by the DLL ("phm\xe8tre PHN130T,com1:" is the
 * title of tarvel_1.dll): read or copy it, never free or modify it. The
 * empty text names a channel that does not exist.
 *
 * No value. A reading without a value answers NOT_AVAILABLE: -777 from the
 * integer entries, -777.0 from the floating-point ones.
 *
 * Threads. Every entry may be called from any thread, several at once.
 * Readings of one DLL take turns, each with its own query and reply; one
 * that arrives during others waits for each of them. A reading takes about
 * 80 ms, 1 s without an answer (1.26 to 1.32 s right after one without answer), and
 * up to 3.1 s on a line that keeps sending noise. Names and texts never
 * wait. Different DLLs are independent. */
#ifndef TARVEL_H
#define TARVEL_H

#include <stdint.h>

#ifndef NOT_AVAILABLE
#define NOT_AVAILABLE (-777)
#endif

/* TARVEL_STDCALL for the std families; TARVEL_REGISTER, where the compiler
 * can make the call, for the native and double families. */
#if defined(_WIN64) || defined(__x86_64__)
#define TARVEL_STDCALL
#define TARVEL_REGISTER
#define TARVEL_TWO_DOUBLES(n, value) n, value
#elif defined(__GNUC__) && defined(__i386__)
#define TARVEL_STDCALL __attribute__((stdcall))
#define TARVEL_REGISTER __attribute__((regparm(3), stdcall))
/* GCC's regparm lays two stack doubles out the other way round. */
#define TARVEL_TWO_DOUBLES(n, value) value, n
#elif defined(_WIN32)
#define TARVEL_STDCALL __stdcall
#else
#define TARVEL_STDCALL
#endif

/* TARVEL_ENTRY(module, name): the entry name of a loaded DLL, typed, or NULL
 * (needs <windows.h>). The cast through void (*)(void) is the one GCC
 * accepts without -Wcast-function-type. */
#define TARVEL_ENTRY(module, name)                                                                 \
    ((tarvel_##name##_fn)(void (*)(void))GetProcAddress((module), #name))

#ifdef __cplusplus
extern "C" {
#endif

/* Std family. */
typedef int32_t(TARVEL_STDCALL *tarvel_stdea_fn)(int32_t n);        /* pH*100 or whole mV */
typedef const char *(TARVEL_STDCALL *tarvel_stdnea_fn)(int32_t n);  /* "pH*100", "mV" */
typedef double(TARVEL_STDCALL *tarvel_stdead_fn)(int32_t n);        /* pH or mV */
typedef const char *(TARVEL_STDCALL *tarvel_stdnead_fn)(int32_t n); /* "pH", "mV" */
typedef int32_t(TARVEL_STDCALL *tarvel_stdsa_fn)(int32_t n, int32_t value);
typedef const char *(TARVEL_STDCALL *tarvel_stdnsa_fn)(int32_t n);
typedef double(TARVEL_STDCALL *tarvel_stdsad_fn)(int32_t n, double value);
typedef const char *(TARVEL_STDCALL *tarvel_stdnsad_fn)(int32_t n);
typedef double(TARVEL_STDCALL *tarvel_stdrsad_fn)(int32_t n);
typedef int32_t(TARVEL_STDCALL *tarvel_stdeb_fn)(int32_t n);
typedef const char *(TARVEL_STDCALL *tarvel_stdneb_fn)(int32_t n);
typedef int32_t(TARVEL_STDCALL *tarvel_stdsb_fn)(int32_t n, int32_t value);
typedef const char *(TARVEL_STDCALL *tarvel_stdnsb_fn)(int32_t n);
typedef int32_t(TARVEL_STDCALL *tarvel_stdrsb_fn)(int32_t n);
typedef const char *(TARVEL_STDCALL *tarvel_stdtitre_fn)(void);
typedef const char *(TARVEL_STDCALL *tarvel_stddetail_fn)(void);
typedef float(TARVEL_STDCALL *tarvel_stdeas_fn)(int32_t n);
typedef float(TARVEL_STDCALL *tarvel_stdrsas_fn)(int32_t n);
typedef float(TARVEL_STDCALL *tarvel_stdsas_fn)(int32_t n, float value);

/* Std-double family: every argument a double; a channel is the double
 * rounded half to even, and one that is not a number answers at once. */
typedef double(TARVEL_STDCALL *tarvel_stdeadouble_fn)(double n);
typedef const char *(TARVEL_STDCALL *tarvel_stdneadouble_fn)(double n);
typedef double(TARVEL_STDCALL *tarvel_stdsadouble_fn)(double n, double value);
typedef const char *(TARVEL_STDCALL *tarvel_stdnsadouble_fn)(double n);
typedef double(TARVEL_STDCALL *tarvel_stdrsadouble_fn)(double n);
typedef double(TARVEL_STDCALL *tarvel_stdebdouble_fn)(double n);
typedef const char *(TARVEL_STDCALL *tarvel_stdnebdouble_fn)(double n);
typedef double(TARVEL_STDCALL *tarvel_stdsbdouble_fn)(double n, double value);
typedef const char *(TARVEL_STDCALL *tarvel_stdnsbdouble_fn)(double n);
typedef double(TARVEL_STDCALL *tarvel_stdrsbdouble_fn)(double n);

#if defined(TARVEL_REGISTER)
/* Native and double families: register convention on 32-bit x86 (GCC and
 * Clang only), plain calls on x64. */

typedef int32_t(TARVEL_REGISTER *tarvel_ea_fn)(int32_t n);
typedef const char *(TARVEL_REGISTER *tarvel_nea_fn)(int32_t n);
typedef double(TARVEL_REGISTER *tarvel_ead_fn)(int32_t n);
typedef const char *(TARVEL_REGISTER *tarvel_nead_fn)(int32_t n);
typedef int32_t(TARVEL_REGISTER *tarvel_sa_fn)(int32_t n, int32_t value);
typedef const char *(TARVEL_REGISTER *tarvel_nsa_fn)(int32_t n);
typedef double(TARVEL_REGISTER *tarvel_sad_fn)(int32_t n, double value);
typedef const char *(TARVEL_REGISTER *tarvel_nsad_fn)(int32_t n);
typedef int32_t(TARVEL_REGISTER *tarvel_rsa_fn)(int32_t n);
typedef double(TARVEL_REGISTER *tarvel_rsad_fn)(int32_t n);
typedef int32_t(TARVEL_REGISTER *tarvel_eb_fn)(int32_t n);
typedef const char *(TARVEL_REGISTER *tarvel_neb_fn)(int32_t n);
typedef int32_t(TARVEL_REGISTER *tarvel_sb_fn)(int32_t n, int32_t value);
typedef const char *(TARVEL_REGISTER *tarvel_nsb_fn)(int32_t n);
typedef int32_t(TARVEL_REGISTER *tarvel_rsb_fn)(int32_t n);
typedef const char *(TARVEL_REGISTER *tarvel_titre_fn)(void);
typedef const char *(TARVEL_REGISTER *tarvel_detail_fn)(void);
/* The address of a static double holding channel n's latest result (one per
 * channel), until the next pead of that channel. */
typedef const double *(TARVEL_REGISTER *tarvel_pead_fn)(int32_t n);
typedef const double *(TARVEL_REGISTER *tarvel_psad_fn)(int32_t n, const double *value);

typedef double(TARVEL_REGISTER *tarvel_eadouble_fn)(double n);
typedef const char *(TARVEL_REGISTER *tarvel_neadouble_fn)(double n);
typedef double(TARVEL_REGISTER *tarvel_sadouble_fn)(TARVEL_TWO_DOUBLES(double n, double value));
typedef const char *(TARVEL_REGISTER *tarvel_nsadouble_fn)(double n);
typedef double(TARVEL_REGISTER *tarvel_rsadouble_fn)(double n);
typedef double(TARVEL_REGISTER *tarvel_ebdouble_fn)(double n);
typedef const char *(TARVEL_REGISTER *tarvel_nebdouble_fn)(double n);
typedef double(TARVEL_REGISTER *tarvel_sbdouble_fn)(TARVEL_TWO_DOUBLES(double n, double value));
typedef const char *(TARVEL_REGISTER *tarvel_nsbdouble_fn)(double n);
typedef double(TARVEL_REGISTER *tarvel_rsbdouble_fn)(double n);
#endif

#ifdef __cplusplus
}
#endif

#endif /* TARVEL_H */
