#include "reading_turn.h"

#include <stdint.h>

#if defined(_WIN32)
#include <windows.h>
#else
#include <pthread.h>
#include <time.h>
#endif

namespace {

// A ticket lock: each reading draws the next ticket and goes on when the
// turn counter reaches it. Unsigned, so both counters wrap together.
uint32_t NextTicket = 0;
uint32_t Serving = 0;

#if defined(_WIN32)
void Pause() { Sleep(1); }
#else
int CancelState = PTHREAD_CANCEL_ENABLE; // of the thread whose turn it is

void Pause() {
    const timespec millisecond = {0, 1000000};
    nanosleep(&millisecond, nullptr);
}
#endif

} // namespace

void TakeReadingTurn() {
#if !defined(_WIN32)
    int state;
    pthread_setcancelstate(PTHREAD_CANCEL_DISABLE, &state);
#endif
    const uint32_t ticket = __atomic_fetch_add(&NextTicket, 1u, __ATOMIC_RELAXED);
    while (__atomic_load_n(&Serving, __ATOMIC_ACQUIRE) != ticket)
        Pause();
#if !defined(_WIN32)
    CancelState = state;
#endif
}

void EndReadingTurn() {
#if !defined(_WIN32)
    const int state = CancelState;
#endif
    __atomic_fetch_add(&Serving, 1u, __ATOMIC_RELEASE);
#if !defined(_WIN32)
    pthread_setcancelstate(state, nullptr);
#endif
}
