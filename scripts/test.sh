#!/usr/bin/env bash
# Builds every target and runs the whole test suite:
#   build/native   Linux x86-64: the serial line and the driver on pseudo-terminals
#   build/linux32  Linux i686: the register and stdcall conventions and the x87
#                  unit (under qemu-i386 where the kernel runs no 32-bit code)
#   build/win64    64-bit Windows DLLs, tested under wine64 against the simulator
#   build/win32    the five 32-bit Windows deliverables: PE checks, the release
#                  zip (with build/win64's DLLs and probe in x64/); the Wine
#                  tests under 32-bit Wine here, or where the kernel runs no
#                  32-bit code in an emulated 32-bit PC (scripts/win32-guest)
# Installs what is missing first (Debian packages, as root).
set -euo pipefail
. "$(dirname "$0")/lib.sh"

# What this machine could not run, said again at the very end.
skipped=()

# Where the time went, said at the very end, also when a step stops the run:
# begin NAME starts timing a step, which the next begin or the report closes.
times=()
step= step_start=
now_ms() { echo $((${EPOCHREALTIME//[!0-9]/} / 1000)); }
time_line() { # NAME MILLISECONDS [NOTE]
    printf 'TIME: %-18s %5d.%d s%s' "$1" $(($2 / 1000)) $(($2 % 1000 / 100)) "${3-}"
}
begin() {
    if [ -n "$step" ]; then times+=("$(time_line "$step" $(($(now_ms) - step_start)))"); fi
    step=$1 step_start=$(now_ms)
}
run_start=$(now_ms)
report_times() { # [NOTE on the last step]
    if [ -n "$step" ]; then
        times+=("$(time_line "$step" $(($(now_ms) - step_start)) "${1-}")")
    fi
    step=
    printf '%s\n' "${times[@]}"
    time_line all $(($(now_ms) - run_start))
    echo
}
# A step that stops the run (a build error, an interrupt) still gets its line.
trap 'report_times " (stopped the run)"' EXIT

begin deps
"$root/scripts/install-deps.sh"

# configure DIR TOOLCHAIN [ARGS...], then build all of it.
configure() {
    configure_only "$@"
    cmake --build "$builds/$1" -j "$jobs"
}

begin "build native"
configure native ""
sim=$builds/native/tools/metersim
# The native tests again with AddressSanitizer and UndefinedBehaviorSanitizer.
begin "build asan"
configure asan "" -DTARVEL_SANITIZE=ON -DTARVEL_SOAK_READINGS=50 -DTARVEL_RELOAD_CYCLES=200

runner=$("$root/scripts/i386-runner")
begin "build linux32"
configure linux32 linux-i686.cmake -DTARVEL_METERSIM="$sim" -DTARVEL_I386_RUNNER="$runner" \
    -DTARVEL_SOAK_READINGS=100

begin "fpc win64"
# The Pascal sample hosts need Free Pascal for each Windows, built once per build tree.
if ! fpc64=$("$root/scripts/fpc-windows.sh" "$builds/fpc-win64" win64); then
    fpc64=
    skipped+=("the 64-bit Pascal sample host: no Free Pascal for x86_64-win64")
fi
begin "build win64"
configure win64 mingw-x86_64.cmake -DTARVEL_METERSIM="$sim" -DTARVEL_SOAK_READINGS=100 \
    -DTARVEL_FPC="$fpc64"
begin "wine prefix win64"
"$root/scripts/wine-prefix" "$builds/win64/wineprefix" --64

# The 32-bit deliverables' Wine tests run under this machine's 32-bit Wine
# where its kernel runs 32-bit code, else in an emulated 32-bit PC
# (scripts/win32-guest, built once and cached), with an i686 simulator.
wine32=OFF where32=
sim32=$sim
if "$root/scripts/wine32-works"; then
    wine32=ON where32=native
elif why=$("$root/scripts/win32-guest" --can); then
    begin "guest build"
    if guest_log=$("$root/scripts/win32-guest" --build 2>&1); then
        wine32=ON where32=guest
        sim32=$builds/linux32/tools/metersim
    else
        printf '%s\n' "$guest_log" | tail -n 20
        why="the emulated 32-bit PC could not be built (its last lines are above)"
    fi
fi
# The Pascal sample host needs a Free Pascal cross compiler, built once per build tree.
begin "fpc win32"
if ! fpc=$("$root/scripts/fpc-windows.sh" "$builds/fpc-win32" win32); then
    fpc=
    skipped+=("the Pascal sample host: no Free Pascal cross compiler for 32-bit Windows")
fi
begin "build win32"
# The release zip's x64/ comes from the 64-bit tree.
configure win32 mingw-i686.cmake -DTARVEL_METERSIM="$sim32" -DTARVEL_WINE_TESTS=$wine32 \
    -DTARVEL_FPC="$fpc" -DTARVEL_WIN64_BUILD="$builds/win64"
case $where32 in
native)
    begin "wine prefix win32"
    "$root/scripts/wine-prefix" "$builds/win32/wineprefix"
    ;;
guest) ;;
*)
    skipped+=("the 32-bit deliverables under Wine (driver, ABI, soak, reload, replug, probe and sample-host tests): this kernel runs no 32-bit code and $why, so they got their PE checks only")
    ;;
esac

status=0
for dir in native asan linux32 win64 win32; do
    begin "tests $dir"
    echo "== tests: $dir"
    only_here=()
    if [ $dir = win32 ] && [ "$where32" = guest ]; then only_here=(-LE wine); fi
    (cd "$builds/$dir" && ctest --output-on-failure -j 2 "${only_here[@]}") || status=1
done
if [ "$where32" = guest ]; then
    begin "tests win32 guest"
    echo "== tests: win32, the Wine tests in the emulated 32-bit PC"
    shares=(--share "$root")
    case $builds/ in "$root"/*) ;; *) shares+=(--share "$builds") ;; esac
    # A guest that hangs is ended well inside CI's time (they take about 7 minutes).
    TARVEL_GUEST_TIMEOUT=${TARVEL_GUEST_TIMEOUT:-1500} \
        "$root/scripts/win32-guest" "${shares[@]}" -- "$root/scripts/guest/wine-tests" \
        "$builds/win32" -j 2 || status=1
fi
begin "valgrind native"
echo "== valgrind: native"
"$root/scripts/memcheck.sh" "$builds/native" || status=1
begin fuzz
echo "== fuzz"
"$root/fuzz/run.sh" "$builds/fuzz" || status=1
if [ -n "$runner" ]; then
    also=
    [ "$where32" != guest ] || also="; the DLLs' x87 checks ran in the emulated 32-bit PC"
    skipped+=("the i686 Linux tests on a real x87 unit: this kernel runs no 32-bit code, they ran under $runner, which raises no x87 exception$also")
fi
trap - EXIT
report_times
case $where32 in
native) echo "32-bit deliverables: Wine tests ran under this machine's 32-bit Wine" ;;
guest) echo "32-bit deliverables: Wine tests ran in the emulated 32-bit PC (scripts/win32-guest)" ;;
esac
for what in "${skipped[@]}"; do
    echo "SKIPPED: $what"
done
exit $status
