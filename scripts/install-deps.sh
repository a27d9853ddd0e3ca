#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
# A mirror caught mid-sync (an index of "unexpected size") is tried again a
# few times, then the install goes on with the indexes it has. Only a core
# tool that cannot be installed stops it, with the package named; a package
# whose part has another way (32-bit Wine has the emulated 32-bit PC, the
# Pascal sample is reported skipped) is left out with a line saying so.
set -euo pipefail
core=(cmake ninja-build g++ g++-multilib g++-mingw-w64-i686 g++-mingw-w64-x86-64
      googletest libgtest-dev python3 wine wine64 clang libclang-rt-14-dev valgrind)
# The emulated 32-bit PC (scripts/win32-guest) and the i686 Linux tests'
# emulator, for kernels that run no 32-bit code.
guest=(qemu-user-static qemu-system-x86 debootstrap e2fsprogs)
optional=(fp-compiler fp-utils fpc-source-3.2.2 "${guest[@]}")

# 32-bit Wine only where the kernel runs 32-bit code: elsewhere it cannot
# start, and its i386 index is one more that a syncing mirror can break.
wine32=
if "$(dirname "$0")/wine32-works" --kernel; then
    wine32=wine32:i386
fi

installed() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
missing=()
for p in "${core[@]}" "${optional[@]}" $wine32; do
    installed "$p" || missing+=("$p")
done
[ ${#missing[@]} -gt 0 ] || exit 0

export DEBIAN_FRONTEND=noninteractive
if [ -n "$wine32" ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
fi
echo "installing: ${missing[*]}"
for try in 1 2 3 4; do
    if apt-get update -qq; then break; fi
    if [ $try -eq 4 ]; then
        echo "install-deps: apt-get update still fails; going on with the indexes it has"
        break
    fi
    echo "install-deps: apt-get update failed (try $try); again in $((try * 10)) s"
    sleep $((try * 10))
done
quiet() { apt-get install -y -qq --no-install-recommends "$@" >/dev/null 2>&1; }
if ! quiet "${missing[@]}"; then
    # One package that cannot be had (versions out of step with a broken
    # index) must not keep the others out.
    for p in "${missing[@]}"; do
        installed "$p" || quiet "$p" || true
    done
fi
stop=0
for p in "${missing[@]}"; do
    installed "$p" && continue
    case " ${core[*]} " in
    *" $p "*) echo "install-deps: cannot install $p, which the build needs" >&2; stop=1 ;;
    *) echo "install-deps: could not install $p; going on without it" ;;
    esac
done
exit $stop
