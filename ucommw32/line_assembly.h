// Assembling one carriage-return-terminated line from a byte source that is
// polled against a millisecond tick counter.
//
// This is the heart of ReadLine, kept apart from the platform so that tests
// can drive it with a scripted byte source and a clock they move themselves.
#pragma once

#include <cstdint>
#include <string>

// What the line assembly polls. The port backends supply the real one.
struct LineSource {
    uint32_t (*ticks)();          // milliseconds, free running, may wrap
    uint16_t (*bytesWaiting)();   // bytes ready to be read at once
    bool (*readByte)(char *byte); // takes one byte; false if none was read
};

// Polls source without pause until a carriage return arrives or more than
// timeoutMs have passed since the first poll (unsigned tick difference, so a
// wrap of the counter does no harm). Returns the bytes before the first
// carriage return, or the empty text when none came in time. Reads one byte
// at a time and never reads past the carriage return.
std::string AssembleLine(const LineSource &source, uint16_t timeoutMs);
