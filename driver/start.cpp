// Start-up and shut-down of the library: bind the serial line to this
// deliverable's port and open it when a process loads the library; release
// the port when it is unloaded, so that loading it again can open it again.
// Nothing is sent at load, and the load succeeds whether or not the port
// could be opened.
#include "deliverable.h"
#include "ucommw32.h"

namespace {

const char LineSettings[] = "baud=2400 parity=n data=8 stop=1 ";

void LibraryStart() {
    PortName = DeliverablePortName;
    PortSettings = LineSettings;
    OpenPort();
}

void LibraryStop() { ClosePort(); }

} // namespace

#if defined(_WIN32)

#include <windows.h>

extern "C" BOOL WINAPI DllMain(HINSTANCE library, DWORD reason, LPVOID) {
    if (reason == DLL_PROCESS_ATTACH) {
        DisableThreadLibraryCalls(library);
        LibraryStart();
    } else if (reason == DLL_PROCESS_DETACH) {
        LibraryStop();
    }
    return TRUE;
}

#else

// The serial unit's texts are initialised before any default-priority
// constructor (see settings.cpp), so these may use them.
__attribute__((constructor)) static void LoadLibrary() { LibraryStart(); }
__attribute__((destructor)) static void UnloadLibrary() { LibraryStop(); }

#endif
