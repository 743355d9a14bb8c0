#!/bin/bash
# Builds qv_bench in build/bench, writes the corpus, prints the table.
set -euo pipefail
cd "$(dirname "$0")/.."
cmake --preset host -B build/bench >/dev/null
cmake --build build/bench -j2 --target qv_bench >/dev/null
python3 bench/make_corpus.py build/bench/corpus >/dev/null
build/bench/bench/qv_bench build/bench/corpus "${1:-3}"
