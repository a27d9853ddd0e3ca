// Where tarvel-probe starts. On Windows that is its own entry point, as for
// the deliverables: no C or C++ runtime start-up, so that the program carries
// no runtime of its own and imports only what Windows XP has. msvcrt.dll
// (loaded and set up by Windows as the program's import) splits the command
// line, as it does for any program built on it.
#include "probe.h"

#if defined(_WIN32)

#include <windows.h>

#include <stdio.h>

// msvcrt.dll's own splitting of the command line into argc and argv.
struct StartupInfo {
    int newMode;
};
extern "C" int __cdecl __getmainargs(int *argc, char ***argv, char ***environment, int wildcards,
                                     StartupInfo *info);

#if defined(__i386__)
// Windows enters with the stack aligned to 4 bytes only.
#define PROBE_ENTRY __attribute__((force_align_arg_pointer))
#else
#define PROBE_ENTRY
#endif

// Nothing is run at exit: the program ends by ExitProcess. The one caller,
// mingw-w64's printf and strtod, registers the freeing of its locks, which
// go with the process.
extern "C" int __cdecl atexit(void(__cdecl *)()) { return 0; }

extern "C" PROBE_ENTRY void ProbeStart() {
    int argc = 0;
    char **argv = nullptr;
    char **environment = nullptr;
    StartupInfo info = {0};
    // No wildcard expansion: an argument is taken as written.
    const int split = __getmainargs(&argc, &argv, &environment, 0, &info);
    const int status = split < 0 ? 2 : probe::Main(argc, argv);
    // ExitProcess runs no C runtime exit code: what stdio still holds (a CSV
    // file, a redirected stdout) is written now.
    fflush(nullptr);
    ExitProcess(static_cast<UINT>(status));
}

#else

int main(int argc, char **argv) { return probe::Main(argc, argv); }

#endif
