#!/usr/bin/env bash
# Checks of the scale link's Windows programs (the GoogleTest program
# link_wine_tests runs per test case through scripts/wine-run):
#
#   link.sh imports   link_wine_tests.exe and link_client.exe import only
#                     system DLLs (no MinGW runtime DLL rides along)
#   link.sh client    the link client example against the scale sim-link
#                     (fixture), which answers at the last of the three
#                     line settings: the client has to find it
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
step=${1:?step}
checks_begin "link $step"

TESTS_EXE="$WIN_BUILD/tests/wine/link_wine_tests.exe"
CLIENT_EXE="$WIN_BUILD/examples/link_client.exe"

case "$step" in
imports)
    for exe in "$TESTS_EXE" "$CLIENT_EXE"; do
        expect_eq "$(basename "$exe") imports non-system DLLs" \
            "$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$exe")" ""
    done
    ;;
client)
    fixture_env sim-link
    wine_env_use "$WIN_BUILD"
    RUN="$WIN_BUILD/checks/link-client"
    rm -rf "$RUN" && mkdir -p "$RUN"
    sim link "line 19200,4"
    say "link_client $SIM_COM 127.0.0.1:$SIM_PORT"
    demo=0
    wine_run "$CLIENT_EXE" "$SIM_COM" "127.0.0.1:$SIM_PORT" </dev/null >"$RUN/client.log" 2>&1 || demo=$?
    sed 's/^/  /' "$RUN/client.log"
    expect_eq "link_client exit code" "$demo" 0
    # The line the fixture started the scale with, for the tests after.
    sim link "line 57600,0"
    ;;
*) echo "link: unknown step $step" >&2; exit 2 ;;
esac
checks_end
