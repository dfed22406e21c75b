#!/usr/bin/env bash
# Link benchmark, natively and under Wine, against the simulated scale on
# 127.0.0.1: raw round trip against the worker exchange (median and p99),
# and the waiting caller's processor time during a 2000 ms receive time-out.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/win}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"
COUNT="${1:-2000}"

"$ROOT/scripts/setup.sh" >/dev/null
[[ -f "$NATIVE_BUILD/build.ninja" ]] || cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$NATIVE_BUILD" -j "$JOBS" --target link_bench pesolink-sim >/dev/null
[[ -f "$WIN_BUILD/build.ninja" ]] || cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
    -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$WIN_BUILD" -j "$JOBS" --target link_bench >/dev/null

echo "== native"
"$NATIVE_BUILD/tests/bench/link_bench" --count "$COUNT"

source "$ROOT/scripts/wine-env.sh"
RUN="$WIN_BUILD/bench-run"
SIM_PID=""
cleanup() {
    [[ -z "$SIM_PID" ]] || { kill "$SIM_PID" 2>/dev/null; wait "$SIM_PID" 2>/dev/null; } || true
    wine_env_stop
}
trap cleanup EXIT
rm -rf "$RUN" && mkdir -p "$RUN"
wine_env_start "$WIN_BUILD"
"$NATIVE_BUILD/sim/pesolink-sim" --tcp 0 --pty - --quiet --ready-file "$RUN/sim.ready" </dev/null >"$RUN/sim.log" 2>&1 &
SIM_PID=$!
for ((i = 0; i < 100; i++)); do [[ -f "$RUN/sim.ready" ]] && break; sleep 0.05; done
read -r SIM_PORT <"$RUN/sim.ready"
echo "== wine"
wine "$WIN_BUILD/tests/bench/link_bench.exe" --port "$SIM_PORT" --count "$COUNT" </dev/null
