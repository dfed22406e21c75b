# Wine harness for running the Windows build's programs on this machine.
# Source it from a bash script, then:
#
#   wine_env_start BUILD_DIR      prefix (made once), own wineserver, warm-up,
#                                 the pty fix library
#   wine_env_use BUILD_DIR        the same environment, for a server that runs
#   wine_map_com N TARGET         COM<N> (N >= 5) -> TARGET (a pty slave path)
#   wine_run PROGRAM ARGS...      run under wine with the pty fix preloaded
#   wine_unix_to_win PATH         Z:\... path of a Unix path
#   wine_env_stop                 stop the server (safe to call twice)
#
# Everything lives inside the build tree: the prefix in BUILD/wineprefix,
# Wine's server directory under BUILD/tmp, the server's log in
# BUILD/wineserver.log, the library in BUILD/ptyfix/libptyfix.so.

WINE_ENV_HERE="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
WINE_ENV_ROOT="$(cd "$WINE_ENV_HERE/.." && pwd)"
WINE_ENV_SERVER_BIN="${WINE_ENV_SERVER_BIN:-/usr/lib/wine/wineserver64}"
WINE_ENV_SERVER_PID="${WINE_ENV_SERVER_PID:-}"
WINE_ENV_PRELOAD="${WINE_ENV_PRELOAD:-}"

wine_env_log() { echo "wine-env: $*" >&2; }

# The LD_PRELOAD library that makes pty slaves accept repeated parity
# settings; rebuilt when its source is newer.
wine_env_build_ptyfix() {
    local src="$WINE_ENV_ROOT/tests/wine/ptyfix/ptyfix.c"
    local out="$WINE_ENV_BUILD/ptyfix/libptyfix.so"
    if [[ ! -f "$out" || "$src" -nt "$out" ]]; then
        mkdir -p "$(dirname "$out")"
        cc -shared -fPIC -O2 -Wall -Wextra -o "$out.tmp" "$src" -ldl || return 1
        mv -f "$out.tmp" "$out"
    fi
    WINE_ENV_PRELOAD="$out"
}

# Waits (bounded, sleeping) until a wineserver of this prefix accepts clients.
wine_env_wait_server() {
    local i
    for ((i = 0; i < 200; i++)); do
        # Debian's Wine keeps its server directory in a wine-XXXXXX folder of
        # TMPDIR; upstream's in .wine-UID.
        if compgen -G "$TMPDIR/wine-*/server-*/socket" >/dev/null ||
            compgen -G "$TMPDIR/.wine-$(id -u)/server-*/socket" >/dev/null; then
            return 0
        fi
        if [[ -n "$WINE_ENV_SERVER_PID" ]] && ! kill -0 "$WINE_ENV_SERVER_PID" 2>/dev/null; then
            return 1
        fi
        sleep 0.05
    done
    return 1
}

# With the 32-bit Wine installed beside the 64-bit one, Debian's "wine"
# starts the 32-bit loader, and built-in programs (regsvr32, cscript, reg)
# then run from syswow64 in the 32-bit registry view. Every "wine" of a run
# (scripts, timeout, env, subshells) goes through a shim on PATH that starts
# the 64-bit loader; it still hands 32-bit programs, named by their path, to
# the 32-bit loader.
wine_env_pin_loader() {
    local loader=/usr/lib/wine/wine64
    [[ -x "$loader" ]] || return 0
    mkdir -p "$WINE_ENV_BUILD/bin"
    printf '#!/bin/sh\nWINELOADER=%s exec %s "$@"\n' "$loader" "$loader" >"$WINE_ENV_BUILD/bin/wine"
    chmod +x "$WINE_ENV_BUILD/bin/wine"
    case ":$PATH:" in
        *":$WINE_ENV_BUILD/bin:"*) ;;
        *) export PATH="$WINE_ENV_BUILD/bin:$PATH" ;;
    esac
}

# The environment of a prefix whose server runs already (started by
# wine_env_start in another process, e.g. a test fixture): no server of its
# own, which Wine would otherwise start as a daemon.
wine_env_use() {
    wine_env_vars "${1:?build directory}" || return 1
    if ! compgen -G "$TMPDIR/wine-*/server-*/socket" >/dev/null &&
        ! compgen -G "$TMPDIR/.wine-$(id -u)/server-*/socket" >/dev/null; then
        wine_env_log "no Wine server runs for $WINEPREFIX (scripts/wine-checks/fixture.sh wine-start starts it)"
        return 1
    fi
}

wine_env_vars() {
    local build=$1
    mkdir -p "$build"
    WINE_ENV_BUILD="$(cd "$build" && pwd)"
    export WINEPREFIX="$WINE_ENV_BUILD/wineprefix"
    export WINEARCH=win64
    export WINEDEBUG=-all
    export TMPDIR="$WINE_ENV_BUILD/tmp"
    # Keep Wine from asking for Mono or Gecko downloads while it boots.
    export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
    mkdir -p "$TMPDIR"

    wine_env_build_ptyfix || { wine_env_log "cannot build the pty fix library"; return 1; }
    wine_env_pin_loader
}

wine_env_start() {
    local build="${1:?build directory}"
    # Already running for this shell: nothing to do.
    if [[ -n "$WINE_ENV_SERVER_PID" ]] && kill -0 "$WINE_ENV_SERVER_PID" 2>/dev/null; then
        return 0
    fi
    wine_env_vars "$build" || return 1

    if [[ ! -f "$WINEPREFIX/.pesolink-ready" ]]; then
        wine_env_log "creating the Wine prefix $WINEPREFIX"
        # A server of its own for the boot; it goes away with wineserver -w.
        wine wineboot -i </dev/null >"$WINE_ENV_BUILD/wineboot.log" 2>&1 || {
            wine_env_log "wineboot failed, see $WINE_ENV_BUILD/wineboot.log"
            return 1
        }
        wineserver -w
        touch "$WINEPREFIX/.pesolink-ready"
    else
        # A server left over from an interrupted run would take our clients
        # (runs that share one build tree take turns).
        wineserver -k >/dev/null 2>&1 || true
        wineserver -w >/dev/null 2>&1 || true
    fi

    # Persistent and in the foreground (in our background): never a daemon
    # that could adopt a pty as its controlling terminal.
    "$WINE_ENV_SERVER_BIN" -f -p </dev/null >>"$WINE_ENV_BUILD/wineserver.log" 2>&1 &
    WINE_ENV_SERVER_PID=$!
    if ! wine_env_wait_server; then
        wine_env_log "wineserver did not start, see $WINE_ENV_BUILD/wineserver.log"
        wine_env_stop
        return 1
    fi
    # Wine's background services inherit the first client's output: give
    # them nothing that a pipe reader could wait on.
    wine cmd /c exit </dev/null >/dev/null 2>&1
    return 0
}

wine_map_com() {
    local n="${1:?port number}" target="${2:?target}"
    if ((n < 5)); then
        wine_env_log "COM$n is taken by Wine's own serial devices; use COM5 and up"
        return 1
    fi
    mkdir -p "$WINEPREFIX/dosdevices"
    ln -sfn "$target" "$WINEPREFIX/dosdevices/com$n"
}

wine_unix_to_win() {
    local p
    p="$(cd "$(dirname "$1")" && pwd)/$(basename "$1")"
    echo "Z:${p//\//\\}"
}

wine_run() {
    LD_PRELOAD="$WINE_ENV_PRELOAD${LD_PRELOAD:+:$LD_PRELOAD}" wine "$@"
}

wine_env_stop() {
    if [[ -n "${WINEPREFIX:-}" ]]; then
        wineserver -k >/dev/null 2>&1 || true
    fi
    if [[ -n "$WINE_ENV_SERVER_PID" ]]; then
        wait "$WINE_ENV_SERVER_PID" 2>/dev/null || true
        WINE_ENV_SERVER_PID=""
    fi
}
