// Serial line on the Windows communications API (kernel32).
#include <windows.h>

#include <cstring>

#include "line_assembly.h"
#include "ucommw32.h"

namespace {

HANDLE PortHandle = INVALID_HANDLE_VALUE;
char NameBuffer[81];
std::string SettingsCopy;
DCB ControlBlock;
COMMTIMEOUTS TimeoutRecord;
DWORD ErrorFlags;
COMSTAT Status;

// Set when a call on the port fails: the device is missing (under Wine such
// a port still opens, as a placeholder whose every call fails) or has gone.
bool PortFailed = true;

void Check(BOOL succeeded) {
    if (!succeeded)
        PortFailed = true;
}

// Some mode-string parsers reject a trailing blank and leave the control
// block as it was, so the line would keep its old speed.
std::string Trimmed(const std::string &text) {
    const size_t first = text.find_first_not_of(' ');
    if (first == std::string::npos)
        return std::string();
    return text.substr(first, text.find_last_not_of(' ') - first + 1);
}

// Milliseconds from the performance counter: GetTickCount moves in steps of
// 10 to 16 ms, too coarse to tell a quiet line from one still receiving the
// rest of a reply (a byte takes 4.2 ms at 2400 baud). Wraps like it, too.
uint32_t Ticks() {
    static LARGE_INTEGER frequency;
    if (frequency.QuadPart == 0)
        QueryPerformanceFrequency(&frequency);
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.QuadPart) * 1000u /
                                 static_cast<uint64_t>(frequency.QuadPart));
}

bool ReadByte(char *byte) {
    DWORD count = 0;
    return ReadFile(PortHandle, byte, 1, &count, nullptr) && count == 1;
}

void Purge();
void WaitForInput(uint32_t maxMs);

LineSource PortLineSource = {Ticks, BytesWaiting, ReadByte, Purge, 0, false, WaitForInput};

} // namespace

void OpenPort() {
    std::strncpy(NameBuffer, PortName.c_str(), sizeof NameBuffer - 1);
    NameBuffer[sizeof NameBuffer - 1] = '\0';
    PortHandle = CreateFileA(NameBuffer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    PortFailed = PortHandle == INVALID_HANDLE_VALUE;

    Check(SetupComm(PortHandle, 256, 256));

    std::memset(&ControlBlock, 0, sizeof ControlBlock);
    ControlBlock.DCBlength = sizeof ControlBlock;
    Check(GetCommState(PortHandle, &ControlBlock));
    SettingsCopy = Trimmed(PortSettings);
    BuildCommDCBA(SettingsCopy.c_str(), &ControlBlock);
    // No flow control of any kind: the meter uses none, and a port left with
    // hardware or XON/XOFF handshaking from an earlier program would stall.
    ControlBlock.fBinary = TRUE;
    ControlBlock.fOutxCtsFlow = FALSE;
    ControlBlock.fOutxDsrFlow = FALSE;
    ControlBlock.fDtrControl = DTR_CONTROL_ENABLE;
    ControlBlock.fDsrSensitivity = FALSE;
    ControlBlock.fOutX = FALSE;
    ControlBlock.fInX = FALSE;
    ControlBlock.fRtsControl = RTS_CONTROL_ENABLE;
    ControlBlock.fAbortOnError = FALSE;
    Check(SetCommState(PortHandle, &ControlBlock));

    TimeoutRecord.ReadIntervalTimeout = 0;
    TimeoutRecord.ReadTotalTimeoutMultiplier = 0;
    TimeoutRecord.ReadTotalTimeoutConstant = TimeoutMs;
    TimeoutRecord.WriteTotalTimeoutMultiplier = 0;
    TimeoutRecord.WriteTotalTimeoutConstant = TimeoutMs;
    Check(SetCommTimeouts(PortHandle, &TimeoutRecord));
}

void ClosePort() {
    if (PortHandle != INVALID_HANDLE_VALUE)
        CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
    PortFailed = true;
}

bool PortUsable() { return !PortFailed; }

void WriteText(const std::string &text) {
    DWORD written = 0;
    Check(WriteFile(PortHandle, text.data(), static_cast<DWORD>(text.size()), &written, nullptr));
}

uint16_t BytesWaiting() {
    std::memset(&Status, 0, sizeof Status);
    Check(ClearCommError(PortHandle, &ErrorFlags, &Status));
    return static_cast<uint16_t>(Status.cbInQue);
}

namespace {
void Purge() { Check(PurgeComm(PortHandle, PURGE_RXCLEAR)); }

// A non-overlapped port offers no bounded wait for input: give the rest of
// the time slice to whoever is ready (the program feeding the line, often).
void WaitForInput(uint32_t) { SwitchToThread(); }
} // namespace

void DiscardInput() { DropStaleInput(PortLineSource, QuietMs, TimeoutMs); }

std::string ReadLine() { return AssembleLine(PortLineSource, TimeoutMs); }
