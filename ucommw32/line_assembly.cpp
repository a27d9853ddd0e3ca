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

// The line being received: its first `capacity` bytes, and how many came.
struct Assembly {
    char *bytes;
    uint16_t capacity;
    uint32_t length;
};

// Takes one byte into the line, if one can be read. True when it was the
// carriage return, which ends the line and is not kept.
bool TakeByte(LineSource &source, Assembly *line) {
    char byte;
    if (!source.readByte(&byte))
        return false;
    source.lastByteAt = source.ticks();
    source.heardAny = true;
    if (byte == '\r')
        return true;
    if (line->length < line->capacity)
        line->bytes[line->length] = byte;
    ++line->length;
    return false;
}

uint16_t Finished(const Assembly &line) {
    return line.length <= line.capacity ? static_cast<uint16_t>(line.length) : 0;
}

} // namespace

uint16_t AssembleLine(LineSource &source, uint16_t timeoutMs, char *bytes, uint16_t capacity) {
    Assembly line = {bytes, capacity, 0};
    const uint32_t start = source.ticks();
    for (;;) {
        if (source.bytesWaiting() > 0) {
            if (TakeByte(source, &line))
                return Finished(line);
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
            return Finished(line);
    return 0;
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
