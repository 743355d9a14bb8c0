#!/bin/bash
# Runs the file worker's end-to-end tests (their own program, with an
# archive of known content) under wine64 in a prefix of this run's own.
# Last line: "N passed, M failed".
set -uo pipefail
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh
EXE=${QV_FILES_WORKER_TESTS:-$PWD/build/win64/tests/win/files_worker/qv_win_files_worker_tests.exe}
if [ ! -f "$EXE" ]; then
    echo "missing $EXE"
    echo "0 passed, 1 failed"
    exit 1
fi
prefix=$(qv_wine_prefix install-tests) || { echo "0 passed, 1 failed"; exit 1; }
log=$prefix/files_worker.log
qv_wine_run "$prefix" 300 "$EXE" >"$log" 2>&1
status=$?
qv_wine_stop "$prefix"
tr -d '\r' <"$log"
passed=$(tr -d '\r' <"$log" | grep -c '^\[       OK \]')
failed=$(tr -d '\r' <"$log" | grep -c '^\[  FAILED  \] .*(')
if [ "$status" -ne 0 ] && [ "$failed" -eq 0 ]; then failed=1; fi
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
