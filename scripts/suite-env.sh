# Steps that the test, demo and benchmark scripts share: build trees made
# when missing, the check that a shipped binary imports only system DLLs,
# and the simulated scale started with its control FIFOs (the test
# fixtures of scripts/wine-checks/fixture.sh start it so). Source it after
# setting ROOT and a say function.
#
#   suite_lock FILE                   one run per build tree: waits for, then holds, FILE
#   suite_build_win DIR TARGET...     Windows x64 tree (SUITE_TOOLCHAIN picks another)
#   suite_build_native DIR TARGET...  native tree
#   suite_foreign_dlls OBJDUMP FILE   the DLLs FILE imports beyond the system's
#   sim_start RUN SIM ARGS...         sets SIM_PID, SIM_PORT, SIM_PTY
#   sim_stop                          ends that scale (safe to call twice)

SUITE_SYSTEM_DLLS='^(kernel32|user32|gdi32|ws2_32|msvcrt|advapi32|ole32|oleaut32|shlwapi|shell32|version|comctl32|ntdll)\.dll$'

# On descriptor 9, which the scripts keep from the servers they start: a
# second run would take over the Wine prefix and its server under the first.
suite_lock() {
    mkdir -p "$(dirname "$1")"
    exec 9>"$1"
    if ! flock -n 9; then
        say "waiting for another run on $(dirname "$1")"
        flock -w 900 9 || { say "the other run did not finish"; return 1; }
    fi
}

suite_build_win() {
    local dir=$1
    shift
    if [[ ! -f "$dir/build.ninja" ]]; then
        say "configuring $dir"
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release \
            -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/${SUITE_TOOLCHAIN:-mingw-w64-x86_64}.cmake" >/dev/null
    fi
    cmake --build "$dir" -j "${JOBS:-2}" --target "$@" >/dev/null
}

suite_build_native() {
    local dir=$1
    shift
    if [[ ! -f "$dir/build.ninja" ]]; then
        say "configuring $dir"
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
    fi
    cmake --build "$dir" -j "${JOBS:-2}" --target "$@" >/dev/null
}

suite_foreign_dlls() {
    "$1" -p "$2" | sed -n 's/^\s*DLL Name: //p' | grep -viE "$SUITE_SYSTEM_DLLS" || true
}

# The scale reads commands from RUN/ctl.in and answers on RUN/ctl.out; the
# caller holds both open read-write (0<> and 1<>), so that neither side
# blocks on open or sees an end of file between uses. Descriptor 9 (a
# script's run lock) is not handed down.
sim_start() {
    local run=$1 sim=$2 i
    shift 2
    rm -f "$run/ctl.in" "$run/ctl.out" "$run/sim.ready"
    mkfifo "$run/ctl.in" "$run/ctl.out"
    "$sim" "$@" --quiet --ready-file "$run/sim.ready" \
        0<>"$run/ctl.in" 1<>"$run/ctl.out" 2>"$run/sim.err" 9>&- &
    SIM_PID=$!
    for ((i = 0; i < 100; i++)); do
        [[ -f "$run/sim.ready" ]] && break
        kill -0 "$SIM_PID" 2>/dev/null || break
        sleep 0.05
    done
    if [[ ! -f "$run/sim.ready" ]]; then
        say "the simulated scale did not start:"
        cat "$run/sim.err" >&2
        return 1
    fi
    SIM_PORT="" SIM_PTY=""
    { read -r SIM_PORT || true; read -r SIM_PTY || true; } <"$run/sim.ready"
}

sim_stop() {
    if [[ -n "${SIM_PID:-}" ]]; then
        kill "$SIM_PID" 2>/dev/null || true
        wait "$SIM_PID" 2>/dev/null || true
        SIM_PID=""
    fi
}
