#!/usr/bin/env python3
"""Reads rowflume's CSV output back with a strict CSV reader and compares it, value for value,
with the rows of the same query read through Python's sqlite3 module.

    csv_roundtrip.py BINARY DATABASE WORKDIR TABLE...

Rules of the comparison:
- text values must come back byte for byte (quotes, commas, CR, LF, tabs, UTF-8);
- numbers must come back as the same number (the text form follows the database's number
  conversion, e.g. ".5" for 0.5);
- NULL comes back as an empty field. An empty string does too: a CSV reader cannot tell an
  empty quoted field from an empty one, and on an Oracle database an empty string is stored as
  NULL anyway. (The embedded engine keeps SQLite's distinction, so rowflume writes NULL as an
  empty field and '' as a quoted empty field; the byte-exact tests hold that.)
Exits 0 when every table matches, 1 with the first difference otherwise.
"""
import csv
import os
import sqlite3
import subprocess
import sys


def expected_text(value):
    return "" if value is None else value


def same(source, text):
    if source is None:
        return text == ""
    if isinstance(source, str):
        return text == source
    if isinstance(source, bytes):
        return text.encode("latin-1") == source
    if isinstance(source, int):
        return text.lstrip("-").isdigit() and int(text) == source
    return text != "" and float(text) == source


def check_table(binary, database, workdir, table):
    out = os.path.join(workdir, f"roundtrip_{table}.csv")
    run = subprocess.run(
        [binary, f"user=scott/tiger@sqlite:{database}", f"query={table}", "text=CSV",
         f"file={out}", "array=7"],
        cwd=workdir, capture_output=True)
    if run.returncode != 0:
        return f"{table}: exit {run.returncode}: {run.stdout.decode(errors='replace')}"
    with open(out, newline="", encoding="utf-8") as handle:
        rows = list(csv.reader(handle, strict=True))
    os.remove(out)
    connection = sqlite3.connect(database)
    cursor = connection.execute(f"SELECT * FROM {table}")
    names = [d[0].upper() for d in cursor.description]
    source = cursor.fetchall()
    connection.close()
    if not rows or rows[0] != names:
        return f"{table}: header {rows[:1]} is not {names}"
    if len(rows) - 1 != len(source):
        return f"{table}: {len(rows) - 1} rows read back, {len(source)} in the table"
    for row_no, (got, want) in enumerate(zip(rows[1:], source), start=1):
        if len(got) != len(want):
            return f"{table} row {row_no}: {len(got)} fields, {len(want)} columns: {got!r}"
        for name, text, value in zip(names, got, want):
            if not same(value, text):
                return f"{table} row {row_no} {name}: read back {text!r}, source {value!r}"
    return None


def main():
    if len(sys.argv) < 5:
        sys.exit(__doc__)
    binary, database, workdir = sys.argv[1:4]
    failures = [f for f in (check_table(binary, database, workdir, t) for t in sys.argv[4:]) if f]
    for failure in failures:
        print(failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
