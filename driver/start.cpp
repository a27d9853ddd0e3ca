// Start-up and shut-down of the library: bind the serial line to this
// deliverable's port and open it when a process loads the library; release
// the port when it is unloaded, so that loading it again can open it again.
// Nothing is sent at load, and the load succeeds whether or not the port
// could be opened.
#include "deliverable.h"
#include "reading.h"
#include "reading_turn.h"
#include "ucommw32.h"

namespace {

const char LineSettings[] = "baud=2400 parity=n data=8 stop=1 ";

void LibraryStart() {
    PortName = DeliverablePortName;
    PortSettings = LineSettings;
    StartReadingTurns();
    OpenPort();
}

} // namespace

#if defined(_WIN32)

#include <windows.h>

// The DLL's entry point itself: the library needs no C runtime start-up (it
// has no constructors, no heap and no threads), so the loader calls this
// directly.
// At detach, `ending` is non-null when the process is ending rather than
// the host unloading the library.
extern "C" BOOL WINAPI DllEntry(HINSTANCE library, DWORD reason, LPVOID ending) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(library);
        LibraryStart();
    } else if (reason == DLL_PROCESS_DETACH) {
        if (ending != nullptr)
            StopReadingsAtExit();
        else
            StopReadings();
    }
    return TRUE;
}

#else

__attribute__((constructor)) static void LoadLibrary() { LibraryStart(); }
__attribute__((destructor)) static void UnloadLibrary() { StopReadings(); }

#endif
