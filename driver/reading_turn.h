// One reading at a time per loaded library.
//
// A host may read the meter from several threads at once (a timer thread
// beside its window thread, a reentrant LabVIEW call node, a Python reader
// thread). The serial line has one input queue, so two readings that
// overlapped would purge each other's replies and cut mixtures of both. Each
// reading therefore waits for its turn and has the line to itself from its
// query to its reply: turns are served in the order they were asked for, so
// a thread that reads back to back cannot keep another waiting. Opening the
// port again after a lost device, and releasing it at unload, happen within
// a turn too.
//
// Nothing to set up or tear down: the turns are two counters in the
// library's own data, and a waiting thread sleeps in steps of a millisecond.
// Different libraries (tarvel_1 and tarvel_2, say) take turns independently.
#pragma once

// Waits until it is this thread's turn to use the line. While it waits and
// until EndReadingTurn, a POSIX thread cannot be cancelled: a turn taken and
// never ended would hold every later reading up for good.
void TakeReadingTurn();

// Ends the turn taken by TakeReadingTurn: the next thread in line goes on.
void EndReadingTurn();
