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

source "$ROOT/scripts/suite-env.sh"

# --- build ------------------------------------------------------------------
say "building Pesoconf, the driver and the end-to-end test program"
suite_build_win "$WIN_BUILD" Pesoconf pesolink_com tool_wine_e2e
say "building the simulated scale"
suite_build_native "$NATIVE_BUILD" pesolink-sim

TOOL_EXE="$WIN_BUILD/tool/win32/Pesoconf.exe"
DLL="$WIN_BUILD/driver/com/OstrelPesolink.dll"
TEST_EXE="$WIN_BUILD/tests/wine/tool_wine_e2e.exe"
SIM_EXE="$NATIVE_BUILD/sim/pesolink-sim"

# The shipped program brings no runtime DLL of its own.
foreign="$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$TOOL_EXE")"
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
    sim_stop
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

sim_start "$RUN" "$SIM_EXE" --tcp 0 --pty "$RUN/sim.pty" --line 4800,2
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
suite_gtest 400 "$RUN/gtest.log" "$TEST_EXE" "$@" || status=$?
say "tool_wine_e2e took $((SECONDS - start)) s (exit $status)"

for bmp in "$SHOTS"/*.bmp; do
    [[ -f "$bmp" ]] || continue
    if convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then rm -f "$bmp"; fi
done
ls "$SHOTS" 2>/dev/null | sed 's/^/  screenshot: /'

echo "tool-wine: ${GTEST_PASSED:-0} passed, ${GTEST_FAILED:-0} failed"
exit "$status"
