#!/usr/bin/env bash
# Installs every Debian package that the build, the tests and the demo need.
# Safe to run again: it only calls apt-get when something is missing.
set -euo pipefail

packages=(
  cmake ninja-build g++ make pkg-config python3
  libgtest-dev googletest
  g++-mingw-w64-x86-64-posix mingw-w64-tools binutils-mingw-w64-x86-64
  g++-mingw-w64-i686-posix binutils-mingw-w64-i686
  nsis zip unzip
  libwine-dev wine wine64
  xvfb xauth x11-apps imagemagick
  clang libclang-rt-14-dev
)

# 32-bit Wine, for the 32-bit driver under a 32-bit cscript: Debian's i386
# packages through multiarch.
packages32=(wine32:i386)

sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
export DEBIAN_FRONTEND=noninteractive
updated=0

if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "setup: adding the i386 architecture"
  "${sudo_cmd[@]}" dpkg --add-architecture i386
  # The i386 lists are not there until the next update.
  "${sudo_cmd[@]}" apt-get update -q
  updated=1
fi

missing_of() {
  local p
  for p in "$@"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
      echo "$p"
    fi
  done
}

mapfile -t missing < <(missing_of "${packages[@]}")
mapfile -t missing32 < <(missing_of "${packages32[@]}")

if ((${#missing[@]} + ${#missing32[@]})); then
  ((updated)) || "${sudo_cmd[@]}" apt-get update -q
fi
if ((${#missing[@]})); then
  echo "setup: installing ${missing[*]}"
  "${sudo_cmd[@]}" apt-get install -y -q "${missing[@]}"
fi
if ((${#missing32[@]})); then
  echo "setup: installing ${missing32[*]}"
  # The 64-bit build and its tests do not need it: go on without it, and the
  # 32-bit Wine tests say that they could not run.
  "${sudo_cmd[@]}" apt-get install -y -q "${missing32[@]}" ||
    echo "setup: WARNING: the 32-bit Wine (${missing32[*]}) could not be installed"
fi
if ((${#missing[@]} + ${#missing32[@]} == 0)); then
  echo "setup: all packages present"
fi
