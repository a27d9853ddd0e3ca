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
