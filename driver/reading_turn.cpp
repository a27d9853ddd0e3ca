#include "reading_turn.h"

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>

#include "counter_ms.h"
#else
#include <pthread.h>
#include <sys/syscall.h>
#include <time.h>
#include <unistd.h>
#endif

namespace {

// A ticket lock: each reading draws the next ticket and goes on when the
// turn counter reaches it. Unsigned, so both counters wrap together. The
// tickets go in steps of 2: the turn counter's lowest bit says that the
// thread whose turn it is has taken it. It takes the turn, and another
// thread skips it, by changing the counter in one step, so that never both.
#if !defined(TARVEL_FIRST_TICKET)
#define TARVEL_FIRST_TICKET 0u // unit tests start just before the wrap
#endif
uint32_t NextTicket = TARVEL_FIRST_TICKET;
uint32_t Serving = TARVEL_FIRST_TICKET;
const uint32_t TicketStep = 2;
const uint32_t Taken = 1;

uint32_t TurnOf(uint32_t serving) { return serving & ~Taken; }

// The turn whose thread is known (none yet), and that thread below:
// OwnerTicket is set after it, so that a thread that reads OwnerTicket equal
// to the turn served knows who holds it. A thread whose own turn was skipped
// while it was kept off the processor may have noted itself over the owner
// of a later turn.
uint32_t OwnerTicket = UINT32_MAX;

#if defined(_WIN32)

// Set when a turn is handed on, reset by the thread that takes it: the
// threads waiting wake at once, where a Sleep(1) would last until the next
// timer tick (15.6 ms on a stock Windows).
HANDLE TurnHandedOn = nullptr;

uint32_t NowMs() {
    LARGE_INTEGER perSecond, now;
    QueryPerformanceFrequency(&perSecond);
    QueryPerformanceCounter(&now);
    return CounterMilliseconds(static_cast<uint64_t>(now.QuadPart),
                               static_cast<uint64_t>(perSecond.QuadPart));
}

#if defined(TARVEL_COARSE_TIMER)
// Unit tests only: every timed wait lasts until the next tick of a 64 Hz
// timer, as on a stock Windows (Wine's timers are exact).
DWORD Coarse(DWORD ms) {
    LARGE_INTEGER perSecond, now;
    QueryPerformanceFrequency(&perSecond);
    QueryPerformanceCounter(&now);
    const uint64_t frequency = static_cast<uint64_t>(perSecond.QuadPart);
    const uint64_t tick = frequency / 64, count = static_cast<uint64_t>(now.QuadPart);
    const uint64_t wake = ((count + frequency * ms / 1000) / tick + 1) * tick;
    return static_cast<DWORD>((wake - count) * 1000 / frequency) + 1;
}
#else
DWORD Coarse(DWORD ms) { return ms; }
#endif

DWORD OwnerThread;

void NoteOwner() { __atomic_store_n(&OwnerThread, GetCurrentThreadId(), __ATOMIC_RELAXED); }
// True also for the calling thread itself: it is not inside the turn it holds.
bool OwnerEnded() {
    const DWORD id = __atomic_load_n(&OwnerThread, __ATOMIC_RELAXED);
    if (id == GetCurrentThreadId())
        return true;
    const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, id);
    if (thread == nullptr)
        return true; // no such thread any more
    const bool ended = WaitForSingleObject(thread, 0) == WAIT_OBJECT_0;
    CloseHandle(thread);
    return ended;
}

void Pause() { Sleep(Coarse(1)); }
void GiveWay() { Sleep(0); }

// Sleeps until a turn is handed on, waitMs at most; true when woken by it.
bool AwaitHandOn(uint32_t waitMs) {
    const HANDLE event = TurnHandedOn;
    if (event == nullptr) {
        Pause();
        return false;
    }
    return WaitForSingleObject(event, Coarse(waitMs)) == WAIT_OBJECT_0;
}
void HandedOn() {
    const HANDLE event = TurnHandedOn;
    if (event != nullptr)
        SetEvent(event);
}
void TurnTaken() {
    const HANDLE event = TurnHandedOn;
    if (event != nullptr)
        ResetEvent(event);
}

#else

pthread_t OwnerThread;
pid_t OwnerTask; // the same thread, as the kernel knows it

pid_t OwnTask() { return static_cast<pid_t>(syscall(SYS_gettid)); }
void NoteOwner() {
    OwnerThread = pthread_self();
    __atomic_store_n(&OwnerTask, OwnTask(), __ATOMIC_RELAXED);
}
// True also for the calling thread itself: a reading from a signal handler
// that interrupted this thread's own is not inside the turn it holds.
bool OwnerEnded() {
    const pid_t task = __atomic_load_n(&OwnerTask, __ATOMIC_RELAXED);
    return task == OwnTask() || syscall(SYS_tgkill, getpid(), task, 0) != 0;
}

uint32_t NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
}

void Pause() {
    const timespec millisecond = {0, 1000000};
    nanosleep(&millisecond, nullptr);
}
bool AwaitHandOn(uint32_t) {
    Pause();
    return false;
}
void GiveWay() {}
void HandedOn() {}
void TurnTaken() {}

// A child forked while a thread of its parent held a turn, or waited for
// one, has no such thread: no turn is held or wanted in it.
void ForkedChild() {
    __atomic_store_n(&Serving, __atomic_load_n(&NextTicket, __ATOMIC_SEQ_CST), __ATOMIC_SEQ_CST);
}

#endif

uint32_t Elapsed(uint32_t since) {
    const uint32_t difference = NowMs() - since;
    return difference < 0x80000000u ? difference : 0;
}

// Whether the thread of the turn `serving` (the turn counter as read) is
// still there. A turn held much longer than a reading lasts most likely
// belongs to a thread that was killed, but it may also be a reading stalled
// in the system (a port that takes seconds to open again, a process stopped
// in a debugger): the line is still that reading's until its thread has
// ended. A turn that was never taken was drawn by a thread killed while it
// waited, or kept off the processor when the turn came. A taken turn whose
// owner was noted over (see OwnerTicket) counts as alive.
bool OwnerAlive(uint32_t serving) {
    if ((serving & Taken) == 0)
        return false;
    return __atomic_load_n(&OwnerTicket, __ATOMIC_SEQ_CST) != TurnOf(serving) || !OwnerEnded();
}

// A turn held this many times longer than any reading lasts is skipped even
// while its thread lives: no reading, not even one whose port takes many
// seconds to open again, lasts that long. Its thread left the reading without
// ending the turn (a siglongjmp out of a signal handler), or is a new thread
// that was given a killed one's id.
const uint32_t LiveTurnFactor = 15;

// Moves the turn counter from `serving` on to the next turn, if it still
// reads `serving`.
void HandOn(uint32_t serving) {
    __atomic_compare_exchange_n(&Serving, &serving, TurnOf(serving) + TicketStep, false,
                                __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST);
    HandedOn();
}

// Longest sleep between two looks at the turn: readings still queued when
// the library stops find out soon even without a hand-on.
const uint32_t LookEveryMs = 50;

} // namespace

void StartReadingTurns() {
#if defined(_WIN32)
    TurnHandedOn = CreateEventA(nullptr, TRUE, FALSE, nullptr);
#else
    pthread_atfork(nullptr, nullptr, ForkedChild);
#endif
}

void EndReadingTurns() {
#if defined(_WIN32)
    // Not while readings still wait for a turn (a host that unloads with
    // threads inside the library): they keep it.
    if (__atomic_load_n(&Serving, __ATOMIC_SEQ_CST) !=
        __atomic_load_n(&NextTicket, __ATOMIC_SEQ_CST))
        return;
    const HANDLE event = TurnHandedOn;
    TurnHandedOn = nullptr;
    if (event != nullptr)
        CloseHandle(event);
#endif
}

bool TakeReadingTurn(uint32_t longestTurnMs, ReadingTurn *turn) {
    turn->cancelState = 0;
#if !defined(_WIN32)
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &turn->cancelState);
#endif
    const uint32_t ticket = __atomic_fetch_add(&NextTicket, TicketStep, __ATOMIC_SEQ_CST);
    uint32_t watched = ticket; // no turn watched yet: it is never this one
    uint32_t watchedSince = 0, signalSince = 0;
    bool handOnSeen = false, signalSeen = false;
    for (;;) {
        uint32_t serving = __atomic_load_n(&Serving, __ATOMIC_SEQ_CST);
        if (serving == ticket) {
            // The owner is noted before the turn is taken, so that a taken
            // turn always names its thread. Until then no thread but this
            // one notes itself: the turn before has ended.
            NoteOwner();
            __atomic_store_n(&OwnerTicket, ticket, __ATOMIC_SEQ_CST);
            if (__atomic_compare_exchange_n(&Serving, &serving, ticket | Taken, false,
                                            __ATOMIC_SEQ_CST, __ATOMIC_SEQ_CST))
                break;
            continue; // skipped just now: the next look finds it gone by
        }
        if (static_cast<int32_t>(TurnOf(serving) - ticket) > 0) {
            // This thread's own turn came and was skipped while it was kept
            // off the processor: the readings behind it went on.
#if !defined(_WIN32)
            pthread_setcancelstate(turn->cancelState, nullptr);
#endif
            return false;
        }
        if (serving != watched) {
            watched = serving;
            watchedSince = NowMs();
            signalSeen = false;
        } else if (Elapsed(watchedSince) > longestTurnMs &&
                   (Elapsed(watchedSince) > LiveTurnFactor * longestTurnMs ||
                    !OwnerAlive(serving))) {
            // A turn held longer than any reading lasts, and no thread alive
            // behind it (killed while it read or waited), or held far longer
            // than that: skip it.
            HandOn(serving);
            continue;
        } else if (handOnSeen) {
            // The hand-on signal is still set for the thread that took the
            // turn and has yet to reset it (or was left set): let that thread
            // run, and after a moment look in steps rather than spin.
            if (!signalSeen) {
                signalSeen = true;
                signalSince = NowMs();
            }
            if (Elapsed(signalSince) < 2)
                GiveWay();
            else
                Pause();
        }
        const uint32_t held = Elapsed(watchedSince);
        const uint32_t left = held <= longestTurnMs ? longestTurnMs + 1u - held : LookEveryMs;
        handOnSeen = AwaitHandOn(left < LookEveryMs ? left : LookEveryMs);
    }
    TurnTaken();
    turn->ticket = ticket;
    return true;
}

void EndReadingTurn(const ReadingTurn &turn) {
    HandOn(turn.ticket | Taken);
#if !defined(_WIN32)
    pthread_setcancelstate(turn.cancelState, nullptr);
#endif
}

void AwaitReadingInFlight(uint32_t limitMs) {
    const uint32_t serving = __atomic_load_n(&Serving, __ATOMIC_SEQ_CST);
    if (serving == __atomic_load_n(&NextTicket, __ATOMIC_SEQ_CST))
        return; // no turn taken or wanted
#if !defined(_WIN32)
    // Stopped by the thread whose turn it is (exit() from a signal handler
    // that interrupted its reading): that reading never goes on.
    if ((serving & Taken) != 0 &&
        __atomic_load_n(&OwnerTicket, __ATOMIC_ACQUIRE) == TurnOf(serving) &&
        pthread_equal(OwnerThread, pthread_self()))
        return;
#endif
    // The turn under way, whether its thread has taken it yet or not.
    const uint32_t underWay = TurnOf(serving);
    const uint32_t start = NowMs();
    for (;;) {
        const uint32_t now = __atomic_load_n(&Serving, __ATOMIC_SEQ_CST);
        if (TurnOf(now) != underWay)
            return;
        if (Elapsed(start) > limitMs) {
            HandOn(now); // no reading behind it any more: its thread is gone
            if (TurnOf(__atomic_load_n(&Serving, __ATOMIC_SEQ_CST)) != underWay)
                return;
            continue; // taken just now
        }
        if (AwaitHandOn(LookEveryMs) &&
            TurnOf(__atomic_load_n(&Serving, __ATOMIC_SEQ_CST)) == underWay)
            Pause(); // the hand-on signal was left set
    }
}
