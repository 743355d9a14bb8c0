#!/bin/bash
# Configures and builds the given presets (default: all four), two jobs at
# a time (CMAKE_BUILD_PARALLEL_LEVEL, which the builds inside a build obey
# too).
#   build.sh --play win32|win64   only what scripts/run.sh needs to play that
#                                 build's setup: the setup (and so its payload),
#                                 the end-to-end driver and the desk.cpl stand-in
#
# A signed build: QV_SIGN_CERT names the certificate (a PKCS#12 file, or a
# PEM file with QV_SIGN_KEY), QV_SIGN_PASS_FILE the file with its password,
# QV_SIGN_TIMESTAMP a time-stamp server, QV_SIGN_TIME the signing time (see
# scripts/sign.sh). They go into every preset's cache as they are now, so a
# build without them is unsigned again.
set -euo pipefail
export CMAKE_BUILD_PARALLEL_LEVEL=${CMAKE_BUILD_PARALLEL_LEVEL:-2}
sign=()
for v in QV_SIGN_CERT QV_SIGN_KEY QV_SIGN_PASS_FILE; do
    file=${!v:-}
    if [ -n "$file" ]; then
        [ -r "$file" ] || { echo "build.sh: $v: cannot read $file" >&2; exit 1; }
        file=$(realpath "$file")
    fi
    sign+=("-D$v=$file")
done
sign+=("-DQV_SIGN_TIMESTAMP=${QV_SIGN_TIMESTAMP:-}" "-DQV_SIGN_TIME=${QV_SIGN_TIME:-}")
cd "$(dirname "$0")/.."
if [ "${1:-}" = --play ]; then
    p=${2:-win32}
    echo "== build $p (the setup and what plays it)"
    cmake --preset "$p" "${sign[@]}" >/dev/null
    players=(qv_e2e_driver qv_desk_standin)
    if [ "$p" = win32 ]; then
        # The drivers are built by the i686 -posix compiler, in a build of their own.
        cmake --build --preset "$p" --target QuorvelSetup qv_posix_tests-configure
        cmake --build "build/$p/i686-tests" --target "${players[@]}"
    else
        cmake --build --preset "$p" --target QuorvelSetup "${players[@]}"
    fi
    exit 0
fi
presets=("$@")
[ ${#presets[@]} -eq 0 ] && presets=(host host-asan win64 win32)
for p in "${presets[@]}"; do
    echo "== build $p"
    cmake --preset "$p" "${sign[@]}" >/dev/null
    cmake --build --preset "$p"
done
