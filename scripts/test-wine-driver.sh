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

source "$ROOT/scripts/suite-env.sh"
say "building driver_wine_tests"
suite_build_win "$WIN_BUILD" driver_wine_tests
TESTS_EXE="$WIN_BUILD/tests/wine/driver_wine_tests.exe"

# No MinGW runtime DLL may ride along: only system DLLs are imported.
foreign="$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$TESTS_EXE")"
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
suite_gtest 240 "$RUN/gtest.log" "$TESTS_EXE" "$@" || status=$?
passed=$GTEST_PASSED failed=$GTEST_FAILED
say "driver_wine_tests took $((SECONDS - start)) s (exit $status)"
echo "wine driver: ${passed:-0} passed, ${failed:-${status:+0}} failed"
exit "$status"
