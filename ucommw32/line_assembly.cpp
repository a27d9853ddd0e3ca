#include "line_assembly.h"

namespace {

uint32_t Since(const LineSource &source, uint32_t start) {
    return static_cast<uint32_t>(source.ticks() - start);
}

// The wait left until `limit` ms after `start`.
uint32_t Left(const LineSource &source, uint32_t start, uint32_t limit) {
    const uint32_t elapsed = Since(source, start);
    return elapsed < limit ? limit - elapsed : 0;
}

// The line being received: its first `capacity` bytes, and how many came.
struct Assembly {
    char *bytes;
    uint16_t capacity;
    uint32_t length;
};

// Takes one byte into the line, if one can be read within waitMs. True when
// it was the carriage return, which ends the line and is not kept.
bool TakeByte(LineSource &source, Assembly *line, uint32_t waitMs) {
    char byte;
    if (!source.readByte(&byte, waitMs))
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
        const uint32_t waitMs = source.bytesWaiting() > 0 ? 0 : Left(source, start, timeoutMs + 1u);
        if (TakeByte(source, &line, waitMs))
            return Finished(line);
        if (Since(source, start) > timeoutMs)
            break;
    }
    // Time is up. What is already queued was received in time even when this
    // process was kept off the processor and could not read it: take that,
    // and nothing that comes in later.
    for (uint16_t queued = source.bytesWaiting(); queued > 0; --queued)
        if (TakeByte(source, &line, 0))
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
        // A byte that comes in before the line has been quiet long enough is
        // stale too.
        const uint32_t waitMs = Left(source, source.lastByteAt, quietMs);
        char byte;
        if (waitMs > 0 && source.readByte(&byte, waitMs))
            source.lastByteAt = source.ticks();
    }
}
