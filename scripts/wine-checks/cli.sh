#!/usr/bin/env bash
# pesolink.exe in both bitnesses under Wine against the scale sim-cli
# (fixture: TCP on 127.0.0.1 and COM8, answering on its line only at the
# third setting of the probe), one step each:
#
#   cli.sh imports   both programs import only system DLLs (static like the driver)
#   cli.sh weight    weight on COM8 (the line probe down to the third setting,
#                    with its progress lines) and on TCP, plain and --json, 64-
#                    and 32-bit
#   cli.sh info      info over TCP, and the exit statuses of no scale and a bad target
#   cli.sh watch     --watch ended by Ctrl+C while the weight changes
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
step=${1:?step}
checks_begin "cli $step"

EXE="$WIN_BUILD/cli/pesolink.exe"
EXE32="$WIN32_BUILD/cli/pesolink.exe"

if [[ $step == imports ]]; then
    expect_eq "DLLs imported by the x64 pesolink.exe beyond the system's" \
        "$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$EXE")" ""
    expect_eq "DLLs imported by the x86 pesolink.exe beyond the system's" \
        "$(suite_foreign_dlls i686-w64-mingw32-objdump "$EXE32")" ""
    checks_end
    exit
fi

export LC_ALL=C.UTF-8
wine_env_use "$WIN_BUILD"
fixture_env sim-cli
COM_NUMBER=${SIM_COM#COM}
RUN="$WIN_BUILD/checks/cli-$step"
rm -rf "$RUN" && mkdir -p "$RUN"

# The driver's own settings, as any program that loads it finds them; short
# serial time-outs keep the line probe quick.
settings="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Ostrel/Pesolink"
mkdir -p "$settings"
printf '[Settings]\r\nLCID=409\r\nLogging=1\r\nComSoftTimeout=300\r\nComHardTimeout=50\r\n' >"$settings/Driver.ini"
TCP="127.0.0.1:$SIM_PORT"

# One command to the scale; its answer must be "ok".
sim_say() {
    expect_eq "simulated scale: $1" "$(sim_answer cli "$1")" ok
}
sim_say "weight 2500"
sim_say "set net 1"


# Runs pesolink.exe with a time limit: LABEL.out and LABEL.err, CLI_STATUS.
run_cli() {  # LABEL SECONDS EXE ARGS...
    local label=$1 limit=$2
    shift 2
    CLI_STATUS=0
    timeout -k 5 "$limit" env LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$@" \
        </dev/null >"$RUN/$label.out" 2>"$RUN/$label.err" || CLI_STATUS=$?
}

# Fields of the JSON objects of a file, one object a line: "key=value" for
# each key asked for, one line per object; "invalid" for a line that is not
# a JSON object.
json_fields() {  # FILE KEY...
    python3 - "$@" <<'PY'
import json, sys
path, keys = sys.argv[1], sys.argv[2:]
for line in open(path, encoding="utf-8"):
    try:
        obj = json.loads(line)
    except ValueError:
        print("invalid")
        continue
    if not isinstance(obj, dict):
        print("invalid")
        continue
    out = []
    for key in keys:
        value = obj
        for part in key.split("."):
            value = value.get(part) if isinstance(value, dict) else None
        out.append("%s=%s" % (key, value))
    print(" ".join(out))
PY
}

case "$step" in
weight)
    t0=$SECONDS
    run_cli com-json 60 "$EXE" weight "COM$COM_NUMBER" --json
    expect_eq "weight COM$COM_NUMBER --json exit status" "$CLI_STATUS" 0
    expect_eq "weight COM$COM_NUMBER --json" "$(json_fields "$RUN/com-json.out" command status weight division stable net zero)" \
        "command=weight status=0 weight=2500 division=2 stable=1 net=1 zero=0"
    expect_eq "progress of the line probe" "$(cat "$RUN/com-json.err")" \
"pesolink: trying COM$COM_NUMBER at 4800 baud, even parity ...
pesolink: trying COM$COM_NUMBER at 57600 baud, no parity ...
pesolink: trying COM$COM_NUMBER at 19200 baud, space parity ..."
    # The driver's own log, in the driver's own folder.
    if tr -d '\r' <"$settings/Log.txt" | grep -q "ReadWeight: Exit from COM$COM_NUMBER with Result=0$"; then pass
    else fail "Log.txt has no ReadWeight line for COM$COM_NUMBER"; fi

    run_cli com-plain 60 "$EXE" weight "com$COM_NUMBER"
    expect_eq "weight com$COM_NUMBER exit status" "$CLI_STATUS" 0
    expect_eq "weight com$COM_NUMBER" "$(cat "$RUN/com-plain.out")" "weight 2500, division 2, stable, net"

    run_cli tcp-plain 30 "$EXE" weight "$TCP"
    expect_eq "weight over TCP exit status" "$CLI_STATUS" 0
    expect_eq "weight over TCP" "$(cat "$RUN/tcp-plain.out")" "weight 2500, division 2, stable, net"
    expect_eq "weight over TCP, standard error" "$(cat "$RUN/tcp-plain.err")" ""

    run_cli tcp32-json 30 "$EXE32" weight "$TCP" --json
    expect_eq "x86 weight over TCP exit status" "$CLI_STATUS" 0
    expect_eq "x86 weight over TCP" "$(json_fields "$RUN/tcp32-json.out" status weight)" "status=0 weight=2500"
    say "weight: $((SECONDS - t0)) s"

    ;;
info)
    run_cli info 30 "$EXE" info "$TCP" --json
    expect_eq "info exit status" "$CLI_STATUS" 0
    expect_eq "info" "$(json_fields "$RUN/info.out" status serial name line ethernet.ip accessPoint.ssid)" \
        "status=0 serial=12345 name=Scale line=None ethernet.ip=192.168.1.10 accessPoint.ssid=Os_012345"

    # A loopback port that nobody listens on: bind one, take its number, free it.
    closed=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
    run_cli closed 30 "$EXE" weight "127.0.0.1:$closed" --json
    expect_eq "no scale: exit status" "$CLI_STATUS" 1
    expect_eq "no scale" "$(json_fields "$RUN/closed.out" status failed)" "status=1 failed=OpenConnection"

    run_cli bad-target 30 "$EXE" weight X1
    expect_eq "bad target: exit status" "$CLI_STATUS" 64
    expect_eq "bad target: standard output" "$(cat "$RUN/bad-target.out")" ""

    ;;
watch)
    # Wine turns the SIGINT of its process into the console's Ctrl+C.
    t0=$SECONDS
    LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$EXE" weight "$TCP" --watch --interval 100 --json \
        </dev/null >"$RUN/watch.out" 2>"$RUN/watch.err" &
    watch_pid=$!
    seen() { grep -c "\"weight\":$1," "$RUN/watch.out" 2>/dev/null || true; }
    for ((i = 0; i < 100 && $(seen 2500) < 2; i++)); do sleep 0.1; done
    sim_say "weight 1234"
    for ((i = 0; i < 100 && $(seen 1234) < 2; i++)); do sleep 0.1; done
    kill -INT "$watch_pid" 2>/dev/null || true
    watch_status=0
    for ((i = 0; i < 100; i++)); do
        kill -0 "$watch_pid" 2>/dev/null || break
        sleep 0.1
    done
    if kill -0 "$watch_pid" 2>/dev/null; then
        fail "--watch did not end on Ctrl+C"
        kill -KILL "$watch_pid" 2>/dev/null || true
    fi
    wait "$watch_pid" || watch_status=$?
    expect_eq "--watch exit status" "$watch_status" 0
    if (($(seen 2500) >= 2 && $(seen 1234) >= 2)); then pass; else fail "--watch readings: $(cat "$RUN/watch.out")"; fi
    expect_eq "--watch lines that are not JSON objects" "$(json_fields "$RUN/watch.out" status | grep -vc '^status=0$' || true)" 0
    say "watch: $((SECONDS - t0)) s"

    ;;
*) echo "cli: unknown step $step" >&2; exit 2 ;;
esac
checks_end
