#!/usr/bin/env bash
# Installs what is missing, builds the program and runs its main job.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build build/release -j "$(nproc)" --target rowflume
build/release/rowflume "$@" || true
