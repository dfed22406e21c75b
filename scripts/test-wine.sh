#!/usr/bin/env bash
# Builds the Windows tests and runs them under Wine against the simulated
# scale, then runs the link client example against it.
#
#   scripts/test-wine.sh [GTEST_ARGS...]     e.g. --gtest_filter='TcpCycle.*'
#
# Build trees (made when missing):
#   PESOLINK_WIN_BUILD     Windows cross build, default build/win
#   PESOLINK_NATIVE_BUILD  native build that holds the simulator, default build/native
# Exit status: 0 when every test passed and the example got its replies.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/win}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"
COM_NUMBER=5

say() { echo "test-wine: $*"; }

source "$ROOT/scripts/suite-env.sh"

# --- build ------------------------------------------------------------------
say "building the Windows tests and the link client"
suite_build_win "$WIN_BUILD" link_wine_tests link_client
say "building the simulated scale"
suite_build_native "$NATIVE_BUILD" pesolink-sim

TESTS_EXE="$WIN_BUILD/tests/wine/link_wine_tests.exe"
CLIENT_EXE="$WIN_BUILD/examples/link_client.exe"
SIM_EXE="$NATIVE_BUILD/sim/pesolink-sim"

# No MinGW runtime DLL may ride along: only system DLLs are imported.
for exe in "$TESTS_EXE" "$CLIENT_EXE"; do
    foreign="$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$exe")"
    if [[ -n "$foreign" ]]; then
        say "$(basename "$exe") imports non-system DLLs: $foreign"
        exit 1
    fi
done

# --- harness and simulator ---------------------------------------------------
source "$ROOT/scripts/wine-env.sh"

RUN="$WIN_BUILD/wine-test-run"
SIM_PID=""
cleanup() {
    local rc=$?
    sim_stop
    wine_env_stop
    rm -f "$RUN/ctl.in" "$RUN/ctl.out"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$RUN"
mkdir -p "$RUN"
wine_env_start "$WIN_BUILD"

sim_start "$RUN" "$SIM_EXE" --tcp 0 --pty "$RUN/sim.pty" --line 57600,0
# A fresh pty for every run: the COM port points at this one, never at a
# number left over from an earlier simulator.
wine_map_com "$COM_NUMBER" "$SIM_PTY"
say "simulated scale on 127.0.0.1:$SIM_PORT and COM$COM_NUMBER ($SIM_PTY)"

export PESOLINK_SIM_TCP_PORT="$SIM_PORT"
export PESOLINK_SIM_COM="COM$COM_NUMBER"
export PESOLINK_SIM_CTL_IN="$(wine_unix_to_win "$RUN/ctl.in")"
export PESOLINK_SIM_CTL_OUT="$(wine_unix_to_win "$RUN/ctl.out")"

# --- tests -----------------------------------------------------------------
status=0
start=$SECONDS
suite_gtest 280 "$RUN/gtest.log" "$TESTS_EXE" "$@" || status=$?
passed=$GTEST_PASSED failed=$GTEST_FAILED
say "link_wine_tests took $((SECONDS - start)) s (exit $status)"

# --- example -----------------------------------------------------------------
demo=0
if [[ $# -eq 0 ]]; then
    # The scale answers at the last of the three line settings: the client
    # has to find it.
    echo "line 19200,4" >"$RUN/ctl.in"
    say "link_client COM$COM_NUMBER 127.0.0.1:$SIM_PORT"
    wine_run "$CLIENT_EXE" "COM$COM_NUMBER" "127.0.0.1:$SIM_PORT" </dev/null >"$RUN/client.log" 2>&1 || demo=$?
    sed 's/^/  /' "$RUN/client.log"
    if ((demo != 0)); then say "the link client failed (exit $demo)"; fi
fi

echo "wine: ${passed:-0} passed, ${failed:-0} failed"
if ((status != 0 || demo != 0)); then exit 1; fi
exit 0
