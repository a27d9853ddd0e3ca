// Loading a tarvel deliverable as a host program does: by file, its exports
// found by name. Shared by tarvel-probe and the benchmark. Plain C-style
// code: no heap, no C++ runtime, so that the probe needs none.
//
// Only the stdcall family is used: on 32-bit x86 its pointers carry the
// stdcall attribute, and on 64-bit targets every convention is the plain
// one, so one set of declarations serves every build.
#pragma once

#include <stddef.h>
#include <stdint.h>

#if defined(__i386__)
#define PROBE_STDCALL __attribute__((stdcall))
#else
#define PROBE_STDCALL
#endif

namespace probe {

// -777 is what a reading without a value answers.
constexpr double NoValue = -777.0;

// Room for a path, and for a one-line message that names one.
constexpr size_t PathSize = 4096;
constexpr size_t ErrorSize = 2 * PathSize;
// Room for a deliverable's file name.
constexpr size_t NameSize = 32;
// Ports 1 to 255.
constexpr int MaxPort = 255;

struct Deliverable {
    void *library = nullptr;
    const char *(PROBE_STDCALL *title)() = nullptr;                 // stdtitre
    const char *(PROBE_STDCALL *detail)() = nullptr;                // stddetail
    const char *(PROBE_STDCALL *channelName)(int32_t) = nullptr;    // stdnead
    const char *(PROBE_STDCALL *integerChannel)(int32_t) = nullptr; // stdnea
    double(PROBE_STDCALL *read)(int32_t) = nullptr;                 // stdead
};

// "tarvel_3.dll" on Windows, "tarvel_3.so" elsewhere, into name[NameSize].
void LibraryFileName(int port, char *name);

// The folder beside the five deliverables that holds those of further ports.
constexpr char MorePorts[] = "more-ports";

// Where deliverable tarvel_<port> is, into path[PathSize]: next to the
// running program or in the more-ports folder there, else in the current
// directory or its more-ports folder. False when it is in none.
bool FindLibrary(int port, char *path);

// The ports a scan tries, in increasing order, into ports[MaxPort]; returns
// how many: 1 to 5, and every N of a tarvel_N (N up to 255) next to the
// running program or in its more-ports folder.
int PortsToScan(int *ports);

// Loads the library at path and resolves its exports. On Windows the library
// is loaded by its full path, never searched for: the file loaded is the one
// path names from the current directory. On failure returns false with one
// line in error[ErrorSize] and leaves nothing loaded.
bool Load(const char *path, Deliverable *deliverable, char *error);
void Unload(Deliverable *deliverable);

} // namespace probe
