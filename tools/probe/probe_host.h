// Loading a tarvel deliverable as a host program does: by file, its exports
// found by name. Shared by tarvel-probe and the benchmark.
//
// Only the stdcall family is used: on 32-bit x86 its pointers carry the
// stdcall attribute, and on 64-bit targets every convention is the plain
// one, so one set of declarations serves every build.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#if defined(__i386__)
#define PROBE_STDCALL __attribute__((stdcall))
#else
#define PROBE_STDCALL
#endif

namespace probe {

// -777 is what a reading without a value answers.
constexpr double NoValue = -777.0;

struct Deliverable {
    void *library = nullptr;
    const char *(PROBE_STDCALL *title)() = nullptr;                 // stdtitre
    const char *(PROBE_STDCALL *detail)() = nullptr;                // stddetail
    const char *(PROBE_STDCALL *channelName)(int32_t) = nullptr;    // stdnead
    const char *(PROBE_STDCALL *integerChannel)(int32_t) = nullptr; // stdnea
    double(PROBE_STDCALL *read)(int32_t) = nullptr;                 // stdead
};

// "tarvel_3.dll" on Windows, "tarvel_3.so" elsewhere.
std::string LibraryFileName(int port);

// The folder beside the five deliverables that holds those of further ports.
constexpr char MorePorts[] = "more-ports";

// Where deliverable tarvel_<port> is: next to the running program or in the
// more-ports folder there, else in the current directory or its more-ports
// folder; the empty text when it is in none.
std::string FindLibrary(int port);

// The ports a scan tries, in increasing order: 1 to 5, and every N of a
// tarvel_N (N up to 255) next to the running program or in its more-ports
// folder.
std::vector<int> PortsToScan();

// Loads the library at path and resolves its exports. On failure returns
// false with one line in *error and leaves nothing loaded.
bool Load(const std::string &path, Deliverable *deliverable, std::string *error);
void Unload(Deliverable *deliverable);

// Milliseconds on a steady clock; CPU time (user + system) of this process.
double NowMs();
double CpuMs();
void SleepMs(double ms);

} // namespace probe
