#!/usr/bin/env bash
# Checks of the COM server under Wine, one step each (CTest runs each as a
# test; com_wine_tests runs per test case through scripts/wine-run):
#
#   com.sh imports          OstrelPesolink.dll imports only system DLLs
#   com.sh registration     per machine and per user, read back from the
#                           registry, and unregistration; a module path with a blank
#   com.sh side-by-side     both bitnesses side by side, unregistered one
#                           after the other
#   com.sh register / unregister
#                           the fixture com-registered: the build's DLL
#                           registered per machine, fixtures/com.env for the tests
#   com.sh prepare          the driver's settings and the scales as the tests expect
#   com.sh session LANG MODE
#                           a whole session from VBScript or JScript (vbs, js)
#                           through cscript, over TCP to 127.0.0.1 or over a
#                           Wine COM port (tcp, serial), against simulated scales
#   com.sh two-scales       one script, two objects on two COM ports of two scales
#   com.sh example NAME     an example client (client.vbs, client.js, early_bound_client)
#   com.sh first-session LANG
#                           the vbs, js or cpp block of docs/first-session.md, taken
#                           from the page as it stands, run against the simulated scale
#
# The scales are fixtures: sim-good (TCP and COM6, answering at the third
# line setting the driver probes, 19200 baud space parity), sim-faulty (TCP),
# sim-scaleA and sim-scaleB (COM25 and COM26, 4800 baud even parity).
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
step=${1:?step}
shift
checks_begin "com $step${1:+ $1}"

DLL="$WIN_BUILD/driver/com/OstrelPesolink.dll"
DLL32="$WIN32_BUILD/driver/com/OstrelPesolink.dll"
CLIENT_EXE="$WIN_BUILD/examples/early_bound_client.exe"
RUN="$WIN_BUILD/checks/com-$step${1:+-$1}"

# One locale whatever the machine's: the ANSI code page that texts from the
# scale are read in (1252) matches the driver's code page for LCID 409.
export LC_ALL=C.UTF-8

if [[ $step == imports ]]; then
    # The shipped DLL carries its runtime: only system DLLs are imported.
    foreign="$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$DLL")"
    expect_eq "DLLs imported by OstrelPesolink.dll beyond the system's" "$foreign" ""
    checks_end
    exit
fi

wine_env_use "$WIN_BUILD"
rm -rf "$RUN"
mkdir -p "$RUN"
WIN_DLL="$(win "$DLL")"

# Short serial time-outs keep the line probing quick (the pty delivers a
# reply in one piece); the scale's texts use the Western code page.
settings="$WINEPREFIX/drive_c/users/$(id -un)/AppData/Roaming/Ostrel/Pesolink"
mkdir -p "$settings"
printf '[Settings]\r\nLCID=409\r\nComSoftTimeout=800\r\nComHardTimeout=100\r\n' >"$settings/Driver.ini"


# The values the session scripts expect; applied again before each client,
# since the sessions change them.
reset_good() {
    sim good clear "set serial 4711" "name Bench" "weight 2500" "set division 3" "set stable 1" \
        "set net 1" "set zero 0" "tare -250" \
        "set ethIp 192.168.7.20" "set ethMask 255.255.255.0" "set ethGateway 192.168.7.1" "set ethPort 5001" \
        "set ssid Yard" "set key secret" "set wifiIp 192.168.8.30" "set wifiMask 255.255.0.0" \
        "set wifiGateway 192.168.8.1" "set apIp 192.168.4.1" "set wifiPort 5000"
}
# Refusals and interface errors stay on; the faults are used up by a
# session and armed again: three error replies to the weight (codes 17, 5
# and 3), then silence to every tare request.
arm_faulty() {
    sim faulty clear "set refuseTare on" "set refuseZero on" "set refuseName on" \
        "set ethernetError on" "set wifiError on" \
        "fault error cmd=0x23 code=17" "fault error cmd=0x23 code=5" "fault error cmd=0x23 code=3" \
        "fault silence cmd=0xA1 count=-1"
}


# Two more scales, each on a COM port of its own, for the programs that use
# two scales at once.
reset_two() {
    sim scaleA "weight 1000"
    sim scaleB "weight 2000"
}
# The scales' addresses, from their fixtures.
scales() {  # NAME...
    local name
    for name in "$@"; do
        fixture_env "sim-$name"
        case $name in
            good) GOOD_PORT=$SIM_PORT GOOD_COM=$SIM_COM ;;
            faulty) FAULTY_PORT=$SIM_PORT ;;
            scaleA) COM_A=$SIM_COM ;;
            scaleB) COM_B=$SIM_COM ;;
        esac
    done
}

# The value of a registry entry, or "<absent>".
reg_value() {  # KEY [VALUE_NAME]
    local out
    if [[ $# -ge 2 ]]; then
        out=$(wine reg query "$1" /v "$2" </dev/null 2>/dev/null) || { echo "<absent>"; return; }
    else
        out=$(wine reg query "$1" /ve </dev/null 2>/dev/null) || { echo "<absent>"; return; }
    fi
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^ *[^ ].*  *REG_SZ  *//p' | head -n 1
}

# The class's registry content below ROOT, as the server must write it.
check_class_keys() {  # WHAT ROOT SERVER_PATH
    local what=$1 root=$2 path=$3
    expect_eq "$what class" "$(reg_value "$root\\CLSID\\$CLSID")" "Scales Object"
    expect_eq "$what InprocServer32" "$(reg_value "$root\\CLSID\\$CLSID\\InprocServer32")" "$path"
    expect_eq "$what ThreadingModel" "$(reg_value "$root\\CLSID\\$CLSID\\InprocServer32" ThreadingModel)" "Apartment"
    expect_eq "$what ProgID" "$(reg_value "$root\\CLSID\\$CLSID\\ProgID")" "$PROGID"
    expect_eq "$what TypeLib" "$(reg_value "$root\\CLSID\\$CLSID\\TypeLib")" "$LIBID"
    expect_eq "$what Version" "$(reg_value "$root\\CLSID\\$CLSID\\Version")" "1.4"
    expect_eq "$what ProgID key" "$(reg_value "$root\\$PROGID")" "Scales Object"
    expect_eq "$what ProgID Clsid" "$(reg_value "$root\\$PROGID\\Clsid")" "$CLSID"
}

check_class_absent() {  # WHAT ROOT
    expect_eq "$1 class key removed" "$(reg_value "$2\\CLSID\\$CLSID")" "<absent>"
    expect_eq "$1 ProgID key removed" "$(reg_value "$2\\$PROGID")" "<absent>"
}

regsvr() {  # WHAT EXPECTED_EXIT ARGS...
    local what=$1 expected=$2 rc=0
    shift 2
    wine regsvr32 /s "$@" </dev/null >/dev/null 2>&1 || rc=$?
    expect_eq "regsvr32 $what exit code" "$rc" "$expected"
}

HKLM='HKLM\Software\Classes'
HKCU='HKCU\Software\Classes'

# --- sessions and examples

session() {  # LABEL SCRIPT ARGS...
    local label=$1 script=$2 rc=0 t=$SECONDS line
    shift 2
    run_wine "$RUN/$label.log" 120 cscript //nologo "$(win "$ROOT/tests/wine/$script")" "$@" || rc=$?
    tr -d '\r' <"$RUN/$label.log" | grep -E '^FAIL ' | sed "s/^/  $label: /" || true
    line=$(tr -d '\r' <"$RUN/$label.log" | grep -E '[0-9]+ passed, [0-9]+ failed$' | tail -n 1 || true)
    if [[ -z "$line" ]]; then
        say "$label: no summary (exit $rc):"
        sed 's/^/  /' "$RUN/$label.log"
        fail "$label: no summary"
        return
    fi
    local p f
    p=$(sed -n 's/.* \([0-9]*\) passed, \([0-9]*\) failed$/\1/p' <<<"$line")
    f=$(sed -n 's/.* \([0-9]*\) passed, \([0-9]*\) failed$/\2/p' <<<"$line")
    checks_passed=$((checks_passed + p))
    checks_failed=$((checks_failed + f))
    if ((f == 0 && rc != 0)); then fail "$label: exit $rc"; fi
    say "$label: $line ($((SECONDS - t)) s)"
}

examples() {  # LABEL PROGRAM ARGS...
    local label=$1 rc=0
    shift
    run_wine "$RUN/$label.log" 60 "$@" || rc=$?
    say "$label:"
    tr -d '\r' <"$RUN/$label.log" | sed 's/^/  /'
    expect_eq "$label exit code" "$rc" 0
    # Every call of the example reports result 0.
    local calls
    calls=$(tr -d '\r' <"$RUN/$label.log" | grep -cE ': result 0$' || true)
    if ((calls > 0)); then pass; else fail "$label printed no successful call"; fi
}

case "$step" in
registration)

regsvr "per machine" 0 "$WIN_DLL"
check_class_keys "machine" "$HKLM" "$WIN_DLL"
check_class_absent "machine registration leaves the user's classes alone:" "$HKCU"
# The type library is registered from the module, marshalled as a dual
# automation interface.
expect_eq "type library path" "$(reg_value "$HKLM\\TypeLib\\$LIBID\\1.4\\409\\win64")" "$WIN_DLL"
expect_eq "interface's type library" "$(reg_value "$HKLM\\Interface\\$IID\\TypeLib")" "$LIBID"
expect_eq "interface's marshaller" "$(reg_value "$HKLM\\Interface\\$IID\\ProxyStubClsid32")" \
    "{00020424-0000-0000-C000-000000000046}"
regsvr "unregister per machine" 0 /u "$WIN_DLL"
check_class_absent "machine" "$HKLM"
expect_eq "type library unregistered" "$(reg_value "$HKLM\\TypeLib\\$LIBID\\1.4\\409\\win64")" "<absent>"
# Unregistering what is not registered is no failure.
regsvr "unregister again" 0 /u "$WIN_DLL"

for word in user USER; do
    regsvr "/i:$word" 0 /i:"$word" /n "$WIN_DLL"
    check_class_keys "user ($word)" "$HKCU" "$WIN_DLL"
    check_class_absent "per-user registration leaves the machine's classes alone:" "$HKLM"
    regsvr "/u /i:$word" 0 /u /i:"$word" /n "$WIN_DLL"
    check_class_absent "user ($word)" "$HKCU"
done
# Any other command line registers per machine.
regsvr "/i:machine" 0 /i:machine /n "$WIN_DLL"
check_class_keys "machine (/i:machine)" "$HKLM" "$WIN_DLL"
regsvr "/u /i:machine" 0 /u /i:machine /n "$WIN_DLL"
check_class_absent "machine (/i:machine)" "$HKLM"

# A module path with a blank is registered in its short form, and loads.
mkdir -p "$RUN/with blank"
cp "$DLL" "$RUN/with blank/OstrelPesolink.dll"
BLANK_DLL="$(win "$RUN/with blank/OstrelPesolink.dll")"
regsvr "from a folder with a blank" 0 "$BLANK_DLL"
short_path="$(reg_value "$HKLM\\CLSID\\$CLSID\\InprocServer32")"
if [[ "$short_path" != *" "* && "${short_path,,}" == *.dll ]]; then pass; else fail "short server path: [$short_path]"; fi
printf 'WScript.Echo CreateObject("%s").ApKey\r\n' "$PROGID" >"$RUN/apkey.vbs"
run_wine "$RUN/apkey.log" 30 cscript //nologo "$(win "$RUN/apkey.vbs")" || true
expect_eq "object created from the short path" "$(tr -d '\r' <"$RUN/apkey.log")" "Qorvin4863"
regsvr "unregister from a folder with a blank" 0 /u "$BLANK_DLL"

    ;;
side-by-side)
    printf 'WScript.Echo CreateObject("%s").ApKey\r\n' "$PROGID" >"$RUN/apkey.vbs"
# Both bitnesses side by side, per machine. Class and interface keys are
# kept per registry view, the ProgID key and the type library's key are
# one for both: unregistering one bitness leaves the other creatable
# through its ProgID; unregistering both leaves nothing in either view.
reg_view_value() {  # VIEW KEY: the default value, or <absent>
    local out
    out=$(wine reg query "$2" /ve /reg:"$1" </dev/null 2>/dev/null) || { echo "<absent>"; return; }
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^ *[^ ].*  *REG_SZ  *//p' | head -n 1
}
reg_view_exists() {  # VIEW KEY
    wine reg query "$2" /reg:"$1" </dev/null >/dev/null 2>&1
}
CSCRIPT64='C:\windows\system32\cscript.exe'
CSCRIPT32='C:\windows\syswow64\cscript.exe'
regsvr_x86() {  # WHAT EXPECTED_EXIT ARGS...: the 32-bit regsvr32
    local what=$1 expected=$2 rc=0
    shift 2
    wine 'C:\windows\syswow64\regsvr32.exe' /s "$@" </dev/null >/dev/null 2>&1 || rc=$?
    expect_eq "regsvr32 (x86) $what exit code" "$rc" "$expected"
}
# What each bitness's cscript makes of CreateObject by the ProgID: the
# access point's key, or nothing (cscript under Wine prints nothing for a
# class it cannot create, and exits 0).
creates() {  # WHAT CSCRIPT EXPECTED
    local out
    out=$(timeout -k 5 60 wine "$2" //nologo "$(win "$RUN/apkey.vbs")" </dev/null 2>/dev/null | tr -d '\r') || true
    expect_eq "$1" "$out" "$3"
}
check_bitness() {  # WHEN VIEW STATE(registered|absent) SERVER SYSKIND
    local when=$1 view=$2 server
    server=$(reg_view_value "$view" "$HKLM\\CLSID\\$CLSID\\InprocServer32")
    if [[ $3 == registered ]]; then
        expect_eq "$when: class in the $view-bit view" "$server" "$4"
        expect_eq "$when: type library entry $5" "$(reg_view_value 64 "$HKLM\\TypeLib\\$LIBID\\1.4\\409\\$5")" "$4"
    else
        expect_eq "$when: class in the $view-bit view" "$server" "<absent>"
        expect_eq "$when: type library entry $5" "$(reg_view_value 64 "$HKLM\\TypeLib\\$LIBID\\1.4\\409\\$5")" "<absent>"
    fi
}
if [[ ! -x /usr/lib/wine/wine ]]; then
    fail "side by side: the 32-bit Wine (wine32:i386) is not installed; scripts/setup.sh installs it"
else
    WIN_DLL32="$(win "$DLL32")"
    regsvr "64-bit side by side" 0 "$WIN_DLL"
    regsvr_x86 "32-bit side by side" 0 "$WIN_DLL32"
    check_bitness "both registered" 64 registered "$WIN_DLL" win64
    check_bitness "both registered" 32 registered "$WIN_DLL32" win32
    creates "both registered: 64-bit client" "$CSCRIPT64" "Qorvin4863"
    creates "both registered: 32-bit client" "$CSCRIPT32" "Qorvin4863"

    # Each bitness unregistered first once.
    for first in 64 32; do
        if [[ $first == 64 ]]; then
            regsvr "unregister the 64-bit one beside the 32-bit one" 0 /u "$WIN_DLL"
            check_bitness "64-bit unregistered" 64 absent "" win64
            check_bitness "64-bit unregistered" 32 registered "$WIN_DLL32" win32
            creates "64-bit unregistered: 32-bit client" "$CSCRIPT32" "Qorvin4863"
            creates "64-bit unregistered: 64-bit client" "$CSCRIPT64" ""
            regsvr "register the 64-bit one again" 0 "$WIN_DLL"
        else
            regsvr_x86 "unregister the 32-bit one beside the 64-bit one" 0 /u "$WIN_DLL32"
            check_bitness "32-bit unregistered" 32 absent "" win32
            check_bitness "32-bit unregistered" 64 registered "$WIN_DLL" win64
            creates "32-bit unregistered: 64-bit client" "$CSCRIPT64" "Qorvin4863"
            creates "32-bit unregistered: 32-bit client" "$CSCRIPT32" ""
        fi
        expect_eq "one bitness left: ProgID key" "$(reg_view_value 64 "$HKLM\\$PROGID\\Clsid")" "$CLSID"
        expect_eq "one bitness left: the interface's type library" \
            "$(reg_view_value 64 "$HKLM\\Interface\\$IID\\TypeLib")" "$LIBID"
    done
    regsvr "unregister the last bitness" 0 /u "$WIN_DLL"
    for view in 64 32; do
        for key in "CLSID\\$CLSID" "$PROGID" "TypeLib\\$LIBID" "Interface\\$IID"; do
            if reg_view_exists "$view" "$HKLM\\$key"; then
                fail "both unregistered: $HKLM\\$key is there (view $view)"
            else
                pass
            fi
        done
    done
    creates "both unregistered: 64-bit client" "$CSCRIPT64" ""
    creates "both unregistered: 32-bit client" "$CSCRIPT32" ""
fi
    ;;
register)
    regsvr "per machine for the tests" 0 "$WIN_DLL"
    scales good scaleA scaleB
    {
        echo "export LC_ALL=C.UTF-8"
        echo "export PESOLINK_COM_DLL='$WIN_DLL'"
        echo "export PESOLINK_SIM_TCP='127.0.0.1:$GOOD_PORT'"
        echo "export PESOLINK_SIM_WEIGHT=2500 PESOLINK_SIM_TARE=-250"
        echo "export PESOLINK_SIM_COM_A='$COM_A' PESOLINK_SIM_WEIGHT_A=1000"
        echo "export PESOLINK_SIM_COM_B='$COM_B' PESOLINK_SIM_WEIGHT_B=2000"
    } >"$FIXTURES/com.env"
    ;;
unregister)
    rm -f "$FIXTURES/com.env"
    regsvr "unregister after the tests" 0 /u "$WIN_DLL"
    ;;
prepare)
    reset_good
    reset_two
    step_end
    exit
    ;;
session)
    lang=${1:?vbs or js} mode=${2:?tcp or serial}
    scales good faulty
    if [[ $mode == tcp ]]; then
        reset_good
        arm_faulty
        # A loopback port that nobody listens on: bind one, take its number, free it.
        CLOSED_PORT=$(python3 -c 'import socket; s = socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
        session "$lang-tcp" "com_session.$lang" tcp "127.0.0.1:$GOOD_PORT" "127.0.0.1:$FAULTY_PORT" "127.0.0.1:$CLOSED_PORT"
    else
        reset_good
        session "$lang-serial" "com_session.$lang" serial "$GOOD_COM"
    fi
    ;;
two-scales)
    # Two scales on two COM ports, driven from one script: each object reads its
    # own scale, and closing or releasing one leaves the other working.
    scales scaleA scaleB
    reset_two
    session "vbs-two-scales" "com_two_scales.vbs" "$COM_A" "$COM_B" 1000 2000
    grep -h '^one weighing' "$RUN/vbs-two-scales.log" | tr -d '\r' | sed 's/^/  /' || true
    ;;
example)
    scales good
    reset_good
    case ${1:?example} in
        client.vbs) examples "client.vbs" cscript //nologo "$(win "$ROOT/examples/client.vbs")" "127.0.0.1:$GOOD_PORT" "$GOOD_COM" ;;
        client.js) examples "client.js" cscript //nologo "$(win "$ROOT/examples/client.js")" "127.0.0.1:$GOOD_PORT" ;;
        early_bound_client) examples "early_bound_client" "$CLIENT_EXE" "$GOOD_COM" ;;
        *) echo "com: unknown example $1" >&2; exit 2 ;;
    esac
    ;;
first-session)
    scales good
    lang=${1:?vbs, js or cpp}
# --- 5. the first-session page ----------------------------------------------------------
# Its VBScript, JScript and C++ blocks, cut out of docs/first-session.md as
# it stands (so that a changed page is what runs), run against the good
# scale; the C++ block is built with the page's own MinGW command line. An
# error raised in a script makes cscript under Wine print nothing and exit
# 0, so each run is judged by the lines it must print.
PAGE="$ROOT/docs/first-session.md"
PAGE_RUN="$RUN/first-session"
mkdir -p "$PAGE_RUN"
page_block() {  # FENCE_WORD: the first ``` block of that language, as written
    awk -v fence='```'"$1" '
        $0 == fence { inside = 1; next }
        inside && $0 == "```" { done = 1; exit }
        inside { print }
        END { if (!done) exit 1 }' "$PAGE"
}
page_run() {  # LABEL EXPECTED_LINES_FILE PROGRAM ARGS...
    local label=$1 expected=$2 rc=0 line
    shift 2
    run_wine "$PAGE_RUN/$label.log" 120 "$@" || rc=$?
    expect_eq "first-session $label exit code" "$rc" 0
    while IFS= read -r line; do
        if tr -d '\r' <"$PAGE_RUN/$label.log" | grep -qxF -- "$line"; then
            pass
        else
            fail "first-session $label printed no line [$line]; it printed:"
            tr -d '\r' <"$PAGE_RUN/$label.log" | sed 's/^/    /'
        fi
    done <"$expected"
}
    # The good scale as reset_good leaves it: serial 4711, name Bench,
    # weight 2500, stable, Ethernet 192.168.7.20 port 5001; it answers the
    # serial line at 19200 baud space parity.
    case $lang in
    vbs)
        if page_block vb | sed 's/$/\r/' >"$PAGE_RUN/first.vbs"; then
            pass
            reset_good
            printf '%s\n' "line: 19200 baud, parity code 4" "weight 2500, stable 1" "SetTare: result 0" \
                "tare now 250" 'scale 4711 "Bench"' >"$PAGE_RUN/vbs.expected"
            page_run vbs "$PAGE_RUN/vbs.expected" cscript //nologo "$(win "$PAGE_RUN/first.vbs")" "$GOOD_COM"
        else
            fail "first-session: the page lacks a vb block"
        fi
        ;;
    js)
        if page_block js >"$PAGE_RUN/first.js"; then
            pass
            reset_good
            printf '%s\n' "weight 2500, stable 1" "ethernet 192.168.7.20 port 5001" \
                'SetName, GetName: result 0, name "Line 2"' >"$PAGE_RUN/js.expected"
            page_run js "$PAGE_RUN/js.expected" cscript //nologo "$(win "$PAGE_RUN/first.js")" "127.0.0.1:$GOOD_PORT"
        else
            fail "first-session: the page lacks a js block"
        fi
        ;;
    cpp)
        if page_block cpp >"$PAGE_RUN/first_session.cpp"; then
            pass
            # The page's build command, from the repository root, with this run's
            # Windows build tree for build/windows.
            build_cmd=$(awk '
                /^    x86_64-w64-mingw32-g\+\+ / { inside = 1 }
                inside { line = $0; sub(/^    /, "", line); cont = sub(/\\$/, "", line); printf "%s ", line; if (!cont) exit }' "$PAGE")
            if [[ -z "$build_cmd" ]]; then
                fail "first-session: no MinGW build command on the page"
            else
                build_cmd=${build_cmd//build\/windows/$WIN_BUILD}
                build_cmd=${build_cmd//first_session.cpp/$PAGE_RUN/first_session.cpp}
                build_cmd=${build_cmd//-o first_session.exe/-o $PAGE_RUN/first_session.exe}
                if (cd "$ROOT" && eval "$build_cmd") >"$PAGE_RUN/build.log" 2>&1; then
                    pass
                    reset_good
                    printf '%s\n' "weight 2500, stable 1" 'name "Bench"' >"$PAGE_RUN/cpp.expected"
                    page_run cpp "$PAGE_RUN/cpp.expected" "$PAGE_RUN/first_session.exe" "$GOOD_COM"
                else
                    fail "first-session: the C++ block does not build with the page's command:"
                    sed 's/^/    /' "$PAGE_RUN/build.log"
                fi
            fi
        else
            fail "first-session: the page lacks a cpp block"
        fi
        ;;
    *) echo "com: unknown first-session block $lang" >&2; exit 2 ;;
    esac
    ;;
*) echo "com: unknown step $step" >&2; exit 2 ;;
esac
checks_end
