// The probe's clock: durations of readings and the pause between them.
// Shared with the benchmark.
#pragma once

namespace probe {

// Milliseconds on a steady clock.
double NowMs();
// Sleeps that long; nothing for zero or less.
void SleepMs(double ms);

} // namespace probe
