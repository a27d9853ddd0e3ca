#!/usr/bin/env bash
# Builds the fuzz targets with clang (libFuzzer, AddressSanitizer,
# UndefinedBehaviorSanitizer) and runs each for a bounded time from its seed
# corpus. Usage: fuzz/run.sh [BUILD_DIR] (default build/fuzz);
# FUZZ_SECONDS sets the time per target (default 30).
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-$root/build/fuzz}
seconds=${FUZZ_SECONDS:-30}
mkdir -p "$out"
flags=(-std=c++17 -O1 -g -fno-omit-frame-pointer -fsanitize=fuzzer,address,undefined
       -fno-sanitize-recover=all -I"$root/driver" -I"$root/ucommw32")
clang++ "${flags[@]}" -o "$out/fuzz_reply" "$root/fuzz/fuzz_reply.cpp" "$root/driver/reply.cpp"
clang++ "${flags[@]}" -o "$out/fuzz_line" "$root/fuzz/fuzz_line.cpp" "$root/ucommw32/line_assembly.cpp"

status=0
for target in fuzz_reply fuzz_line; do
    # New inputs go to a scratch corpus; the seeds in the tree stay as they are.
    work=$out/corpus-$target
    mkdir -p "$work"
    log=$out/$target.log
    if (cd "$out" && "./$target" -max_total_time="$seconds" -max_len=512 -timeout=10 \
            -print_final_stats=1 "$work" "$root/fuzz/corpus/$target") >"$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz: $target: $runs executions in ${seconds} s, no failure"
    else
        echo "fuzz: $target FAILED; the input that failed is in $out (crash-*), log follows"
        tail -n 40 "$log"
        status=1
    fi
done
exit $status
