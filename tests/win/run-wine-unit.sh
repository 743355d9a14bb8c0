#!/bin/bash
# Runs the Windows unit tests (streams, reader, driver against real files
# and the real resource) under Wine for one build, in a prefix of its own.
#   run-wine-unit.sh win32|win64
# Last line: "N passed, M failed".
source "$(dirname "$0")/../../scripts/wine-env.sh" "${1:-}"
qv_wine_gtest unit "$QV_TESTS/tests/win/qv_win_tests.exe"
