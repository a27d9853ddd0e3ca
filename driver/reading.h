// One reading of the meter.
#pragma once

#include <stdint.h>

// Sends the meter its query (channels 0 and 1 only), takes one reply line and
// cuts the channel's value out of it; -777.0 when there is none. Input left
// over from earlier traffic is discarded before the query, so it can never
// be taken for the answer (after a reading that got no reply in time, that
// includes a reply up to LateReplyMs late). A port that could not be opened,
// or whose device has gone, is opened again first (once per reading).
// Callable from any thread: readings of one library take turns, each from
// its query to its reply (reading_turn.h). With result, the value is also
// stored there before the turn ends, so that the latest reading is what
// stays there.
double ReadMeter(int32_t channel, double *result = nullptr);

// The longest a reading can take: on a line that never falls silent the drop
// of stale input gives up after the time-out (1000 ms), the write has a
// time-out of its own, then the wait for the reply; plus the bytes still
// queued at its end and the reopening of a lost port.
constexpr uint32_t ReadingWorstCaseMs = 3 * 1000 + 100;

// Ends the readings when the library is unloaded: waits for the reading
// under way, if any (ReadingWorstCaseMs at most, so never for good on a turn
// whose thread was killed), then releases the port. Readings still waiting
// for their turn, and any that reach the library afterwards (from another
// library's detach at process exit, say), answer -777.0 at once and open
// nothing.
void StopReadings();

// The same when the whole process ends (Windows: its other threads are gone
// already, and one of them may have been stopped in the middle of a
// reading, so no turn is waited for).
void StopReadingsAtExit();
