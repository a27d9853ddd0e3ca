// One reading of the meter.
#pragma once

#include <stdint.h>

// Sends the meter its query (channels 0 and 1 only), takes one reply line and
// cuts the channel's value out of it; -777.0 when there is none. Input left
// over from earlier traffic is discarded before the query, so it can never
// be taken for the answer. A port that could not be opened, or whose device
// has gone, is opened again first (once per reading).
double ReadMeter(int32_t channel);

// Ends the readings when the library is unloaded: the port is released, and
// a reading that still reaches the library afterwards (from another
// library's detach at process exit, say) answers -777.0 at once and opens
// nothing.
void StopReadings();
