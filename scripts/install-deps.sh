#!/usr/bin/env bash
# Installs the Debian packages the build and the tests need, if missing.
set -euo pipefail
packages=(cmake ninja-build g++ g++-multilib g++-mingw-w64-i686 g++-mingw-w64-x86-64
          googletest libgtest-dev python3 qemu-user-static wine wine64
          clang libclang-rt-14-dev valgrind fp-compiler fp-utils fpc-source-3.2.2)
missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    dpkg --add-architecture i386
    missing+=(wine32:i386)
elif ! dpkg-query -W -f='${Status}' wine32:i386 2>/dev/null | grep -q "install ok installed"; then
    missing+=(wine32:i386)
fi
if [ ${#missing[@]} -gt 0 ]; then
    echo "installing: ${missing[*]}"
    export DEBIAN_FRONTEND=noninteractive
    apt-get update -qq
    apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
fi
