// The bytes through a meter's pty master: what the driver sends, each line of it answered as the
// control file says, and the meter's output passed on at line pace through its USB adapter.
#pragma once

#include "meter.h"

// Reads what the driver sent, appends it to comN.rx and handles each line ended by a CR.
void receive(Meter &m, bool instant);

// Passes the bytes the line has sent by now to the adapter, then writes what the adapter has
// sent on to the pty, as far as the pty takes it.
void send_due(Meter &m, Clock::time_point now, bool instant);

// When meter m's output is next due to move on (the line's next byte, the adapter's next tick),
// however long ago that was; max() with nothing due.
Clock::time_point output_due(const Meter &m, bool instant);

// When meter m next has bytes to pass on: the line's next byte or the adapter's next tick, now
// for bytes the pty did not take yet; max() while the pty is full (its POLLOUT wakes the loop).
// Never before now, so the wait until then is a duration from 0 up.
Clock::time_point next_output(const Meter &m, Clock::time_point now, bool instant);
