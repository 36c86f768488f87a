#!/usr/bin/env bash
# Installs a build into a fresh prefix and uses it the way an outside project would: a small C
# program compiled against the installed header and library through pkg-config, and the
# installed command, both unloading one row of a SQLite database.
#   install_check.sh BUILD_DIR C_COMPILER [EXTRA_FLAGS]
set -euo pipefail
build=${1:?usage: install_check.sh BUILD_DIR C_COMPILER [EXTRA_FLAGS]}
cc=${2:?usage: install_check.sh BUILD_DIR C_COMPILER [EXTRA_FLAGS]}
read -r -a extra <<<"${3:-}"
command -v pkg-config >/dev/null || { echo "pkg-config is not installed" >&2; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
prefix=$work/prefix
cmake --install "$build" --prefix "$prefix" >/dev/null

for file in bin/rowflume include/rowflume.h share/man/man1/rowflume.1; do
  [ -f "$prefix/$file" ] || { echo "not installed: $file" >&2; exit 1; }
done
pc=$(find "$prefix" -name rowflume.pc -path '*/pkgconfig/*')
[ -n "$pc" ] || { echo "not installed: rowflume.pc" >&2; exit 1; }
export PKG_CONFIG_PATH
PKG_CONFIG_PATH=$(dirname "$pc")
libdir=$(pkg-config --variable=libdir rowflume)
[ -e "$libdir/librowflume.so" ] || { echo "librowflume.so is not in $libdir" >&2; exit 1; }
# The five functions are the library's whole interface; nothing of the C++ runtime leaks.
exported=$(nm -D --defined-only "$libdir/librowflume.so" | awk '{print $NF}' | sort | tr '\n' ' ')
expected="ROWFLUMEHandleAlloc ROWFLUMEHandleCallback ROWFLUMEHandleExecute ROWFLUMEHandleFree ROWFLUMEHandleSetAttr "
[ "$exported" = "$expected" ] || { echo "exported symbols: $exported" >&2; exit 1; }

cat >"$work/use.c" <<'C'
#include <stdio.h>
#include <string.h>
#include <rowflume.h>

static int calls = 0;
static void Count(void* context, const char* text) {
  (void)context;
  (void)text;
  ++calls;
}

int main(int argc, char** argv) {
  char item[512];
  char out[64] = "";
  FILE* file;
  int result;
  ROWFLUMEHandle handle = NULL;
  if (argc != 2 || ROWFLUMEHandleAlloc(&handle) == NULL) return 10;
  snprintf(item, sizeof(item), "user=a/b@sqlite:%s", argv[1]);
  if (ROWFLUMEHandleSetAttr(handle, item) != 1) return 11;
  ROWFLUMEHandleSetAttr(handle, "query=select 7 as ONE, 'x' as TWO");
  ROWFLUMEHandleSetAttr(handle, "file=from_library.txt");
  ROWFLUMEHandleCallback(handle, NULL, Count);
  result = ROWFLUMEHandleExecute(handle);
  ROWFLUMEHandleFree(handle);
  if (result != ROWFLUME_OK || calls == 0) return 12;
  file = fopen("from_library.txt", "rb");
  if (file == NULL) return 13;
  out[fread(out, 1, sizeof(out) - 1, file)] = '\0';
  fclose(file);
  return strcmp(out, "7,x\n") == 0 ? 0 : 14;
}
C
# shellcheck disable=SC2046  # pkg-config prints several words on purpose
"$cc" -std=c99 -Wall -Wextra -Werror "${extra[@]}" -o "$work/use" "$work/use.c" \
  $(pkg-config --cflags --libs rowflume)

cd "$work"
: >empty.db  # an empty file is an empty SQLite database
LD_LIBRARY_PATH=$libdir ./use "$work/empty.db" || { echo "library program failed: $?" >&2; exit 1; }
"$prefix/bin/rowflume" user=a/b@sqlite:empty.db "query=select 7 as ONE, 'x' as TWO" \
  file=from_command.txt >/dev/null
cmp -s from_command.txt from_library.txt || { echo "the command's output differs" >&2; exit 1; }
echo "install check passed"
