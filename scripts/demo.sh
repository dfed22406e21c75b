#!/usr/bin/env bash
# The main job, end to end, on the simulated scale: builds the Windows driver
# and the native simulated scale, starts the scale on 127.0.0.1 and on a
# pseudo-terminal mapped to the Wine COM port COM5 (answering at 19200 baud,
# space parity, so the driver has to probe), registers the driver in a Wine
# prefix with regsvr32 and runs the example VBScript client under cscript.
# Installs what is missing first.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/win}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"
COM_NUMBER=5

say() { echo "demo: $*"; }

"$ROOT/scripts/setup.sh"

source "$ROOT/scripts/suite-env.sh"
say "building the driver (Windows x64) and the simulated scale (native)"
suite_build_win "$WIN_BUILD" pesolink_com link_client
suite_build_native "$NATIVE_BUILD" pesolink-sim

DLL="$(find "$WIN_BUILD/driver" -name OstrelPesolink.dll | head -n 1)"
[[ -n "$DLL" ]] || { say "OstrelPesolink.dll was not built"; exit 1; }

source "$ROOT/scripts/wine-env.sh"
RUN="$WIN_BUILD/demo-run"
SIM_PID=""
cleanup() {
    local rc=$?
    sim_stop
    wine_env_stop
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT TERM
rm -rf "$RUN" && mkdir -p "$RUN"
wine_env_start "$WIN_BUILD"

sim_start "$RUN" "$NATIVE_BUILD/sim/pesolink-sim" --tcp 0 --pty "$RUN/sim.pty" --line 19200,4
wine_map_com "$COM_NUMBER" "$SIM_PTY"
say "simulated scale on 127.0.0.1:$SIM_PORT and COM$COM_NUMBER ($SIM_PTY)"

say "the raw link: the name query over TCP and over COM$COM_NUMBER"
wine_run "$WIN_BUILD/examples/link_client.exe" "COM$COM_NUMBER" "127.0.0.1:$SIM_PORT" </dev/null

say "registering $(basename "$DLL") with regsvr32"
wine_run regsvr32 /s "$(wine_unix_to_win "$DLL")" </dev/null

say "cscript examples/client.vbs COM$COM_NUMBER 127.0.0.1:$SIM_PORT"
wine_run cscript //nologo "$(wine_unix_to_win "$ROOT/examples/client.vbs")" "COM$COM_NUMBER" \
    "127.0.0.1:$SIM_PORT" </dev/null
say "done"
