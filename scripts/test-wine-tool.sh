#!/usr/bin/env bash
# End-to-end test of the configuration tool under Wine and Xvfb: the real
# driver DLL registered in a Wine prefix, the simulated scale on COM5, and a
# Windows test program that drives Pesoconf.exe's window. Screenshots land in
# BUILD/tool-e2e/shots as PNG.
#
#   scripts/test-wine-tool.sh [GTEST_ARGS...]
#
# Build trees (made when missing):
#   PESOCONF_WIN_BUILD     Windows cross build, default build/tool-win
#   PESOCONF_NATIVE_BUILD  native build with the simulator, default build/tool-native
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOCONF_WIN_BUILD:-$ROOT/build/tool-win}"
NATIVE_BUILD="${PESOCONF_NATIVE_BUILD:-$ROOT/build/tool-native}"
JOBS="${PESOLINK_JOBS:-2}"
COM_NUMBER=5

say() { echo "test-wine-tool: $*"; }

# --- build ------------------------------------------------------------------
if [[ ! -f "$WIN_BUILD/build.ninja" ]]; then
    say "configuring $WIN_BUILD"
    cmake -S "$ROOT" -B "$WIN_BUILD" -G Ninja \
        -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/mingw-w64-x86_64.cmake" -DCMAKE_BUILD_TYPE=Release >/dev/null
fi
say "building Pesoconf, the driver and the end-to-end test program"
cmake --build "$WIN_BUILD" -j "$JOBS" --target Pesoconf pesolink_com tool_wine_e2e >/dev/null
if [[ ! -f "$NATIVE_BUILD/build.ninja" ]]; then
    say "configuring $NATIVE_BUILD"
    cmake -S "$ROOT" -B "$NATIVE_BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
fi
say "building the simulated scale"
cmake --build "$NATIVE_BUILD" -j "$JOBS" --target pesolink-sim >/dev/null

TOOL_EXE="$WIN_BUILD/tool/win32/Pesoconf.exe"
DLL="$WIN_BUILD/driver/com/OstrelPesolink.dll"
TEST_EXE="$WIN_BUILD/tests/wine/tool_wine_e2e.exe"
SIM_EXE="$NATIVE_BUILD/sim/pesolink-sim"

# The shipped program brings no runtime DLL of its own.
foreign="$(x86_64-w64-mingw32-objdump -p "$TOOL_EXE" | sed -n 's/^\s*DLL Name: //p' |
    grep -viE '^(kernel32|user32|gdi32|msvcrt|advapi32|ole32|oleaut32|shell32|version|comctl32)\.dll$' || true)"
if [[ -n "$foreign" ]]; then
    say "Pesoconf.exe imports non-system DLLs: $foreign"
    exit 1
fi
for f in bg.bmp help.htm; do
    [[ -f "$(dirname "$TOOL_EXE")/$f" ]] || { say "$f is missing beside Pesoconf.exe"; exit 1; }
done

# --- display, Wine, driver, simulator ---------------------------------------
RUN="$WIN_BUILD/tool-e2e"
SHOTS="$RUN/shots"
XVFB_PID=""
SIM_PID=""
source "$ROOT/scripts/wine-env.sh"
cleanup() {
    local rc=$?
    wine_env_stop
    if [[ -n "$SIM_PID" ]]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    if [[ -n "$XVFB_PID" ]]; then
        kill "$XVFB_PID" 2>/dev/null || true
        wait "$XVFB_PID" 2>/dev/null || true
    fi
    rm -f "$RUN/ctl.in" "$RUN/ctl.out"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

rm -rf "$RUN/sim.ready" "$RUN/ctl.in" "$RUN/ctl.out" "$SHOTS"
mkdir -p "$RUN" "$SHOTS"

display=""
for n in $(seq 91 120); do
    if [[ ! -e "/tmp/.X$n-lock" && ! -e "/tmp/.X11-unix/X$n" ]]; then display=":$n"; break; fi
done
[[ -n "$display" ]] || { say "no free X display"; exit 1; }
Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp >"$RUN/xvfb.log" 2>&1 &
XVFB_PID=$!
export DISPLAY="$display"
for ((i = 0; i < 100; i++)); do
    [[ -e "/tmp/.X11-unix/X${display#:}" ]] && break
    sleep 0.05
done

wine_env_start "$RUN"
# COM1 to COM4 are Wine's own serial devices; pointing them at nothing makes
# their opens fail at once instead of costing a search three time-outs.
mkdir -p "$RUN/nocom"
for n in 1 2 3 4; do ln -sfn "$RUN/nocom/none" "$WINEPREFIX/dosdevices/com$n"; done

say "registering the driver"
wine regsvr32 /s "$(wine_unix_to_win "$DLL")" </dev/null >"$RUN/regsvr32.log" 2>&1 || {
    say "regsvr32 failed"
    exit 1
}

mkfifo "$RUN/ctl.in" "$RUN/ctl.out"
"$SIM_EXE" --tcp 0 --pty "$RUN/sim.pty" --line 4800,2 --quiet --ready-file "$RUN/sim.ready" \
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
wine_map_com "$COM_NUMBER" "$SIM_PTY"
say "simulated scale on COM$COM_NUMBER ($SIM_PTY), display $DISPLAY"

export PESOLINK_SIM_TCP_PORT="$SIM_PORT"
export PESOLINK_SIM_COM="COM$COM_NUMBER"
export PESOLINK_SIM_CTL_IN="$(wine_unix_to_win "$RUN/ctl.in")"
export PESOLINK_SIM_CTL_OUT="$(wine_unix_to_win "$RUN/ctl.out")"
export PESOCONF_EXE="$(wine_unix_to_win "$TOOL_EXE")"
export PESOCONF_SHOTS="$(wine_unix_to_win "$SHOTS")"

# --- test ------------------------------------------------------------------
status=0
start=$SECONDS
timeout -k 10 400 env LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$TEST_EXE" "$@" </dev/null >"$RUN/gtest.log" 2>&1 ||
    status=$?
if ((status != 0)); then
    cat "$RUN/gtest.log"
else
    grep -E '^\[==========\]|^\[  PASSED  \]|^\[  SKIPPED \]' "$RUN/gtest.log" || true
fi
say "tool_wine_e2e took $((SECONDS - start)) s (exit $status)"

for bmp in "$SHOTS"/*.bmp; do
    [[ -f "$bmp" ]] || continue
    if convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then rm -f "$bmp"; fi
done
ls "$SHOTS" 2>/dev/null | sed 's/^/  screenshot: /'

passed=$(sed -n 's/^\[  PASSED  \] \([0-9]*\) tests\?\..*/\1/p' "$RUN/gtest.log")
failed=$(sed -n 's/^\[  FAILED  \] \([0-9]*\) tests\?, listed below:.*/\1/p' "$RUN/gtest.log")
echo "tool-wine: ${passed:-0} passed, ${failed:-0} failed"
exit "$status"
