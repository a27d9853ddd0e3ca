#include "line_assembly.h"

#include "counter_ms.h"

namespace {

uint32_t Since(const LineSource &source, uint32_t start) {
    return ElapsedMs(source.ticks(), start);
}

// The line being received: its first `capacity` bytes, and how many came;
// and how its bytes came, to show the line's hold. Byte i left the meter i
// characters after the first; each byte's lead is how much sooner than that
// it came after the first (negative when it came later), in microseconds.
// The spread between the latest and the earliest lead is how long the line
// held back some of its bytes beyond others.
struct Assembly {
    char *bytes;
    uint16_t capacity;
    uint32_t length;
    uint32_t firstAt;
    int64_t earliest, latest; // the extremes of the bytes' leads
};

// Notes when byte number line->length (the one just taken) came in.
void NoteArrival(const LineSource &source, Assembly *line, uint32_t at) {
    if (line->length == 0) {
        line->firstAt = at;
        line->earliest = line->latest = 0;
        return;
    }
    // A clock that stepped back reads as a long wait here, which only makes
    // the hold look longer.
    const int64_t lead = static_cast<int64_t>(line->length) * source.characterUs -
                         static_cast<int64_t>(static_cast<uint32_t>(at - line->firstAt)) * 1000;
    if (lead < line->earliest)
        line->earliest = lead;
    if (lead > line->latest)
        line->latest = lead;
}

// After a line's carriage return: the hold it showed, if it is long enough
// to show one up to the limit (a shorter line may have come between two
// bursts of an adapter, or in one).
void LearnHold(LineSource &source, const Assembly &line) {
    const uint64_t spanUs = static_cast<uint64_t>(line.length) * source.characterUs;
    if (spanUs <= static_cast<uint64_t>(source.holdLimitMs) * 1000u)
        return;
    const uint64_t spreadUs = static_cast<uint64_t>(line.latest - line.earliest);
    if (spreadUs < source.characterUs)
        source.holdMs = 0; // no more than the clock's steps and the wake-ups
    else if (spreadUs >= static_cast<uint64_t>(source.holdLimitMs) * 1000u)
        source.holdMs = source.holdLimitMs;
    else
        source.holdMs = static_cast<uint16_t>((spreadUs + 999u) / 1000u);
}

// Takes one byte into the line, if one can be read within waitMs. True when
// it was the carriage return, which ends the line and is not kept.
bool TakeByte(LineSource &source, Assembly *line, uint32_t waitMs) {
    char byte;
    if (!source.readByte(&byte, waitMs))
        return false;
    source.lastByteAt = source.ticks();
    source.heardAny = true;
    NoteArrival(source, line, source.lastByteAt);
    if (byte == '\r') {
        LearnHold(source, *line);
        return true;
    }
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
    source.missedLine = false;
    Assembly line = {bytes, capacity, 0, 0, 0, 0};
    const uint32_t start = source.ticks();
    uint32_t elapsed = 0;
    for (;;) {
        const uint32_t waitMs = source.bytesWaiting() > 0 ? 0 : timeoutMs + 1u - elapsed;
        if (TakeByte(source, &line, waitMs))
            return Finished(line);
        elapsed = Since(source, start);
        if (elapsed > timeoutMs)
            break;
    }
    // Time is up. What is already queued was received in time even when this
    // process was kept off the processor and could not read it: take that,
    // and nothing that comes in later.
    for (uint16_t queued = source.bytesWaiting(); queued > 0; --queued)
        if (TakeByte(source, &line, 0))
            return Finished(line);
    source.missedAt = start + elapsed; // when the time ran out
    source.missedLine = true;
    return 0;
}

uint16_t AssembleAnswer(LineSource &source, bool queried, uint16_t timeoutMs, char *bytes,
                        uint16_t capacity) {
    const bool missedBefore = source.missedLine;
    const uint32_t missedBeforeAt = source.missedAt;
    const uint16_t length = AssembleLine(source, timeoutMs, bytes, capacity);
    if (!queried) {
        source.missedLine = missedBefore;
        source.missedAt = missedBeforeAt;
    }
    return length;
}

namespace {

// After a missed line: whether the dropped bytes end inside a line (a late
// reply still coming) once byte has gone. A line feed opens no line: it
// ends a CR LF reply, or belongs to the line it comes in.
bool StillOpen(bool open, char byte) { return byte == '\r' ? false : byte == '\n' ? open : true; }

} // namespace

void DropStaleInput(LineSource &source, const StaleInputTimes &times, uint16_t timeoutMs) {
    const uint32_t start = source.ticks();
    // After a missed line the bytes are taken one by one, to see where the
    // late reply ends: a USB adapter delivers it in bursts with pauses longer
    // than the quiet time between them, and its tail must not open the next
    // answer.
    const bool afterMiss = source.missedLine;
    bool openLine = false;
    for (;;) {
        const uint32_t now = source.ticks();
        if (source.bytesWaiting() > 0) {
            if (afterMiss) {
                char byte;
                for (uint16_t queued = source.bytesWaiting(); queued > 0; --queued)
                    if (source.readByte(&byte, 0))
                        openLine = StillOpen(openLine, byte);
            } else {
                source.purge();
            }
            source.lastByteAt = now;
            source.heardAny = true;
        }
        // How much longer the line must be watched: until it has been quiet
        // long enough (longer inside a late reply), and after a missed line
        // until its late window is over.
        // Both allow for the line's hold: the rest of a burst may come that
        // much later, and so may the first bytes of a late reply.
        uint32_t left = 0;
        const uint32_t lineQuietMs = static_cast<uint32_t>(times.quietMs) + source.holdMs;
        const uint32_t quietMs =
            openLine && times.openLineQuietMs > lineQuietMs ? times.openLineQuietMs : lineQuietMs;
        const uint32_t quietFor = ElapsedMs(now, source.lastByteAt);
        if (source.heardAny && quietFor < quietMs)
            left = quietMs - quietFor;
        const uint32_t window = static_cast<uint32_t>(times.lateMs) + lineQuietMs;
        const uint32_t sinceMiss = ElapsedMs(now, source.missedAt);
        if (source.missedLine && sinceMiss < window) {
            const uint32_t windowLeft = window - sinceMiss;
            if (windowLeft > left)
                left = windowLeft;
        }
        const uint32_t elapsed = ElapsedMs(now, start);
        if (left == 0 || elapsed > timeoutMs)
            break;
        // A byte that comes in meanwhile is stale too; the wait for one ends
        // with the time-out at the latest.
        const uint32_t timeLeft = timeoutMs + 1u - elapsed;
        char byte;
        if (source.readByte(&byte, left < timeLeft ? left : timeLeft)) {
            source.lastByteAt = source.ticks();
            source.heardAny = true;
            openLine = afterMiss && StillOpen(openLine, byte);
        }
    }
    source.missedLine = false;
}
