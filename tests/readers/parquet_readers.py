#!/usr/bin/env python3
"""Three Parquet readers that this project did not write (DuckDB, Apache Arrow's Rust reader,
hyparquet), run on the same files, their values in one form, and a check that they agree.

    import parquet_readers
    document = parquet_readers.read_agreed(["out.parquet"])   # asserts the three agree
    document["columns"]  ->  [{"name": "ID", "type": "DECIMAL(10,0)"}, ...]
    document["rows"]     ->  [["1", "2024-03-31T01:59:59.123456789", 1.5, "0xdead", None], ...]
    parquet_readers.metadata("out.parquet")  ->  {"file", "schema", "metadata", "kv"}: DuckDB's
                                                 parquet_*() rows

Run as a program, it checks the readers themselves on files that DuckDB writes:

    parquet_readers.py --workdir DIR      (exit 77 when there is no node to run them)
"""
import argparse
import hashlib
import json
import os
import re
import shutil
import struct
import subprocess
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
SCRIPT = os.path.join(HERE, "read_parquet.mjs")
READERS = ("duckdb", "arrow", "hyparquet")
NOT_INSTALLED = 3
SKIP = 77


class ReaderFailed(AssertionError):
    pass


def node():
    """The node program, or None: without it the readers cannot run at all."""
    return shutil.which("node")


def _run(*arguments, timeout=600):
    program = node()
    if program is None:
        raise ReaderFailed("no node program to run the Parquet readers with")
    done = subprocess.run([program, SCRIPT, *map(os.fspath, arguments)], capture_output=True,
                          encoding="utf-8", timeout=timeout)
    if done.returncode == NOT_INSTALLED:
        raise ReaderFailed(f"the Parquet readers are not installed: {done.stderr.strip()}")
    if done.returncode != 0:
        what = " ".join(map(str, arguments))
        raise ReaderFailed(f"{what[:200]}{'...' if len(what) > 200 else ''}: {done.stderr.strip()}")
    return done.stdout


def read(reader, files):
    """One reader's document for FILES (their rows one after another)."""
    document = json.loads(_run(reader, *files))
    # JSON writes 1.0 as 1: doubles are Python floats, or the strings NaN, Infinity, -Infinity, -0.
    for c, column in enumerate(document["columns"]):
        if column["type"] in ("FLOAT", "DOUBLE"):
            for row in document["rows"]:
                if isinstance(row[c], int):
                    row[c] = float(row[c])
    return document


def read_all(files, readers=READERS):
    """{reader: document} for each of READERS."""
    return {reader: read(reader, files) for reader in readers}


def read_agreed(files, readers=READERS):
    """The readers' common document for FILES; AssertionError naming the values they differ on."""
    return agree(read_all(files, readers))


def metadata(file):
    """DuckDB's parquet_file_metadata, parquet_schema, parquet_metadata and parquet_kv_metadata
    rows of FILE, under "file", "schema", "metadata" and "kv"."""
    return json.loads(_run("meta", file))


def sql(*statements):
    """Runs STATEMENTS in an in-memory DuckDB, e.g. a COPY ... TO 'x.parquet' of reference data."""
    _run("sql", *statements)


_TIMESTAMP = re.compile(r"^([+-]?\d{4,})-(\d\d)-(\d\d)T(\d\d):(\d\d):(\d\d)(?:\.(\d+))?(Z?)$")


def _days_from_civil(year, month, day):
    year -= month <= 2
    era = year // 400
    yoe = year - era * 400
    doy = (153 * (month + (-3 if month > 2 else 9)) + 2) // 5 + day - 1
    return era * 146097 + yoe * 365 + yoe // 4 - yoe // 100 + doy - 719468


def _civil_from_days(days):
    z = days + 719468
    era = z // 146097
    doe = z - era * 146097
    yoe = (doe - doe // 1460 + doe // 36524 - doe // 146096) // 365
    doy = doe - (365 * yoe + yoe // 4 - yoe // 100)
    mp = (5 * doy + 2) // 153
    day = doy - (153 * mp + 2) // 5 + 1
    month = mp + 3 if mp < 10 else mp - 9
    return yoe + era * 400 + (month <= 2), month, day


def coarser(text, digits):
    """A timestamp's text with DIGITS fraction digits, cut as DuckDB cuts UTC nanoseconds to
    microseconds: the count since the epoch toward zero, so before 1970 it rounds up."""
    if text is None:
        return None
    year, month, day, hour, minute, second, fraction, utc = _TIMESTAMP.match(text).groups()
    fraction = fraction or ""
    seconds = ((_days_from_civil(int(year), int(month), int(day)) * 24 + int(hour)) * 60 +
               int(minute)) * 60 + int(second)
    count = seconds * 10**len(fraction) + int(fraction or "0")
    ratio = 10**(len(fraction) - digits)
    count = abs(count) // ratio * (1 if count >= 0 else -1)
    seconds, part = divmod(count, 10**digits)
    days, in_day = divmod(seconds, 86400)
    year, month, day = _civil_from_days(days)
    y = f"-{-year:04d}" if year < 0 else f"+{year}" if year > 9999 else f"{year:04d}"
    tail = f".{part:0{digits}d}" if digits else ""
    return (f"{y}-{month:02d}-{day:02d}T{in_day // 3600:02d}:{in_day // 60 % 60:02d}:"
            f"{in_day % 60:02d}{tail}{utc}")


_DIGITS = {"S": 0, "MS": 3, "US": 6, "NS": 9}


def agree(documents):
    """Asserts that the readers' DOCUMENTS ({reader: document}) hold the same columns and values;
    returns the document of a reader that read every column at the file's precision. A column a
    reader could only read more coarsely (its "read_as") is compared at that precision."""
    full = [r for r, d in documents.items() if not any("read_as" in c for c in d["columns"])]
    if not full:
        raise AssertionError(f"no reader read every column at full precision: {documents}")
    base_name = full[0]
    base = documents[base_name]
    problems = []
    for name, document in documents.items():
        if document["columns"] != base["columns"]:
            plain = [{k: c[k] for k in ("name", "type")} for c in document["columns"]]
            if plain != base["columns"]:
                problems.append(f"columns: {base_name} {base['columns']}, {name} {plain}")
                continue
        if len(document["rows"]) != len(base["rows"]):
            problems.append(f"rows: {base_name} {len(base['rows'])}, "
                            f"{name} {len(document['rows'])}")
            continue
        for c, column in enumerate(document["columns"]):
            digits = _DIGITS[column["read_as"].rsplit("_", 1)[1]] if "read_as" in column else None
            for r, (mine, row) in enumerate(zip(document["rows"], base["rows"])):
                theirs = row[c] if digits is None else coarser(row[c], digits)
                if type(mine[c]) is not type(theirs) or mine[c] != theirs:
                    problems.append(f"row {r} {column['name']}: {base_name} {_short(theirs)}, "
                                    f"{name} {_short(mine[c])}")
    if problems:
        more = f"\n... and {len(problems) - 20} more" if len(problems) > 20 else ""
        raise AssertionError("the Parquet readers disagree:\n" + "\n".join(problems[:20]) + more)
    return base


def _short(value):
    text = repr(value)
    return text if len(text) <= 80 else f"{text[:60]}... ({len(text)} characters)"


# ---- The readers' own check ---------------------------------------------------------------------

def _float32(x):
    return struct.unpack("<f", struct.pack("<f", x))[0]


BIG_BLOB = b"".join(hashlib.md5(str(i).encode()).digest() for i in range(65536))  # 1 MiB
NINES = "9" * 38

# Each column: name, DuckDB type, normalised type, then per row the SQL literal and the value
# every reader must give. The last row is NULL in every column but the first.
SAMPLE = [
    ("id", "INTEGER", "INT32", ["1", "2", "3", "4", "5"], ["1", "2", "3", "4", "5"]),
    ("d38", "DECIMAL(38,0)", "DECIMAL(38,0)", [NINES, "-" + NINES, "0", "1"],
     [NINES, "-" + NINES, "0", "1"]),
    ("d10", "DECIMAL(10,2)", "DECIMAL(10,2)", ["99999999.99", "-99999999.99", "0", "0.01"],
     ["99999999.99", "-99999999.99", "0.00", "0.01"]),
    ("d18", "DECIMAL(18,4)", "DECIMAL(18,4)",
     ["99999999999999.9999", "-0.0001", "12.34", "-1"],
     ["99999999999999.9999", "-0.0001", "12.3400", "-1.0000"]),
    ("d5", "DECIMAL(5,2)", "DECIMAL(5,2)", ["999.99", "-0.05", "1", "0.1"],
     ["999.99", "-0.05", "1.00", "0.10"]),
    ("s", "VARCHAR", "STRING", ["'héllo wörld ∑ 世界 🎉'", "''", "'a'", r"""E'tab\tnl\n"q"\\'"""],
     ["héllo wörld ∑ 世界 🎉", "", "a", 'tab\tnl\n"q"\\']),
    ("dbl", "DOUBLE", "DOUBLE", ["'inf'", "'-inf'", "'nan'", "'-0.0'"],
     ["Infinity", "-Infinity", "NaN", "-0"]),
    ("f", "FLOAT", "FLOAT", ["1.5", "-0.1", "3.4028235e38", "1e-45"],
     [1.5, _float32(-0.1), _float32(3.4028235e38), _float32(1e-45)]),
    ("ts_us", "TIMESTAMP", "TIMESTAMP_US",
     ["'2024-03-31 01:59:59.123456'", "'1969-12-31 23:59:59.999999'", "'0001-01-01'",
      "'9999-12-31 23:59:59.999999'"],
     ["2024-03-31T01:59:59.123456", "1969-12-31T23:59:59.999999", "0001-01-01T00:00:00.000000",
      "9999-12-31T23:59:59.999999"]),
    ("ts_ns", "TIMESTAMP_NS", "TIMESTAMP_NS",
     ["'2024-03-31 01:59:59.123456789'", "'1969-12-31 23:59:59.999999999'",
      "'2262-04-11 23:47:16.854775806'", "'1677-09-22 00:00:00.000000001'"],
     ["2024-03-31T01:59:59.123456789", "1969-12-31T23:59:59.999999999",
      "2262-04-11T23:47:16.854775806", "1677-09-22T00:00:00.000000001"]),
    ("tstz", "TIMESTAMPTZ", "TIMESTAMPTZ_US",
     ["'2024-03-31 01:59:59.123456+00'", "'1900-01-01 00:00:00.000001+00'",
      "'9999-12-31 23:59:59.999999+00'", "'1970-01-01 00:00:00+00'"],
     ["2024-03-31T01:59:59.123456Z", "1900-01-01T00:00:00.000001Z", "9999-12-31T23:59:59.999999Z",
      "1970-01-01T00:00:00.000000Z"]),
    ("dt", "DATE", "DATE", ["'2024-02-29'", "'1900-03-01'", "'0001-01-01'", "'9999-12-31'"],
     ["2024-02-29", "1900-03-01", "0001-01-01", "9999-12-31"]),
    ("b", "BLOB", "BINARY",
     [r"'\xDE\xAD\xBE\xEF'", "unhex((SELECT string_agg(md5(i::VARCHAR), '' ORDER BY i) "
      "FROM range(65536) r(i)))", "''", r"'\x00'"],
     ["0xdeadbeef", "0x" + BIG_BLOB.hex(), "0x", "0x00"]),
    ("i64", "BIGINT", "INT64", ["9223372036854775807", "-9223372036854775808", "0", "-1"],
     ["9223372036854775807", "-9223372036854775808", "0", "-1"]),
    ("bo", "BOOLEAN", "BOOLEAN", ["true", "false", "true", "false"], [True, False, True, False]),
]
ROWS = len(SAMPLE[0][3])
EXPECTED_COLUMNS = [{"name": name, "type": type_} for name, _, type_, _, _ in SAMPLE]
EXPECTED_ROWS = [[column[4][r] if r < len(column[4]) else None for column in SAMPLE]
                 for r in range(ROWS)]

# How each sample file is written: DuckDB's COPY options, and the compression it must record.
FILES = {
    "zstd.parquet": ("COMPRESSION ZSTD", "ZSTD"),
    "snappy_v2.parquet": ("COMPRESSION SNAPPY, PARQUET_VERSION V2", "SNAPPY"),
    "gzip.parquet": ("COMPRESSION GZIP", "GZIP"),
}
# Three row groups, with dictionary pages, for a reader that handles only the first.
GROUPS = ("groups.parquet", 5000, 2048)

# coarser() against what DuckDB itself gives for UTC nanoseconds (seen with DuckDB 1.5.6).
COARSER = [
    ("2024-03-31T01:59:59.123456789Z", 6, "2024-03-31T01:59:59.123456Z"),
    ("1969-12-31T23:59:59.999999999Z", 6, "1970-01-01T00:00:00.000000Z"),
    ("1969-12-31T23:59:59.999998999Z", 6, "1969-12-31T23:59:59.999999Z"),
    ("1969-12-30T23:59:59.999999999Z", 6, "1969-12-31T00:00:00.000000Z"),
    ("0001-01-01T00:00:00.000000001", 3, "0001-01-01T00:00:00.001"),
]


def make_samples(workdir):
    columns = ", ".join(f"{name} {duck}" for name, duck, _, _, _ in SAMPLE)
    values = ", ".join(
        "(" + ", ".join(column[3][r] if r < len(column[3]) else "NULL" for column in SAMPLE) + ")"
        for r in range(ROWS))
    statements = [f"CREATE TABLE sample ({columns})", f"INSERT INTO sample VALUES {values}"]
    for file, (options, _) in FILES.items():
        path = os.path.join(workdir, file).replace("'", "''")
        statements.append(f"COPY (SELECT * FROM sample ORDER BY id) TO '{path}' "
                          f"(FORMAT PARQUET, {options})")
    name, count, group = GROUPS
    path = os.path.join(workdir, name).replace("'", "''")
    statements.append(f"COPY (SELECT range::BIGINT AS n, 'key ' || (range % 7) AS k "
                      f"FROM range({count})) TO '{path}' (FORMAT PARQUET, ROW_GROUP_SIZE {group})")
    sql(*statements)


def self_check(workdir):
    failures = []

    def check(what, condition, detail=""):
        if not condition:
            failures.append(f"{what}{': ' + detail if detail else ''}")

    for text, digits, expected in COARSER:
        check(f"coarser({text}, {digits})", coarser(text, digits) == expected,
              str(coarser(text, digits)))

    make_samples(workdir)
    paths = [os.path.join(workdir, file) for file in FILES]
    for path in paths:
        try:
            document = read_agreed([path])
        except AssertionError as error:
            failures.append(f"{os.path.basename(path)}: {error}")
            continue
        check(f"{os.path.basename(path)} columns", document["columns"] == EXPECTED_COLUMNS,
              str(document["columns"]))
        for r, (row, expected) in enumerate(zip(document["rows"], EXPECTED_ROWS)):
            for column, value, want in zip(EXPECTED_COLUMNS, row, expected):
                check(f"{os.path.basename(path)} row {r} {column['name']}",
                      type(value) is type(want) and value == want,
                      f"{_short(value)}, not {_short(want)}")
        check(f"{os.path.basename(path)} row count", len(document["rows"]) == ROWS)

    together = read_agreed(paths[:2])
    check("two files read as one", together["rows"] == EXPECTED_ROWS * 2,
          f"{len(together['rows'])} rows")

    name, count, group = GROUPS
    groups = read_agreed([os.path.join(workdir, name)])
    check(name, groups["rows"] == [[str(n), f"key {n % 7}"] for n in range(count)])

    # The metadata mode, on what DuckDB was asked to write.
    for file, (_, compression) in FILES.items():
        meta = metadata(os.path.join(workdir, file))
        check(f"{file} num_rows", meta["file"][0]["num_rows"] == ROWS)
        chunks = {m["path_in_schema"]: m for m in meta["metadata"]}
        check(f"{file} compression", {m["compression"] for m in chunks.values()} == {compression},
              str({m["compression"] for m in chunks.values()}))
        check(f"{file} null counts", all(m["stats_null_count"] == (c != "id")
                                         for c, m in chunks.items()))
        check(f"{file} d38 range", (chunks["d38"]["stats_min_value"],
                                    chunks["d38"]["stats_max_value"]) == ("-" + NINES, NINES))
        types = {s["name"]: s["logical_type"] for s in meta["schema"]}
        check(f"{file} ts_ns logical type", "NANOS=NanoSeconds()" in (types["ts_ns"] or ""),
              str(types["ts_ns"]))
    meta = metadata(os.path.join(workdir, name))
    sizes = sorted({(m["row_group_id"], m["row_group_num_rows"]) for m in meta["metadata"]})
    check(f"{name} row groups", sizes == [(0, group), (1, group), (2, count - 2 * group)],
          str(sizes))

    for failure in failures:
        print(f"FAILED {failure}")
    print(f"parquet readers: {len(failures)} failed checks on {len(paths) + 1} files")
    return 1 if failures else 0


def main():
    options = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    options.add_argument("--workdir", required=True)
    args = options.parse_args()
    if node() is None:
        print("SKIPPED: no node program, which the Parquet readers run on")
        return SKIP
    shutil.rmtree(args.workdir, ignore_errors=True)
    os.makedirs(args.workdir)
    try:
        return self_check(os.path.abspath(args.workdir))
    except AssertionError as error:
        print(f"FAILED {error}")
        return 1


if __name__ == "__main__":
    sys.exit(main())
