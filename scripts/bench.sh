#!/usr/bin/env bash
# Link benchmark, natively and under Wine, against the simulated scale on
# 127.0.0.1: raw round trip against the worker exchange (median and p99),
# the waiting caller's processor time during a 2000 ms receive time-out, and
# the processor time of a connected object with no request. Prints the load
# average beside each run (the figures move with it). Exit status 0 when
# every target was met in both runs.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/win}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"
COUNT="${1:-2000}"

say() { echo "bench: $*"; }
"$ROOT/scripts/setup.sh" >/dev/null
source "$ROOT/scripts/suite-env.sh"
suite_build_native "$NATIVE_BUILD" link_bench pesolink-sim
suite_build_win "$WIN_BUILD" link_bench

STATUS=0
echo "== native (load average $(cut -d' ' -f1-3 /proc/loadavg))"
"$NATIVE_BUILD/tests/bench/link_bench" --count "$COUNT" || STATUS=$?

source "$ROOT/scripts/wine-env.sh"
RUN="$WIN_BUILD/bench-run"
SIM_PID=""
cleanup() {
    sim_stop
    wine_env_stop
}
trap cleanup EXIT
rm -rf "$RUN" && mkdir -p "$RUN"
wine_env_start "$WIN_BUILD"
sim_start "$RUN" "$NATIVE_BUILD/sim/pesolink-sim" --tcp 0 --pty -
echo "== wine (load average $(cut -d' ' -f1-3 /proc/loadavg))"
wine "$WIN_BUILD/tests/bench/link_bench.exe" --port "$SIM_PORT" --count "$COUNT" --wine </dev/null || STATUS=$?
exit "$STATUS"
