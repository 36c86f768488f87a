#!/usr/bin/env bash
# Builds the release program and the encoder benchmark, for the working tree and for a baseline
# revision, and prints every performance target for both, measured side by side in one run.
#   bench/run.sh [rows ...]        (default: 200000 2000000)
# BASELINE=REV picks the baseline (default: the revision in bench/baseline-revision);
# BASELINE=none measures the working tree alone. PAIRS=N sets the pairs per figure (default 5).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
baseline=${BASELINE:-$(cat bench/baseline-revision)}

# Only what is measured: the tests are not needed here.
build() {
  local source=$1 build=$2
  cmake -S "$source" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DROWFLUME_TESTS=OFF >/dev/null
  local targets=(--target rowflume)
  [ -f /usr/include/benchmark/benchmark.h ] && targets+=(--target encoder_bench)
  cmake --build "$build" -j "$(nproc)" "${targets[@]}" >/dev/null
}

build . build/bench/now
args=(--binary build/bench/now/rowflume --workdir build/bench --source "$PWD"
      --pairs "${PAIRS:-5}")
[ -x build/bench/now/bench/encoder_bench ] && args+=(--encoder build/bench/now/bench/encoder_bench)
if [ "$baseline" != none ]; then
  # The baseline is built from a clean export of its revision, never from the working tree.
  rm -rf build/bench/baseline-src
  mkdir -p build/bench/baseline-src
  git archive "$baseline" | tar -x -C build/bench/baseline-src
  build build/bench/baseline-src build/bench/baseline
  args+=(--baseline-binary build/bench/baseline/rowflume
         --baseline-name "$(git rev-parse --short "$baseline")")
  [ -x build/bench/baseline/bench/encoder_bench ] &&
    args+=(--baseline-encoder build/bench/baseline/bench/encoder_bench)
fi
python3 bench/targets.py "${args[@]}" ${1:+--rows "$@"}
