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

# --- build ------------------------------------------------------------------
if [[ ! -f "$WIN_BUILD/build.ninja" ]]; then
    say "configuring $WIN_BUILD"
    cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
say "building the Windows tests and the link client"
cmake --build "$WIN_BUILD" -j "$JOBS" --target link_wine_tests link_client >/dev/null
if [[ ! -f "$NATIVE_BUILD/build.ninja" ]]; then
    say "configuring $NATIVE_BUILD"
    cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
say "building the simulated scale"
cmake --build "$NATIVE_BUILD" -j "$JOBS" --target pesolink-sim >/dev/null

TESTS_EXE="$WIN_BUILD/tests/wine/link_wine_tests.exe"
CLIENT_EXE="$WIN_BUILD/examples/link_client.exe"
SIM_EXE="$NATIVE_BUILD/sim/pesolink-sim"

# No MinGW runtime DLL may ride along: only system DLLs are imported.
for exe in "$TESTS_EXE" "$CLIENT_EXE"; do
    foreign="$(x86_64-w64-mingw32-objdump -p "$exe" | sed -n 's/^\s*DLL Name: //p' |
        grep -viE '^(kernel32|user32|ws2_32|msvcrt|advapi32|ole32|oleaut32|shell32|gdi32)\.dll$' || true)"
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
    if [[ -n "$SIM_PID" ]]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    wine_env_stop
    rm -f "$RUN/ctl.in" "$RUN/ctl.out"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$RUN"
mkdir -p "$RUN"
wine_env_start "$WIN_BUILD"

# Commands go to the simulator through one FIFO and its answers come back
# through another; both are held open read-write here, so neither side
# blocks on open or sees an end of file while the other is between uses.
mkfifo "$RUN/ctl.in" "$RUN/ctl.out"
"$SIM_EXE" --tcp 0 --pty "$RUN/sim.pty" --line 57600,0 --quiet --ready-file "$RUN/sim.ready" \
    0<>"$RUN/ctl.in" 1<>"$RUN/ctl.out" 2>"$RUN/sim.err" &
SIM_PID=$!
for ((i = 0; i < 100; i++)); do
    [[ -f "$RUN/sim.ready" ]] && break
    kill -0 "$SIM_PID" 2>/dev/null || break
    sleep 0.05
done
if [[ ! -f "$RUN/sim.ready" ]]; then
    say "the simulated scale did not start:"
    cat "$RUN/sim.err" >&2
    exit 1
fi
{ read -r SIM_PORT; read -r SIM_PTY; } <"$RUN/sim.ready"
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
# Bounded, so that a hung exchange cannot stall the whole run.
timeout -k 10 280 env LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$TESTS_EXE" "$@" </dev/null >"$RUN/gtest.log" 2>&1 ||
    status=$?
if ((status != 0)); then
    cat "$RUN/gtest.log"
else
    grep -E '^\[==========\]|^\[  PASSED  \]|^\[  SKIPPED \]' "$RUN/gtest.log" || true
fi
passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$RUN/gtest.log")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$RUN/gtest.log")
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
