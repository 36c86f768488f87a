#!/usr/bin/env bash
# The tests too large for every run (CTest label large), on the builds scripts/test_windows.sh
# made: a file past 4 GiB, and a BLOB of 999,999,000 bytes with lob=FILE, written by the 32-bit
# Windows build under Wine and compared with the Linux program's bytes. It needs about 4.5 GB free
# in the temporary folder (TMPDIR) and takes a few minutes; everything it writes is removed when
# each check ends.
# (A LOB past 2 GiB cannot be tested: the engine keeps each value in SQLite, which refuses a
# string or blob longer than SQLITE_MAX_LENGTH, 1,000,000,000 bytes in both the Debian library
# and the pinned amalgamation, and at most 2^31 - 1 by SQLite's own design.)
set -euo pipefail
cd "$(dirname "$0")/.."
if [ ! -f build/windows-i686/CTestTestfile.cmake ] || [ ! -x build/release/rowflume ]; then
  echo "test_large.sh: run scripts/test.sh (or the release build and scripts/test_windows.sh) first" >&2
  exit 1
fi
[ -x /usr/lib/wine/wine ] ||
  { echo "test_large.sh: no 32-bit Wine (/usr/lib/wine/wine; scripts/setup.sh installs wine32:i386)" >&2; exit 1; }
free_kib=$(df -Pk "${TMPDIR:-/tmp}" | awk 'NR == 2 {print $4}')
[ "$free_kib" -gt 5000000 ] ||
  { echo "test_large.sh: ${TMPDIR:-/tmp} has $((free_kib / 1024)) MB free, the test needs 4.5 GB" >&2; exit 1; }
export WINEPREFIX=$PWD/build/wineprefix WINEDEBUG=-all
scripts/wine-run.sh cmd /c exit 0 >/dev/null 2>&1 || true
/usr/lib/wine/wineserver -p || true
trap '/usr/lib/wine/wineserver -k 2>/dev/null || true' EXIT
echo "== tests: large, windows-i686 build under 32-bit Wine"
ctest --preset windows-i686 -L large
