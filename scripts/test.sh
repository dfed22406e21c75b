#!/usr/bin/env bash
# Runs every test, one CTest preset after the other: the native build's unit
# and integration tests (plain, with AddressSanitizer + UBSan, and the worker
# hand-off under ThreadSanitizer), the fuzz targets for a bounded time, then
# the Windows builds' tests under Wine (windows: everything of the x64 tree;
# windows32: the installer of both bitnesses). Installs what is missing first.
# Each preset leaves its results in build/<preset>/junit.xml; the last line
# sums them up. One test again: ctest --preset windows -R NAME.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

jobs=${PESOLINK_JOBS:-2}
started=$SECONDS
failed=()
passed=()
step() {
    local name=$1
    shift
    echo "=== $name"
    local t0=$SECONDS
    if "$@"; then
        echo "=== $name: ok ($((SECONDS - t0)) s)"
        passed+=("$name")
    else
        echo "=== $name: FAILED ($((SECONDS - t0)) s)"
        failed+=("$name")
    fi
}

build() {  # PRESET
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$jobs"
}
suite() {  # PRESET [CTEST_ARGS...]
    local preset=$1
    shift
    ctest --preset "$preset" --output-junit "$root/build/$preset/junit.xml" "$@"
}

# The native tree comes first: the Windows tests start its simulated scale.
step native eval 'build native && suite native -j"$jobs" --timeout 300'
step native-asan eval 'build native-asan && suite native-asan -j"$jobs" --timeout 300'
step native-tsan eval 'build native-tsan && suite native-tsan -j"$jobs" --timeout 300 -R "(Worker|Scales|Reentr|Stress)"'
# Each fuzz target for a bounded time (scripts/fuzz.sh 600 runs them longer by hand).
step fuzz "$root/scripts/fuzz.sh" "${PESOLINK_FUZZ_SECONDS:-30}"
# Both Windows trees are built before either runs: each uses the other's
# files (the 32-bit driver and pesolink.exe, the installer's x64 half). One
# test at a time: they share Wine prefixes and COM ports.
step windows eval 'build windows32 && build windows && suite windows'
step windows32 suite windows32

# What each preset ran, from its JUnit file.
tests=0 skipped=0
for preset in native native-asan native-tsan windows windows32; do
    f="$root/build/$preset/junit.xml"
    [[ -f "$f" ]] || continue
    n=$(grep -m 1 -o 'tests="[0-9]*"' "$f" | tr -dc 0-9)
    k=$(grep -m 1 -o 'skipped="[0-9]*"' "$f" | tr -dc 0-9)
    tests=$((tests + ${n:-0})) skipped=$((skipped + ${k:-0}))
done
elapsed="$(((SECONDS - started) / 60)) min $(((SECONDS - started) % 60)) s"
if ((${#failed[@]})); then
    echo "test.sh: FAILED: ${failed[*]} (passed: ${passed[*]:-none}; $tests CTest tests, $skipped skipped; $elapsed)"
    exit 1
fi
echo "test.sh: all passed: ${passed[*]} ($tests CTest tests, $skipped skipped, and the fuzz targets; $elapsed)"
