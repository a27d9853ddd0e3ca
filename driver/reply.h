// Cutting a reading out of one reply line of the meter, and the number
// conversions the channel interface needs. Pure functions: no port, no state.
#pragma once

#include <stddef.h>
#include <stdint.h>

// The answer that has no value.
constexpr double NOT_AVAILABLE = -777.0;
constexpr int32_t NOT_AVAILABLE_INT = -777;

// The reading of channel 0 (pH: the five characters centred on the first
// decimal point, which must lie after position 4) or channel 1 (potential in
// mV: characters 5 to 8) in a reply line without its carriage return.
// Positions count from 1. Only digits, '.' and '/' of the window count, and a
// '-' before all of them is the number's sign; the rest must read as digits
// with at most one decimal point. NOT_AVAILABLE for any other channel or when
// the window does not read as a number. Line feeds before the line's first
// other byte are not part of the reply: they are the tail of an earlier CR LF
// reply, which a USB adapter can deliver long after its carriage return.
double CutReading(const char *line, size_t length, int32_t channel);

// Rounds the double whose IEEE 754 bits are given to the nearest integer,
// halves to even, by its bits alone: the result does not depend on the
// floating-point unit's modes and raises no floating-point exception. False
// when it has no 64-bit integer rounding (not a number, infinite, or beyond
// the range of int64_t).
bool RoundHalfEven(uint64_t bits, int64_t *rounded);

// The IEEE 754 bits of x, moved as memory, never loaded as a number.
inline uint64_t BitsOf(const double &x) {
    uint64_t bits;
    __builtin_memcpy(&bits, &x, sizeof bits);
    return bits;
}
