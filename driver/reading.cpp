#include "reading.h"

#include "reply.h"
#include "ucommw32.h"

namespace {
const char ReadingQuery[] = "?RD\r";
bool Stopped = false;
} // namespace

double ReadMeter(int32_t channel) {
    if (Stopped)
        return NOT_AVAILABLE;
    if (channel == 0 || channel == 1) {
        if (!PortUsable()) {
            ClosePort();
            OpenPort();
        }
        DiscardInput();
        WriteText(ReadingQuery);
    }
    // Every channel takes a line, so an unknown channel waits and consumes it.
    char line[LineCapacity];
    const uint16_t length = ReadLine(line);
    return CutReading(line, length, channel);
}

void StopReadings() {
    Stopped = true;
    ClosePort();
}
