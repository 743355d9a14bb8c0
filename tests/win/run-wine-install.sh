#!/bin/bash
# Runs the installation tests (their own program, with an archive of known
# content) under Wine for one build, in a prefix of its own.
#   run-wine-install.sh win32|win64
# Last line: "N passed, M failed".
source "$(dirname "$0")/../../scripts/wine-env.sh" "${1:-}"
qv_wine_gtest install "$QV_TESTS/tests/win/files_worker/qv_win_files_worker_tests.exe"
