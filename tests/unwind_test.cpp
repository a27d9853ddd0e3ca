// 64-bit Windows: an exception raised inside a deliverable reaches the
// host's own handler. The host calls psad with an address that cannot be
// read, inside a structured exception handler's scope (seh_call.S); the
// access violation is raised in psad's frame, below the host's, so the
// system finds the host's handler, and resumes there, only by unwinding
// psad's frame with the library's unwind data. Windows takes a function
// without unwind data for a leaf, its return address at RSP, and gets lost
// (seh_call poisons that stack); Wine is more forgiving, so the filter also
// unwinds the fault the way Windows does and checks that it leads back to
// the host. The meter on com1: is simulated.
#include <gtest/gtest.h>
#include <windows.h>

#include <cstdint>

#include "exports.h"
#include "host.h"

extern "C" int seh_call(void *function, uint64_t first, uint64_t second);
extern "C" const char seh_call_returned[];

namespace {

void *Library = nullptr;

// Where a loaded module's image lies.
bool InImage(void *module, uintptr_t address) {
    const auto base = reinterpret_cast<uintptr_t>(module);
    const auto dos = reinterpret_cast<const IMAGE_DOS_HEADER *>(base);
    const auto nt = reinterpret_cast<const IMAGE_NT_HEADERS *>(base + dos->e_lfanew);
    return address >= base && address < base + nt->OptionalHeader.SizeOfImage;
}

// Unwinds the library's frames of a context as 64-bit Windows does: by
// each function's unwind data, a function without any taken for a leaf.
// Answers the first address outside the library.
uintptr_t UnwoundOutOfTheLibrary(CONTEXT context) {
    for (int frames = 0; frames < 32 && InImage(Library, context.Rip); ++frames) {
        DWORD64 base = 0;
        PRUNTIME_FUNCTION function = RtlLookupFunctionEntry(context.Rip, &base, nullptr);
        if (function == nullptr) {
            context.Rip = *reinterpret_cast<const DWORD64 *>(context.Rsp);
            context.Rsp += 8;
            continue;
        }
        void *handlerData = nullptr;
        DWORD64 frame = 0;
        RtlVirtualUnwind(UNW_FLAG_NHANDLER, base, context.Rip, function, &context, &handlerData,
                         &frame, nullptr);
    }
    return context.Rip;
}

// What the host's filter saw of the last exception.
struct Fault {
    DWORD code = 0;
    uintptr_t at = 0;        // where it was raised
    uintptr_t address = 0;   // the address the faulting access used
    uintptr_t unwoundTo = 0; // where Windows's unwinding leaves the library
};
Fault Last;

} // namespace

// The scope's filter, called while the library's frame is still on the
// stack: records the exception and has the host's handler run.
extern "C" LONG seh_filter(EXCEPTION_POINTERS *pointers, void *) {
    const EXCEPTION_RECORD *record = pointers->ExceptionRecord;
    Last.code = record->ExceptionCode;
    Last.at = reinterpret_cast<uintptr_t>(record->ExceptionAddress);
    if (record->NumberParameters >= 2)
        Last.address = record->ExceptionInformation[1];
    Last.unwoundTo = UnwoundOutOfTheLibrary(*pointers->ContextRecord);
    return EXCEPTION_EXECUTE_HANDLER;
}

namespace {

TEST(Unwind, AccessViolationInTheLibraryReachesTheHostsHandler) {
    host::SetMeter(1, "ph=7.02\nmv=-123\n");
    void *library = Library = host::Load(host::LibraryPath(1));
    ASSERT_NE(library, nullptr) << host::LibraryPath(1);
    void *setByAddress = host::Find(library, "psad");
    const auto read = host::Export<decltype(&ead)>(library, "ead");
    ASSERT_NE(setByAddress, nullptr);
    ASSERT_NE(read, nullptr);

    const double value = 3.0;
    EXPECT_EQ(seh_call(setByAddress, 0, reinterpret_cast<uintptr_t>(&value)), 0)
        << "a good address";
    // Several times: a frame unwound to the wrong place would not survive
    // the next round.
    const uintptr_t unreadable[] = {0x10, 0xFFF8, 0x7FF8};
    for (const uintptr_t bad : unreadable) {
        Last = Fault();
        ASSERT_EQ(seh_call(setByAddress, 1, bad), 1) << "psad returned from reading " << bad;
        EXPECT_EQ(Last.code, static_cast<DWORD>(EXCEPTION_ACCESS_VIOLATION));
        EXPECT_EQ(Last.address, bad);
        EXPECT_TRUE(InImage(library, Last.at)) << "raised outside the library";
        EXPECT_EQ(Last.unwoundTo, reinterpret_cast<uintptr_t>(seh_call_returned))
            << "unwound the way Windows does, the library's frames do not lead back to the host";
    }
    // The library goes on answering.
    EXPECT_EQ(read(0), 7.02);
    EXPECT_EQ(*host::Export<decltype(&psad)>(library, "psad")(0, &value), -777.0);
    host::Unload(library);
}

} // namespace
