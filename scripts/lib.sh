# Shared by the scripts that build before they run something (test.sh,
# demo.sh, bench/run.sh): the checkout, where builds go, how a build is made.
# TARVEL_BUILD_DIR moves the builds elsewhere (default: build/ here).
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
builds=${TARVEL_BUILD_DIR:-$root/build}
jobs=$(nproc)

# configure_only DIR TOOLCHAIN [ARGS...]: sets up build DIR (TOOLCHAIN empty
# for the native build).
configure_only() {
    local dir=$1 toolchain=$2
    shift 2
    cmake -S "$root" -B "$builds/$dir" -G Ninja \
        ${toolchain:+-DCMAKE_TOOLCHAIN_FILE=$root/cmake/$toolchain} "$@" >/dev/null
}

# build DIR TARGET...: builds only what is asked for.
build() {
    local dir=$1
    shift
    cmake --build "$builds/$dir" -j "$jobs" --target "$@" >/dev/null
}

# The three builds the lab tools need, configured like scripts/test.sh does;
# sets sim (the native simulator) and wine32 (ON where 32-bit Wine runs).
configure_all() {
    configure_only native ""
    build native metersim
    sim=$builds/native/tools/metersim
    configure_only win64 mingw-x86_64.cmake -DTARVEL_METERSIM="$sim"
    wine32=OFF
    if "$root/scripts/wine32-works"; then wine32=ON; fi
    configure_only win32 mingw-i686.cmake -DTARVEL_METERSIM="$sim" -DTARVEL_WINE_TESTS=$wine32 \
        -DTARVEL_WIN64_BUILD="$builds/win64"
}
