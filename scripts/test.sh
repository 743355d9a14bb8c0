#!/bin/bash
# Builds everything and runs every test: the host tests (plain and under
# AddressSanitizer + UndefinedBehaviorSanitizer), the Windows tests under
# Wine, and the end-to-end runs of the setup under Wine. Ends with one line
# "N passed, M failed" that counts every test of every runner.
set -uo pipefail
cd "$(dirname "$0")/.."
ROOT=$PWD
LOGS=$ROOT/build/test-logs
bash scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$LOGS"

PASSED=0
FAILED=0
FAILED_RUNNERS=()

# Adds a runner's counts: its own "N passed, M failed" line if it printed
# one, else GoogleTest's summary; a runner that reported nothing (a crash,
# a time-out) counts as one failure.
count_log() {
    local name=$1 status=$2 log=$3 p f line
    line=$(tr -d '\r' <"$log" | grep -E '^([A-Za-z]+: )?[0-9]+ passed, [0-9]+ failed' | tail -1)
    if [ -n "$line" ]; then
        p=$(sed -E 's/^([A-Za-z]+: )?([0-9]+) passed.*/\2/' <<<"$line")
        f=$(sed -E 's/.* ([0-9]+) failed.*/\1/' <<<"$line")
    else
        p=$(tr -d '\r' <"$log" | sed -nE 's/^\[  PASSED  \] ([0-9]+) tests?\..*/\1/p' | tail -1)
        f=$(tr -d '\r' <"$log" | sed -nE 's/^\[  FAILED  \] ([0-9]+) tests?, listed below.*/\1/p' | tail -1)
        p=${p:-0}
        f=${f:-0}
    fi
    if [ "$status" -ne 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    if [ "$p" -eq 0 ] && [ "$f" -eq 0 ]; then f=1; fi
    PASSED=$((PASSED + p))
    FAILED=$((FAILED + f))
    [ "$f" -ne 0 ] && FAILED_RUNNERS+=("$name (log: $log)")
    echo "-- $name: $p passed, $f failed"
}

# run_test NAME SECONDS COMMAND...
run_test() {
    local name=$1 limit=$2 log=$LOGS/$1.log
    shift 2
    local start=$SECONDS status
    echo "== $name"
    timeout "$limit" "$@" >"$log" 2>&1
    status=$?
    count_log "$name" "$status" "$log"
    echo "   ($((SECONDS - start)) s)"
}

if ! bash scripts/build.sh host host-asan win64 win32 >"$LOGS/build.log" 2>&1; then
    tail -50 "$LOGS/build.log"
    echo "build failed (log: $LOGS/build.log)"
    echo "0 passed, 1 failed"
    exit 1
fi
grep -E '^(product size|-- )' "$LOGS/build.log" | grep -i size || true

run_test host 600 build/host/tests/host/qv_host_tests
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 UBSAN_OPTIONS=print_stacktrace=1 \
    run_test host-asan 900 build/host-asan/tests/host/qv_host_tests
# A short fuzzing run (15 s a target): a regression that the seeds or a few
# thousand mutations reach shows here.
run_test fuzz-smoke 600 bash scripts/fuzz.sh 15

# Windows-side tests and the end-to-end runs: every runner script below
# tests/ that is named run-wine*.sh, each in its own prefixes.
source scripts/xvfb.sh
qv_ensure_display
for runner in tests/win/run-wine*.sh tests/e2e/run-wine*.sh; do
    [ -f "$runner" ] || continue
    run_test "$(basename "$(dirname "$runner")")-$(basename "$runner" .sh)" 1200 bash "$runner"
done

echo
[ ${#FAILED_RUNNERS[@]} -gt 0 ] && printf 'failures in: %s\n' "${FAILED_RUNNERS[@]}"
echo "$PASSED passed, $FAILED failed"
[ "$FAILED" -eq 0 ]
