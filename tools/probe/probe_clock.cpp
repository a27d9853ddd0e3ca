#include "probe_clock.h"

#if defined(_WIN32)
#include <windows.h>
#else
#include <errno.h>
#include <time.h>
#endif

namespace probe {

#if defined(_WIN32)

// The performance counter: present since Windows 2000, unlike GetTickCount64.
double NowMs() {
    LARGE_INTEGER frequency, now;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&now);
    return static_cast<double>(now.QuadPart) * 1000.0 / static_cast<double>(frequency.QuadPart);
}

void SleepMs(double ms) {
    if (ms > 0)
        Sleep(static_cast<DWORD>(ms + 0.5));
}

#else

double NowMs() {
    timespec now;
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<double>(now.tv_sec) * 1e3 + static_cast<double>(now.tv_nsec) / 1e6;
}

void SleepMs(double ms) {
    if (ms <= 0)
        return;
    const long long ns = static_cast<long long>(ms * 1e6);
    timespec pause;
    pause.tv_sec = static_cast<time_t>(ns / 1000000000);
    pause.tv_nsec = static_cast<long>(ns % 1000000000);
    while (nanosleep(&pause, &pause) != 0 && errno == EINTR) {
    }
}

#endif

} // namespace probe
