#!/usr/bin/env bash
# Builds a Free Pascal compiler for 32-bit or 64-bit Windows and its run-time
# library into CACHE (reused when already there) and prints the path of a
# wrapper, CACHE/fpc-TARGET, that compiles for TARGET with that RTL:
#     fpc-win32 -FEoutdir program.dpr
# TARGET is win32 (i386-win32: a cross compiler, ppc386, is built from the
# compiler sources) or win64 (x86_64-win64: the machine's own ppcx64 writes
# it, only the RTL is built). Debian ships the native compiler and the
# compiler and RTL sources, but no makefiles for them, no makefile.cpu and no
# message files in the compiler folder; those are made here. FPC's internal
# assembler and linker write the PE files themselves: no mingw binutils are
# needed.
# Usage: fpc-windows.sh CACHE win32|win64   (exit 1, reason on stderr, when it cannot)
set -euo pipefail
cache=${1:?usage: fpc-windows.sh CACHE win32|win64}
target=${2:?usage: fpc-windows.sh CACHE win32|win64}
root=$(cd "$(dirname "$0")/.." && pwd)
mkdir -p "$cache"
cache=$(cd "$cache" && pwd)
wrapper=$cache/fpc-$target

case $target in
win32) cpu=i386 ;;
win64) cpu=x86_64 ;;
*)
    echo "fpc-windows: no target $target (win32 or win64)" >&2
    exit 1
    ;;
esac

if [ -x "$wrapper" ] && [ -f "$cache/ready" ]; then
    echo "$wrapper"
    exit 0
fi

if ! command -v fpc >/dev/null || ! command -v fpcmake >/dev/null ||
    [ -z "$(ls -d /usr/share/fpcsrc/*/rtl 2>/dev/null)" ]; then
    if [ "$(id -u)" = 0 ] && command -v apt-get >/dev/null; then
        "$root/scripts/install-deps.sh" >&2
    fi
fi
if ! command -v fpc >/dev/null || ! command -v fpcmake >/dev/null; then
    echo "fpc-windows: no native Free Pascal compiler (Debian packages fp-compiler, fp-utils)" >&2
    exit 1
fi
version=$(fpc -iV)
source=/usr/share/fpcsrc/$version
messages=$(dirname "$(dpkg -L "fp-compiler-$version" 2>/dev/null | grep -m1 '/msg/errore.msg$')")
if [ ! -d "$source/rtl" ] || [ ! -f "$messages/errore.msg" ]; then
    echo "fpc-windows: no sources or messages of Free Pascal $version (fpc-source-$version)" >&2
    exit 1
fi
if [ $target = win64 ] && [ "$(fpc -iSP)" != x86_64 ]; then
    echo "fpc-windows: the machine's Free Pascal compiler does not write x86-64 code" >&2
    exit 1
fi

mkdir -p "$cache"
work=$cache/src
log=$cache/build.log
rm -rf "$work" "$cache/ready"
mkdir -p "$work"
cp -r "$source/compiler" "$source/rtl" "$work/"
cp -r "$messages" "$work/compiler/msg"
# Only names the system unit's processor include files, for make's
# dependencies.
echo 'CPUINCNAMES=i386.inc math.inc set.inc setjump.inc strings.inc int64p.inc' \
    >"$work/rtl/i386/makefile.cpu"
echo 'CPUINCNAMES=x86_64.inc math.inc set.inc setjump.inc strings.inc int64p.inc' \
    >"$work/rtl/x86_64/makefile.cpu"
{
    (cd "$work/compiler" && fpcmake -Tall)
    (cd "$work/rtl" && fpcmake -Tall -r)
    if [ $target = win32 ]; then
        # A compiler that runs here and writes i386 code.
        make -C "$work/compiler" -j "$(nproc)" PP=fpc PPC_TARGET=i386 compiler
        ppc=$work/compiler/ppc386
    else
        ppc=$(command -v ppcx64)
    fi
    # The Windows RTL built by it. -n: the machine's fpc.cfg is for native builds.
    make -C "$work/rtl/$target" FPC="$ppc" OS_TARGET=$target CPU_TARGET=$cpu OPT=-n all
} >"$log" 2>&1 || {
    echo "fpc-windows: the $target build failed, see $log" >&2
    exit 1
}

cat >"$wrapper" <<END
#!/bin/sh
exec "$ppc" -n -T$target -P$cpu -Fu"$work/rtl/units/$cpu-$target" "\$@"
END
chmod +x "$wrapper"
touch "$cache/ready"
echo "$wrapper"
