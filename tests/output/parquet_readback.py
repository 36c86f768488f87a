#!/usr/bin/env python3
"""Unloads a table of hard values to Parquet and has three readers no one here wrote read every
file back: each value and each type must be the source's, with every codec. A parallel unload
and a resumed plan must give the serial unload's rows; Parquet refuses outputs it cannot write.

    parquet_readback.py --binary BUILD/rowflume --workdir DIR
"""
import argparse
import os
import shutil
import sqlite3
import subprocess
import sys

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(SOURCE, "tests", "readers"))
import parquet_readers  # noqa: E402

BLOB = bytes(range(256)) * 4096  # 1 MiB
NINES = "9" * 38

# (declared type, expected reader type, then per row: value stored, value read back)
COLUMNS = [
    ("'NUMBER(38,0) AS TEXT'", "DECIMAL(38,0)", [(NINES, NINES), ("-" + NINES, "-" + NINES)]),
    ("'NUMBER(10,2)'", "DECIMAL(10,2)", [(12.5, "12.50"), (-0.01, "-0.01")]),
    ("'NUMBER(18,0)'", "DECIMAL(18,0)", [(-123456789012345678, "-123456789012345678"), (0, "0")]),
    ("'NUMBER AS TEXT'", "STRING",
     [("1E125", "1" + "0" * 125), ("1E-130", "." + "0" * 129 + "1")]),
    ("'NUMBER AS TEXT'", "STRING",
     [("-1234567890123456789012345678901234567890", "-1234567890123456789012345678901234567890"),
      ("0.5", ".5")]),
    ("FLOAT", "STRING", [(1.5, "1.5"), (-2.25e-10, "-.000000000225")]),
    ("BINARY_DOUBLE", "DOUBLE", [("Inf", "Infinity"), ("-Inf", "-Infinity")]),
    ("BINARY_DOUBLE", "DOUBLE", [("Nan", "NaN"), (0.1, 0.1)]),
    ("BINARY_FLOAT", "FLOAT", [(1.5, 1.5), (-2, -2.0)]),
    ("DATE", "TIMESTAMP_US",
     [("2024-03-31 01:59:59", "2024-03-31T01:59:59.000000"),
      ("1899-12-31 23:59:59", "1899-12-31T23:59:59.000000")]),
    ("TIMESTAMP(9)", "TIMESTAMP_NS",
     [("2024-03-31 01:59:59.123456789", "2024-03-31T01:59:59.123456789"),
      ("1999-12-31 23:59:59", "1999-12-31T23:59:59.000000000")]),
    ("'TIMESTAMP(6) WITH TIME ZONE'", "TIMESTAMPTZ_US",
     [("2024-03-31 01:59:59.5 +01:00", "2024-03-31T00:59:59.500000Z"),
      ("2024-03-31 03:00:00 +02:00", "2024-03-31T01:00:00.000000Z")]),
    # Stored in UTC (or with an offset); the client's zone below must not move the instant.
    ("'TIMESTAMP(6) WITH LOCAL TIME ZONE'", "TIMESTAMPTZ_US",
     [("2024-03-31 00:59:59.5", "2024-03-31T00:59:59.500000Z"),
      ("2024-03-31 01:00:00 +02:00", "2024-03-30T23:00:00.000000Z")]),
    ("VARCHAR2(40)", "STRING", [("héllo wörld ✓", "héllo wörld ✓"), ("a,\"b\"\n", "a,\"b\"\n")]),
    ("RAW(8)", "BINARY", [(b"\x00\xff'", "0x00ff27"), (b"", "0x")]),
    ("BLOB", "BINARY", [(BLOB, "0x" + BLOB.hex()), (b"\x01", "0x01")]),
]


def run(binary, *items, cwd, status=0, env=None):
    done = subprocess.run([binary, *items], cwd=cwd, capture_output=True, text=True,
                          env=None if env is None else {**os.environ, **env})
    if done.returncode != status:
        sys.exit(f"{' '.join(items)} ended with {done.returncode}, not {status}:\n"
                 f"{done.stdout}{done.stderr}")
    return done


def make_table(path):
    names = [f"C{idx}" for idx in range(len(COLUMNS))]
    with sqlite3.connect(path) as db:
        db.execute("CREATE TABLE H(" + ", ".join(
            f"{name} {declared}" for name, (declared, _, _) in zip(names, COLUMNS)) + ")")
        marks = ", ".join("?" * len(COLUMNS))
        for row_idx in range(2):
            db.execute(f"INSERT INTO H VALUES ({marks})",
                       [values[row_idx][0] for _, _, values in COLUMNS])
        db.execute(f"INSERT INTO H VALUES ({marks})", [None] * len(COLUMNS))
    expected = [[values[row_idx][1] for _, _, values in COLUMNS] for row_idx in range(2)]
    return names, expected + [[None] * len(COLUMNS)]


def check_hard_values(binary, work, user):
    names, expected = make_table(os.path.join(work, "hard.db"))
    for codec in ("ZSTD", "SNAPPY", "NONE"):
        name = f"hard_{codec}.parquet"
        run(binary, user + "hard.db", "query=H", f"file={name}", f"compress={codec}", "long=2097152",
            cwd=work, env={"ORA_SDTZ": "+05:30"})
        document = parquet_readers.read_agreed([os.path.join(work, name)])
        types = [(column["name"], column["type"]) for column in document["columns"]]
        assert types == list(zip(names, [t for _, t, _ in COLUMNS])), types
        for row_idx, (got, want) in enumerate(zip(document["rows"], expected)):
            for name_, value, wanted in zip(names, got, want):
                assert value == wanted, f"{codec} row {row_idx} {name_}: {value!r} != {wanted!r}"
        meta = parquet_readers.metadata(os.path.join(work, name))
        assert {row["compression"] for row in meta["metadata"]} == {codec.replace("NONE",
                                                                                  "UNCOMPRESSED")}
        assert any(row["key"] == "rowflume.query" for row in meta["kv"]), meta["kv"]


def check_parallel_and_resume(binary, work, user):
    subprocess.run([os.path.join(SOURCE, "tools", "make_demo_db.sh"),
                    os.path.join(work, "orders.db"), "30000"], check=True, capture_output=True)
    db = user + "orders.db"
    run(binary, db, "query=ORDERS", "file=serial.parquet", "rowgroup=1", cwd=work)
    serial = sorted(parquet_readers.read_agreed([os.path.join(work, "serial.parquet")])["rows"],
                    key=repr)
    run(binary, db, "split=ORDERS", "degree=4", "file=par_%p.parquet", cwd=work)
    run(binary, db, "split=ORDERS", "degree=2", "scn=current", "plan=o.plan", cwd=work)
    unload = [db, "plan=o.plan", "pieces=1-2", "file=res_%p.parquet", "manifest=m.json",
              "resume=yes"]
    run(binary, *unload[:2], "pieces=2", *unload[3:], cwd=work)  # a first run of one piece
    run(binary, *unload, cwd=work)  # the resumed run does the other
    run(binary, "verify=m.json", cwd=work)
    for stem in ("par_", "res_"):
        files = sorted(os.path.join(work, f) for f in os.listdir(work) if f.startswith(stem))
        assert len(files) >= 2, files
        rows = sorted(parquet_readers.read_agreed(files)["rows"], key=repr)
        assert rows == serial, f"{stem} files differ from the serial unload"
    with open(os.path.join(work, "res_2.parquet"), "r+b") as damaged:
        damaged.truncate(os.path.getsize(damaged.name) - 1)
    assert "res_2.parquet" in run(binary, "verify=m.json", cwd=work, status=11).stdout


def check_refusals(binary, work, user):
    for items in (["text=PARQUET", "file=-"], ["text=PARQUET", "file=-cat >x.parquet"],
                  ["file=+a.parquet"], ["file=a.parquet", "control=a.ctl"],
                  ["file=a.parquet", "charset=WE8ISO8859P1"], ["file=a.parquet", "compress=lz4"],
                  ["file=a.parquet", "number=float"], ["text=CSV", "file=a.csv", "compress=zstd"],
                  ["file=a.parquet", "alter=set time_zone='+01:00'"]):
        run(binary, user + "hard.db", "query=H", *items, cwd=work, status=4)


def main():
    options = argparse.ArgumentParser()
    options.add_argument("--binary", required=True)
    options.add_argument("--workdir", required=True)
    args = options.parse_args()
    if parquet_readers.node() is None:
        print("SKIPPED: node is not installed")
        return 77
    binary = os.path.abspath(args.binary)
    work = os.path.abspath(args.workdir)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    user = "user=scott/tiger@sqlite:"
    check_hard_values(binary, work, user)
    check_refusals(binary, work, user)
    check_parallel_and_resume(binary, work, user)
    print("parquet read back by three readers: hard values, codecs, parallel, resume, refusals")
    return 0


if __name__ == "__main__":
    sys.exit(main())
