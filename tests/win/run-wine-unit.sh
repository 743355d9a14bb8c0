#!/bin/bash
# Runs the Windows unit tests (streams, reader, driver against real files
# and the real resource) under wine64 in a prefix of this run's own.
# Last line: "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh
EXE=${QV_WIN_TESTS:-$PWD/build/win64/tests/win/qv_win_tests.exe}
if [ ! -f "$EXE" ]; then
    echo "missing $EXE"
    echo "0 passed, 1 failed"
    exit 1
fi
prefix=$(qv_wine_prefix unit-tests) || { echo "0 passed, 1 failed"; exit 1; }
log=$prefix/unit.log
qv_wine_run "$prefix" 300 "$EXE" >"$log" 2>&1
status=$?
qv_wine_stop "$prefix"
tr -d '\r' <"$log"
passed=$(tr -d '\r' <"$log" | grep -c '^\[       OK \]')
failed=$(tr -d '\r' <"$log" | grep -c '^\[  FAILED  \] .*(')
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
