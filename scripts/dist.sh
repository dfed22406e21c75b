#!/usr/bin/env bash
# Builds what ships and packs it: a zip and the Windows installer, both named
# with the version in VERSION.
#
#   scripts/dist.sh [--out DIR] [--win64-build DIR] [--win32-build DIR]
#                   [--no-build | --no-build-win64]
#
#   --out DIR          where the zip and the installer go (default build/ship-win64/dist)
#   --win64-build DIR  x64 cross build tree (default build/ship-win64; made when missing)
#   --win32-build DIR  x86 cross build tree (default build/ship-win32; made when missing)
#   --no-build         take the binaries of both trees as they are
#   --no-build-win64   take the x64 tree's as they are, build the x86 tree (the
#                      x64 tree's `dist` target, which has built its own part)
#
# Output:
#   OstrelPesolink-VERSION.zip        x64/ and x86/ (driver, tool, pesolink.exe,
#                                     help.htm, bg.bmp each), examples/, docs/, README.md, VERSION
#   OstrelPesolink-VERSION-setup.exe  the installer (installer/OstrelPesolink.nsi)
# The last line printed names both files.
set -euo pipefail

ROOT="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
WIN64_BUILD="$ROOT/build/ship-win64"
WIN32_BUILD="$ROOT/build/ship-win32"
OUT=""
BUILD64=1
BUILD32=1
JOBS="${PESOLINK_JOBS:-2}"

while (($#)); do
    case "$1" in
        --out) OUT=$2; shift 2 ;;
        --win64-build) WIN64_BUILD=$2; shift 2 ;;
        --win32-build) WIN32_BUILD=$2; shift 2 ;;
        --no-build) BUILD64=0; BUILD32=0; shift ;;
        --no-build-win64) BUILD64=0; shift ;;
        *) echo "dist: unknown argument $1" >&2; exit 2 ;;
    esac
done
OUT="${OUT:-$WIN64_BUILD/dist}"

say() { echo "dist: $*"; }

VERSION="$(head -n 1 "$ROOT/VERSION" | tr -d '[:space:]')"
if [[ ! "$VERSION" =~ ^[0-9]+\.[0-9]+\.[0-9]+\.[0-9]+$ ]]; then
    say "VERSION must hold four numbers a.b.c.d, not '$VERSION'"
    exit 1
fi

build_tree() {  # DIR TOOLCHAIN
    local dir=$1 toolchain=$2
    if [[ ! -f "$dir/build.ninja" ]]; then
        say "configuring $dir"
        cmake -S "$ROOT" -B "$dir" -G Ninja -DCMAKE_TOOLCHAIN_FILE="$ROOT/cmake/$toolchain" \
            -DCMAKE_BUILD_TYPE=Release >/dev/null
    fi
    say "building $dir"
    cmake --build "$dir" -j "$JOBS" --target pesolink_com Pesoconf pesolink >/dev/null
}
if ((BUILD64)); then build_tree "$WIN64_BUILD" mingw-w64-x86_64.cmake; fi
if ((BUILD32)); then build_tree "$WIN32_BUILD" mingw-w64-i686.cmake; fi

# The binaries must carry the version of VERSION: a build tree configured
# from another version would ship under the wrong name.
check_version() {  # FILE
    local rc="$1"
    if ! grep -q "\"FileVersion\", \"$VERSION\"" "$rc"; then
        say "$rc was not made from VERSION $VERSION: build the tree again"
        exit 1
    fi
}
check_version "$WIN64_BUILD/driver/com/OstrelPesolink.rc"
check_version "$WIN32_BUILD/driver/com/OstrelPesolink.rc"

NAME="OstrelPesolink-$VERSION"
STAGE="$OUT/stage/$NAME"
rm -rf "$OUT/stage"
mkdir -p "$STAGE"

# Each bitness in a folder of its own, with the files the tool reads beside
# itself; the shipped copies without debugging information.
stage_bitness() {  # BUILD FOLDER STRIP
    local build=$1 dir="$STAGE/$2" strip=$3 f
    mkdir -p "$dir"
    for f in driver/com/OstrelPesolink.dll tool/win32/Pesoconf.exe cli/pesolink.exe tool/win32/help.htm tool/win32/bg.bmp; do
        if [[ ! -f "$build/$f" ]]; then
            say "missing $build/$f"
            exit 1
        fi
        cp "$build/$f" "$dir/"
    done
    "$strip" "$dir/OstrelPesolink.dll" "$dir/Pesoconf.exe" "$dir/pesolink.exe"
}
stage_bitness "$WIN64_BUILD" x64 x86_64-w64-mingw32-strip
stage_bitness "$WIN32_BUILD" x86 i686-w64-mingw32-strip

mkdir -p "$STAGE/examples"
cp "$ROOT"/examples/client.vbs "$ROOT"/examples/client.js "$ROOT"/examples/early_bound_client.cpp \
    "$ROOT"/examples/link_client.cpp "$STAGE/examples/"
if [[ -d "$ROOT/docs" ]]; then
    cp -r "$ROOT/docs" "$STAGE/docs"
fi
cp "$ROOT/README.md" "$ROOT/VERSION" "$STAGE/"

ZIP="$OUT/$NAME.zip"
SETUP="$OUT/$NAME-setup.exe"
rm -f "$ZIP" "$SETUP"
say "packing $ZIP"
# Fixed times and order: the same tree packs to the same zip.
find "$STAGE" -exec touch -h -d "@$(git -C "$ROOT" log -1 --format=%ct 2>/dev/null || echo 0)" {} + 2>/dev/null || true
(cd "$OUT/stage" && find "$NAME" -print | LC_ALL=C sort | zip -q -X -D "$ZIP" -@)

say "building $SETUP"
makensis -V2 -DVERSION="$VERSION" -DSTAGE="$STAGE" -DOUTFILE="$SETUP" "$ROOT/installer/OstrelPesolink.nsi"

say "done: $ZIP $SETUP"
