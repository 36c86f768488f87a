#!/usr/bin/env bash
# Builds the release binary and runs the unload benchmark, the parallel unload benchmark and the
# encoder microbenchmark.
#   bench/run.sh [rows ...]     (default: 200000 2000000)
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
# Only what is measured: the tests are not needed here.
targets=(--target rowflume)
[ -f /usr/include/benchmark/benchmark.h ] && targets+=(--target encoder_bench)
cmake --build build/release -j "$(nproc)" "${targets[@]}"
python3 bench/unload_bench.py --binary build/release/rowflume --workdir build/bench \
  --source "$PWD" ${1:+--rows "$@"}
python3 bench/parallel_bench.py --binary build/release/rowflume --workdir build/bench \
  --source "$PWD"
if [ -x build/release/bench/encoder_bench ]; then
  build/release/bench/encoder_bench --benchmark_repetitions=5 --benchmark_report_aggregates_only=true
fi
