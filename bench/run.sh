#!/bin/bash
# Builds the benchmark natively and, with the product's own settings, for
# both Windows builds; writes the two corpora (generated, and files of this
# machine); prints one table per build and corpus. The Windows builds run
# under Wine (scripts/wine-env.sh): the i686 one in Wine's WoW64 mode, and
# not at all where the kernel runs no 32-bit code (scripts/ia32.sh): its
# figures under an emulator would measure the emulator.
set -euo pipefail
cd "$(dirname "$0")/.."
level=${1:-3}
cmake --preset host -B build/bench >/dev/null
cmake --build build/bench -j2 --target qv_bench >/dev/null
python3 bench/make_corpus.py build/bench/corpus >/dev/null
python3 bench/make_corpus.py --real build/bench/real >/dev/null
for corpus in corpus real; do
    echo "== host build, $corpus"
    build/bench/bench/qv_bench "build/bench/$corpus" "$level"
done
source scripts/ia32.sh
qv_ia32_probe
builds=(win64 win32)
if [ "$QV_IA32" = none ]; then
    echo "== win32 build: skipped (no 32-bit code runs natively here)"
    builds=(win64)
fi
for build in "${builds[@]}"; do
    cmake --preset "$build" >/dev/null
    cmake --build "build/$build" -j2 --target qv_bench >/dev/null
    (
        source scripts/wine-env.sh "$build"
        prefix=$(qv_wine_prefix bench)
        for corpus in corpus real; do
            echo "== $build build (the product's settings) under Wine, $corpus"
            qv_wine_run "$prefix" 900 "$PWD/build/$build/bench/qv_bench.exe" \
                "Z:$PWD/build/bench/$corpus" "$level" | tr -d '\r'
        done
        qv_wine_stop "$prefix"
        rm -rf "$prefix"
    )
done
