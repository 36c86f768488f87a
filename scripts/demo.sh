#!/usr/bin/env bash
# Installs what is missing for the demo alone (scripts/setup.sh demo), builds the program,
# creates the demo database in build/demo/ and runs
# the typical unload: the EMP table as CSV into a file named with today's date (and its loader
# control file emp_sqlldr.ctl), then shows the data file.
# Extra arguments are added to the unload's items, e.g. scripts/demo.sh text=MYSQL.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh demo
# The program alone: the test programs need what only scripts/setup.sh installs (the release
# preset turns them on again).
if ! log=$(cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release -DROWFLUME_TESTS=OFF 2>&1); then
  printf '%s\n' "$log" >&2
  echo "demo: configuring build/release failed" >&2
  exit 1
fi
cmake --build build/release -j "$(nproc)" --target rowflume
mkdir -p build/demo
tools/make_demo_db.sh build/demo/demo.db
rm -f build/demo/emp_*.csv
# Run inside build/demo so that the loader control file emp_sqlldr.ctl lands beside the data.
(cd build/demo && ../release/rowflume user=scott/tiger@sqlite:demo.db query=emp text=CSV \
  file=emp_%Y%m%d.csv "$@")
for output in build/demo/emp_*.csv; do
  echo "== $output"
  cat "$output"
done
