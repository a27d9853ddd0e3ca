#!/usr/bin/env bash
# Builds the deliverables, starts a simulated PHN130T on com1: of a private
# Wine prefix and reads it with tarvel-probe.exe through tarvel_1.dll: a few
# live readings while the simulated pH drifts, then one with the meter
# silent (the host's -777). Installs what is missing first (Debian, as root).
#   scripts/demo.sh        the 32-bit DLL where this machine runs 32-bit Wine,
#                          else the 64-bit one under wine64 (quick)
#   scripts/demo.sh --32   the 32-bit DLL, where the kernel runs no 32-bit
#                          code in the emulated 32-bit PC (scripts/win32-guest)
set -euo pipefail
. "$(dirname "$0")/lib.sh"
mode=${1-}
if [ "$mode" = --in-guest ]; then
    # The build's second half, in the emulated PC: its own simulator and a
    # copy of its warmed Wine prefix.
    sim=$builds/linux32/tools/metersim
    dir=$builds/win32 loader=() arch=()
    prefix=/tmp/demo-wineprefix
    cp -a /opt/wine-template "$prefix"
else
    "$root/scripts/install-deps.sh"
    echo "building (native simulator, 64-bit and 32-bit Windows DLLs) ..."
    configure_all
    build win64 tarvel-probe tarvel_1
    build win32 tarvel-probe tarvel_1 tarvel_2 tarvel_3 tarvel_4 tarvel_5
    if [ $wine32 = ON ]; then
        dir=$builds/win32 loader=() arch=()
        echo "using the 32-bit tarvel_1.dll under Wine"
    elif [ "$mode" = --32 ]; then
        echo "this machine runs no 32-bit code: reading through the 32-bit tarvel_1.dll in the"
        echo "emulated 32-bit PC (the first time it is built, about 5 minutes; each run boots it)"
        configure_only linux32 linux-i686.cmake -DTARVEL_METERSIM="$sim"
        build linux32 metersim
        shares=(--share "$root")
        case $builds/ in "$root"/*) ;; *) shares+=(--share "$builds") ;; esac
        exec "$root/scripts/win32-guest" "${shares[@]}" -- \
            env TARVEL_BUILD_DIR="$builds" "$root/scripts/demo.sh" --in-guest
    else
        dir=$builds/win64 loader=(--64) arch=(--64)
        echo "this machine runs no 32-bit Wine: using the 64-bit tarvel_1.dll under wine64 instead"
        echo "(scripts/demo.sh --32 reads through the 32-bit one in an emulated 32-bit PC)"
    fi
    prefix=$dir/demo-wineprefix
fi

work=$(mktemp -d /tmp/tarvel-demo.XXXXXX)
sim_pid=
drift_pid=
stop_simulator() {
    if [ -n "$sim_pid" ]; then
        kill "$sim_pid" 2>/dev/null || true
        wait "$sim_pid" 2>/dev/null || true
        sim_pid=
    fi
}
stop() {
    if [ -n "$drift_pid" ]; then kill "$drift_pid" 2>/dev/null || true; fi
    stop_simulator
    WINEPREFIX=$prefix /usr/lib/wine/wineserver -k 2>/dev/null || true
    rm -rf "$work"
}
trap stop EXIT
"$root/scripts/wine-prefix" "$prefix" "${arch[@]}"
export WINEPREFIX=$prefix

probe() { # runs tarvel-probe.exe; its Windows-1252 texts shown in UTF-8
    (cd "$dir" && "$root/scripts/wine-run" "${loader[@]}" ./tarvel-probe.exe "$@" 2>&1 |
        iconv -f WINDOWS-1252 -t UTF-8) || true
}

meter() { # writes the simulated meter's control file, atomically
    printf '%s\n' "$@" >"$work/com1.ctl.new"
    mv "$work/com1.ctl.new" "$work/com1.ctl"
}

"$sim" --com 1 --dir "$work" --wine-prefix "$prefix" &
sim_pid=$!
# The simulator links com1: once its meter is set up; it may instead exit (a bad option, a
# com1: that is not its link) or hang.
for ((tenths = 0; ; tenths++)); do
    if [ -L "$prefix/dosdevices/com1" ] && [ -s "$work/com1.pty" ]; then break; fi
    if ! kill -0 "$sim_pid" 2>/dev/null; then
        status=0
        wait "$sim_pid" || status=$?
        sim_pid=
        echo "demo: the simulator exited during set-up (status $status); its message is above" >&2
        exit 1
    fi
    if [ $tenths -ge 100 ]; then
        echo "demo: the simulator set up no meter on com1: within 10 s" >&2
        exit 1
    fi
    sleep 0.1
done

(
    for ph in 7.02 7.04 7.07 7.05 7.03; do
        mv=$(awk -v ph="$ph" 'BEGIN { printf "%d", (7 - ph) * 59.16 - 121 }')
        meter "ph=$ph" "mv=$mv"
        sleep 1
    done
) &
drift_pid=$!
sleep 0.2
echo
echo "== tarvel-probe.exe --port 1 --count 5 (a meter on com1:)"
probe --port 1 --count 5
wait "$drift_pid" || true
drift_pid=

meter fault=silent
echo
echo "== the same with the meter silent: the host would get -777"
probe --port 1
stop_simulator
echo
echo "simulator stopped"
