#!/bin/bash
# Runs the Windows unit tests (streams, reader, driver against real files
# and the real resource) under wine64 in a prefix of this run's own.
# Last line: "N passed, M failed".
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh
qv_wine_gtest unit-tests "${QV_WIN_TESTS:-$PWD/build/win64/tests/win/qv_win_tests.exe}"
