#!/usr/bin/env bash
# The Windows program run under Wine, checked against the Linux program of the same sources on
# the same databases: what must hold on Windows that the test programs cannot see from inside
# (standard output into a pipe, the command processor, the client library found by the Windows
# loader, the exported functions).
#   program_checks.sh CASE WINDOWS_BUILD_DIR LINUX_PROGRAM
set -euo pipefail
case_name=$1
build=$(cd "$2" && pwd)
linux=$(realpath "$3")
source_dir=$(cd "$(dirname "$0")/../.." && pwd)
wine=$source_dir/scripts/wine-run.sh
exe=$build/rowflume.exe
[ -x "$linux" ] || { echo "no Linux program at $linux: build the release preset first"; exit 1; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
# ORDERS spans several extents, so that a split has pieces.
"$source_dir/tools/make_demo_db.sh" demo.db 40000 >/dev/null
mkdir linux windows
cp demo.db linux/ && cp demo.db windows/

# The Windows name of a folder of this machine (Wine maps its root to drive Z:).
windows_path() {
  local path=$1
  echo "Z:${path//\//\\}"
}

fail() {
  echo "FAILED: $*"
  exit 1
}

# Runs both programs, each inside its own folder, with the same items; statuses must agree.
both() {
  local linux_status=0 windows_status=0
  (cd linux && "$linux" "$@" >stdout.txt 2>stderr.txt) || linux_status=$?
  (cd windows && "$wine" "$exe" "$@" >stdout.txt 2>stderr.txt) || windows_status=$?
  [ "$linux_status" = "$windows_status" ] ||
    fail "status $windows_status on Windows, $linux_status on Linux for: $*"
}

# The names in a DLL's export table.
exported() {
  objdump -p "$1" | awk '/\[Ordinal\/Name Pointer\] Table/ {on = 1; next}
    on && NF == 0 {on = 0} on {print $NF}'
}

same_file() {
  cmp "linux/$1" "windows/$1" || fail "$1 differs between the Linux and the Windows program"
}

# Messages carry the local time and the folder separator; the rest must be equal.
same_messages() {
  local pattern='s/[0-9]{4}-[0-9]{2}-[0-9]{2} [0-9]{2}:[0-9]{2}:[0-9]{2}/@/g'
  diff <(sed -E "$pattern" linux/stdout.txt) <(sed -E "$pattern" windows/stdout.txt) ||
    fail "the messages differ"
}

user=user=scott/tiger@sqlite:demo.db

case $case_name in
  demo_csv)
    both "$user" query=emp text=CSV file=emp.csv
    same_file emp.csv
    same_file emp_sqlldr.ctl
    same_messages
    ;;
  layouts)
    # Every layout of the golden files, and the binary RAW column, to standard output.
    for items in "text=CSV" "text=MYSQL" "text=MYSQLINS" "text=ORACLEINS" "text=FORM" \
      "text=SEARCH" "field=0x20" "client=yes text=CSV" "text=CSV escape=0x5c"; do
      # shellcheck disable=SC2086
      both "$user" query=emp $items file=-
      same_file stdout.txt
    done
    ;;
  statuses)
    both "$user" query=dept file=dept.txt # 0
    both "$user" # 1: the usage text
    same_file stdout.txt
    both user=scott/wrong@sqlite:demo.db query=dept # 1: logon refused
    same_messages
    both uncrack=k3y file=missing.txt # 2
    both "$user" query=no_such_table # 3
    same_messages
    both "$user" query=dept file=no_folder/dept.txt # 6
    ;;
  stdout_pipe)
    # Line feeds inside the data and between records reach a pipe unchanged.
    "$linux" "$user" query=emp text=CSV file=- 2>/dev/null | od -c >linux.od
    (cd windows && "$wine" "$exe" "$user" query=emp text=CSV file=- 2>/dev/null) | od -c >windows.od
    grep -q '\\r' windows.od && fail "a carriage return reached the pipe"
    cmp linux.od windows.od || fail "the piped bytes differ"
    ;;
  command_output)
    # A command output goes through cmd.exe; the redirection is its own. (Wine has no sort.exe.)
    (cd windows && "$wine" "$exe" "$user" query=dept "file=-more > paged.txt") ||
      fail "the command output failed"
    (cd linux && "$linux" "$user" query=dept file=dept.txt)
    [ "$(tr -d '\r' <windows/paged.txt)" = "$(cat linux/dept.txt)" ] ||
      fail "the command did not receive every record"
    # A command that fails makes the run fail.
    status=0
    (cd windows && "$wine" "$exe" "$user" query=dept "file=-exit 3") || status=$?
    [ "$status" != 0 ] || fail "a failing command was reported as success"
    ;;
  batch_files)
    both "$user" query=orders text=CSV rows=10000 batch=yes file=part_%b.csv
    [ "$(cd linux && ls part_*.csv)" = "$(cd windows && ls part_*.csv)" ] ||
      fail "the batch files are not the same files"
    for part in linux/part_*.csv; do same_file "$(basename "$part")"; done
    ;;
  lob_files)
    # LOB values in files below numbered subfolders, named with the platform's separator.
    for db in linux/demo.db windows/demo.db; do
      sqlite3 "$db" "CREATE TABLE DOCS (ID NUMBER(4), BODY CLOB, PIC BLOB);
        INSERT INTO DOCS VALUES (1, 'two' || char(10) || 'lines' || char(13, 10), x'000a0d0a1aff');
        INSERT INTO DOCS VALUES (2, NULL, x'0d0d0a');"
    done
    both "$user" query=docs text=CSV lob=FILE file=docs.csv
    tr '\\' '/' <windows/docs.csv >windows/docs_slashed.csv
    grep -q '\\' windows/docs.csv || fail "no backslash in the LOB file names"
    cmp linux/docs.csv windows/docs_slashed.csv || fail "the LOB references differ"
    for lob in $(cd linux && find . -type f -path './*/*' | sort); do same_file "$lob"; done
    ;;
  parallel)
    # Four pieces hold the rows of the serial unload, each once.
    (cd windows && "$wine" "$exe" "$user" split=ORDERS degree=4 text=CSV file=o_%p.csv >/dev/null) ||
      fail "the parallel run failed"
    (cd windows && "$wine" "$exe" "$user" query=orders text=CSV file=serial.csv >/dev/null)
    [ "$(ls windows/o_*.csv | wc -l)" -ge 2 ] || fail "the run did not split"
    diff <(cat windows/o_*.csv | grep -v '^ORDER_ID' | sort) \
      <(grep -v '^ORDER_ID' windows/serial.csv | sort) >/dev/null ||
      fail "the pieces differ from the serial unload"
    ;;
  manifest)
    # Both programs write the same bytes, so their manifests hold the same digests; the Windows
    # program's verifies, and a file it changed no longer does.
    both "$user" query=orders text=CSV rows=10000 batch=yes file=part_%b.csv manifest=m.json
    same_file m.json.sha256
    (cd windows && sha256sum --check --quiet m.json.sha256) || fail "sha256sum rejects the files"
    (cd windows && "$wine" "$exe" verify=m.json >verify.txt) ||
      fail "verify failed: $(cat windows/verify.txt)"
    printf 'x' >>windows/part_2.csv
    status=0
    (cd windows && "$wine" "$exe" verify=m.json >verify.txt) || status=$?
    [ "$status" = 11 ] && grep -q 'MISMATCH part_2.csv' windows/verify.txt ||
      fail "verify passed a changed file: $(cat windows/verify.txt)"
    ;;
  parquet)
    # Uncompressed, as the Windows builds write it: the same file from both programs, byte for
    # byte; and the codecs the Windows build lacks are refused there.
    both "$user" query=emp file=emp.parquet compress=none
    same_file emp.parquet
    status=0
    (cd windows && "$wine" "$exe" "$user" query=emp file=z.parquet compress=zstd >out.txt) ||
      status=$?
    [ "$status" = 4 ] || fail "compress=zstd gave status $status on Windows"
    ;;
  client_library)
    # Without oci.dll on the search path: the files tried, status 1.
    status=0
    (cd windows && WINEPATH= "$wine" "$exe" user=scott/tiger@orcl query=dept >out.txt 2>&1) ||
      status=$?
    [ "$status" = 1 ] || fail "status $status without oci.dll"
    grep -q 'oci.dll' windows/out.txt || fail "the message does not name oci.dll"
    # The stand-in oci.dll, found through the search path, serves the same rows.
    sqlite3 windows/demo.db \
      "CREATE TABLE rowflume_accounts(username TEXT, password TEXT);
       INSERT INTO rowflume_accounts VALUES('scott', 'tiger');"
    (cd windows && WINEPATH=$(windows_path "$build/standin") \
      "$wine" "$exe" user=scott/tiger@demo.db query=emp text=CSV file=standin.csv) ||
      fail "the run through oci.dll failed"
    (cd linux && "$linux" "$user" query=emp text=CSV file=emp.csv >/dev/null)
    cmp linux/emp.csv windows/standin.csv || fail "the rows through oci.dll differ"
    ;;
  exports)
    for dll in "$build/rowflume.dll" "${I686_DLL:-}"; do
      [ -n "$dll" ] || continue
      names=$(exported "$dll" | sort | tr '\n' ' ')
      [ "$names" = "ROWFLUMEHandleAlloc ROWFLUMEHandleCallback ROWFLUMEHandleExecute \
ROWFLUMEHandleFree ROWFLUMEHandleSetAttr " ] || fail "$dll exports: $names"
    done
    count=$(exported "$build/standin/oci.dll" | grep -c '^OCI')
    [ "$count" = 21 ] || fail "oci.dll exports $count client functions"
    ;;
  orders_csv)
    # Two million ORDERS rows as CSV, byte for byte: the number text of the doubles (which the
    # 32-bit build computes in x87 registers), the amounts and the dates of every row.
    "$source_dir/tools/make_demo_db.sh" orders.db 2000000 >/dev/null
    cp orders.db linux/ && mv orders.db windows/
    both user=scott/tiger@sqlite:orders.db query=orders text=CSV file=orders.csv
    same_file orders.csv
    ;;
  large_file)
    # One file past 4 GiB (no size= splitting), where 32-bit file offsets and sizes would wrap:
    # its bytes, its size and the row count and size of the close line.
    rows=4500000
    query="with recursive r(n) as (select 1 union all select n + 1 from r where n < $rows)
      select n, substr(hex(zeroblob(495)), 1, 990) as pad from r"
    (cd windows && "$wine" "$exe" "$user" "query=$query" file=big.txt >stdout.txt 2>stderr.txt) ||
      fail "the run failed: $(cat windows/stdout.txt windows/stderr.txt)"
    bytes=$(stat -c %s windows/big.txt)
    [ "$bytes" -gt 4294967296 ] || fail "big.txt holds $bytes bytes, not more than 4 GiB"
    mb=$(awk -v bytes="$bytes" 'BEGIN {printf "%.0f", bytes / 1048576}')
    grep -qxF "         output file big.txt closed at $rows rows, size $mb MB." windows/stdout.txt ||
      fail "no close line of $rows rows and $mb MB: $(cat windows/stdout.txt)"
    grep -qE "^ +4000000 rows exported at .*, size [0-9]+ MB\.$" windows/stdout.txt ||
      fail "no progress line at 4000000 rows: $(cat windows/stdout.txt)"
    windows_sum=$(sha256sum <windows/big.txt)
    rm windows/big.txt
    linux_sum=$(cd linux && "$linux" "$user" "query=$query" file=- 2>/dev/null | sha256sum)
    [ "$windows_sum" = "$linux_sum" ] || fail "big.txt differs from the Linux program's output"
    ;;
  large_lob)
    # The longest BLOB the engine holds (SQLite refuses values past 10^9 bytes) written to its
    # file with lob=FILE: SQLite's copy and the locator's must both fit in the program's memory.
    sqlite3 windows/demo.db "CREATE TABLE DOCS (ID NUMBER(4), PIC BLOB);
      INSERT INTO DOCS VALUES (1, zeroblob(999999000)); INSERT INTO DOCS VALUES (2, x'0a0d');"
    ln -sf ../windows/demo.db linux/demo.db
    both "$user" query=docs text=CSV lob=FILE file=docs.csv
    lob=LOB0000/010000000000_0001.dat
    [ "$(stat -c %s "windows/$lob")" = 999999000 ] || fail "the LOB file is not 999999000 bytes"
    tr '\\' '/' <windows/docs.csv | cmp - linux/docs.csv || fail "the LOB references differ"
    for lob in $(cd linux && find . -type f -name '*.dat' | sort); do same_file "$lob"; done
    ;;
  *)
    echo "unknown case $case_name"
    exit 2
    ;;
esac
echo "ok: $case_name"
