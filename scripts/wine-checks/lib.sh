# What the check steps under scripts/wine-checks share; sourced by each.
# The build trees come from the environment (CTest sets them for each test;
# the defaults are the presets' trees):
#
#   PESOLINK_WIN_BUILD     Windows x64 tree, default build/windows
#   PESOLINK_WIN32_BUILD   Windows x86 tree, default build/windows32
#   PESOLINK_NATIVE_BUILD  native tree with the simulated scale, default build/native
#
# What the fixtures started (scripts/wine-checks/fixture.sh) is described in
# files under WIN_BUILD/fixtures (PESOLINK_FIXTURES names another folder): sim-NAME.env for each simulated scale,
# xvfb.env for the display.
#
#   checks_begin NAME         the step's name for its messages and summary
#   pass / fail WHAT / expect_eq WHAT ACTUAL EXPECTED
#   checks_end                "NAME: N passed, M failed"; fails the step on any failure
#                             and when it checked nothing
#   step_end                  the same for a step that only prepares (a fixture's)
#   fixture_env NAME          reads WIN_BUILD/fixtures/NAME.env
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)"
WIN_BUILD="${PESOLINK_WIN_BUILD:-$ROOT/build/windows}"
WIN32_BUILD="${PESOLINK_WIN32_BUILD:-$ROOT/build/windows32}"
NATIVE_BUILD="${PESOLINK_NATIVE_BUILD:-$ROOT/build/native}"
JOBS="${PESOLINK_JOBS:-2}"

# The class, its type library, its interface and its ProgID, as registered.
CLSID='{247CDF44-C023-4103-B15A-79EC87E06591}'
LIBID='{0ECE549C-A213-4931-AC3D-3CE991362149}'
IID='{10562340-B522-423D-A28D-269CCD5BD2CF}'
PROGID='OstrelPesolink.Scales'
FIXTURES="${PESOLINK_FIXTURES:-$WIN_BUILD/fixtures}"
SIM_EXE="$NATIVE_BUILD/sim/pesolink-sim"

CHECKS_NAME=check
checks_passed=0
checks_failed=0
say() { echo "$CHECKS_NAME: $*"; }
checks_begin() { CHECKS_NAME=$1; checks_started=$SECONDS; }
pass() { checks_passed=$((checks_passed + 1)); }
fail() {
    checks_failed=$((checks_failed + 1))
    say "FAIL $*"
}
expect_eq() {  # WHAT ACTUAL EXPECTED
    if [[ "$2" == "$3" ]]; then pass; else fail "$1: got [$2], expected [$3]"; fi
}
checks_end() {
    echo "$CHECKS_NAME: $checks_passed passed, $checks_failed failed ($((SECONDS - checks_started)) s)"
    # A step that checked nothing has not done its work.
    ((checks_failed == 0 && checks_passed > 0))
}
step_end() {
    echo "$CHECKS_NAME: done, $checks_passed passed, $checks_failed failed ($((SECONDS - checks_started)) s)"
    ((checks_failed == 0))
}

fixture_env() {  # NAME
    local file="$FIXTURES/$1.env"
    if [[ ! -f "$file" ]]; then
        echo "$CHECKS_NAME: the fixture $1 is not up ($file is missing)" >&2
        return 1
    fi
    # shellcheck disable=SC1090
    source "$file"
}

source "$ROOT/scripts/suite-env.sh"
source "$ROOT/scripts/wine-env.sh"
win() { wine_unix_to_win "$1"; }

# One command to a fixture's scale; prints its answer ("ok" or "error ..."),
# read back past what earlier users left unread on ctl.out (the lines that
# name its transports, answers nobody waited for).
sim_answer() {  # NAME COMMAND
    local run="$FIXTURES/sim-$1" answer="" line
    exec 8<>"$run/ctl.out"
    while read -r -t 0.02 line <&8; do :; done
    echo "$2" >"$run/ctl.in"
    while read -r -t 5 line <&8; do
        if [[ "$line" == ok* || "$line" == error* ]]; then
            answer=$line
            break
        fi
    done
    exec 8<&-
    echo "$answer"
}

# Commands, one after the other; stops at the first one refused.
sim() {  # NAME COMMAND...
    local name=$1 cmd
    shift
    for cmd in "$@"; do
        if [[ "$(sim_answer "$name" "$cmd")" != ok ]]; then
            say "simulated scale $name refused: $cmd"
            return 1
        fi
    done
}

# Runs a Windows program with a time limit, output to a log.
run_wine() {  # LOG SECONDS PROGRAM ARGS...
    local log=$1 limit=$2
    shift 2
    timeout -k 5 "$limit" env LD_PRELOAD="$WINE_ENV_PRELOAD" wine "$@" </dev/null >"$log" 2>&1
}
