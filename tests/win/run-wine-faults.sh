#!/bin/bash
# Runs the Windows unit tests that need the whole program under a limit,
# for one build, in a prefix of its own: the driver with a disk that fills
# part-way through an entry, made by a file-size limit on the test program
# (its writes past 256 KB fail). Wine's server, which writes the prefix's
# files, starts before, without the limit.
#   run-wine-faults.sh win32|win64
# Last line: "N passed, M failed".
source "$(dirname "$0")/../../scripts/wine-env.sh" "${1:-}"
exe=$QV_TESTS/tests/win/qv_win_tests.exe
[ -f "$exe" ] || qv_fail "missing $exe (build the $QV_BUILD_NAME preset)"
prefix=$(qv_wine_prefix faults) || qv_fail "could not make the prefix faults"
log=$QV_WINE_DIR/faults.log
_qv_wine "$prefix" 30 /usr/lib/wine/wineserver -p10
(
    trap '' XFSZ
    ulimit -f 256
    qv_wine_run "$prefix" 120 "$exe" --gtest_filter='Driver.WriteFailingPartWay*'
) >"$log" 2>&1
status=$?
qv_wine_stop "$prefix"
rm -rf "$prefix"
qv_gtest_result "$log" "$status"
