#!/usr/bin/env bash
# The shipped installer under Wine, from install to uninstall, one step each:
#
#   install.sh pack      (fixture install-package) the zip and the installer
#                        built, with what the steps run beside them
#   install.sh package   both bitnesses import only system DLLs, the zip and
#                        the installer carry the version of VERSION
#   install.sh user      per user (/S /CURRENTUSER): files in
#                        %LocalAppData%\Programs, the driver in the user's
#                        classes, a Start-menu entry, a session from the 64-bit
#                        cscript, then the silent uninstall
#   install.sh machine   per machine (/S, which Wine runs elevated): files in
#                        Program Files, the 64-bit driver in the 64-bit registry
#                        view and the 32-bit one in the 32-bit view, sessions
#                        from the 64-bit and the 32-bit cscript, the server's
#                        tests as a 32-bit client, then the silent uninstall
#   install.sh damaged   per machine again, with the 32-bit driver damaged
#                        before the uninstall: its keys must go all the same
#   install.sh blocked   a driver that cannot start, so cannot be registered:
#                        the installer fails and leaves nothing behind
#   install.sh win32     on 32-bit Windows (a win32 prefix): the x86 driver and
#                        tool alone, per machine, a session, the uninstall
#
# After each uninstall the class, ProgID, type library, interface and
# uninstall keys are looked up in both registry views of both roots, and
# the folders are looked at. The package, the prefix (INSTALL/wine-install,
# made afresh by the fixture install-prefix: what an earlier run left in the
# registry or the folders would be taken for the installer's doing) and the
# fixtures live in the x86 tree: INSTALL is WIN32_BUILD/install.
source "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
step=${1:?step}
checks_begin "install $step"

UNINST='Software\Microsoft\Windows\CurrentVersion\Uninstall\OstrelPesolink'
INSTALL="$WIN32_BUILD/install"
HARNESS="$INSTALL/wine-install"
VERSION="$(head -n 1 "$ROOT/VERSION" | tr -d '[:space:]')"
NAME="OstrelPesolink-$VERSION"
ZIP="$INSTALL/dist/$NAME.zip"
SETUP="$INSTALL/dist/$NAME-setup.exe"
STAGE="$INSTALL/dist/stage/$NAME"
export LC_ALL=C.UTF-8

# The installer is a 32-bit program: without the 32-bit Wine nothing here
# can run.
if [[ ! -x /usr/lib/wine/wine ]]; then
    fail "32-bit Wine missing: the 32-bit Wine (wine32:i386) is not installed: scripts/setup.sh installs it"
    checks_end
fi

case "$step" in
pack)
    "$ROOT/scripts/dist.sh" --win64-build "$WIN_BUILD" --win32-build "$WIN32_BUILD" --out "$INSTALL/dist" >/dev/null
    step_end
    exit
    ;;
package)
    system_dlls='^(kernel32|user32|ws2_32|msvcrt|advapi32|ole32|oleaut32|shlwapi|shell32|gdi32|comctl32|version)\.dll$'
    for arch in x64 x86; do
        objdump=x86_64-w64-mingw32-objdump
        [[ $arch == x86 ]] && objdump=i686-w64-mingw32-objdump
        for f in OstrelPesolink.dll Pesoconf.exe pesolink.exe; do
            foreign="$($objdump -p "$STAGE/$arch/$f" | sed -n 's/^\s*DLL Name: //p' | grep -viE "$system_dlls" || true)"
            expect_eq "$arch/$f: DLLs imported beyond the system's" "$foreign" ""
        done
    done
    expect_eq "x64 driver's machine" "$(x86_64-w64-mingw32-objdump -f "$STAGE/x64/OstrelPesolink.dll" | sed -n 's/.*file format //p')" "pei-x86-64"
    expect_eq "x86 driver's machine" "$(i686-w64-mingw32-objdump -f "$STAGE/x86/OstrelPesolink.dll" | sed -n 's/.*file format //p')" "pei-i386"
    # The version stamped into the binaries is the one in VERSION.
    for arch in x64 x86; do
        for f in OstrelPesolink.dll Pesoconf.exe; do
            if strings -el "$STAGE/$arch/$f" | grep -qxF "$VERSION"; then
                pass
            else
                fail "$arch/$f carries no version text $VERSION"
            fi
        done
    done
    zip_list="$(unzip -Z1 "$ZIP" | LC_ALL=C sort | tr '\n' ' ')"
    for entry in x64/OstrelPesolink.dll x64/Pesoconf.exe x64/pesolink.exe x64/help.htm x64/bg.bmp \
        x86/OstrelPesolink.dll x86/Pesoconf.exe x86/pesolink.exe x86/help.htm x86/bg.bmp \
        examples/client.vbs VERSION; do
        if [[ " $zip_list" == *" $NAME/$entry "* ]]; then pass; else fail "$NAME.zip lacks $entry"; fi
    done
    if [[ -d "$ROOT/docs" ]]; then
        if [[ " $zip_list" == *" $NAME/docs/"* ]]; then pass; else fail "$NAME.zip lacks docs/"; fi
    fi
    expect_eq "version in the zip" "$(unzip -p "$ZIP" "$NAME/VERSION" | tr -d '[:space:]')" "$VERSION"
    checks_end
    exit
    ;;
esac

RUN="$INSTALL/checks/$step"
rm -rf "$RUN"
mkdir -p "$RUN"
wine_env_use "$HARNESS"
WIN_USER="$(id -un)"
# The folders the installer may write to, in the current prefix.
prefix_paths() {
    C_DRIVE="$WINEPREFIX/drive_c"
    USER_PROGRAMS="$C_DRIVE/users/$WIN_USER/AppData/Local/Programs/OstrelPesolink"
    USER_MENU="$C_DRIVE/users/$WIN_USER/AppData/Roaming/Microsoft/Windows/Start Menu/Programs/OstrelPesolink"
    MACHINE_PROGRAMS="$C_DRIVE/Program Files/OstrelPesolink"
    MACHINE_PROGRAMS_X86="$C_DRIVE/Program Files (x86)/OstrelPesolink"
    MACHINE_MENU="$C_DRIVE/ProgramData/Microsoft/Windows/Start Menu/Programs/OstrelPesolink"
}
prefix_paths
# The registry views to look in: both on 64-bit Windows.
VIEWS="64 32"
fixture_env sim-install
MACHINE_WIN='C:\Program Files\OstrelPesolink'

# Without the ptyfix library: no serial port here.
run_wine() {  # LOG SECONDS PROGRAM ARGS...
    local log=$1 limit=$2
    shift 2
    timeout -k 5 "$limit" wine "$@" </dev/null >"$log" 2>&1
}

# --- registry ---------------------------------------------------------------------------------
reg_value() {  # VIEW KEY [VALUE_NAME]: the data, or <absent>
    local view=$1 key=$2 out
    if [[ $# -ge 3 ]]; then
        out=$(wine reg query "$key" /v "$3" /reg:"$view" </dev/null 2>/dev/null) || { echo "<absent>"; return; }
    else
        out=$(wine reg query "$key" /ve /reg:"$view" </dev/null 2>/dev/null) || { echo "<absent>"; return; }
    fi
    printf '%s\n' "$out" | tr -d '\r' | sed -n 's/^ *[^ ].*  *REG_[A-Z_]*  *//p' | head -n 1
}
reg_exists() {  # VIEW KEY
    wine reg query "$2" /reg:"$1" </dev/null >/dev/null 2>&1
}

# Nothing of the driver or the installer in either root, in either view.
check_registry_clean() {  # WHEN
    local when=$1 view root key
    for view in $VIEWS; do
        for root in 'HKLM\Software\Classes' 'HKCU\Software\Classes'; do
            for key in "CLSID\\$CLSID" "$PROGID" "TypeLib\\$LIBID" "Interface\\$IID"; do
                if reg_exists "$view" "$root\\$key"; then fail "$when: $root\\$key is there (view $view)"; else pass; fi
            done
        done
        for root in HKLM HKCU; do
            if reg_exists "$view" "$root\\$UNINST"; then fail "$when: $root\\$UNINST is there (view $view)"; else pass; fi
        done
    done
}

check_folders_clean() {  # WHEN
    local when=$1 dir
    for dir in "$USER_PROGRAMS" "$USER_MENU" "$MACHINE_PROGRAMS" "$MACHINE_PROGRAMS_X86" "$MACHINE_MENU"; do
        if [[ -e "$dir" ]]; then
            fail "$when: ${dir#"$C_DRIVE"/} is there: $(find "$dir" | sed "s|^$dir/\{0,1\}||" | tr '\n' ' ')"
        else
            pass
        fi
    done
}

# The class as registered in one root and view, served by SERVER.
check_class_keys() {  # WHAT VIEW ROOT SERVER
    local what=$1 view=$2 root=$3 server=$4
    expect_eq "$what class" "$(reg_value "$view" "$root\\CLSID\\$CLSID")" "Scales Object"
    if [[ "$server" != "-" ]]; then
        expect_eq "$what InprocServer32" "$(reg_value "$view" "$root\\CLSID\\$CLSID\\InprocServer32")" "$server"
    fi
    expect_eq "$what ThreadingModel" "$(reg_value "$view" "$root\\CLSID\\$CLSID\\InprocServer32" ThreadingModel)" "Apartment"
    expect_eq "$what ProgID" "$(reg_value "$view" "$root\\CLSID\\$CLSID\\ProgID")" "$PROGID"
    expect_eq "$what TypeLib" "$(reg_value "$view" "$root\\CLSID\\$CLSID\\TypeLib")" "$LIBID"
    # ProgIDs are shared by both views: one key, in the 64-bit one.
    expect_eq "$what ProgID key" "$(reg_value 64 "$root\\$PROGID\\Clsid")" "$CLSID"
}

check_uninstall_entry() {  # WHAT VIEW ROOT FOLDER
    local what=$1 view=$2 key="$3\\$UNINST" folder=$4
    expect_eq "$what DisplayVersion" "$(reg_value "$view" "$key" DisplayVersion)" "$VERSION"
    expect_eq "$what InstallLocation" "$(reg_value "$view" "$key" InstallLocation)" "$folder"
    expect_eq "$what UninstallString" "$(reg_value "$view" "$key" UninstallString)" "\"$folder\\Uninstall.exe\" $5"
}

# The installed files, the drivers byte for byte the shipped ones.
check_installed_files() {  # WHAT FOLDER [x86]: the x86 layout is that of 32-bit Windows
    local what=$1 dir=$2 main=x64 f
    [[ ${3:-} == x86 ]] && main=x86
    for f in OstrelPesolink.dll Pesoconf.exe pesolink.exe help.htm bg.bmp; do
        if cmp -s "$STAGE/$main/$f" "$dir/$f"; then pass; else fail "$what: $f is not the shipped $main one"; fi
    done
    if [[ $main == x64 ]]; then
        if cmp -s "$STAGE/x86/OstrelPesolink.dll" "$dir/x86/OstrelPesolink.dll"; then pass; else
            fail "$what: x86/OstrelPesolink.dll is not the shipped x86 one"
        fi
    else
        if [[ -e "$dir/x86" ]]; then fail "$what: an x86 folder on 32-bit Windows"; else pass; fi
    fi
    if [[ -f "$dir/Uninstall.exe" ]]; then pass; else fail "$what: no Uninstall.exe"; fi
}

check_menu_entry() {  # WHAT FOLDER TARGET_WIN_PATH
    local link="$2/Pesoconf.lnk"
    if [[ -f "$link" ]]; then
        pass
        # The shortcut names the installed program.
        local texts
        texts="$(strings -a "$link"; strings -a -el "$link")"
        if grep -qiF "$3" <<<"$texts"; then
            pass
        else
            fail "$1: the Start-menu entry does not point at $3"
        fi
    else
        fail "$1: no Start-menu entry $link"
    fi
}

# A machine registration in Program Files: the server path is a short one
# (the folder has a blank), without blanks, naming the installed file.
check_short_server() {  # WHAT VIEW FILE
    local path unix
    path=$(reg_value "$2" "HKLM\\Software\\Classes\\CLSID\\$CLSID\\InprocServer32")
    if [[ "$path" == *" "* ]]; then fail "$1: server path with a blank: $path"; else pass; fi
    unix=$(wine winepath -u "$path" </dev/null 2>/dev/null | tr -d '\r')
    expect_eq "$1: registered server" "$(realpath -m "$unix")" "$(realpath -m "$3")"
}

# --- sessions ---------------------------------------------------------------------------------
# The example client through one cscript: every call answers 0 and the
# weight is the one just put on the simulated scale.
session() {  # WHAT CSCRIPT WEIGHT
    local what=$1 cscript=$2 weight=$3 rc=0 log="$RUN/session-$1.log"
    sim install "weight $weight"
    run_wine "$log" 60 "$cscript" //nologo "$(win "$STAGE/examples/client.vbs")" "127.0.0.1:$SIM_PORT" || rc=$?
    expect_eq "$what session exit code" "$rc" 0
    if tr -d '\r' <"$log" | grep -q "^    weight $weight, "; then pass; else
        fail "$what session: no weight $weight in:"
        sed 's/^/    /' "$log"
    fi
    local calls
    calls=$(tr -d '\r' <"$log" | grep -cE ': result 0$' || true)
    expect_eq "$what session: calls that answered 0" "$calls" 8
}
CSCRIPT64='C:\windows\system32\cscript.exe'
CSCRIPT32='C:\windows\syswow64\cscript.exe'

# --- install and uninstall ----------------------------------------------------------------------
install() {  # WHAT EXPECTED_EXIT_CODE ARGS...
    local what=$1 expected=$2 rc=0 t=$SECONDS
    shift 2
    run_wine "$RUN/install-$what.log" 120 "$(win "$SETUP")" "$@" || rc=$?
    expect_eq "$what: installer exit code" "$rc" "$expected"
    say "$what: installed in $((SECONDS - t)) s"
}

# Runs the uninstall entry's quiet command line as a system would, and
# waits (bounded) for the uninstaller's copy of itself to finish.
uninstall() {  # WHAT VIEW ROOT
    local what=$1 view=$2 root=$3 command program args rc=0 t=$SECONDS i
    command=$(reg_value "$view" "$root\\$UNINST" QuietUninstallString)
    program=$(sed -n 's/^"\([^"]*\)".*/\1/p' <<<"$command")
    args=$(sed -n 's/^"[^"]*" *//p' <<<"$command")
    if [[ -z "$program" ]]; then
        fail "$what: no quiet uninstall command ($command)"
        return
    fi
    # shellcheck disable=SC2086
    run_wine "$RUN/uninstall-$what.log" 120 "$program" $args || rc=$?
    expect_eq "$what: uninstaller exit code" "$rc" 0
    for ((i = 0; i < 300; i++)); do
        if ! pgrep -f 'Au_\.exe' >/dev/null && ! reg_exists "$view" "$root\\$UNINST"; then break; fi
        sleep 0.2
    done
    say "$what: uninstalled in $((SECONDS - t)) s"
}


case "$step" in
user)
    check_registry_clean "before any installation"
    check_folders_clean "before any installation"

    # 1. Per user. Wine keeps one classes view for both bitnesses under the
    # user's key, so the last registration, the 64-bit one, is what a client
    # finds there: the 32-bit cscript cannot be served per user under Wine
    # (Windows keeps the views apart).
    t0=$SECONDS
    install user 0 /S /CURRENTUSER
    USER_WIN="C:\\users\\$WIN_USER\\AppData\\Local\\Programs\\OstrelPesolink"
    check_installed_files "user" "$USER_PROGRAMS"
    check_menu_entry "user" "$USER_MENU" "$USER_WIN\\Pesoconf.exe"
    if [[ -e "$MACHINE_PROGRAMS" || -e "$MACHINE_MENU" ]]; then fail "user: files went to the machine's folders"; else pass; fi
    check_class_keys "user" 64 'HKCU\Software\Classes' "$USER_WIN\\OstrelPesolink.dll"
    for view in 64 32; do
        expect_eq "user: machine's class key (view $view)" "$(reg_value $view "HKLM\\Software\\Classes\\CLSID\\$CLSID")" "<absent>"
        expect_eq "user: machine's uninstall entry (view $view)" "$(reg_value $view "HKLM\\$UNINST" DisplayVersion)" "<absent>"
    done
    check_uninstall_entry "user" 64 HKCU "$USER_WIN" /CURRENTUSER
    # Clients find per-user classes through HKEY_CLASSES_ROOT; a Wine that
    # shows only the machine's classes there cannot serve them.
    if reg_exists 64 "HKCR\\CLSID\\$CLSID"; then
        session "user-x64" "$CSCRIPT64" 2750
    else
        say "user: session SKIPPED: this Wine's HKEY_CLASSES_ROOT shows only the machine's classes, not the user's"
    fi
    uninstall user 64 HKCU
    check_registry_clean "after the per-user uninstall"
    check_folders_clean "after the per-user uninstall"
    say "per user: $((SECONDS - t0)) s"

    ;;
machine)
    # 2. Per machine, both bitnesses each in its own view.
    t0=$SECONDS
    install machine 0 /S
    check_installed_files "machine" "$MACHINE_PROGRAMS"
    check_menu_entry "machine" "$MACHINE_MENU" "$MACHINE_WIN\\Pesoconf.exe"
    if [[ -e "$USER_PROGRAMS" || -e "$USER_MENU" ]]; then fail "machine: files went to the user's folders"; else pass; fi
    check_short_server "machine x64" 64 "$MACHINE_PROGRAMS/OstrelPesolink.dll"
    check_short_server "machine x86" 32 "$MACHINE_PROGRAMS/x86/OstrelPesolink.dll"
    check_class_keys "machine x64" 64 'HKLM\Software\Classes' -
    check_class_keys "machine x86" 32 'HKLM\Software\Classes' -
    expect_eq "machine: type library, win64" \
        "$(reg_value 64 "HKLM\\Software\\Classes\\TypeLib\\$LIBID\\1.4\\409\\win64")" "$MACHINE_WIN\\OstrelPesolink.dll"
    expect_eq "machine: type library, win32" \
        "$(reg_value 32 "HKLM\\Software\\Classes\\TypeLib\\$LIBID\\1.4\\409\\win32")" "$MACHINE_WIN\\x86\\OstrelPesolink.dll"
    for view in 64 32; do
        expect_eq "machine: user's class key (view $view)" "$(reg_value $view "HKCU\\Software\\Classes\\CLSID\\$CLSID")" "<absent>"
    done
    check_uninstall_entry "machine" 64 HKLM "$MACHINE_WIN" /ALLUSERS
    expect_eq "machine: uninstall entry in the 32-bit view" "$(reg_value 32 "HKLM\\$UNINST" DisplayVersion)" "<absent>"
    session "machine-x64" "$CSCRIPT64" 3125
    session "machine-x86" "$CSCRIPT32" 4250
    # The server's tests (exports, type library, early and late binding through
    # every slot) as a 32-bit client of the installed 32-bit driver.
    sim install "weight 2500"
    sim install "tare -250"
    gtest_rc=0
    t=$SECONDS
    PESOLINK_COM_DLL="$MACHINE_WIN\\x86\\OstrelPesolink.dll" PESOLINK_SIM_TCP="127.0.0.1:$SIM_PORT" \
        PESOLINK_SIM_WEIGHT=2500 PESOLINK_SIM_TARE=-250 WINEDEBUG=-all \
        run_wine "$RUN/com-x86.log" 240 "$WIN32_BUILD/tests/wine/com_wine_tests.exe" || gtest_rc=$?
    expect_eq "x86 com_wine_tests exit code" "$gtest_rc" 0
    if ((gtest_rc != 0)); then
        grep -E '^\[  FAILED  \]|Failure|error' "$RUN/com-x86.log" | head -n 40 | sed 's/^/    /'
    fi
    say "x86 com_wine_tests: $(grep -E '^\[  PASSED  \]|^\[  FAILED  \] [0-9]+ test' "$RUN/com-x86.log" | tr '\n' ' ')($((SECONDS - t)) s)"
    uninstall machine 64 HKLM
    check_registry_clean "after the per-machine uninstall"
    check_folders_clean "after the per-machine uninstall"
    say "per machine: $((SECONDS - t0)) s"

    ;;
damaged)
    # 3. A damaged 32-bit driver: regsvr32 cannot load it, so the uninstaller
    # deletes its keys itself.
    t0=$SECONDS
    install damaged 0 /S
    printf 'not a library' >"$MACHINE_PROGRAMS/x86/OstrelPesolink.dll"
    uninstall damaged 64 HKLM
    check_registry_clean "after uninstalling with a damaged driver"
    check_folders_clean "after uninstalling with a damaged driver"
    say "damaged driver: $((SECONDS - t0)) s"

    ;;
blocked)
    # 4. A driver that cannot start (its settings folder cannot be made: a file
    # stands in its place) cannot be registered: the installer fails with 3
    # and leaves nothing behind.
    t0=$SECONDS
    blocker="$C_DRIVE/users/$WIN_USER/AppData/Roaming/Ostrel"
    rm -rf "$blocker"
    printf 'in the way' >"$blocker"
    install blocked 3 /S
    check_registry_clean "after a failed registration"
    check_folders_clean "after a failed registration"
    rm -f "$blocker"
    say "failed registration: $((SECONDS - t0)) s"

    ;;
win32)
    # 5. 32-bit Windows (a win32 prefix): the x86 driver and tool alone, in
    # Program Files, served to the system's only cscript.
    t0=$SECONDS
    export WINEPREFIX="$HARNESS/wineprefix32" WINEARCH=win32
    # Debian's own "wine", not the harness's 64-bit loader, for a 32-bit prefix.
    PATH="$(tr ':' '\n' <<<"$PATH" | grep -vxF "$HARNESS/bin" | paste -sd:)"
    export PATH
    rm -rf "$WINEPREFIX"
    if ! wine wineboot -i </dev/null >"$RUN/wineboot32.log" 2>&1; then
        fail "win32 prefix: wineboot failed"
        sed 's/^/    /' "$RUN/wineboot32.log" | tail -n 20
    else
        prefix_paths
        VIEWS="32"
        say "win32 prefix: $((SECONDS - t0)) s"
        check_registry_clean "win32: before the installation"
        check_folders_clean "win32: before the installation"
        install win32 0 /S
        check_installed_files "win32" "$MACHINE_PROGRAMS" x86
        check_menu_entry "win32" "$MACHINE_MENU" "$MACHINE_WIN\\Pesoconf.exe"
        check_short_server "win32" 32 "$MACHINE_PROGRAMS/OstrelPesolink.dll"
        check_class_keys "win32" 32 'HKLM\Software\Classes' -
        expect_eq "win32: type library, win32" \
            "$(reg_value 32 "HKLM\\Software\\Classes\\TypeLib\\$LIBID\\1.4\\409\\win32")" "$MACHINE_WIN\\OstrelPesolink.dll"
        check_uninstall_entry "win32" 32 HKLM "$MACHINE_WIN" /ALLUSERS
        session "win32" 'C:\windows\system32\cscript.exe' 5375
        uninstall win32 32 HKLM
        check_registry_clean "win32: after the uninstall"
        check_folders_clean "win32: after the uninstall"
        say "32-bit Windows: $((SECONDS - t0)) s"
    fi
    wineserver -k >/dev/null 2>&1 || true
    ;;
*) echo "install: unknown step $step" >&2; exit 2 ;;
esac
checks_end
