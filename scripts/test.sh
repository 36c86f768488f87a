#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer build, and runs every test in
# both; then a ThreadSanitizer build runs the tests of the parallel unload. Build folders:
# build/release, build/asan and build/tsan.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
jobs=$(nproc)
for kind in release asan; do
  dir=build/$kind
  if [ "$kind" = release ]; then
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
  else
    cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DROWFLUME_SANITIZE=ON >/dev/null
  fi
  cmake --build "$dir" -j "$jobs"
  echo "== tests: $kind build"
  ctest --test-dir "$dir" --output-on-failure -j "$jobs"
done
# Worker threads of a parallel unload share nothing; ThreadSanitizer checks that, in the test
# program and in the program it runs (a race there ends it with status 66 and a report).
dir=build/tsan
cmake -S . -B "$dir" -G Ninja -DCMAKE_BUILD_TYPE=Debug -DROWFLUME_TSAN=ON >/dev/null
cmake --build "$dir" -j "$jobs" --target rowflume test_parallel
echo "== tests: tsan build (parallel)"
TSAN_OPTIONS="halt_on_error=1 ${TSAN_OPTIONS:-}" \
  ctest --test-dir "$dir" --output-on-failure -j "$jobs" -L parallel
