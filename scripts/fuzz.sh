#!/bin/bash
# Fuzzes the archive code under libFuzzer with AddressSanitizer and
# UndefinedBehaviorSanitizer: builds the "fuzz" preset, writes the seed
# corpora with pack/, and runs each target for SECONDS (default 60).
#
#   bash scripts/fuzz.sh [SECONDS] [TARGET...]
#
# Targets: extract (the whole extraction run), list (the header walk of
# qvarc l), unpacker (the decoder alone on raw packed data), roundtrip
# (pack, then extract: the output must equal the input). Everything stays
# below build/fuzz/: seeds/ (written anew each time), corpus/TARGET/ (what
# the runs learned, kept between runs), findings/TARGET/ (inputs that
# crashed, leaked, hung or ran out of memory) and logs/TARGET.log. Each
# input has a time limit, so an input that costs far more time than its
# size shows as a finding too. Prints one line per target and then
# "N passed, M failed" (a target passes when it found nothing).
set -uo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
shift $(($# > 0 ? 1 : 0))
TARGETS=("$@")
[ ${#TARGETS[@]} -eq 0 ] && TARGETS=(extract list unpacker roundtrip)
OUT=build/fuzz
BIN=$OUT/build/tests/fuzz

bash scripts/install-deps.sh || { echo "0 passed, 1 failed"; exit 1; }
mkdir -p "$OUT/logs"
if ! bash scripts/build.sh fuzz >"$OUT/logs/build.log" 2>&1; then
    tail -30 "$OUT/logs/build.log"
    echo "0 passed, 1 failed"
    exit 1
fi
"$BIN/qv_fuzz_seeds" "$OUT/seeds" "${TARGETS[@]}" || { echo "0 passed, 1 failed"; exit 1; }

# Seconds an input may take: the compressor of the round trip is the slow
# part; everything else ends well within a second even under the
# sanitizers.
time_limit() { [ "$1" = roundtrip ] && echo 20 || echo 5; }

passed=0
failed=0
printf '%-10s %7s %9s %12s %9s %9s\n' target seconds execs/s "total execs" coverage findings
for t in "${TARGETS[@]}"; do
    [ -x "$BIN/qv_fuzz_$t" ] || { echo "no target $t"; failed=$((failed + 1)); continue; }
    mkdir -p "$OUT/corpus/$t" "$OUT/findings/$t"
    log=$OUT/logs/$t.log
    start=$SECONDS
    "$BIN/qv_fuzz_$t" -max_total_time="$SECONDS_EACH" -timeout="$(time_limit "$t")" \
        -rss_limit_mb=2560 -print_final_stats=1 -artifact_prefix="$OUT/findings/$t/" \
        "$OUT/corpus/$t" "$OUT/seeds/$t" >"$log" 2>&1
    status=$?
    # An input found again keeps its file name: count what the run wrote.
    found=$(grep -c 'Test unit written to' "$log")
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)
    rate=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$log" | tail -1)
    cov=$(grep -o 'cov: [0-9]*' "$log" | tail -1 | cut -d' ' -f2)
    printf '%-10s %7s %9s %12s %9s %9s\n' "$t" $((SECONDS - start)) "${rate:--}" "${execs:--}" \
        "${cov:--}" "$found"
    if [ "$status" -eq 0 ] && [ "$found" -eq 0 ]; then
        passed=$((passed + 1))
    else
        failed=$((failed + 1))
        grep -E '^(==[0-9]+==ERROR|SUMMARY|artifact_prefix|Test unit written)' "$log" | head -5
        echo "   (log: $log)"
    fi
done
echo "$passed passed, $failed failed"
[ "$failed" -eq 0 ]
