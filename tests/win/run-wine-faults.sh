#!/bin/bash
# Runs the Windows unit tests that need the whole program under a limit:
# the driver with a disk that fills part-way through an entry, made by a
# file-size limit on the program (its writes past the limit fail; Wine's
# server, which keeps the prefix's files, is started before, without it).
# Last line: "N passed, M failed".
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh
EXE=${QV_WIN_TESTS:-$PWD/build/win64/tests/win/qv_win_tests.exe}
LIMIT_KB=256
[ -f "$EXE" ] || { echo "missing $EXE"; echo "0 passed, 1 failed"; exit 1; }
prefix=$(qv_wine_prefix fault-tests) || { echo "0 passed, 1 failed"; exit 1; }
log=$prefix/fault-tests.log
WINEPREFIX=$prefix timeout 30 "$QV_WINESERVER" -p10
(
    trap '' XFSZ
    ulimit -f $LIMIT_KB
    export QV_FILE_SIZE_LIMIT=$((LIMIT_KB * 1024))
    qv_wine_run "$prefix" 120 "$EXE" \
        --gtest_filter='Driver.WriteFailingPartWay*' >"$log" 2>&1
)
status=$?
qv_wine_stop "$prefix"
tr -d '\r' <"$log"
passed=$(tr -d '\r' <"$log" | grep -c '^\[       OK \]')
failed=$(tr -d '\r' <"$log" | grep -c '^\[  FAILED  \] .*(')
[ "$status" -ne 0 ] && [ "$failed" -eq 0 ] && failed=1
[ "$passed" -eq 0 ] && [ "$failed" -eq 0 ] && failed=1
rm -rf "$prefix"
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
