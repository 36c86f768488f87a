#!/usr/bin/env bash
# Runs a 64-bit Windows program under Wine with Wine's own messages silenced; the exit status is
# the program's. The prefix defaults to one private to the build tree (created on first use), and
# a wineserver started with `wineserver -p` beforehand is reused by every run.
set -euo pipefail
here=$(cd "$(dirname "$0")/.." && pwd)
export WINEPREFIX=${WINEPREFIX:-$here/build/wineprefix}
export WINEDEBUG=${WINEDEBUG:--all}
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
exec /usr/lib/wine/wine64 "$@"
