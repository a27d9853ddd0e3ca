#!/usr/bin/env bash
# Runs the native test programs under valgrind memcheck: any invalid access,
# use of uninitialised memory or leak fails. Usage: memcheck.sh BUILD_DIR
# (a native build, not a sanitizer one).
set -euo pipefail
build=$(cd "${1:?usage: memcheck.sh BUILD_DIR}" && pwd)
valgrind=(valgrind --quiet --error-exitcode=1 --leak-check=full --errors-for-leak-kinds=definite,indirect)
status=0
run() { # name command...
    local name=$1
    shift
    local start=$SECONDS
    if "$@" >"$build/memcheck-$name.log" 2>&1; then
        echo "memcheck: $name clean ($((SECONDS - start)) s)"
    else
        echo "memcheck: $name FAILED, log follows"
        tail -n 60 "$build/memcheck-$name.log"
        status=1
    fi
}
run unit_tests "${valgrind[@]}" "$build/tests/unit_tests"
run serial_pty_test "${valgrind[@]}" "$build/tests/serial_pty_test"
# Not the tests that fork: their children end with _exit, and valgrind counts
# what the parent's threads held as lost in them.
run driver_test "$build/tools/metersim" --com 1,2 --link-dir "$build/testdev" --quiet \
    --run "${valgrind[@]}" "$build/tests/driver_test" \
    --gtest_filter='-*Forked*:*ExitFromASignalHandler*'

exit $status
