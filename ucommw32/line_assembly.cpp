#include "line_assembly.h"

namespace {
uint32_t Since(const LineSource &source, uint32_t start) {
    return static_cast<uint32_t>(source.ticks() - start);
}

// Waits for input until `limit` ms after `start`, when the source can wait.
void WaitUntil(const LineSource &source, uint32_t start, uint32_t limit) {
    if (source.waitForInput == nullptr)
        return;
    const uint32_t elapsed = Since(source, start);
    if (elapsed < limit)
        source.waitForInput(limit - elapsed);
}

// Takes one byte into line, if one can be read. True when it was the
// carriage return, which ends the line and is not kept.
bool TakeByte(LineSource &source, std::string *line) {
    char byte;
    if (!source.readByte(&byte))
        return false;
    source.lastByteAt = source.ticks();
    source.heardAny = true;
    if (byte == '\r')
        return true;
    line->push_back(byte);
    return false;
}

} // namespace

std::string AssembleLine(LineSource &source, uint16_t timeoutMs) {
    std::string line;
    const uint32_t start = source.ticks();
    for (;;) {
        if (source.bytesWaiting() > 0) {
            if (TakeByte(source, &line))
                return line;
        } else {
            WaitUntil(source, start, timeoutMs + 1u);
        }
        if (Since(source, start) > timeoutMs)
            break;
    }
    // Time is up. What is already queued was received in time even when this
    // process was kept off the processor and could not read it: take that,
    // and nothing that comes in later.
    for (uint16_t queued = source.bytesWaiting(); queued > 0; --queued)
        if (TakeByte(source, &line))
            return line;
    return std::string();
}

void DropStaleInput(LineSource &source, uint16_t quietMs, uint16_t timeoutMs) {
    const uint32_t start = source.ticks();
    for (;;) {
        if (source.bytesWaiting() > 0) {
            source.purge();
            source.lastByteAt = source.ticks();
            source.heardAny = true;
        }
        if (!source.heardAny || Since(source, source.lastByteAt) >= quietMs)
            return;
        if (Since(source, start) > timeoutMs)
            return;
        WaitUntil(source, source.lastByteAt, quietMs);
    }
}
