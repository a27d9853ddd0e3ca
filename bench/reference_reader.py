#!/usr/bin/env python3
"""The reference reader of the benchmark: one reading of the meter done with
pyserial, the way a small Python host would do it. Takes one reading (not
counted), then COUNT more, SPACING ms apart, and prints the same fields as
tarvel-bench. Usage: reference_reader.py PORT COUNT SPACING_MS"""
import resource
import statistics
import sys
import time

import serial

port, count, spacing = sys.argv[1], int(sys.argv[2]), float(sys.argv[3])


def cpu_ms():
    usage = resource.getrusage(resource.RUSAGE_SELF)
    return (usage.ru_utime + usage.ru_stime) * 1e3


with serial.Serial(port, 2400, timeout=1) as line:
    def reading():
        line.reset_input_buffer()
        line.write(b"?RD\r")
        return line.read_until(b"\r")

    reading()
    durations, cpu, values = [], 0.0, 0
    for _ in range(count):
        time.sleep(spacing / 1e3)
        cpu_start, start = cpu_ms(), time.perf_counter()
        reply = reading()
        durations.append((time.perf_counter() - start) * 1e3)
        cpu += cpu_ms() - cpu_start
        values += reply.endswith(b"\r")
print("n=%d values=%d median_ms=%.2f min_ms=%.2f max_ms=%.2f cpu_ms=%.2f"
      % (count, values, statistics.median(durations), min(durations), max(durations),
         cpu / count))
