#include "reading.h"

#include "reading_turn.h"
#include "reply.h"
#include "ucommw32.h"

namespace {

const char ReadingQuery[] = "?RD\r";

// Set once the library is being unloaded; read by every reading.
bool Stopped = false;

bool IsStopped() { return __atomic_load_n(&Stopped, __ATOMIC_SEQ_CST); }

// The reading itself, on the line this thread has to itself.
double ReadInTurn(int32_t channel) {
    if ((channel == 0 || channel == 1) && !PortUsable()) {
        ClosePort();
        OpenPort();
    }
    HoldLine(); // from another process that shares the port
    if (channel == 0 || channel == 1) {
        DiscardInput();
        WriteText(ReadingQuery);
    }
    // Every channel takes a line, so an unknown channel waits and consumes it.
    char line[LineCapacity];
    const uint16_t length = ReadLine(line);
    ReleaseLine();
    return CutReading(line, length, channel);
}

} // namespace

double ReadMeter(int32_t channel, double *result) {
    if (IsStopped())
        return NOT_AVAILABLE;
    ReadingTurn turn;
    if (!TakeReadingTurn(ReadingWorstCaseMs + 1000u, &turn)) {
        if (result != nullptr)
            *result = NOT_AVAILABLE; // never an earlier reading's value
        return NOT_AVAILABLE;
    }
    // The library may have been stopped while this reading waited its turn.
    const double value = IsStopped() ? NOT_AVAILABLE : ReadInTurn(channel);
    if (result != nullptr)
        *result = value;
    EndReadingTurn(turn);
    return value;
}

void StopReadings() {
    __atomic_store_n(&Stopped, true, __ATOMIC_SEQ_CST);
    AwaitReadingInFlight(ReadingWorstCaseMs);
    ClosePort();
    EndReadingTurns();
}

void StopReadingsAtExit() {
    __atomic_store_n(&Stopped, true, __ATOMIC_RELEASE);
    ClosePort();
}
