#!/usr/bin/env bash
# The fault slice and the object churn under Wine, through the registered
# server (fixture com-registered) against the scale sim-fault (TCP and COM7,
# answering at any line setting). fault_wine_tests runs per test case
# through scripts/wine-run; these are its helpers and the churn:
#
#   fault.sh prepare   the settings the fault slice runs with (with a trace)
#   fault.sh churn [CYCLES]
#                      create/open/close/release cycles through COM over TCP,
#                      threads, handles and memory measured (default
#                      PESOLINK_CHURN_CYCLES, else 10000)
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
step=${1:?step}
checks_begin "fault $step"
CHURN_EXE="$WIN_BUILD/tests/wine/churn_wine.exe"

export LC_ALL=C.UTF-8
wine_env_use "$WIN_BUILD"
fixture_env sim-fault
settings="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Ostrel/Pesolink"
mkdir -p "$settings"
write_settings() {  # LOGGING
    printf '[Settings]\r\nLCID=409\r\nLogging=%s\r\nComSoftTimeout=300\r\nComHardTimeout=50\r\n' "$1" \
        >"$settings/Driver.ini"
}

case "$step" in
prepare)
    write_settings 1
    step_end
    exit
    ;;
churn)
    CYCLES="${2:-${PESOLINK_CHURN_CYCLES:-10000}}"
    RUN="$WIN_BUILD/checks/fault-churn"
    rm -rf "$RUN" && mkdir -p "$RUN"
    # The default settings: no trace.
    write_settings 0
    sim fault clear
    t0=$SECONDS
    churn_status=0
    run_wine "$RUN/churn.log" 1800 "$CHURN_EXE" "127.0.0.1:$SIM_PORT" "$CYCLES" || churn_status=$?
    tr -d '\r' <"$RUN/churn.log" | sed 's/^/  /'
    line=$(tr -d '\r' <"$RUN/churn.log" | grep -E '[0-9]+ passed, [0-9]+ failed$' | tail -n 1 || true)
    churn_passed=$(sed -n 's/.* \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' <<<"$line")
    churn_failed=$(sed -n 's/.* \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' <<<"$line")
    checks_passed=$((checks_passed + ${churn_passed:-0}))
    checks_failed=$((checks_failed + ${churn_failed:-0}))
    if ((churn_status != 0 && ${churn_failed:-0} == 0)); then fail "churn_wine exit $churn_status"; fi
    say "churn_wine $CYCLES cycles: $((SECONDS - t0)) s (exit $churn_status)"
    ;;
*) echo "fault: unknown step $step" >&2; exit 2 ;;
esac
checks_end
