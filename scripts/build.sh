#!/bin/bash
# Configures and builds the given presets (default: all four).
set -euo pipefail
cd "$(dirname "$0")/.."
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(host host-asan win64 win32)
for p in "${presets[@]}"; do
    echo "== build $p"
    cmake --preset "$p" >/dev/null
    cmake --build --preset "$p"
done
