#!/bin/bash
# Configures and builds the given presets (default: all four), two jobs at
# a time (CMAKE_BUILD_PARALLEL_LEVEL, which the builds inside a build obey
# too).
set -euo pipefail
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(host host-asan win64 win32)
for p in "${presets[@]}"; do
    echo "== build $p"
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p"
done
