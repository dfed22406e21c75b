#!/usr/bin/env bash
# The configuration tool under Wine and Xvfb: the real driver registered in
# a prefix of its own (WIN_BUILD/tool-e2e), the scale sim-tool on its COM5,
# and tool_wine_e2e (per test case through scripts/wine-run) driving
# Pesoconf.exe's window. Screenshots land in WIN_BUILD/tool-e2e/shots as PNG.
#
#   tool.sh files      Pesoconf.exe imports only system DLLs; bg.bmp and
#                      help.htm lie beside it
#   tool.sh setup      (fixture tool-prefix, after its server is up) COM1 to
#                      COM4 pointed at nothing, the driver registered,
#                      fixtures/tool.env for the test program
#   tool.sh finish     the screenshots turned into PNG files
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
step=${1:?step}
checks_begin "tool $step"

TOOL_EXE="$WIN_BUILD/tool/win32/Pesoconf.exe"
DLL="$WIN_BUILD/driver/com/OstrelPesolink.dll"
RUN="$WIN_BUILD/tool-e2e"
SHOTS="$RUN/shots"

case "$step" in
files)
    # The shipped program brings no runtime DLL of its own.
    expect_eq "Pesoconf.exe imports non-system DLLs" \
        "$(suite_foreign_dlls x86_64-w64-mingw32-objdump "$TOOL_EXE")" ""
    for f in bg.bmp help.htm; do
        if [[ -f "$(dirname "$TOOL_EXE")/$f" ]]; then pass; else fail "$f is missing beside Pesoconf.exe"; fi
    done
    ;;
setup)
    wine_env_use "$RUN"
    rm -rf "$SHOTS"
    mkdir -p "$SHOTS"
    # COM1 to COM4 are Wine's own serial devices; pointing them at nothing makes
    # their opens fail at once instead of costing a search three time-outs.
    mkdir -p "$RUN/nocom"
    for n in 1 2 3 4; do ln -sfn "$RUN/nocom/none" "$WINEPREFIX/dosdevices/com$n"; done
    rc=0
    wine regsvr32 /s "$(win "$DLL")" </dev/null >"$RUN/regsvr32.log" 2>&1 || rc=$?
    expect_eq "regsvr32 exit code" "$rc" 0
    {
        echo "export PESOCONF_EXE='$(win "$TOOL_EXE")'"
        echo "export PESOCONF_SHOTS='$(win "$SHOTS")'"
    } >"$FIXTURES/tool.env"
    ;;
finish)
    rm -f "$FIXTURES/tool.env"
    for bmp in "$SHOTS"/*.bmp; do
        [[ -f "$bmp" ]] || continue
        if convert "$bmp" "${bmp%.bmp}.png" 2>/dev/null; then rm -f "$bmp"; fi
    done
    ls "$SHOTS" 2>/dev/null | sed 's/^/  screenshot: /'
    step_end
    exit
    ;;
*) echo "tool: unknown step $step" >&2; exit 2 ;;
esac
checks_end
