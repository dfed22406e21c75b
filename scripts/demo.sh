#!/usr/bin/env bash
# The main job, end to end, on the simulated scale: builds the Windows driver
# and the native simulated scale, starts the scale on 127.0.0.1 and on a
# pseudo-terminal mapped to the Wine COM port COM5 (answering at 19200 baud,
# space parity, so the driver has to probe), registers the driver in a Wine
# prefix with regsvr32 and runs the example VBScript client under cscript.
# Installs what is missing first.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
COM_NUMBER=5

"$ROOT/scripts/setup.sh"

# The trees (PESOLINK_WIN_BUILD, default build/windows; PESOLINK_NATIVE_BUILD,
# default build/native) and the fixtures' helpers, as the tests have them.
source "$ROOT/scripts/wine-checks/lib.sh"
say() { echo "demo: $*"; }
say "building the driver (Windows x64) and the simulated scale (native)"
suite_build_win "$WIN_BUILD" pesolink_com link_client
suite_build_native "$NATIVE_BUILD" pesolink-sim

DLL="$(find "$WIN_BUILD/driver" -name OstrelPesolink.dll | head -n 1)"
[[ -n "$DLL" ]] || { say "OstrelPesolink.dll was not built"; exit 1; }

# The Wine prefix with its server and the simulated scale, started (and
# stopped) as the tests' fixtures are.
fixture="$ROOT/scripts/wine-checks/fixture.sh"
export PESOLINK_WIN_BUILD="$WIN_BUILD" PESOLINK_NATIVE_BUILD="$NATIVE_BUILD"
cleanup() {
    local rc=$?
    "$fixture" sim-stop demo >/dev/null || true
    "$fixture" wine-stop >/dev/null || true
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
"$fixture" wine-start >/dev/null
"$fixture" sim-start demo --com "$COM_NUMBER" --tcp 0 --pty @RUN@/sim.pty --line 19200,4 >/dev/null
fixture_env sim-demo
wine_env_use "$WIN_BUILD"
say "simulated scale on 127.0.0.1:$SIM_PORT and COM$COM_NUMBER ($SIM_PTY)"

say "the raw link: the name query over TCP and over COM$COM_NUMBER"
wine_run "$WIN_BUILD/examples/link_client.exe" "COM$COM_NUMBER" "127.0.0.1:$SIM_PORT" </dev/null

say "registering $(basename "$DLL") with regsvr32"
wine_run regsvr32 /s "$(wine_unix_to_win "$DLL")" </dev/null

say "cscript examples/client.vbs COM$COM_NUMBER 127.0.0.1:$SIM_PORT"
wine_run cscript //nologo "$(wine_unix_to_win "$ROOT/examples/client.vbs")" "COM$COM_NUMBER" \
    "127.0.0.1:$SIM_PORT" </dev/null
say "done"
