// Assembling one carriage-return-terminated line from a byte source that is
// polled against a millisecond tick counter, and clearing the line of stale
// input before a query.
//
// This is the heart of ReadLine and DiscardInput, kept apart from the
// platform so that tests can drive it with a scripted byte source and a clock
// they move themselves.
#pragma once

#include <stdint.h>

// What the line assembly polls. The port backends supply the real one.
struct LineSource {
    uint32_t (*ticks)();        // milliseconds, free running, may wrap
    uint16_t (*bytesWaiting)(); // bytes ready to be read at once
    // Takes one byte. With waitMs 0 it is called only just after
    // bytesWaiting reported one; otherwise it sleeps until a byte comes in,
    // for waitMs at most. False if none was read. A source that cannot sleep
    // returns at once, and the line is polled without pause.
    bool (*readByte)(char *byte, uint32_t waitMs);
    void (*purge)(); // drops every byte waiting
    // When the latest byte came in; nothing came yet while heardAny is false.
    uint32_t lastByteAt;
    bool heardAny;
    // When the latest AssembleLine gave up without a carriage return, while
    // missedLine is set: a reply may still be on its way.
    uint32_t missedAt;
    bool missedLine;
    // How the line delivers. A USB adapter holds the bytes it receives until
    // its latency timer sends them on in a burst; a UART hands over its FIFO
    // when the FIFO fills to its trigger level or the line pauses. Either way
    // a byte may reach the driver well after it left the meter, and the
    // waits of DropStaleInput must allow for that hold. A line shows it in
    // the replies read from it: its bytes leave the meter one character
    // apart, so a byte that comes later than that after the bytes before it
    // was held back (see AssembleLine).
    uint16_t characterUs; // one character on the wire, in microseconds
    uint16_t holdLimitMs; // the longest hold the waits allow for
    // The hold the line has shown, up to holdLimitMs; holdLimitMs, the safe
    // allowance, until a reply has shown it (the backends set it back when
    // they open the port).
    uint16_t holdMs;
};

// Polls source until a carriage return arrives or more than
// timeoutMs have passed since the first poll (ElapsedMs: a wrap of the
// counter does no harm, and a step back counts as no time). Stores the bytes before the first
// carriage return in line and returns their count; returns 0 when none came
// in time, or when the line had more than capacity bytes (all of them are
// taken, none kept). Reads one byte at a time and never reads past the
// carriage return. Bytes already queued when the time is up still count:
// they came in time, though this process may not have been given the
// processor to read them. A line that did not come in time is noted as
// missed (missedAt, missedLine) for the next DropStaleInput. A line long
// enough to show a hold of holdLimitMs (its bytes span more than that on the
// wire) sets holdMs to the hold it showed: the most by which some of its
// bytes came later, beside others, than their places on the wire say (later
// after the bytes before them than the characters between take, or together
// with bytes that left characters after them), up to the limit, and 0 when
// that is less than a character (the clock's steps, late wake-ups).
uint16_t AssembleLine(LineSource &source, uint16_t timeoutMs, char *line, uint16_t capacity);

// AssembleLine for a reading: `queried` says whether a query went out since
// the line before. Only the answer to a query can still come after the
// time-out, so a line awaited without one notes no miss of its own, and
// leaves the miss of a query before it as it was, whatever line it took:
// that query's late reply may still be on its way.
uint16_t AssembleAnswer(LineSource &source, bool queried, uint16_t timeoutMs, char *line,
                        uint16_t capacity);

// How long DropStaleInput watches the line.
struct StaleInputTimes {
    uint16_t quietMs; // silence that ends the drop
    uint16_t lateMs;  // after a missed line: how late a reply may begin and still be dropped
    // After a missed line: silence that ends the drop inside a late reply
    // (bytes since its last carriage return), longer than the pauses of a USB
    // adapter between the bursts it delivers a line in.
    uint16_t openLineQuietMs;
};

// Drops the bytes waiting and those still arriving: returns once no byte has
// come in for quietMs + the line's hold (the rest of a reply, such as the
// line feed after its carriage return, may still be on the wire or in the
// adapter), or after timeoutMs at most. After a missed line it also watches
// the line until lateMs + quietMs + the hold have passed since the miss, so
// that a late reply that leaves the meter up to lateMs after it is dropped
// here rather than taken for the answer to the next query; the part of that
// window that has already gone by is not waited for again. A late reply is
// dropped whole: inside it, the drop ends only at its carriage return or
// after openLineQuietMs of silence (or the quiet time, if longer). A reply
// later than that, or held back longer than the hold allowed for, cannot be
// told from a prompt answer.
void DropStaleInput(LineSource &source, const StaleInputTimes &times, uint16_t timeoutMs);
