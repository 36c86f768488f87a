#!/usr/bin/env bash
# Installs what is missing, builds the release and the sanitizer build, and runs every test in
# both. Build folders: build/release and build/asan.
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
