#!/usr/bin/env bash
# Makes the packages into build/packages: from the Linux release build a Debian package
# (rowflume_VERSION_amd64.deb) and a tarball, and from the Windows builds a zip per
# architecture (win64, win32). Builds what is missing first.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
for preset in release windows-x86_64 windows-i686; do
  cmake --preset "$preset" >/dev/null
  cmake --build --preset "$preset" -j "$(nproc)" --target rowflume rowflume_shared
  (cd "build/$preset" && cpack -B "$PWD/../packages" >/dev/null)
done
rm -rf build/packages/_CPack_Packages
# The Debian package holds exactly these files (and their folders).
version=$(sed -n 's/^project(rowflume VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
expected="./usr/bin/rowflume
./usr/include/rowflume.h
./usr/lib/librowflume.so
./usr/lib/librowflume.so.0
./usr/lib/librowflume.so.$version
./usr/lib/pkgconfig/rowflume.pc
./usr/share/bash-completion/completions/rowflume
./usr/share/man/man1/rowflume.1"
listed=$(dpkg -c "build/packages/rowflume_${version}_amd64.deb" | awk '$1 !~ /^d/ {print $6}' | sort)
if [ "$listed" != "$expected" ]; then
  echo "the Debian package holds other files than expected:"
  diff <(echo "$expected") <(echo "$listed") || true
  exit 1
fi
ls -l build/packages
