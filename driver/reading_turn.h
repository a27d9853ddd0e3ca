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
// The turns are two counters in the library's own data. A thread waiting
// for its turn sleeps until the turn before it is handed on (on Windows an
// event wakes it at once; elsewhere it looks every millisecond). A turn held
// longer than any reading lasts is skipped once its thread has ended: it was
// killed. While that thread lives (a reading stalled in the system), the
// line stays its own, up to 15 times that long. Different libraries
// (tarvel_1 and tarvel_2, say) take turns independently.
#pragma once

#include <stdint.h>

// At load and at unload: the hand-on event (Windows), the reset of the turns
// in a child process forked while a thread held one (POSIX).
void StartReadingTurns();
void EndReadingTurns();

// A turn taken: its ticket, and (POSIX) the cancel state its thread had
// before, which it gets back when the turn ends. It is the caller's, not the
// library's: a thread whose turn was skipped (see below) still ends it, after
// another thread has taken the next.
struct ReadingTurn {
    uint32_t ticket;
    int cancelState;
};

// Waits until it is this thread's turn to use the line, sets *turn to it and
// answers true. A turn that stays where it is for more than longestTurnMs is
// skipped as soon as no thread is alive behind it (its thread was killed
// while it read, or while it waited for the turn), and after 15 times that
// in any case (no reading lasts that long); a thread whose own turn
// was skipped so (kept off the processor that long when it came) gets none
// and answers false at once, without waiting for any other. While it waits
// and until EndReadingTurn, a POSIX thread cannot be cancelled: a turn taken
// and never ended would hold every later reading up that long.
bool TakeReadingTurn(uint32_t longestTurnMs, ReadingTurn *turn);

// Ends the turn taken by TakeReadingTurn: the next thread in line goes on.
// A turn that was skipped meanwhile is gone already; its thread only gets
// its cancel state back.
void EndReadingTurn(const ReadingTurn &turn);

// At unload: waits until the turn under way, if any, has ended, limitMs at
// most (a turn still held then is skipped); not at all when it is the calling
// thread's own (POSIX: a signal handler that ends the process in the middle
// of a reading). Readings queued behind it are not waited for.
void AwaitReadingInFlight(uint32_t limitMs);
