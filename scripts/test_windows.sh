#!/usr/bin/env bash
# The Windows builds, cross-compiled with mingw-w64: the 32-bit one is compiled (this machine
# cannot run 32-bit programs), the 64-bit one is compiled and its tests run under Wine, beside
# the Linux release build (which must be built first: its outputs are the reference).
# Build folders: build/windows-x86_64 and build/windows-i686; Wine prefix: build/wineprefix.
set -euo pipefail
cd "$(dirname "$0")/.."
jobs=$(nproc)
for arch in x86_64 i686; do
  cmake --preset "windows-$arch" -DROWFLUME_WERROR=ON >/dev/null
  cmake --build --preset "windows-$arch" -j "$jobs"
done
# The public header, with the calling convention it states for 32-bit callers, is strict C89.
i686-w64-mingw32-gcc-posix -std=c89 -pedantic-errors -Wall -Wextra -Werror -fsyntax-only \
  -Iinclude tests/library/header_c89.c
export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all
# The prefix is made by the first program run (about 15 seconds); then one Wine server serves
# every test and is stopped when they end.
scripts/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -p || true  # (one may be running already)
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
echo "== tests: windows-x86_64 build under Wine"
I686_DLL=$PWD/build/windows-i686/rowflume.dll ctest --preset windows-x86_64 -j "$jobs"
