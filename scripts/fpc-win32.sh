#!/usr/bin/env bash
# Builds a Free Pascal cross compiler for 32-bit Windows and its run-time
# library into CACHE (reused when already there) and prints the path of a
# wrapper, CACHE/fpc-win32, that compiles for i386-win32 with that RTL:
#     fpc-win32 -FEoutdir program.dpr
# Debian ships the native compiler and the compiler and RTL sources, but no
# makefiles for them, no i386 makefile.cpu and no message files in the
# compiler folder; those are made here. FPC's internal assembler and linker
# write the PE files themselves: no mingw binutils are needed.
# Usage: fpc-win32.sh CACHE   (exit 1, reason on stderr, when it cannot)
set -euo pipefail
cache=${1:?usage: fpc-win32.sh CACHE}
root=$(cd "$(dirname "$0")/.." && pwd)
wrapper=$cache/fpc-win32

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
    echo "fpc-win32: no native Free Pascal compiler (Debian packages fp-compiler, fp-utils)" >&2
    exit 1
fi
version=$(fpc -iV)
source=/usr/share/fpcsrc/$version
messages=$(dirname "$(dpkg -L "fp-compiler-$version" 2>/dev/null | grep -m1 '/msg/errore.msg$')")
if [ ! -d "$source/rtl" ] || [ ! -f "$messages/errore.msg" ]; then
    echo "fpc-win32: no sources or messages of Free Pascal $version (fpc-source-$version)" >&2
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
{
    (cd "$work/compiler" && fpcmake -Tall)
    (cd "$work/rtl" && fpcmake -Tall -r)
    # A compiler that runs here and writes i386 code (ppc386), then the
    # Windows RTL built by it. -n: the machine's fpc.cfg is for native builds.
    make -C "$work/compiler" -j "$(nproc)" PP=fpc PPC_TARGET=i386 compiler
    make -C "$work/rtl/win32" FPC="$work/compiler/ppc386" OS_TARGET=win32 CPU_TARGET=i386 \
        OPT=-n all
} >"$log" 2>&1 || {
    echo "fpc-win32: the cross build failed, see $log" >&2
    exit 1
}

cat >"$wrapper" <<EOF
#!/bin/sh
exec "$work/compiler/ppc386" -n -Twin32 -Pi386 -Fu"$work/rtl/units/i386-win32" "\$@"
EOF
chmod +x "$wrapper"
touch "$cache/ready"
echo "$wrapper"
