// Milliseconds from a free-running counter (the Windows performance counter).
#pragma once

#include <stdint.h>

// The count of a counter running at `frequency` per second, in milliseconds,
// wrapping at 2^32 like a tick count. Whole seconds and the rest are
// converted apart: the count times 1000 would overflow 64 bits after 71 days
// of uptime on a 3 GHz counter.
inline uint32_t CounterMilliseconds(uint64_t count, uint64_t frequency) {
    return static_cast<uint32_t>(count / frequency * 1000u + count % frequency * 1000u / frequency);
}

// Milliseconds from `since` to `now` on such a wrapping count. A counter that
// steps back (the performance counter read on another core of some
// multi-core machines) gives a difference that went backwards: that counts
// as no time at all, never as the 49 days its wrap would make of it. Spans
// of more than 24 days read as none too; no wait of the line is that long.
inline uint32_t ElapsedMs(uint32_t now, uint32_t since) {
    const uint32_t difference = now - since;
    return difference < 0x80000000u ? difference : 0;
}
