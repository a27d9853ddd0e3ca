#!/usr/bin/env bash
# Times readings of a simulated PHN130T through the deliverables, natively
# (Linux .so) and under Wine (64-bit DLL; 32-bit where this machine runs it),
# next to a pyserial reader, prints a table and writes bench/RESULTS.md.
#   (a) a reading at 2400 baud against the wire time of query and reply
#   (b) a reading from an instant meter against the pyserial reader
#   (c) a reading with no reply against the 1000 ms time-out, the readings
#       far enough apart that the late window after a time-out is over
#   (d) CPU time (user + system) per reading in each case
#   (e) a reading with no reply right after another, which first waits out
#       the late window (at most 1.3 s in all), from a meter that answered
#       before, and from one that never did (whose line's hold no reply has
#       shown: the window allows for the longest)
#   (f) a reading at 2400 baud right after another (no pause), on a direct
#       line and behind 16 and 40 ms USB adapters and a 14-byte UART FIFO
set -euo pipefail
. "$(dirname "$0")/../scripts/lib.sh"
"$root/scripts/install-deps.sh"
if ! /usr/bin/python3 -c 'import serial' 2>/dev/null; then
    echo "installing: python3-serial"
    DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends \
        python3-serial >/dev/null
fi

count=${BENCH_COUNT:-50}     # readings per case
silent_count=5               # each of these takes a second
spacing=50                   # ms between readings, as a polling host
# An instant meter's reply arrives all at once, as only a line that held it
# back for 79 ms and more could deliver it at 2400 baud: the driver takes that
# line's hold at its limit, and lets the line be quiet 70 ms before a query.
instant_spacing=100
silent_spacing=350           # past the late window (320 ms on a line no reply has shown)
reply_bytes=20               # "mV: -123  pH:  7.02" and CR
wire_ms=$(awk -v r=$reply_bytes 'BEGIN { printf "%.1f", (4 + r) * 10 / 2400 * 1000 }')

echo "building ..."
configure_all
build native metersim tarvel-bench bench_tarvel_1
build win64 tarvel-bench tarvel_1
platforms=(native win64)
# The 32-bit DLL is timed only under a 32-bit Wine of this machine's own: in
# the emulated PC that runs its tests elsewhere, every instruction is
# translated, so its timings would say nothing about the driver.
no_win32=
if [ $wine32 = ON ]; then
    build win32 tarvel-bench tarvel_1
    platforms+=(win32)
else
    no_win32="The 32-bit DLL is not in the table: this machine's kernel runs no 32-bit code, and timings
in the emulated 32-bit PC (\`scripts/win32-guest\`, software emulation) would measure the emulator."
fi

prefixes=()
cleanup() {
    for p in "${prefixes[@]+"${prefixes[@]}"}"; do WINEPREFIX=$p /usr/lib/wine/wineserver -k 2>/dev/null || true; done
}
trap cleanup EXIT

declare -A result
field() { # field LINE KEY
    sed -n "s/.*\\b$2=\\([^ ]*\\).*/\\1/p" <<<"$1"
}

# measure PLATFORM CASE METERSIM-OPTIONS...: one run of the bench program
measure() {
    local platform=$1 case=$2 n=$count spacing=$spacing
    shift 2
    case $case in
    b) spacing=$instant_spacing ;;
    c) n=$silent_count spacing=$silent_spacing ;;
    e*) n=$silent_count spacing=0 ;;
    f*) spacing=0 ;;
    esac
    local line
    case $platform in
    native)
        line=$("$sim" --com 1 --link-dir "$builds/native/benchdev" --quiet "$@" \
            --run "$builds/native/tarvel-bench" --library "$builds/native/benchlib/tarvel_1.so" \
            --count $n --spacing $spacing)
        ;;
    pyserial)
        line=$("$sim" --com 1 --link-dir "$builds/native/benchdev" --quiet "$@" \
            --run /usr/bin/python3 "$root/bench/reference_reader.py" \
            "$builds/native/benchdev/ttyS0" $n $spacing)
        ;;
    win64 | win32)
        local loader=()
        [ "$platform" = win64 ] && loader=(--64)
        local prefix=$builds/$platform/bench-wineprefix
        line=$(cd "$builds/$platform" && WINEPREFIX=$prefix "$sim" --com 1 --wine-prefix "$prefix" \
            --quiet "$@" --run "$root/scripts/wine-run" "${loader[@]}" ./tarvel-bench.exe \
            --library tarvel_1.dll --count $n --spacing $spacing | tr -d '\r')
        ;;
    esac
    result[$platform.$case.ms]=$(field "$line" median_ms)
    result[$platform.$case.cpu]=$(field "$line" cpu_ms)
    result[$platform.$case.values]="$(field "$line" values)/$(field "$line" n)"
    echo "  $platform ($case): $line"
}

echo "measuring ($count readings per case, $silent_count without reply) ..."
for platform in "${platforms[@]}"; do
    if [ "$platform" != native ]; then
        prefixes+=("$builds/$platform/bench-wineprefix")
        "$root/scripts/wine-prefix" "${prefixes[-1]}" $([ "$platform" = win64 ] && echo --64)
    fi
    measure "$platform" a
    measure "$platform" b --instant
    measure "$platform" c --fault silent
    measure "$platform" e --fault silent --fault-from 2
    measure "$platform" e0 --fault silent
    measure "$platform" f0
    measure "$platform" f16 --usb 16
    measure "$platform" f40 --usb 40
    measure "$platform" ffifo --fifo 14
done
measure pyserial b --instant

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.3f", a / b }'; }
columns=("${platforms[@]}")
declare -A names=([native]="Linux .so" [win64]="wine64, 64-bit DLL" [win32]="Wine, 32-bit DLL")
row() { # row LABEL FORMATTER
    local label=$1 text="| $1 |"
    shift
    for p in "${columns[@]}"; do text+=" $("$@" "$p") |"; done
    echo "$text"
}
a_ms() { echo "${result[$1.a.ms]} ms"; }
a_ratio() { ratio "${result[$1.a.ms]}" "$wire_ms"; }
b_ms() { echo "${result[$1.b.ms]} ms (pyserial ${result[pyserial.b.ms]} ms)"; }
b_ratio() { ratio "${result[$1.b.ms]}" "${result[pyserial.b.ms]}"; }
c_ms() { echo "${result[$1.c.ms]} ms"; }
e_ms() { echo "${result[$1.e.ms]} ms"; }
e0_ms() { echo "${result[$1.e0.ms]} ms"; }
f_ms() { echo "${result[$1.f0.ms]} / ${result[$1.f16.ms]} / ${result[$1.f40.ms]} / ${result[$1.ffifo.ms]} ms"; }
f_values() { echo "${result[$1.f0.values]} / ${result[$1.f16.values]} / ${result[$1.f40.values]} / ${result[$1.ffifo.values]}"; }
cpu() { echo "${result[$1.a.cpu]} / ${result[$1.b.cpu]} / ${result[$1.c.cpu]}"; }
values() { echo "${result[$1.a.values]} / ${result[$1.b.values]} / ${result[$1.c.values]}"; }

header="| |"
rule="| --- |"
for p in "${columns[@]}"; do
    header+=" ${names[$p]} |"
    rule+=" --- |"
done
table=$(
    echo "$header"
    echo "$rule"
    row "(a) reading at 2400 baud, median" a_ms
    row "(a) ratio to the wire time ($wire_ms ms; target ≤ 0.85)" a_ratio
    row "(b) reading from an instant meter, median" b_ms
    row "(b) ratio to pyserial (target ≤ 1 natively)" b_ratio
    row "(c) reading without reply, $silent_spacing ms apart, median (target 1000–1015 ms)" c_ms
    row "(e) reading without reply right after one, from a meter that answered before, median (target 1260–1300 ms)" e_ms
    row "(e) the same from a meter that never answered, median (target 1320–1360 ms)" e0_ms
    row "(f) reading right after one, direct / USB 16 ms / USB 40 ms / FIFO 14, median (target: direct ≤ 95 ms; each slower line at most 2 × its hold more)" f_ms
    row "(f) readings with a value" f_values
    row "(d) CPU ms per reading, a / b / c (pyserial b: ${result[pyserial.b.cpu]})" cpu
    row "readings with a value, a / b / c" values
)
echo
echo "$table"
[ -z "$no_win32" ] || printf '\n%s\n' "$no_win32"

machine="$(uname -srm); $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //'),"
machine+=" $(nproc) CPUs, load average $(cut -d' ' -f1-3 /proc/loadavg) at the end of the run"
cat >"$root/bench/RESULTS.md" <<EOF
# Benchmark results

Latest run of \`bench/run.sh\`, $(date -u '+%Y-%m-%d %H:%M UTC'), on $machine.
Medians over $count readings ($silent_count without reply), $spacing ms apart (b: $instant_spacing, c: $silent_spacing, e and f: none), against
\`metersim\`; wire time = (4 + $reply_bytes bytes) × 10 bits / 2400 baud.

$table
${no_win32:+
$no_win32
}
Reading the table:

- (a) can come out below 1: the simulator starts its reply the moment the query arrives, so
  the query's own wire time (4 bytes, 16.7 ms) is not spent; the reading lasts about as long as
  the reply (CR after 79.2 ms).
- Between bytes the driver sleeps until input arrives: on Linux in \`poll()\`, like the
  pyserial reader's \`select()\`; on Windows in a one-byte \`ReadFile\` that returns at the
  first byte or when the time left is up. So (d) stays small, on a time-out too (target: at
  most 5 % of the reading's duration in (a) and (c)).
- (b) reads an instant meter $instant_spacing ms apart: its whole reply arrives at once, which
  only a line that held it back could do at 2400 baud, so the driver takes the line's hold at
  its 60 ms limit and waits until the line has been quiet for 70 ms before the next query.
- (e) is (c) plus the late window: after a reading without reply, the next query waits until
  260 ms have passed since that time-out, so that a reply up to 250 ms late is dropped rather
  than taken for the next answer. A host that pauses that long, as in (c), does not wait. On a
  line no reply has shown yet (a meter that never answered), the window allows for the longest
  hold, 60 ms more.
- (f): right after a reply the driver waits until the line has been quiet for 10 ms plus the
  hold the line has shown (bytes that trail a reply come that much later behind an adapter or
  a FIFO). On a direct line that is the reply and 10 ms; behind a line that holds bytes back
  for H ms, the reply itself arrives up to H ms later and the quiet time is H ms longer.
EOF
echo
echo "written: bench/RESULTS.md"
