#!/bin/bash
# Installs every Debian package that the build, the tests and the benchmarks
# need on a fresh Debian 12 machine. Does nothing when all are present.
# No wine32: its loader cannot run here and it breaks the wine wrappers.
set -euo pipefail

PACKAGES=(
    cmake ninja-build g++ python3 procps
    g++-mingw-w64-i686 g++-mingw-w64-x86-64
    googletest libgtest-dev libbenchmark-dev zlib1g-dev libdeflate-dev
    libz-mingw-w64-dev
    clang-14 libclang-rt-14-dev
    wine wine64 fonts-wine xvfb xauth xdotool imagemagick
)

missing=()
for p in "${PACKAGES[@]}"; do
    if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
        missing+=("$p")
    fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

SUDO=
[ "$(id -u)" -ne 0 ] && SUDO=sudo
echo "Installing: ${missing[*]}"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}" >/dev/null
