#!/usr/bin/env python3
"""Runs tarvel-probe as a lab technician would, against the meter simulator.

Usage: probe_test.py CASE PROBE METERSIM LINK NO_EXPORTS [RUNNER...]

PROBE is tarvel-probe with tarvel_1 ... tarvel_5 beside it (and tarvel_12 in
more-ports/ there, for case more_ports); LINK is
--link-dir=DIR (Linux libraries whose comN: is DIR/ttyS(N-1)) or
--wine-prefix=PREFIX (Windows builds, run through RUNNER, e.g. wine-run --64);
NO_EXPORTS is a loadable library that is no tarvel driver.
CASE is one of: reads, silent, usage, csv, scan, more_ports, stray."""
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time

case, probe, metersim, link, no_exports = sys.argv[1:6]
runner = sys.argv[6:]
wine = link.startswith("--wine-prefix=")
failures = []


def check(condition, what, result=None):
    if not condition:
        failures.append(what if result is None else "%s\n  exit %d\n  stdout: %r\n  stderr: %r"
                        % (what, result.returncode, result.stdout, result.stderr))


def host_path(path):
    """A path as the probe names it: Wine sees the Unix root as drive Z:."""
    return "Z:" + path.replace("/", "\\") if wine else path


def device(port):
    """Where the port's device is for the probe's drivers."""
    folder = link.split("=", 1)[1]
    return os.path.join(folder, "dosdevices", "com%d" % port) if wine else \
        os.path.join(folder, "ttyS%d" % (port - 1))


def run(args, meter=None, cwd=None, program=None, port=1):
    """Runs the probe, under a simulated meter on com<port>: when meter is a
    list of metersim options. Output comes back as text with Windows line ends
    folded; the title's e-grave is kept apart (UTF-8 or Windows-1252)."""
    command = runner + [program or probe] + args
    if port != 1:
        # The simulator links ports 1 to 5 only: its com1 link is moved to
        # the port's place before the probe starts.
        command = ["sh", "-c", 'mv "$1" "$2" && shift 2 && exec "$@"', "sh", device(1),
                   device(port), *command]
    if meter is not None:
        command = [metersim, "--com", "1", *link.split("=", 1), "--quiet", *meter, "--run", *command]
    result = subprocess.run(command, capture_output=True, cwd=cwd, timeout=60)
    result.raw = result.stdout
    result.stdout = result.stdout.replace(b"\r\n", b"\n").decode("latin-1")
    result.stderr = result.stderr.replace(b"\r\n", b"\n").decode("latin-1")
    return result


def one_error_line(result, status, text, what):
    lines = result.stderr.splitlines()
    check(result.returncode == status and len(lines) == 1 and text in result.stderr,
          what + ": exit %d and one line with %r on stderr" % (status, text), result)


READING = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d  pH (.+?)\s+mV (.+?)\s+(\d+) ms$", re.M)


def reads():
    start = time.monotonic()
    r = run(["--count", "3", "--interval", "0.4"], meter=["--ph", "4.01", "--mv", "-45"])
    elapsed = time.monotonic() - start
    check(r.returncode == 0 and r.stderr == "", "a meter that answers: exit 0, quiet", r)
    title = b"phm\xe8tre" if wine else "phmètre".encode()
    check(title + b" PHN130T,com1:" in r.raw, "the title, as the console shows it", r)
    check("Radiometer PHN130T, com1:" in r.stdout, "the detail", r)
    check("channel 0: pH (as integer: pH*100)\nchannel 1: mV (as integer: mV)\n" in r.stdout,
          "the channel names", r)
    readings = READING.findall(r.stdout)
    # The potential keeps its sign; values come from the meter, not defaults.
    check(len(readings) == 3 and all(ph == "4.01" and mv == "-45" for ph, mv, _ in readings),
          "three readings of pH 4.01 and -45 mV", r)
    # Two queries of a 20-byte reply at 2400 baud: about 160 ms, well under
    # the two time-outs.
    check(all(100 <= int(ms) <= 900 for _, _, ms in readings), "reading durations", r)
    check(elapsed >= 0.8, "readings spaced by --interval (took %.2f s)" % elapsed)


def silent():
    r = run([], meter=["--fault", "silent"])
    readings = READING.findall(r.stdout)
    check(len(readings) == 1 and readings[0][:2] == ("no value", "no value"),
          "a silent meter reads as no value", r)
    check(len(readings) == 1 and 1900 <= int(readings[0][2]) <= 2500,
          "two queries each waiting out the 1000 ms time-out", r)
    one_error_line(r, 1, "no value from the meter", "a silent meter")


def usage():
    r = run(["--help"])
    check(r.returncode == 0 and r.stdout.startswith("usage:") and "--scan" in r.stdout,
          "--help", r)
    for args, text in [(["--port", "256"], "--port is 1 to 255"),
                       (["--port", "x"], "wants a number"),
                       (["--bogus"], "unknown option --bogus"),
                       (["--count"], "--count needs a value"),
                       (["--count", "0"], "--count is a whole number"),
                       (["--interval", "-1"], "--interval is 0"),
                       (["--port", "2", "--library", "x"], "not both"),
                       (["--scan", "--port", "2"], "--scan tries every port")]:
        r = run(args)
        one_error_line(r, 2, text, " ".join(args))
        check(r.stdout == "", " ".join(args) + ": nothing on stdout", r)

    missing = host_path(os.path.join(tempfile.gettempdir(), "no-such-dir", "tarvel_1.dll"))
    one_error_line(run(["--library", missing]), 2, "not found", "a missing --library")
    one_error_line(run(["--library", host_path(no_exports)]), 2,
                   "is not a tarvel driver: it has no export stdtitre", "a library without exports")
    # By port, the driver is looked for beside the probe and in the current
    # directory: a probe alone in a directory finds none.
    with tempfile.TemporaryDirectory() as alone:
        copy = os.path.join(alone, os.path.basename(probe))
        shutil.copy(probe, copy)
        r = run(["--port", "3"], cwd=alone, program=copy)
        one_error_line(r, 2, "tarvel_3.%s not found" % ("dll" if wine else "so"),
                       "a probe without its drivers")


def csv():
    with tempfile.TemporaryDirectory() as scratch:
        path = os.path.join(scratch, "readings.csv")
        first = run(["--count", "2", "--interval", "0", "--csv", host_path(path)], meter=[])
        second = run(["--csv", host_path(path)], meter=["--fault", "silent"])
        check(first.returncode == 0 and second.returncode == 1, "both runs read", second)
        with open(path, newline="") as f:
            lines = f.read().split("\n")
    row = re.compile(r"^\d{4}-\d\d-\d\d \d\d:\d\d:\d\d,7\.02,-123,\d+$")
    check(len(lines) == 5 and lines[0] == "time,ph,mv,ms" and lines[4] == ""
          and row.match(lines[1]) and row.match(lines[2])
          and re.match(r"^[-\d: ]+,,,\d+$", lines[3]),
          "one header, then rows appended by both runs (no value: empty cells): %r" % lines)


def scan():
    r = run(["--scan"], meter=["--ph", "9.18", "--mv", "0"])
    check(r.returncode == 0, "a meter on com1: exit 0", r)
    check("com1: meter answers: pH 9.18, 0 mV\n" in r.stdout, "com1 answers", r)
    for port in range(2, 6):
        check("com%d: no meter answers\n" % port in r.stdout, "com%d has no meter" % port, r)


def more_ports():
    """tarvel_12 in more-ports/ beside the probe: found by port and by the
    scan, its texts name com12:, and it opens the device of COM12 (on
    Windows by the path \\\\.\\COM12, as "com12:" opens nothing there)."""
    try:
        r = run(["--port", "12"], meter=["--ph", "4.01", "--mv", "-45"], port=12)
        e = b"\xe8" if wine else "\xe8".encode()
        lines = r.raw.replace(b"\r\n", b"\n")
        check(b"title:    phm" + e + b"tre PHN130T,com12:\n" in lines, "the title of com12:", r)
        check(b"detail:   DLL pour pHm" + e + b"tre Tacussel Radiometer PHN130T, com12:, Orlevan, "
              b"26 nov 2007\n" in lines, "the detail of com12:", r)
        readings = READING.findall(r.stdout)
        check(len(readings) == 1 and readings[0][:2] == ("4.01", "-45"), "a reading on com12:", r)
        r = run(["--scan"], meter=["--ph", "9.18", "--mv", "0"], port=12)
        check(r.returncode == 0 and "com12: meter answers: pH 9.18, 0 mV\n" in r.stdout
              and "com1: no meter answers\n" in r.stdout, "the scan finds com12:", r)
    finally:
        if os.path.islink(device(12)):
            os.remove(device(12))
    if wine:
        library = os.path.join(os.path.dirname(probe), "more-ports", "tarvel_12.dll")
        with open(library, "rb") as f:
            check(b"\\\\.\\COM12\0" in f.read(), "tarvel_12.dll opens \\\\.\\COM12")


def stray():
    """A driver found in the current directory, or named there by --library,
    is the one loaded, even with a stray copy of that name where the system
    looks first for a bare name (Windows: its system folder, before the
    current directory; Linux: LD_LIBRARY_PATH)."""
    name = "tarvel_1." + ("dll" if wine else "so")
    drivers = os.path.dirname(os.path.abspath(probe))
    with tempfile.TemporaryDirectory() as scratch:
        if wine:
            system = os.path.join(link.split("=", 1)[1], "drive_c", "windows", "system32")
        else:
            system = os.path.join(scratch, "lib")
            os.mkdir(system)
            os.environ["LD_LIBRARY_PATH"] = system
        stray_copy = os.path.join(system, name)
        shutil.copy(no_exports, stray_copy)
        # The probe alone elsewhere: by port it finds the driver only in the
        # current directory.
        alone = os.path.join(scratch, "alone")
        os.mkdir(alone)
        copy = os.path.join(alone, os.path.basename(probe))
        shutil.copy(probe, copy)
        try:
            for args in (["--port", "1"], ["--library", name]):
                r = run(args, meter=["--ph", "4.01", "--mv", "-45"], cwd=drivers, program=copy)
                readings = READING.findall(r.stdout)
                check(r.returncode == 0 and "driver:   %s\n" % name in r.stdout
                      and len(readings) == 1 and readings[0][:2] == ("4.01", "-45"),
                      " ".join(args) + ": the driver of the current directory reads the meter", r)
        finally:
            os.remove(stray_copy)


{"reads": reads, "silent": silent, "usage": usage, "csv": csv, "scan": scan,
 "more_ports": more_ports, "stray": stray}[case]()
for failure in failures:
    print("FAILED:", failure)
sys.exit(1 if failures else 0)
