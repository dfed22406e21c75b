#!/usr/bin/env bash
# How long a serial exchange takes, under Wine, through the driver's
# automation interface against the simulated scale on a pseudo-terminal
# that takes each byte's line time (pesolink-sim --pace): ReadWeight (one
# exchange) and GetWiFi (three) at 4800 baud even parity and 57600 baud no
# parity, with ComHardTimeout 500, 50 and 20, each with the reply in one
# piece and paced in three pieces 100 ms apart. Prints one table row per
# case, medians of COUNT calls in milliseconds.
#
#   scripts/bench-serial.sh [COUNT]
#
# Build trees (made when missing): PESOLINK_WIN_BUILD (default build/win),
# PESOLINK_NATIVE_BUILD (default build/native). The Wine prefix lives in
# PESOLINK_WIN_BUILD/bench-serial.
set -euo pipefail
ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/win}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"
COUNT="${1:-9}"
COM_NUMBER=5

say() { echo "bench-serial: $*" >&2; }
source "$ROOT/scripts/suite-env.sh"
HARNESS="$WIN_BUILD/bench-serial"
suite_lock "$HARNESS/.lock" || exit 1
suite_build_native "$NATIVE_BUILD" pesolink-sim
suite_build_win "$WIN_BUILD" pesolink_com

source "$ROOT/scripts/wine-env.sh"
RUN="$HARNESS/run"
SIM_PID=""
cleanup() {
    if [[ -n "$SIM_PID" ]]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
    fi
    wine_env_stop
}
trap cleanup EXIT
rm -rf "$RUN" && mkdir -p "$RUN"
export LC_ALL=C.UTF-8
wine_env_start "$HARNESS" 9>&-
wine regsvr32 /s "$(wine_unix_to_win "$WIN_BUILD/driver/com/OstrelPesolink.dll")" </dev/null >/dev/null 2>&1
settings="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Ostrel/Pesolink"
mkdir -p "$settings"
client="$(wine_unix_to_win "$ROOT/tests/bench/serial_timing.js")"

start_sim() {  # BAUD,PARITY
    rm -f "$RUN/sim.ctl" "$RUN/sim.ready"
    mkfifo "$RUN/sim.ctl"
    "$NATIVE_BUILD/sim/pesolink-sim" --quiet --pace --pty "$RUN/scale.pty" --line "$1" \
        --ready-file "$RUN/sim.ready" 0<>"$RUN/sim.ctl" >"$RUN/sim.log" 2>&1 9>&- &
    SIM_PID=$!
    local i
    for ((i = 0; i < 100; i++)); do
        [[ -f "$RUN/sim.ready" ]] && break
        sleep 0.05
    done
    [[ -f "$RUN/sim.ready" ]] || { say "the simulated scale did not start"; cat "$RUN/sim.log" >&2; exit 1; }
    wine_map_com "$COM_NUMBER" "$(head -n 1 "$RUN/sim.ready")"
}
sim() {  # COMMAND: sends it and waits for the answer
    local answers i
    answers=$(grep -cE '^(ok|error)' "$RUN/sim.log" || true)
    echo "$1" >"$RUN/sim.ctl"
    for ((i = 0; i < 100; i++)); do
        (($(grep -cE '^(ok|error)' "$RUN/sim.log" || true) > answers)) && return 0
        sleep 0.02
    done
    say "the simulated scale did not answer: $1"
    exit 1
}
stop_sim() {
    kill "$SIM_PID" 2>/dev/null || true
    wait "$SIM_PID" 2>/dev/null || true
    SIM_PID=""
}

field() {  # LOG NAME WORD: the number after WORD on NAME's line
    tr -d '\r' <"$1" | sed -n "s/^$2 .*$3 \([0-9]*\).*/\1/p"
}

echo "| Line | ComHardTimeout | Reply | ReadWeight (ms) | GetWiFi (ms) | failed |"
echo "|---|---|---|---|---|---|"
for line in 4800,2 57600,0; do
    start_sim "$line"
    for hard in 500 50 20; do
        printf '[Settings]\r\nLCID=409\r\nComSoftTimeout=2000\r\nComHardTimeout=%s\r\n' "$hard" >"$settings/Driver.ini"
        for reply in whole paced; do
            sim clear
            [[ $reply == paced ]] && sim "fault split pieces=6,6 delay=100 count=-1"
            log="$RUN/$line-$hard-$reply.log"
            timeout -k 5 300 env LD_PRELOAD="$WINE_ENV_PRELOAD" wine cscript //nologo "$client" "COM$COM_NUMBER" "$COUNT" </dev/null >"$log" 2>&1 || true
            if ! grep -q '^GetWiFi ' <(tr -d '\r' <"$log"); then
                say "no timing for $line $hard $reply:"
                cat "$log" >&2
                continue
            fi
            failed=$(($(field "$log" ReadWeight failed) + $(field "$log" GetWiFi failed)))
            label="${line%,*} baud"
            [[ $reply == whole ]] && what="in one piece" || what="3 pieces, 100 ms apart"
            echo "| $label | $hard | $what | $(field "$log" ReadWeight median) | $(field "$log" GetWiFi median) | $failed |"
        done
    done
    stop_sim
done
