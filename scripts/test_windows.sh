#!/usr/bin/env bash
# The Windows builds, cross-compiled with mingw-w64, each compiled and its tests run under Wine
# beside the Linux release build (which must be built first: its outputs are the reference): the
# 64-bit one under wine64, the 32-bit one under Wine's 32-bit half once a tiny PE32 program has
# shown that this machine runs one. Where it does not, one line says so and why, and the 32-bit
# tests are not run.
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

# Why this machine cannot run the 32-bit build, or nothing when it can.
why_no_32bit() {
  local probe=build/windows-i686/pe32_probe.exe output status=0
  if [ ! -x /usr/lib/wine/wine ]; then
    echo "there is no 32-bit Wine (/usr/lib/wine/wine; scripts/setup.sh installs wine32:i386)"
    return
  fi
  i686-w64-mingw32-gcc-posix -static -o "$probe" tests/windows/pe32_probe.c
  output=$(scripts/wine-run.sh "$probe" 2>&1) || status=$?
  output=${output%$'\r'}  # the console's line end
  if [ "$status" != 32 ] || [ "$output" != 4 ]; then
    echo "a PE32 program ended with status $status and printed '$output' under Wine, not 32 and" \
      "'4' (a prefix made before the 32-bit Wine was installed lacks its 32-bit half:" \
      "remove $WINEPREFIX)"
  fi
}

echo "== tests: windows-x86_64 build under Wine"
I686_DLL=$PWD/build/windows-i686/rowflume.dll ctest --preset windows-x86_64 -j "$jobs" -LE large
no_32bit=$(why_no_32bit)
if [ -n "$no_32bit" ]; then
  echo "== tests: windows-i686 build NOT RUN: this machine cannot run 32-bit Windows programs: $no_32bit"
  exit 0
fi
echo "== tests: windows-i686 build under 32-bit Wine"
started=$(date +%s)
ctest --preset windows-i686 -j "$jobs" -LE large
echo "== tests: windows-i686 took $(($(date +%s) - started)) s"
