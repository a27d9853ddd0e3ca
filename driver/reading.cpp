#include "reading.h"

#include <string>

#include "reply.h"
#include "ucommw32.h"

namespace {
const std::string ReadingQuery("?RD\r", 4);
}

double ReadMeter(int32_t channel) {
    if (channel == 0 || channel == 1) {
        if (!PortUsable()) {
            ClosePort();
            OpenPort();
        }
        DiscardInput();
        WriteText(ReadingQuery);
    }
    // Every channel takes a line, so an unknown channel waits and consumes it.
    return CutReading(ReadLine(), channel);
}
