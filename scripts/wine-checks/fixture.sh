#!/usr/bin/env bash
# What the Windows tests need, started and stopped by CTest fixtures (and by
# scripts/demo.sh): a Wine prefix with its server, simulated scales with
# their Wine COM ports, the Xvfb display. Each leaves a description in
# WIN_BUILD/fixtures for the tests (and scripts/wine-run) to read.
#
#   fixture.sh wine-start [DIR [--fresh]]
#                                      prefix DIR/wineprefix (made once, or afresh;
#                                      default WIN_BUILD) and its server
#   fixture.sh wine-stop [DIR]
#   fixture.sh sim-start NAME [--prefix DIR] [--com N] SIM_ARGS...
#                                      a scale with control FIFOs; its pty (with
#                                      --pty) mapped to COMN of the prefix;
#                                      fixtures/sim-NAME.env names it
#   fixture.sh sim-stop NAME
#   fixture.sh xvfb-start / xvfb-stop  a free display; fixtures/xvfb.env
#
# Each server is started with its output in a log and no terminal, so that
# it outlives the step that started it without holding CTest's pipes. What
# PESOLINK_TEST_ENV names (e.g. xvfb) is read first.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
checks_begin fixture
for name in ${PESOLINK_TEST_ENV:-}; do
    fixture_env "$name"
done

action=${1:?action}
shift

# The scale reads commands from ctl.in and answers on ctl.out (suite-env's
# sim_start); both FIFOs are held open by the scale itself.
sim_start_fixture() {
    local name=$1 prefix=$WIN_BUILD com=""
    shift
    while (($#)); do
        case "$1" in
            --prefix) prefix=$2; shift 2 ;;
            --com) com=$2; shift 2 ;;
            *) break ;;
        esac
    done
    local run="$FIXTURES/sim-$name"
    if [[ ! -x "$SIM_EXE" ]]; then
        say "no simulated scale at $SIM_EXE: build the native tree first (cache variable PESOLINK_NATIVE_BUILD)"
        return 1
    fi
    sim_stop_fixture "$name"
    rm -rf "$run"
    mkdir -p "$run"
    local args=() a
    for a in "$@"; do args+=("${a//@RUN@/$run}"); done
    sim_start "$run" "$SIM_EXE" "${args[@]}" </dev/null || return 1
    echo "$SIM_PID" >"$run/pid"
    # A scale without TCP names only its pty.
    if [[ -z "$SIM_PTY" && "$SIM_PORT" != [0-9]* ]]; then
        SIM_PTY=$SIM_PORT SIM_PORT=""
    fi
    {
        echo "SIM_PORT='$SIM_PORT'"
        echo "SIM_PTY='$SIM_PTY'"
        echo "SIM_RUN='$run'"
        echo "export PESOLINK_SIM_TCP_PORT='$SIM_PORT'"
        echo "export PESOLINK_SIM_CTL_IN='$(wine_unix_to_win "$run/ctl.in")'"
        echo "export PESOLINK_SIM_CTL_OUT='$(wine_unix_to_win "$run/ctl.out")'"
        if [[ -n "$com" ]]; then
            echo "SIM_COM='COM$com'"
            echo "export PESOLINK_SIM_COM='COM$com'"
        fi
    } >"$FIXTURES/sim-$name.env"
    if [[ -n "$com" ]]; then
        # A fresh pty for every run: the COM port points at this one, never
        # at a number left over from an earlier scale.
        WINEPREFIX="$prefix/wineprefix" wine_map_com "$com" "$SIM_PTY"
    fi
    say "simulated scale $name on 127.0.0.1:$SIM_PORT${com:+ and COM$com ($SIM_PTY)}"
}

sim_stop_fixture() {
    local run="$FIXTURES/sim-$1" pid i
    rm -f "$FIXTURES/sim-$1.env"
    [[ -f "$run/pid" ]] || return 0
    pid=$(cat "$run/pid")
    kill "$pid" 2>/dev/null || true
    for ((i = 0; i < 100; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    rm -f "$run/pid" "$run/ctl.in" "$run/ctl.out"
}

wine_start_fixture() {
    local dir=${1:-$WIN_BUILD}
    mkdir -p "$dir/fixtures"
    if [[ ${2:-} == --fresh ]]; then
        wine_stop_fixture "$dir"
        rm -rf "$dir/wineprefix"
    fi
    wine_env_start "$dir" </dev/null || return 1
    echo "$WINE_ENV_SERVER_PID" >"$dir/fixtures/wineserver.pid"
    say "Wine server $WINE_ENV_SERVER_PID for $WINEPREFIX"
}

wine_stop_fixture() {
    local dir=${1:-$WIN_BUILD} pid="" i
    [[ -f "$dir/fixtures/wineserver.pid" ]] && pid=$(cat "$dir/fixtures/wineserver.pid")
    wine_env_vars "$dir" || return 1
    wineserver -k >/dev/null 2>&1 || true
    if [[ -n "$pid" ]]; then
        for ((i = 0; i < 200; i++)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.05
        done
    fi
    rm -f "$dir/fixtures/wineserver.pid"
}

xvfb_start_fixture() {
    local display="" n i
    xvfb_stop_fixture
    mkdir -p "$FIXTURES"
    for n in $(seq 91 120); do
        if [[ ! -e "/tmp/.X$n-lock" && ! -e "/tmp/.X11-unix/X$n" ]]; then display=":$n"; break; fi
    done
    [[ -n "$display" ]] || { say "no free X display"; return 1; }
    Xvfb "$display" -screen 0 1024x768x24 -nolisten tcp </dev/null >"$FIXTURES/xvfb.log" 2>&1 &
    echo $! >"$FIXTURES/xvfb.pid"
    for ((i = 0; i < 100; i++)); do
        [[ -e "/tmp/.X11-unix/X${display#:}" ]] && break
        sleep 0.05
    done
    [[ -e "/tmp/.X11-unix/X${display#:}" ]] || { say "Xvfb did not start:"; cat "$FIXTURES/xvfb.log"; return 1; }
    echo "export DISPLAY='$display'" >"$FIXTURES/xvfb.env"
    say "display $display"
}

xvfb_stop_fixture() {
    local pid i
    rm -f "$FIXTURES/xvfb.env"
    [[ -f "$FIXTURES/xvfb.pid" ]] || return 0
    pid=$(cat "$FIXTURES/xvfb.pid")
    kill "$pid" 2>/dev/null || true
    for ((i = 0; i < 100; i++)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.05
    done
    rm -f "$FIXTURES/xvfb.pid"
}

case "$action" in
    wine-start) wine_start_fixture "$@" ;;
    wine-stop) wine_stop_fixture "$@" ;;
    sim-start) sim_start_fixture "$@" ;;
    sim-stop) sim_stop_fixture "${1:?name}" ;;
    xvfb-start) xvfb_start_fixture ;;
    xvfb-stop) xvfb_stop_fixture ;;
    *) echo "fixture: unknown action $action" >&2; exit 2 ;;
esac
