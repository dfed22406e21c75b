#!/usr/bin/env bash
# Builds the Windows test of the driver module's platform layer and runs it
# under Wine: module start and log under file faults (read-only Driver.ini,
# read-only or locked Log.txt, a log lost while loaded), at an ordinary and
# at a longer than 256-character application-data folder. No scale needed.
#
#   scripts/test-wine-driver.sh [GTEST_ARGS...]
#
# Build tree (made when missing): PESOLINK_WIN_BUILD, default build/hf-win.
# Exit status: 0 when every test passed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/hf-win}"
JOBS="${PESOLINK_JOBS:-2}"

say() { echo "test-wine-driver: $*"; }

if [[ ! -f "$WIN_BUILD/build.ninja" ]]; then
    say "configuring $WIN_BUILD"
    cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
say "building driver_wine_tests"
cmake --build "$WIN_BUILD" -j "$JOBS" --target driver_wine_tests >/dev/null
TESTS_EXE="$WIN_BUILD/tests/wine/driver_wine_tests.exe"

# No MinGW runtime DLL may ride along: only system DLLs are imported.
foreign="$(x86_64-w64-mingw32-objdump -p "$TESTS_EXE" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|user32|ws2_32|msvcrt|advapi32|ole32|oleaut32|shell32|gdi32)\.dll$' || true)"
if [[ -n "$foreign" ]]; then
    say "$(basename "$TESTS_EXE") imports non-system DLLs: $foreign"
    exit 1
fi

source "$ROOT/scripts/wine-env.sh"
RUN="$WIN_BUILD/wine-driver-run"
cleanup() {
    local rc=$?
    wine_env_stop
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf "$RUN"
mkdir -p "$RUN"
wine_env_start "$WIN_BUILD"

status=0
start=$SECONDS
# Bounded, so that a hung test cannot stall the whole run.
timeout -k 10 240 env LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$TESTS_EXE" "$@" </dev/null >"$RUN/gtest.log" 2>&1 ||
    status=$?
if ((status != 0)); then
    cat "$RUN/gtest.log"
else
    grep -E '^\[==========\]|^\[  PASSED  \]|^\[  SKIPPED \]' "$RUN/gtest.log" || true
fi
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$RUN/gtest.log")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$RUN/gtest.log")
say "driver_wine_tests took $((SECONDS - start)) s (exit $status)"
echo "wine driver: ${passed:-0} passed, ${failed:-${status:+0}} failed"
exit "$status"
