// Serial line on the Windows communications API (kernel32).
#include <windows.h>

#include <string.h>

#include "counter_ms.h"
#include "line_assembly.h"
#include "ucommw32.h"

namespace {

HANDLE PortHandle = INVALID_HANDLE_VALUE;
char NameBuffer[81];
char SettingsCopy[81];
DCB ControlBlock;
COMMTIMEOUTS TimeoutRecord;
DWORD ErrorFlags;
COMSTAT Status;

// Set when the port could not be opened or its I/O failed (ClearCommError,
// ReadFile, WriteFile): the device is missing (under Wine such a port still
// opens, as a placeholder whose every call fails) or has gone. A failed
// configuration call does not count: some virtual COM drivers refuse a queue
// size or a DCB field and work all the same, and reopening them at every
// reading would toggle DTR and RTS each time.
bool PortFailed = true;

void Check(BOOL succeeded) {
    if (!succeeded)
        PortFailed = true;
}

// The read wait the port's time-outs are set to, in ms; 0 while the time-out
// record of OpenPort is in force.
DWORD ReadWaitMs = 0;

// A text went out since the last ReadLine: the line that comes answers it.
bool ReplyDue = false;

// Copies text into a buffer of `size` bytes, zero-terminated, cut short if
// it does not fit.
void CopyText(char *buffer, size_t size, const char *text) {
    size_t length = strlen(text);
    if (length > size - 1)
        length = size - 1;
    memcpy(buffer, text, length);
    buffer[length] = '\0';
}

// Some mode-string parsers reject a trailing blank and leave the control
// block as it was, so the line would keep its old speed: the copy handed to
// them has no blanks around it.
void CopyTrimmed(char *buffer, size_t size, const char *text) {
    while (*text == ' ')
        ++text;
    CopyText(buffer, size, text);
    for (size_t end = strlen(buffer); end > 0 && buffer[end - 1] == ' '; --end)
        buffer[end - 1] = '\0';
}

// Milliseconds from the performance counter: GetTickCount moves in steps of
// 10 to 16 ms, too coarse to tell a quiet line from one still receiving the
// rest of a reply (a byte takes 4.2 ms at 2400 baud). Wraps like it, too.
uint32_t Ticks() {
    static uint64_t frequency;
    if (frequency == 0) {
        LARGE_INTEGER perSecond;
        QueryPerformanceFrequency(&perSecond);
        frequency = static_cast<uint64_t>(perSecond.QuadPart);
    }
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return CounterMilliseconds(static_cast<uint64_t>(now.QuadPart), frequency);
}

// A one-byte read that blocks in the platform: with ReadIntervalTimeout and
// ReadTotalTimeoutMultiplier at MAXDWORD, ReadFile returns as soon as a byte
// is there, or after ReadTotalTimeoutConstant ms with none, so the thread
// sleeps while the meter is silent (a read of more bytes would wait out the
// whole constant under Wine, and WaitCommEvent does not wait on its ptys).
// With a byte waiting (waitMs 0) any time-outs return at once. A port whose
// device has gone answers at once, so the time is slept away instead.
bool ReadByte(char *byte, uint32_t waitMs) {
    if (waitMs > 0 && PortFailed) {
        Sleep(waitMs);
        return false;
    }
    if (waitMs > 0 && waitMs != ReadWaitMs) {
        COMMTIMEOUTS wait = TimeoutRecord;
        wait.ReadIntervalTimeout = MAXDWORD;
        wait.ReadTotalTimeoutMultiplier = MAXDWORD;
        wait.ReadTotalTimeoutConstant = waitMs;
        SetCommTimeouts(PortHandle, &wait);
        ReadWaitMs = waitMs;
    }
    DWORD count = 0;
    Check(ReadFile(PortHandle, byte, 1, &count, nullptr));
    return count == 1;
}

void Purge();

LineSource PortLineSource = {Ticks, BytesWaiting, ReadByte,        Purge,          0, false, 0,
                             false, CharacterUs,  LineHoldLimitMs, LineHoldLimitMs};

} // namespace

void OpenPort() {
    PortLineSource.heardAny = false; // nothing heard on this port yet
    PortLineSource.missedLine = false;
    ReplyDue = false;
    PortLineSource.holdMs = LineHoldLimitMs; // nor shown: it may be another adapter
    CopyText(NameBuffer, sizeof NameBuffer, PortName);
    PortHandle = CreateFileA(NameBuffer, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING,
                             FILE_ATTRIBUTE_NORMAL, nullptr);
    PortFailed = PortHandle == INVALID_HANDLE_VALUE;

    SetupComm(PortHandle, 256, 256);

    memset(&ControlBlock, 0, sizeof ControlBlock);
    ControlBlock.DCBlength = sizeof ControlBlock;
    GetCommState(PortHandle, &ControlBlock);
    CopyTrimmed(SettingsCopy, sizeof SettingsCopy, PortSettings);
    BuildCommDCBA(SettingsCopy, &ControlBlock);
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
    SetCommState(PortHandle, &ControlBlock);

    TimeoutRecord.ReadIntervalTimeout = 0;
    TimeoutRecord.ReadTotalTimeoutMultiplier = 0;
    TimeoutRecord.ReadTotalTimeoutConstant = TimeoutMs;
    TimeoutRecord.WriteTotalTimeoutMultiplier = 0;
    TimeoutRecord.WriteTotalTimeoutConstant = TimeoutMs;
    SetCommTimeouts(PortHandle, &TimeoutRecord);
    ReadWaitMs = 0;
}

void ClosePort() {
    if (PortHandle != INVALID_HANDLE_VALUE)
        CloseHandle(PortHandle);
    PortHandle = INVALID_HANDLE_VALUE;
    PortFailed = true;
}

void HoldLine() {}
void ReleaseLine() {}

bool PortUsable() {
    BytesWaiting(); // asks the device
    return !PortFailed;
}

void WriteText(const char *text) {
    DWORD written = 0;
    ReplyDue = true;
    Check(WriteFile(PortHandle, text, static_cast<DWORD>(strlen(text)), &written, nullptr));
}

uint16_t BytesWaiting() {
    memset(&Status, 0, sizeof Status);
    Check(ClearCommError(PortHandle, &ErrorFlags, &Status));
    return static_cast<uint16_t>(Status.cbInQue);
}

namespace {
void Purge() { PurgeComm(PortHandle, PURGE_RXCLEAR); }
} // namespace

void DiscardInput() {
    const StaleInputTimes times = {QuietMs, LateReplyMs, LateLinePauseMs};
    DropStaleInput(PortLineSource, times, TimeoutMs);
}

uint16_t ReadLine(char line[LineCapacity]) {
    const uint16_t length = AssembleAnswer(PortLineSource, ReplyDue, TimeoutMs, line, LineCapacity);
    ReplyDue = false;
    return length;
}
