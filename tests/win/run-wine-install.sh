#!/bin/bash
# Runs the installation tests (their own program, with an archive of known
# content) under wine64 in a prefix of this run's own.
# Last line: "N passed, M failed".
cd "$(dirname "$0")/../.."
source scripts/wine-env.sh
qv_wine_gtest install-tests \
    "${QV_FILES_WORKER_TESTS:-$PWD/build/win64/tests/win/files_worker/qv_win_files_worker_tests.exe}"
