#!/usr/bin/env bash
# Runs the tests in one of two tiers, after installing what is missing:
#   scripts/test.sh quick   the checks of the sources (format, layers, sizes), then the release
#                           build and all of its tests (the fuzz corpus replay included): a few
#                           minutes, for every change.
#   scripts/test.sh         the quick tier, then the sanitizer build and all of its tests; the
#                           Windows builds (scripts/test_windows.sh: both compiled and tested
#                           under Wine, 64-bit and 32-bit); the packages; a ThreadSanitizer build running
#                           the tests of the parallel unload; and each fuzz target for a short
#                           while with clang.
#
# Build folders: build/release, build/asan, build/windows-x86_64, build/windows-i686, build/tsan
# and build/fuzz.
set -euo pipefail
cd "$(dirname "$0")/.."
tier=${1:-full}
case "$tier" in
  quick | full) ;;
  *)
    echo "usage: scripts/test.sh [quick]" >&2
    exit 2
    ;;
esac
scripts/setup.sh
jobs=$(nproc)

# The checks of the sources, which need no build.
echo "== format: every C and C++ file as .clang-format says (clang-format 14)"
git ls-files '*.cpp' '*.h' '*.c' | xargs clang-format-14 --dry-run -Werror
echo "== layers: every folder of src/ includes only the folders it may use"
python3 tools/check_layers.py
echo "== sizes: no file of src/ over 600 lines, no function over 120"
python3 tools/check_sizes.py

# The builds are the presets of CMakePresets.json.
cmake --preset release -DROWFLUME_WERROR=ON >/dev/null
cmake --build --preset release -j "$jobs"
echo "== layers: no object of a folder needs a symbol only a folder it may not use defines"
python3 tools/check_layers.py --objects build/release
echo "== tests: release build"
ctest --preset release -j "$jobs"
if [ "$tier" = quick ]; then exit 0; fi
cmake --preset asan -DROWFLUME_WERROR=ON >/dev/null
cmake --build --preset asan -j "$jobs"
echo "== tests: asan build"
ctest --preset asan -j "$jobs"
# The Windows builds: both compiled and tested under Wine against the release build.
scripts/test_windows.sh
# The packages, made from those builds, with the Debian package's file list checked.
echo "== packages"
scripts/package.sh
# Worker threads of a parallel unload share nothing; ThreadSanitizer checks that, in the test
# programs of the split and of the run (parallel runs, client faults in parallel pieces) and in
# the program they run (a race there ends it with status 66 and a report).
cmake --preset tsan -DROWFLUME_WERROR=ON >/dev/null
cmake --build --preset tsan -j "$jobs"
echo "== tests: tsan build (parallel)"
ctest --preset tsan -j "$jobs"

# Bounded fuzzing: each target runs 20 seconds from a fixed seed (so a finding can be replayed) on
# a copy of its corpus, so that nothing is ever written into the repository's corpus. Inputs that
# fail are kept in build/fuzz/artifacts.
echo "== fuzz: 20 seconds per target"
cmake --preset fuzz -DROWFLUME_WERROR=ON >/dev/null
cmake --build --preset fuzz -j "$jobs"
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
mkdir -p build/fuzz/artifacts
failed=()
for corpus in fuzz/corpus/*/; do
  name=$(basename "$corpus")
  mkdir -p "$work/$name"
  cp "$corpus"* "$work/$name/"
  if timeout 120 "build/fuzz/fuzz/${name}_fuzz" -max_total_time=20 -seed=1 -timeout=10 \
      -artifact_prefix="build/fuzz/artifacts/${name}-" "$work/$name" >"$work/$name.log" 2>&1; then
    echo "$name: $(grep -E '^#[0-9]+.*DONE' "$work/$name.log" | tail -n 1)"
  else
    echo "$name: FAILED"
    tail -n 40 "$work/$name.log"
    failed+=("$name")
  fi
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz targets failed: ${failed[*]}"
  exit 1
fi
