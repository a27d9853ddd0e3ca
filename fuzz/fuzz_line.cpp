// Line assembly and stale-input dropping on arbitrary byte streams that come
// in arbitrary chunks at arbitrary ticks, against a clock that advances one
// millisecond per poll (a busy loop on a fast machine).
//
// Input layout: timeout (2 bytes), start tick (4 bytes, so the counter may
// wrap), quiet time (1 byte), flags (1 byte: bit 0, stale input is dropped
// first; bit 1, the source sleeps until a byte comes in or its wait is up;
// bit 2, stale input is dropped between lines too; bits 3 to 7, the late
// window after a missed line in steps of 10 ms),
// the line buffer's capacity (1 byte, 1 to 64), the longest hold allowed for
// (1 byte, 0 to 99 ms; the line starts at it, as nothing has shown it yet),
// then chunks: a header byte (low 5 bits: length), a gap byte (ticks after
// the previous chunk), and the chunk's bytes.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "line_assembly.h"

namespace {

struct Arrival {
    uint32_t at; // ticks after the start
    char byte;
};

struct FakeLine {
    std::vector<Arrival> stream;
    size_t arrived = 0;  // stream[0, arrived) came in
    size_t consumed = 0; // stream[0, consumed) read or purged
    uint32_t start = 0;  // tick counter at the start
    uint32_t elapsed = 0;
    uint64_t polls = 0;
    bool sleeps = false; // reads wait for a byte, as the real ports do
};
FakeLine *fake;

[[noreturn]] void Fail(const char *what) {
    std::fprintf(stderr, "fuzz_line: %s (elapsed %u, consumed %zu of %zu)\n", what, fake->elapsed,
                 fake->consumed, fake->stream.size());
    std::abort();
}

void Arrive() {
    while (fake->arrived < fake->stream.size() && fake->stream[fake->arrived].at <= fake->elapsed)
        ++fake->arrived;
}
uint32_t Ticks() {
    if (++fake->polls > 1000000)
        Fail("no end in sight");
    return fake->start + fake->elapsed++;
}
uint16_t Waiting() {
    Arrive();
    const size_t queued = fake->arrived - fake->consumed;
    return static_cast<uint16_t>(queued > 0xFFFF ? 0xFFFF : queued);
}
bool ReadOne(char *byte, uint32_t waitMs) {
    if (fake->sleeps && waitMs > 0) {
        Arrive();
        if (fake->consumed == fake->arrived) {
            uint32_t wake = fake->elapsed + waitMs;
            if (fake->arrived < fake->stream.size() && fake->stream[fake->arrived].at < wake)
                wake = std::max(fake->elapsed, fake->stream[fake->arrived].at);
            fake->elapsed = wake;
            Arrive();
        }
    }
    if (fake->consumed == fake->arrived)
        return false;
    *byte = fake->stream[fake->consumed++].byte;
    return true;
}
void Purge() {
    Arrive();
    fake->consumed = fake->arrived;
}

uint32_t Bytes(const uint8_t *&data, size_t &size, int count) {
    uint32_t value = 0;
    for (int i = 0; i < count && size > 0; ++i, ++data, --size)
        value = value << 8 | *data;
    return value;
}

void CheckDrop(LineSource &source, uint16_t quietMs, uint16_t lateMs, uint16_t timeoutMs) {
    const uint32_t from = fake->elapsed;
    const size_t first = fake->consumed;
    const bool missed = source.missedLine;
    const uint32_t missedAt = source.missedAt;
    const uint16_t holdMs = source.holdMs;
    const uint16_t openLineQuietMs = static_cast<uint16_t>(5 * quietMs);
    const StaleInputTimes times = {quietMs, lateMs, openLineQuietMs};
    DropStaleInput(source, times, timeoutMs);
    const uint32_t took = fake->elapsed - from;
    if (took > timeoutMs + 4u)
        Fail("dropping stale input outlasted its time-out");
    if (source.holdMs != holdMs)
        Fail("dropping stale input changed the line's hold");
    // Everything that had come in by the last look at the line is gone.
    if (fake->consumed != fake->arrived)
        Fail("stale input left queued");
    // The quiet time and the late window both allow for the line's hold.
    const uint32_t lineQuietMs = static_cast<uint32_t>(quietMs) + holdMs;
    const uint32_t quiet = fake->start + fake->elapsed - source.lastByteAt;
    if (source.heardAny && quiet + 1 < lineQuietMs && took <= timeoutMs)
        Fail("returned while the line was still busy");
    // After a missed line, a late reply may still begin until the window ends.
    const uint32_t sinceMiss = fake->start + fake->elapsed - missedAt;
    if (missed && sinceMiss + 1 < lateMs + lineQuietMs && took <= timeoutMs)
        Fail("returned inside the late window of a missed line");
    // ... and a late reply is dropped whole: a drop that ends inside a line
    // (bytes other than line feeds after its last carriage return) has
    // waited out the longer pause.
    bool open = false;
    for (size_t i = first; i < fake->consumed; ++i)
        if (fake->stream[i].byte == '\r')
            open = false;
        else if (fake->stream[i].byte != '\n')
            open = true;
    const uint32_t openPause = openLineQuietMs > lineQuietMs ? openLineQuietMs : lineQuietMs;
    if (missed && open && quiet + 1 < openPause && took <= timeoutMs)
        Fail("a late line was not dropped whole");
    if (source.missedLine)
        Fail("a missed line still pending after the drop");
}

void CheckLine(LineSource &source, uint16_t timeoutMs, uint16_t capacity) {
    const uint32_t from = fake->elapsed;
    const size_t first = fake->consumed;
    char buffer[64];
    const uint16_t holdMs = source.holdMs;
    const uint16_t length = AssembleLine(source, timeoutMs, buffer, capacity);
    if (length > capacity)
        Fail("line longer than its buffer");
    if (source.holdMs > source.holdLimitMs)
        Fail("a hold beyond the limit");
    const std::string line(buffer, length);
    const uint32_t took = fake->elapsed - from;
    const size_t read = fake->consumed - first;

    size_t cr = first; // the first carriage return still to be read
    while (cr < fake->stream.size() && fake->stream[cr].byte != '\r')
        ++cr;
    const bool gotLine = read > 0 && fake->stream[fake->consumed - 1].byte == '\r';

    if (line.find('\r') != std::string::npos)
        Fail("line holds a carriage return");
    if (took > timeoutMs + 2 * read + 3u)
        Fail("call outlasted its time-out by more than its reads");
    // Only a line whose bytes span more than the limit on the wire shows the
    // line's hold.
    const uint64_t spanUs = static_cast<uint64_t>(read > 0 ? read - 1 : 0) * source.characterUs;
    if (source.holdMs != holdMs && !(gotLine && spanUs > source.holdLimitMs * 1000u))
        Fail("the hold changed without a line that shows it");
    if (gotLine) {
        if (fake->consumed != cr + 1)
            Fail("read past the carriage return");
        std::string want;
        for (size_t i = first; i < cr; ++i)
            want += fake->stream[i].byte;
        if (want.size() > capacity)
            want.clear(); // too long to keep: none of it comes back
        if (line != want)
            Fail("line differs from the bytes before the carriage return");
        // Bytes queued by the first look after the time ran out still count.
        // That look can come four ticks after the time-out: the first poll,
        // a sleep that ends with a byte just in time, the byte's time stamp,
        // and the clock read that finds the time up (the fake line's bytes
        // arrive by the clock as it stands after that read).
        if (static_cast<int64_t>(fake->stream[cr].at) - from > timeoutMs + 4)
            Fail("took a carriage return that came after the time-out");
    } else {
        if (!line.empty())
            Fail("a line without its carriage return");
        if (cr < fake->consumed)
            Fail("read over a carriage return");
        // A carriage return in time, with time left to read its line, is taken.
        if (cr < fake->stream.size()) {
            const int64_t after = static_cast<int64_t>(fake->stream[cr].at) - from;
            if ((after > 0 ? after : 0) + 2 * static_cast<int64_t>(cr - first + 1) + 3 <= timeoutMs)
                Fail("missed a carriage return that came in time");
        }
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    FakeLine line;
    fake = &line;
    const uint16_t timeoutMs = static_cast<uint16_t>(Bytes(data, size, 2) % 1501);
    line.start = Bytes(data, size, 4);
    const uint16_t quietMs = static_cast<uint16_t>(Bytes(data, size, 1) % 40);
    const uint32_t flags = Bytes(data, size, 1);
    const bool dropFirst = flags & 1;
    line.sleeps = flags & 2;
    const bool dropBetween = flags & 4;
    const uint16_t lateMs = static_cast<uint16_t>((flags >> 3) * 10);
    const uint16_t capacity = static_cast<uint16_t>(1 + Bytes(data, size, 1) % 64);
    const uint16_t holdLimitMs = static_cast<uint16_t>(Bytes(data, size, 1) % 100);
    uint32_t at = 0;
    while (size >= 2) {
        const size_t length = Bytes(data, size, 1) & 0x1F;
        at += Bytes(data, size, 1);
        for (size_t i = 0; i < length && size > 0; ++i)
            line.stream.push_back({at, static_cast<char>(Bytes(data, size, 1))});
    }

    LineSource source = {Ticks, Waiting, ReadOne, Purge,       0,          false,
                         0,     false,   4167,    holdLimitMs, holdLimitMs};
    // Successive lines from the same stream, as successive readings take them.
    for (int call = 0; call < 3; ++call) {
        if (call == 0 ? dropFirst : dropBetween)
            CheckDrop(source, quietMs, lateMs, timeoutMs);
        CheckLine(source, timeoutMs, capacity);
    }
    return 0;
}
