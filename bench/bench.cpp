// tarvel-bench: times readings through a tarvel deliverable, loaded as a
// host loads it (see tools/probe/probe_host.h).
//
//   tarvel-bench --library PATH [--count N] [--spacing MS]
//
// Takes one reading of the pH (not counted), then N more, MS milliseconds
// apart, and prints one line of key=value fields: the number of readings,
// how many had a value, the median, lowest and highest duration in ms, and
// the CPU time (user + system) per reading in ms.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#if defined(_WIN32)
#include <windows.h>
#else
#include <sys/resource.h>
#endif

#include "probe_clock.h"
#include "probe_host.h"

namespace {

// CPU time (user + system) of this process, in ms.
double CpuMs() {
#if defined(_WIN32)
    FILETIME created, exited, kernel, user;
    if (!GetProcessTimes(GetCurrentProcess(), &created, &exited, &kernel, &user))
        return 0.0;
    const auto ticks = [](const FILETIME &t) { // 100 ns units
        return (static_cast<uint64_t>(t.dwHighDateTime) << 32) | t.dwLowDateTime;
    };
    return static_cast<double>(ticks(kernel) + ticks(user)) / 1e4;
#else
    rusage usage;
    getrusage(RUSAGE_SELF, &usage);
    const auto ms = [](const timeval &t) { return t.tv_sec * 1e3 + t.tv_usec / 1e3; };
    return ms(usage.ru_utime) + ms(usage.ru_stime);
#endif
}

} // namespace

int main(int argc, char **argv) {
    std::string path;
    long count = 20;
    double spacing = 50;
    for (int i = 1; i + 1 < argc; i += 2) {
        const std::string option = argv[i];
        if (option == "--library")
            path = argv[i + 1];
        else if (option == "--count")
            count = std::max(1L, std::atol(argv[i + 1]));
        else if (option == "--spacing")
            spacing = std::atof(argv[i + 1]);
    }
    probe::Deliverable d;
    char error[probe::ErrorSize];
    if (path.empty() || !probe::Load(path.c_str(), &d, error)) {
        std::fprintf(stderr, "tarvel-bench: %s\n", path.empty() ? "--library PATH" : error);
        return 2;
    }
    d.read(0);
    std::vector<double> durations;
    double cpu = 0;
    long values = 0;
    for (long i = 0; i < count; ++i) {
        probe::SleepMs(spacing);
        const double cpuStart = CpuMs();
        const double start = probe::NowMs();
        const double value = d.read(0);
        durations.push_back(probe::NowMs() - start);
        cpu += CpuMs() - cpuStart;
        values += value != probe::NoValue;
    }
    probe::Unload(&d);
    std::sort(durations.begin(), durations.end());
    const size_t n = durations.size();
    const double median = (durations[(n - 1) / 2] + durations[n / 2]) / 2;
    std::printf("n=%ld values=%ld median_ms=%.2f min_ms=%.2f max_ms=%.2f cpu_ms=%.2f\n", count,
                values, median, durations.front(), durations.back(), cpu / count);
    return 0;
}
