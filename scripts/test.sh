#!/usr/bin/env bash
# Runs every test: the native build's unit and integration tests (plain, with
# AddressSanitizer + UBSan, and the worker hand-off under ThreadSanitizer),
# then the Windows build's tests under Wine. Installs what is missing first.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

"$root/scripts/setup.sh"

jobs=${PESOLINK_JOBS:-2}
# One Windows tree and one native tree serve every Wine suite.
export PESOLINK_WIN_BUILD="$root/build/win" PESOLINK_NATIVE_BUILD="$root/build/native"
export PESOLINK_COM_WIN_BUILD="$PESOLINK_WIN_BUILD" PESOLINK_COM_NATIVE_BUILD="$PESOLINK_NATIVE_BUILD"
export PESOLINK_COM_WIN32_BUILD="$root/build/win32"
export PESOCONF_WIN_BUILD="$PESOLINK_WIN_BUILD" PESOCONF_NATIVE_BUILD="$PESOLINK_NATIVE_BUILD"
export PESOLINK_SHIP_WIN64_BUILD="$PESOLINK_WIN_BUILD" PESOLINK_SHIP_WIN32_BUILD="$root/build/win32"
export PESOLINK_SHIP_NATIVE_BUILD="$PESOLINK_NATIVE_BUILD"
failed=()
step() {
  local name=$1; shift
  echo "=== $name"
  local t0=$SECONDS
  if "$@"; then
    echo "=== $name: ok ($((SECONDS - t0)) s)"
  else
    echo "=== $name: FAILED ($((SECONDS - t0)) s)"
    failed+=("$name")
  fi
}

native_suite() {
  local preset=$1; shift
  cmake --preset "$preset" >/dev/null &&
    cmake --build --preset "$preset" -j"$jobs" &&
    ctest --preset "$preset" -j"$jobs" --timeout 300 "$@"
}

step "native" native_suite native
step "native-asan" native_suite native-asan
step "native-tsan" native_suite native-tsan -R '(Worker|Scales|Reentr|Stress)'
# Each fuzz target for a bounded time (scripts/fuzz.sh 600 runs them longer by hand).
step "fuzz" "$root/scripts/fuzz.sh" "${PESOLINK_FUZZ_SECONDS:-30}"

for script in test-wine.sh test-wine-com.sh test-wine-tool.sh test-wine-driver.sh test-wine-fault.sh test-wine-cli.sh test-wine-install.sh; do
  if [ -x "$root/scripts/$script" ]; then
    step "$script" "$root/scripts/$script"
  fi
done

if ((${#failed[@]})); then
  echo "FAILED: ${failed[*]}"
  exit 1
fi
echo "all test suites passed"
