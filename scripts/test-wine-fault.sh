#!/usr/bin/env bash
# Builds the COM server, the fault slice and the churn program, and runs
# them under Wine against the simulated scale:
#   1. fault_wine_tests.exe: a slice of the fault matrix through the
#      registered server over TCP and a Wine COM port, and calls made again
#      from a window message handler during a wait;
#   2. churn_wine.exe: create/open/close/release cycles through COM over
#      TCP, with threads, handles and memory measured.
#
#   scripts/test-wine-fault.sh [GTEST_ARGS...]   both, the churn with
#                                                PESOLINK_CHURN_CYCLES cycles
#                                                (default 10000; 0 skips it)
#   scripts/test-wine-fault.sh --churn CYCLES    the churn alone
#
# Build trees (made when missing):
#   PESOLINK_WIN_BUILD     Windows cross build, default build/win
#   PESOLINK_NATIVE_BUILD  native build with the simulator, default build/native
# Exit status 0 when every check passed.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/win}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"
CYCLES="${PESOLINK_CHURN_CYCLES:-10000}"
COM_NUMBER=7
RUN_SLICE=1
if [[ "${1:-}" == "--churn" ]]; then
    CYCLES="${2:?cycles}"
    RUN_SLICE=0
    shift 2
fi

say() { echo "test-wine-fault: $*"; }
started=$SECONDS

source "$ROOT/scripts/suite-env.sh"
suite_lock "$WIN_BUILD/.test-wine-fault.lock" || exit 1

# --- build ---------------------------------------------------------------------
say "building the server, the fault slice and the churn program"
suite_build_win "$WIN_BUILD" pesolink_com fault_wine_tests churn_wine
say "building the simulated scale"
suite_build_native "$NATIVE_BUILD" pesolink-sim

DLL="$WIN_BUILD/driver/com/OstrelPesolink.dll"
TESTS_EXE="$WIN_BUILD/tests/wine/fault_wine_tests.exe"
CHURN_EXE="$WIN_BUILD/tests/wine/churn_wine.exe"
SIM_EXE="$NATIVE_BUILD/sim/pesolink-sim"

# --- harness and simulator ---------------------------------------------------------
source "$ROOT/scripts/wine-env.sh"

RUN="$WIN_BUILD/wine-fault-run"
SIM_PID=""
cleanup() {
    local rc=$?
    sim_stop
    wine_env_stop
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$RUN"
mkdir -p "$RUN"
export LC_ALL=C.UTF-8
# (The lock stays with this script, not with the servers it leaves running.)
wine_env_start "$WIN_BUILD" 9>&-
WIN_DLL="$(wine_unix_to_win "$DLL")"

settings="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Ostrel/Pesolink"
mkdir -p "$settings"
write_settings() {  # LOGGING
    printf '[Settings]\r\nLCID=409\r\nLogging=%s\r\nComSoftTimeout=300\r\nComHardTimeout=50\r\n' "$1" \
        >"$settings/Driver.ini"
}

sim_start "$RUN" "$SIM_EXE" --tcp 0 --pty "$RUN/sim.pty" --line 0,0
wine_map_com "$COM_NUMBER" "$SIM_PTY"
say "simulated scale on 127.0.0.1:$SIM_PORT and COM$COM_NUMBER ($SIM_PTY)"

export PESOLINK_SIM_TCP_PORT="$SIM_PORT"
export PESOLINK_SIM_COM="COM$COM_NUMBER"
export PESOLINK_SIM_CTL_IN="$(wine_unix_to_win "$RUN/ctl.in")"
export PESOLINK_SIM_CTL_OUT="$(wine_unix_to_win "$RUN/ctl.out")"

# Runs a Windows program with a time limit, output to a log.
run_wine() {  # LOG SECONDS PROGRAM ARGS...
    local log=$1 limit=$2
    shift 2
    timeout -k 10 "$limit" env LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$@" </dev/null >"$log" 2>&1
}

reg_rc=0
wine regsvr32 /s "$WIN_DLL" </dev/null >/dev/null 2>&1 || reg_rc=$?
if ((reg_rc != 0)); then
    say "regsvr32 failed (exit $reg_rc)"
    exit 1
fi

# --- 1. the fault slice -----------------------------------------------------------
gtest_status=0
if ((RUN_SLICE)); then
    write_settings 1
    t0=$SECONDS
    run_wine "$RUN/gtest.log" 400 "$TESTS_EXE" "$@" || gtest_status=$?
    if ((gtest_status != 0)); then
        cat "$RUN/gtest.log"
    else
        grep -E '^\[==========\]|^\[  PASSED  \]|^\[       OK \]' "$RUN/gtest.log" || true
    fi
    gtest_passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$RUN/gtest.log")
    gtest_failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$RUN/gtest.log")
    if ((gtest_status != 0)) && [[ -z "$gtest_failed" ]]; then gtest_failed=1; fi
    say "fault_wine_tests: $((SECONDS - t0)) s (exit $gtest_status)"
fi

# --- 2. object churn -------------------------------------------------------------
churn_passed=0
churn_failed=0
if ((CYCLES > 0)); then
    # The default settings: no trace.
    write_settings 0
    echo clear >"$RUN/ctl.in"
    t0=$SECONDS
    churn_status=0
    run_wine "$RUN/churn.log" 1800 "$CHURN_EXE" "127.0.0.1:$SIM_PORT" "$CYCLES" || churn_status=$?
    tr -d '\r' <"$RUN/churn.log" | sed 's/^/  /'
    line=$(tr -d '\r' <"$RUN/churn.log" | grep -E '[0-9]+ passed, [0-9]+ failed$' | tail -n 1 || true)
    churn_passed=$(sed -n 's/.* \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' <<<"$line")
    churn_failed=$(sed -n 's/.* \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' <<<"$line")
    churn_passed=${churn_passed:-0}
    churn_failed=${churn_failed:-0}
    if ((churn_status != 0 && churn_failed == 0)); then churn_failed=1; fi
    say "churn_wine $CYCLES cycles: $((SECONDS - t0)) s (exit $churn_status)"
fi

wine regsvr32 /u /s "$WIN_DLL" </dev/null >/dev/null 2>&1 || true
say "took $((SECONDS - started)) s"
total_passed=$((${gtest_passed:-0} + churn_passed))
total_failed=$((${gtest_failed:-0} + churn_failed))
echo "wine-fault: $total_passed passed, $total_failed failed"
((total_failed == 0 && gtest_status == 0))
