#!/usr/bin/env python3
"""Differential round-trip property test: generated tables unloaded with drawn options, every
output read back by a real parser and compared with the source.

    roundtrip_property.py --binary build/release/rowflume [--workdir DIR] [--keep] [--verbose]
        [--seeds 1-200 | --seed 1234 | --soak-minutes 30]

Each seed draws, through random.Random(seed), one combination of options and one or two tables,
runs the program as separate processes in a fresh folder, reads back every data file the runs
left there (and what they wrote to standard output) and checks:
  (1) when every run exits with status 0, the rows read back are the source rows, each exactly
      once (multisets of typed values), and a first unload's files, LOB files included, still
      read back to its own rows after a second unload into the same folder;
  (2) when that does not hold, some run must have exited non-zero. Such a refusal is counted,
      not failed; a crash, a hang or a non-zero status without any message fails.
Without --seeds, --seed or --soak-minutes the fixed set runs: REGRESSION_SEEDS and 1..FIXED_SEEDS.
Exits 0 when no seed failed, 1 otherwise.
"""
import argparse
import csv
import functools
import io
import os
import random
import re
import shutil
import sqlite3
import subprocess
import sys
import time
from collections import Counter
from dataclasses import dataclass, field as dc_field
from decimal import Decimal
from pathlib import Path

FIXED_SEEDS = 300
# Seeds that caught a fault, run on every test run; the line says what each caught.
REGRESSION_SEEDS = {
    159: "a separator given as raw white space on the command line (record=LF) was dropped",
    8: "fixed records, the separator from a parameter file: an empty one was taken in silence",
    157: "text=ORACLEINS text=MYSQL: the first preset's items outlived the second one",
    145: "a -- comment in a query continued over parameter file lines swallowed its WHERE",
    492: "a second unload's LOB files replaced those the first unload's data names",
    410: "fixed layout, Latin-1 database: text grown to UTF-8 was cut to the column's bytes",
    704: "text=ORACLEINS with a query and no table= wrote INSERT INTO  (...) with status 0",
    1132: "fixed layout: NVARCHAR2 text of 3-byte characters was cut to two bytes a character",
    258: "a query reading its range with BETWEEN read the row at a range's bound twice",
    203: "record= empty in a parameter file ran the appended rows into each other",
}

MARIADB_SCRIPT = Path(__file__).resolve().parent.parent / "output" / "mariadb_server.sh"
NUMBERS, TEXTS, BINARIES = ("int", "dec", "big"), ("text", "ntext", "clob"), ("raw", "blob")
LOBS = ("clob", "blob")
PRESETS = {"csv": "CSV", "mysql": "MYSQL", "mysqlins": "MYSQLINS", "oracleins": "ORACLEINS",
           "form": "FORM", "search": "SEARCH"}


class ReadError(Exception):
    """An output that its layout's parser cannot read back."""


@dataclass
class Layout:
    """What a run is asked to write, and how its output is read back."""
    family: str  # delim, mysql, mysqlins, oracleins, fixed, form, search
    items: list = dc_field(default_factory=list)
    field: bytes = b","
    record: bytes = b"\n"
    quote: bytes = b""
    escape: bytes = b""
    null: bytes = b""
    head: bool = False
    stdout_default: bool = False  # the preset writes to standard output unless file= says not
    avoid: frozenset = frozenset()  # bytes that values must not hold for the layout to carry them
    sed: bytes = None  # bytes.maketrans table of sedf/sedt
    lob: bool = False

    @property
    def null_distinct(self):  # can the read-back tell NULL from ''?
        return self.family in ("mysql", "mysqlins", "oracleins", "form") or self.null != b""


@dataclass
class Column:
    name: str
    decl: str
    kind: str
    size: object = 0  # bytes (UTF-16 units for NVARCHAR2) of text and RAW, (p, s), fraction digits


@dataclass
class Table:
    name: str
    columns: list
    rows: list  # Python values: Decimal, str, bytes, None


@dataclass
class Unload:
    table: Table
    lay: Layout
    keep: object  # does the unload write this source row
    runs: list = dc_field(default_factory=list)  # items of each process; "pieces=*" from the plan
    parfiles: dict = dc_field(default_factory=dict)
    stdout: bool = False
    append: bool = False
    pattern: str = None
    pieces_seed: int = 0
    client: bool = False


def spell(rng, data, raw_ok=True):
    """A decoded option value as a user may write it: 0x codes, or the bytes themselves."""
    raw = 0.08 if set(data) & set(b" \t\r\n") else 0.5
    printable = all(32 < b < 127 or b in b" \t\r\n" for b in data)
    if raw_ok and data and b"0" not in data and printable and rng.random() < raw:
        return data.decode()
    return "".join(f"0x{b:02x}" for b in data)


def par_line(item):
    """An item as a parameter file line can hold it: a line ends at CR or LF, and trailing blanks
    go but for a value of blanks alone, so such raw separators are written as 0x codes."""
    key, _, value = item.partition("=")
    if re.search(r"[\r\n]", value) or (value != value.rstrip(" \t") and value.strip(" \t")):
        return key + "=" + "".join(f"0x{b:02x}" for b in value.encode())
    return item


# Layout families. The restrictions each puts on the generated values (Layout.avoid and the
# notes below) are what its output can carry back unambiguously, not what the program refuses:
# - delimited text without quote and escape: no value holds the field separator, CR or LF;
# - with a quote but no escape: no value holds the quote (it would be written bare inside it);
# - escapes map each escaped byte to itself (escf = esct): Python's csv module drops the escape
#   character and keeps the byte, so an escape that writes a letter (LF as "n") is read by
#   MariaDB (text=MYSQL) only; field separators are single bytes, records LF or CR LF (what the
#   csv module reads);
# - the null text is never a value; with an empty null text, NULL and '' both read as empty;
# - the fixed layout pads with blanks: no value ends in a blank, and CLOB/BLOB columns (32768
#   bytes a record inline) are drawn with lob=FILE only; a query that is not a bare table name
#   gets table= there (the control file giving the positions is written for a named table), and
#   mostly in the INSERT layouts too;
# - FORM puts every field on a line: no value holds LF; SEARCH ends fields with 0x01 LF: no
#   value holds 0x01, and NULL and '' both read as empty;
# - MYSQLINS: MariaDB keeps decimal literals to 65 digits, 30 after the point, so no tiny or
#   huge numbers are drawn there; ORACLEINS numbers are read by SQLite, at double precision;
# - sedf/sedt translate lower-case letters g-z only (no hex digit, no part of a separator), and
#   neither in the INSERT layouts, whose hex texts make the translated value of binary unclear,
#   nor with lob=FILE, where what a translation does to a value in a file of its own is open.
def draw_layout(rng):
    family = rng.choices(list(PRESETS) + ["delim", "fixed"], [18, 10, 8, 10, 8, 8, 24, 14])[0]
    lay = Layout("delim" if family == "csv" else family)
    if family in PRESETS:
        lay.items.append(f"text={PRESETS[family]}")
        if rng.random() < 0.06:  # a preset given twice: the last must win
            others = [p for p in PRESETS.values() if p != PRESETS[family]]
            lay.items.insert(0, "text=" + rng.choice(others))
    if family == "csv":
        lay.quote, lay.escape, lay.head = b'"', b'"', True
    elif family == "mysql":
        lay.quote, lay.escape, lay.null = b'"', b"\\", b"\\N"
    elif family in ("mysqlins", "oracleins"):
        lay.null, lay.stdout_default = b"null", True
    elif family == "form":
        lay.field, lay.record, lay.null, lay.stdout_default = b"\n", b"\n\n", b"(null)", True
        lay.avoid = frozenset(b"\n")
    elif family == "search":
        lay.field, lay.record, lay.avoid = b"\x01\n", b"\x01\n", frozenset(b"\x01")
    elif family == "fixed":
        lay.field, lay.record = b" ", rng.choice([b"\n", b"\r\n"])
        lay.items += ["field=" + spell(rng, lay.field), "record=" + spell(rng, lay.record)]
        lay.items += ["head=yes"] if rng.random() < 0.2 else []  # the fixed layout has no header
    if family in ("delim", "csv"):
        if family == "delim" or rng.random() < 0.3:
            lay.field = rng.choice([b",", b";", b"|", b"\t", b"\x1f"])
            lay.record = rng.choice([b"\n", b"\r\n"])
            lay.items += ["field=" + spell(rng, lay.field), "record=" + spell(rng, lay.record)]
        if family == "delim":
            lay.quote = rng.choice([b"", b'"', b"'"])
            lay.escape = rng.choice([b"", b"\\", lay.quote])
            lay.items += [f"{key}={spell(rng, value)}" for key, value
                          in (("quote", lay.quote), ("escape", lay.escape)) if value]
            if lay.escape and lay.escape != lay.quote:
                escaped = spell(rng, lay.field + b"\r\n" + lay.quote, raw_ok=False)
                lay.items += ["escf=" + escaped, "esct=" + escaped]
            if not lay.escape:
                lay.avoid = frozenset(lay.quote or lay.field + b"\r\n")
        if rng.random() < 0.4:
            lay.head = not lay.head
            lay.items.append("head=" + ("yes" if lay.head else "no"))
    if family in ("delim", "csv", "fixed") and rng.random() < 0.4:
        lay.null = rng.choice([b"", b"~"] + ([b"NULL"] if family != "fixed" else []))
        lay.items.append("null=" + spell(rng, lay.null))
    lay.lob = rng.random() < (0.2 if family == "fixed" else 0.15)
    if family not in ("mysqlins", "oracleins") and not lay.lob and rng.random() < 0.12:
        letters = "".join(rng.sample("ghijklmnopqrstuvwxyz", 2 * rng.randint(1, 3)))
        half = len(letters) // 2
        lay.sed = bytes.maketrans(letters[:half].encode(), letters[half:].encode())
        lay.items += ["sedf=" + letters[:half], "sedt=" + letters[half:]]
    return lay


FRAGMENTS = ["a", "word", "ghost", "quiz", "x y", " ", ",", ";", "|", "\t", '"', "'", "\\", "\r",
             "\n", "\r\n", "=", "<DOC>", "%p", "0x41", "-- x"]


@functools.lru_cache
def fragment_pool(structure, avoid, latin1, national):
    """Text pieces, the layout's own separators among them, without the bytes it cannot carry;
    national text is mostly characters of two UTF-8 bytes or more."""
    wide = "éüßÿ£Ä" if latin1 else "ü€中😀éħ" * (5 if national else 1)
    return [p for p in FRAGMENTS + [chr(b) for b in structure] + list(wide)
            if not set(p.encode()) & avoid]


def draw_text(rng, col, lay, latin1, pieces):
    national = col.kind == "ntext"
    pool = fragment_pool(lay.field + lay.record + lay.quote + lay.escape, lay.avoid,
                         latin1 and not national, national)
    text = "".join(rng.choice(pool) for _ in range(rng.randint(1, pieces)))
    if col.size == 400:  # wide columns: bytes enough for size=1 to split
        text *= 400 // len(text.encode()) + 1
    if national:  # the declared size counts UTF-16 code units
        text = text.encode("utf-16-le")[:2 * col.size].decode("utf-16-le", errors="ignore")
    elif col.size:  # the declared size holds bytes of the database's set
        charset = "latin-1" if latin1 else "utf-8"
        text = text.encode(charset)[:col.size].decode(charset, errors="ignore")
    if lay.family == "fixed":
        text = text.rstrip(" ")
    return text + "q" if text.encode() == lay.null else text


def draw_value(rng, col, lay, latin1, big_clob, sparse):
    roll = rng.random()
    if roll < (0.95 if sparse and col.kind in LOBS else 0.08):
        return None
    if roll < 0.14 and col.kind in TEXTS + BINARIES:
        return "" if col.kind in TEXTS else b""
    if col.kind == "int":
        return Decimal(rng.randint(-10 ** col.size + 1, 10 ** col.size - 1))
    if col.kind == "dec":
        precision, scale = col.size
        return Decimal(rng.randint(-10 ** precision + 1, 10 ** precision - 1)).scaleb(-scale)
    if col.kind == "big":  # 40 digits fill 20 base-100 digits when the point falls between pairs
        digits = "9" + "".join(rng.choice("0123456789") for _ in range(39))
        sign = rng.choice(["", "-"])
        shapes = [digits, digits[:10] + "." + digits[10:], "0", "0.5"]
        shapes += [] if lay.family == "mysqlins" else ["1e-129", "1e125"]
        return Decimal(sign + rng.choice(shapes))
    if col.kind in TEXTS:
        pieces = 20000 if big_clob else 60 if col.size in (0, 200, 400) else 8
        return draw_text(rng, col, lay, latin1, pieces)
    if col.kind in BINARIES:
        length = rng.randint(1, col.size if col.kind == "raw" else 300)
        value = bytes(b for b in rng.randbytes(length)
                      if b not in lay.avoid or lay.lob and col.kind == "blob")
        value = value.rstrip(b" ") if lay.family == "fixed" else value
        return value + b"q" if value == lay.null else value
    year = rng.choice([1, 99, 1000, 1582, 1899, 1970, 2000, 2024, 9999, rng.randint(1, 9999)])
    text = f"{year:04d}-{rng.randint(1, 12):02d}-{rng.randint(1, 28):02d} " \
           f"{rng.randint(0, 23):02d}:{rng.randint(0, 59):02d}:{rng.randint(0, 59):02d}"
    if col.kind == "ts" and col.size:
        text += "." + "".join(rng.choice("0123456789") for _ in range(rng.randint(1, col.size)))
    return text


def draw_column(rng, idx, kind):
    name, size = f"{kind[0].upper()}{idx}", 0
    if kind == "dec":
        precision = rng.choice([5, 10, 15])
        size = (precision, rng.randint(1, 6))
        decl = f"NUMBER({precision},{size[1]})"
    elif kind == "ts":
        digits = rng.choice([0, 3, 6, 9, None])
        size = 6 if digits is None else digits
        decl = "TIMESTAMP" if digits is None else f"TIMESTAMP({digits})"
    elif kind in ("int", "text", "ntext", "raw"):
        sizes = {"int": [3, 10, 15], "text": [10, 40, 200], "ntext": [10, 40], "raw": [4, 16, 100]}
        size = rng.choice(sizes[kind])
        decl = {"int": "NUMBER", "text": "VARCHAR2", "ntext": "NVARCHAR2", "raw": "RAW"}[kind]
        decl += f"({size})"
    else:
        decl = {"big": "'NUMBER AS TEXT'", "date": "DATE", "clob": "CLOB", "blob": "BLOB"}[kind]
    return Column(name, decl, kind, size)


def draw_table(rng, name, lay, latin1, rows, wide):
    kinds = ["int", "dec", "big", "text", "text", "ntext", "date", "ts", "raw"]
    kinds += ["clob", "blob"] if lay.family != "fixed" or lay.lob else []
    columns = [Column("ID", "NUMBER(10)", "int", 9)]
    count = rng.randint(2, 6) if rows < 5000 else 2
    columns += [draw_column(rng, idx, rng.choice(kinds)) for idx in range(count)]
    if lay.lob and not any(c.kind in LOBS for c in columns):
        columns.append(draw_column(rng, len(columns), rng.choice(LOBS)))
    if wide:
        columns += [Column(f"W{k}", "VARCHAR2(400)", "text", 400) for k in (1, 2)]
    big_clob = rng.random() < 0.05  # one CLOB past the 32768 bytes fetched inline
    values = [[Decimal(row_idx + 1)] + [draw_value(rng, col, lay, latin1, big_clob and row_idx == 0,
                                                   rows > 3000) for col in columns[1:]]
              for row_idx in range(rows)]
    return Table(name, columns, values)


def draw_unload(rng, table, lay, mode, prefix="", presql=None, pattern="", client=None):
    name, limit = table.name, len(table.rows) // 2 + 1
    items, multiline = ["user=scott/tiger@sqlite:../src.db"], None
    keep = lambda row: presql is None or int(row[0]) % presql[0] != presql[1]
    if mode == "serial":
        shape = rng.choices(["bare", "select", "where", "multiline"], [40, 20, 30, 10])[0]
        if shape == "bare":
            items.append(f"query={rng.choice([name, name.lower()])}")
        elif shape == "select":
            items.append(f"query=select * from {name}")
        else:
            keep = lambda row, kept=keep: kept(row) and row[0] <= limit
            lines = ["query=select *", f"  from {name}", f"  where ID <= {limit}"]
            if shape == "where":
                items.append(" ".join(line.strip() for line in lines))
            else:  # over several lines of a parameter file, one of them ending in a comment
                lines[rng.randrange(2)] += " -- " + rng.choice(["all columns", "the table"])
                multiline = "\n".join(lines)
        if shape != "bare" and (lay.family == "fixed" or lay.family in ("mysqlins", "oracleins")
                                and rng.random() < 0.85):
            items.append(f"table={name}")
    else:
        items += [f"split={rng.choice([name, 'SCOTT.' + name])}", f"degree={rng.randint(2, 4)}"]
        if rng.random() < 0.3:
            items.append(f"query=select * from {name} where rowid between :minrid and :maxrid")
    source_items = len(items)  # a plan's pieces take the table from the plan, never from a parfile
    items += lay.items
    if len(table.rows) > 2000 and rng.random() < 0.2:
        items += ["batch=yes", f"rows={rng.randint(1000, len(table.rows) // 2)}"]
    items += ["size=1"] if any(c.size == 400 for c in table.columns) else []
    items += [f"array={rng.choice([5, 7, 100, 999, 2000])}"] if rng.random() < 0.3 else []
    drawn = rng.random() < 0.15
    client = drawn if client is None else client  # an appended unload keeps the fixed widths
    items += ["client=yes"] if client else []
    if any(isinstance(v, str) and len(v) > 16384 for v in table.rows[0]) and rng.random() < 0.5:
        items.append("long=2097152")  # a CLOB past the 32768 bytes fetched inline by default
    items += ["lob=FILE", f"lobdir={rng.choice([8, 16])}"] if lay.lob else []
    items += [f"presql=delete from {name} where ID % {presql[0]} = {presql[1]}"] if presql else []
    if pattern == "":
        choices = ["o%p%b.txt", "d%p1_%b.dat", "o%b.txt", "%p_%t_%b.csv", "-cat > out_%p_%b.txt"]
        if mode == "serial":
            choices += ["plain.txt", "-", "o%t.txt"] + ([None] if not prefix else [])
        choices += ["-cat > cmd.txt"] if rng.random() < 0.1 else []  # one command, several files
        choices += ["same.txt"] if rng.random() < 0.05 else []  # pieces, batches must not collide
        pattern = rng.choice(choices)
        if pattern not in (None, "-"):  # the second unload's names are its own
            command = pattern[0] == "-"
            pattern = pattern.replace("> ", "> " + prefix) if command else prefix + pattern
    items += [] if pattern is None else ["file=" + pattern]
    stdout = pattern == "-" or pattern is None and lay.stdout_default
    unload = Unload(table, lay, keep, stdout=stdout, pattern=pattern, client=client)
    if rng.random() < 0.3 or multiline:  # a slice of the items goes into a parameter file
        start = rng.randrange(1 if mode == "serial" else source_items, len(items))
        end = rng.randint(start, len(items))
        par = f"../{prefix}p{start}.par"
        lines = [par_line(item) for item in items[start:end]]
        unload.parfiles[par] = "\n".join(lines + [multiline] * bool(multiline)) + "\n"
        items[start:end] = [f"parfile={par}"]
    unload.runs = [items]
    if mode == "plan":
        pieces = [i for i in items if not i.startswith(("split=", "degree="))]
        unload.runs = [items[:source_items] + ["plan=../plan.txt"],
                       pieces + ["plan=../plan.txt", "pieces=*"]]
        unload.pieces_seed = rng.randrange(1 << 30)
    return unload


def draw_case(seed):
    rng = random.Random(seed)
    latin1 = rng.random() < 0.15
    lay = draw_layout(rng)
    mode = rng.choices(["serial", "parallel", "plan"], [60, 22, 18])[0]
    wide = lay.family != "mysqlins" and rng.random() < 0.08  # MariaDB is slow on 4 MB of INSERTs
    # Over 8192 rows (one extent) for a split into pieces; over 4 MB of output for size=1 to split.
    rows = rng.choice([3, 10, 60, 200, 2500] if mode == "serial" else [8300, 9000, 17000])
    table = draw_table(rng, "T1", lay, latin1, max(rows, 5500) if wide else rows, wide)
    presql = (rng.randint(2, 7), rng.randint(0, 1)) if rng.random() < 0.12 else None
    unloads = [draw_unload(rng, table, lay, mode, presql=presql)]
    second, pattern = rng.random(), unloads[0].pattern
    if second < 0.12 and pattern and pattern[0] not in "-+":
        # The same pattern again, appended: a header line only on top of each file.
        unloads.append(draw_unload(rng, table, lay, mode, "a2_", presql, "+" + pattern,
                                   unloads[0].client))
        unloads[1].append = True
    elif second < 0.3:  # another table into the same folder
        lay2 = draw_layout(rng)
        lay2.lob = lay2.lob or lay.lob and rng.random() < 0.5 and lay2.family != "fixed" \
            and not lay2.sed
        table2 = draw_table(rng, "T2", lay2, latin1, rng.choice([3, 30, 300]), False)
        unloads.append(draw_unload(rng, table2, lay2, "serial", prefix="u2_"))
    return latin1, unloads


# Running.

def create_database(path, latin1, tables):
    def stored(col, value):
        if value is None or col.kind in BINARIES:
            return value
        if col.kind in NUMBERS:
            return format(value, "f")
        return value.encode("latin-1") if latin1 and col.kind in ("text", "clob") else value

    db = sqlite3.connect(path)
    if latin1:
        db.execute("CREATE TABLE rowflume_settings(name, value)")
        db.execute("INSERT INTO rowflume_settings VALUES ('NLS_CHARACTERSET', 'WE8ISO8859P1')")
    for table in tables:
        columns = ", ".join(c.name + " " + c.decl for c in table.columns)
        db.execute(f"CREATE TABLE {table.name} ({columns})")
        marks = ", ".join("CAST(? AS TEXT)" if latin1 and c.kind in ("text", "clob") else "?"
                          for c in table.columns)
        db.executemany(f"INSERT INTO {table.name} VALUES ({marks})",
                       [[stored(c, v) for c, v in zip(table.columns, row)] for row in table.rows])
    db.commit()
    db.close()


def data_files(out):
    """Every file the runs left in the output folder but control files and LOB folders."""
    return [p for p in sorted(out.rglob("*")) if p.is_file() and p.suffix != ".ctl"
            and not re.fullmatch(r"LOB[0-9A-Fa-f]+", p.relative_to(out).parts[0])]


def piece_groups(seed, count):
    """The plan's pieces shared out over processes, each given as a list such as 1,3 or 2-4."""
    rng = random.Random(seed)
    numbers = rng.sample(range(1, count + 1), count)
    groups = []
    while numbers:
        take = rng.randint(1, len(numbers))
        group, numbers = sorted(numbers[:take]), numbers[take:]
        ranged = group == list(range(group[0], group[-1] + 1)) and rng.random() < 0.5
        groups.append(f"{group[0]}-{group[-1]}" if ranged else ",".join(map(str, group)))
    return groups


def described(items, parfiles):
    """A run as a shell would take it, with the parameter files it reads."""
    words = " ".join(repr(i) if re.search(r"[\s\"'\\]", i) else i for i in items)
    return words + "".join(f" [{n}: {t!r}]" for n, t in parfiles.items() if f"parfile={n}" in items)


def run_case(seed, binary, workdir, mariadb):
    """('ok' | 'refused' | 'skipped' | 'failed', what to print)."""
    latin1, unloads = draw_case(seed)
    if any(u.lay.family in ("mysql", "mysqlins") for u in unloads) and not mariadb.available():
        return "skipped", "MariaDB is not installed (text=MYSQL, MYSQLINS)"
    case_dir = workdir / f"seed_{seed}"
    shutil.rmtree(case_dir, ignore_errors=True)
    out = case_dir / "out"
    out.mkdir(parents=True)
    create_database(case_dir / "src.db", latin1, {id(u.table): u.table for u in unloads}.values())
    ran, snapshots, outputs = [], [], []
    for unload in unloads:
        for name, text in unload.parfiles.items():
            (out / name).write_text(text)
        runs, mine = list(unload.runs), []
        while runs:
            items = runs.pop(0)
            if "pieces=*" in items:
                count = re.search(r"^PIECES=(\d+)$", (case_dir / "plan.txt").read_text(), re.M)
                if not count:
                    return "failed", "the plan run ended with status 0 but its plan names no PIECES"
                runs[:0] = [[i for i in items if i != "pieces=*"] + [f"pieces={group}"]
                            for group in piece_groups(unload.pieces_seed, int(count.group(1)))]
                continue
            ran.append(described(items, unload.parfiles))
            try:
                done = subprocess.run([binary] + items, cwd=out, capture_output=True, timeout=120)
            except subprocess.TimeoutExpired:
                return "failed", f"a run did not end within 120 s: {ran[-1]}"
            message = (done.stdout + done.stderr).decode(errors="replace").strip()
            if done.returncode < 0 or done.returncode and not message:
                return "failed", f"status {done.returncode} without a message: {ran[-1]}"
            if done.returncode:
                return "refused", f"status {done.returncode}: {message.splitlines()[-1][:160]}"
            if unload.stdout:
                mine.append(case_dir / f"stdout_{len(outputs)}_{len(mine)}.out")
                mine[-1].write_bytes(done.stdout)
        outputs.append(mine)
        snapshots.append(data_files(out))
    if len(unloads) == 2 and unloads[1].append:
        groups = [(snapshots[1] + outputs[0] + outputs[1], unloads)]
    else:
        groups = [(snapshots[0] + outputs[0], unloads[:1])]
        if len(unloads) == 2:  # the first unload's files must still hold its rows after the second
            new = [p for p in snapshots[1] if p not in snapshots[0]]
            groups.append((new + outputs[1], unloads[1:]))
    for files, owners in groups:
        problem = check_files(files, owners, out, mariadb)
        if problem:
            return "failed", problem + "\n    runs: " + "\n          ".join(ran)
    return "ok", ""


# Reading back: each reader gives the rows of one file as lists of fields, each field bytes or
# None (the layout's NULL), or an int or float where SQLite read a number.

def null_or(lay, row):
    return [None if lay.null and f == lay.null else f for f in row]


def read_delimited(path, lay, table, out, mariadb):
    options = {"delimiter": lay.field.decode("latin-1"), "strict": True}
    if lay.quote:
        options.update(quotechar=lay.quote.decode("latin-1"), doublequote=lay.escape == lay.quote)
    else:
        options["quoting"] = csv.QUOTE_NONE
    if lay.escape and lay.escape != lay.quote:
        options["escapechar"] = lay.escape.decode("latin-1")
    text = io.StringIO(path.read_bytes().decode("latin-1"), newline="")
    try:
        rows = [[f.encode("latin-1") for f in row] for row in csv.reader(text, **options)]
    except csv.Error as error:
        raise ReadError(f"csv: {error}")
    if lay.head and rows:
        if rows[0] != [c.name.encode() for c in table.columns]:
            raise ReadError(f"header {rows[0]!r:.300}")
        rows = rows[1:]
    return [null_or(lay, row) for row in rows]


def read_mariadb(path, lay, table, out, mariadb):
    """text=MYSQL through LOAD DATA, MYSQLINS by running the statements; each column a LONGBLOB."""
    names = [c.name for c in table.columns]
    if lay.family == "mysql":
        targets = ["rt"]
        load = (f"LOAD DATA LOCAL INFILE '{path}' INTO TABLE rt CHARACTER SET binary FIELDS "
                f"TERMINATED BY ',' OPTIONALLY ENCLOSED BY '\"' ESCAPED BY '\\\\' LINES TERMINATED "
                f"BY '\\n'{' IGNORE 1 LINES' if lay.head else ''};\n"
                f"SELECT CONCAT('warnings=', @@warning_count);\n").encode()
    else:
        load = path.read_bytes()
        named = re.findall(rb"INSERT\s+(?:\S+\s+)?INTO\s+`([^`]*)`", load)
        targets = sorted({t.decode() for t in named})
    columns = ", ".join(f"`{n}` LONGBLOB" for n in names)
    select = ", ".join(f"IFNULL(HEX(`{n}`), 'N')" for n in names)
    create = "".join(f"DROP TABLE IF EXISTS `{t}`; CREATE TABLE `{t}` ({columns}) ENGINE=MyISAM;\n"
                     for t in targets)
    done = mariadb.sql(create.encode() + load +
                       "".join(f"\nSELECT {select} FROM `{t}`;" for t in targets).encode())
    if done.returncode != 0:
        raise ReadError(f"MariaDB: {done.stderr.decode(errors='replace')[:300]}")
    lines = done.stdout.decode().splitlines()
    if lay.family == "mysql" and lines.pop(0) != "warnings=0":
        raise ReadError("LOAD DATA gave warnings")
    return [[None if f == "N" else bytes.fromhex(f) for f in line.split("\t")] for line in lines]


def read_sqlite(path, lay, table, out, mariadb):
    """text=ORACLEINS: the statements run in SQLite, into an untyped table."""
    try:
        text = path.read_bytes().decode("utf-8")
        db = sqlite3.connect(":memory:")
        # What Oracle's functions give back here: the text as written (datetimes are compared as
        # text, binary values as their hexadecimal text).
        for name, arity in (("TO_DATE", 2), ("TO_TIMESTAMP", 2), ("TO_TIMESTAMP_TZ", 2),
                            ("TO_CLOB", 1), ("HEXTORAW", 1)):
            db.create_function(name, arity, lambda text, *_: text, deterministic=True)
        targets = sorted({t.upper() for t in re.findall(r"INSERT\s+(?:\S+\s+)?INTO\s+(\w+)", text)})
        for target in targets:
            db.execute(f"CREATE TABLE {target} ({', '.join(c.name for c in table.columns)})")
        db.executescript(text)
        rows = [row for target in targets for row in db.execute(f"SELECT * FROM {target}")]
    except (UnicodeDecodeError, sqlite3.Error, ValueError) as error:
        raise ReadError(f"SQLite: {str(error)[:300]}")
    return [[v.encode() if isinstance(v, str) else v for v in row] for row in rows]


def read_fixed(path, lay, table, out, mariadb):
    """The fixed layout, cut at the POSITION(a:b) clauses of the control file of its columns."""
    clause = r'"(\w+)"\s+(?:FILLER\s+)?POSITION\((\d+):(\d+)\)'
    for control in sorted(out.glob("*.ctl")):
        text = control.read_text(errors="replace")
        fields = [(n.removeprefix("LOBF_"), int(a), int(b)) for n, a, b in re.findall(clause, text)]
        fix = re.search(r'"FIX (\d+)"', text)
        if fix and [f[0] for f in fields] == [c.name for c in table.columns]:
            break
    else:
        raise ReadError("no control file gives the positions of these columns")
    data, length = path.read_bytes(), int(fix.group(1))
    if len(data) % length:
        raise ReadError(f"{len(data)} bytes are no whole number of {length}-byte records")
    records = [data[at:at + length] for at in range(0, len(data), length)]
    if any(not r.endswith(lay.record) for r in records):
        raise ReadError("a record does not end with the record separator")
    return [null_or(lay, [r[a - 1:b].rstrip(b" ") for _, a, b in fields]) for r in records]


def read_tagged(path, lay, table, out, mariadb):
    """FORM (NAME : value lines, a blank line after each row), SEARCH (<DOC> blocks, NAME=value)."""
    names, data = [c.name.encode() for c in table.columns], path.read_bytes()
    if lay.family == "form":
        *blocks, rest = data.split(b"\n\n")
        rows = [[(name.strip(), value) for name, _, value in
                 (line.partition(b" : ") for line in block.split(b"\n"))] for block in blocks]
    else:
        tokens, rows, width = data.split(b"\x01\n"), [], len(names) + 2
        while len(tokens) > width and tokens[0] == b"<DOC>" and tokens[width - 1] == b"</DOC>":
            rows.append([tuple(t.split(b"=", 1)) if b"=" in t else (t, b"")
                         for t in tokens[1:width - 1]])
            tokens = tokens[width:]
        rest = b"\x01\n".join(tokens)
    if rest or any([name for name, _ in row] != names for row in rows):
        raise ReadError(f"not rows of {names}: {rest[:100] or rows[:1]!r:.300}")
    return [null_or(lay, [value for _, value in row]) for row in rows]


READERS = {"delim": read_delimited, "mysql": read_mariadb, "mysqlins": read_mariadb,
           "oracleins": read_sqlite, "fixed": read_fixed, "form": read_tagged,
           "search": read_tagged}


class MariaDb:
    """The private server, started on first use."""

    def __init__(self, folder):
        self.folder, self.state = folder, None

    def script(self, action, *args, **run):
        return subprocess.run(["bash", MARIADB_SCRIPT, action, self.folder, *args],
                              capture_output=True, **run)

    def available(self):
        if self.state is None:
            shutil.rmtree(self.folder, ignore_errors=True)
            started = self.script("start")
            self.state = started.returncode == 0
            if started.returncode not in (0, 3):
                print(f"MariaDB did not start: {started.stderr.decode(errors='replace')[:400]}")
        return self.state

    def sql(self, text):
        return self.script("sql", "--default-character-set=binary", input=text)

    def stop(self):
        if self.state:
            self.script("stop")
            shutil.rmtree(self.folder, ignore_errors=True)


# Comparing: both sides become typed values: bytes for text and binary, Decimal for numbers (as
# SQLite reads them for ORACLEINS), the text of dates, (text, Decimal fraction) for timestamps.

SQLITE = sqlite3.connect(":memory:")


def canonical(col, value, lay, out=None):
    """The comparable value of a source value (out None) or of a field read back."""
    source = out is None
    empty_null = not source and value == b"" and (
        col.kind in NUMBERS + ("date", "ts") or lay.lob and col.kind in LOBS)
    if value is None or empty_null:
        return b"" if not lay.null_distinct and col.kind in TEXTS + BINARIES else None
    try:
        if source and col.kind in NUMBERS:
            if lay.family != "oracleins":
                return value
            literal = SQLITE.execute("SELECT CAST(? AS NUMERIC)", (format(value, "f"),))
            return Decimal(literal.fetchone()[0])
        if source:
            data = value.encode() if isinstance(value, str) else value
            data = data.translate(lay.sed) if lay.sed else data
        elif lay.lob and col.kind in LOBS:
            data = (out / value.decode()).read_bytes()
        elif isinstance(value, (int, float)):
            return Decimal(value)
        elif col.kind in NUMBERS:
            return Decimal(value.decode())
        elif lay.family == "oracleins" and col.kind in BINARIES:
            data = bytes.fromhex(value.decode())
        else:
            data = value
        if col.kind == "ts":
            stamp, _, fraction = data.partition(b".")
            return stamp, Decimal("0." + (fraction.decode() or "0"))
    except (OSError, ValueError, ArithmeticError) as error:
        return f"unreadable {value[:60]!r}: {error}"
    return data


def check_files(files, unloads, out, mariadb):
    """The rows of files against those of the unloads that wrote them: a message, or None."""
    table, lay = unloads[0].table, unloads[0].lay
    want = Counter(tuple(canonical(c, v, u.lay) for c, v in zip(table.columns, row))
                   for u in unloads for row in table.rows if u.keep(row))
    got = Counter()
    for path in files:
        try:
            rows = READERS[lay.family](path, lay, table, out, mariadb)
        except ReadError as error:
            return f"{path.name}: cannot be read back: {error}"
        for row in rows:
            if len(row) != len(table.columns):
                return f"{path.name}: a row of {len(row)} fields for {len(table.columns)} " \
                       f"columns: {row!r:.300}"
            got[tuple(canonical(c, f, lay, out) for c, f in zip(table.columns, row))] += 1
    if got == want:
        return None
    lost, extra = want - got, got - want
    show = lambda rows: "; ".join(repr(r)[:240] for r in list(rows)[:2])
    return (f"{table.name} in {', '.join(p.name for p in files) or 'no file'}: "
            f"{sum(want.values())} rows expected, {sum(got.values())} read; "
            f"{sum(lost.values())} lost: {show(lost)}; {sum(extra.values())} extra or altered: "
            f"{show(extra)}")


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--binary", required=True)
    parser.add_argument("--workdir", help="folder for the cases (default: a new one under /tmp)")
    parser.add_argument("--seeds", help="e.g. 1-200 or 3,7,10-12")
    parser.add_argument("--seed", type=int)
    parser.add_argument("--soak-minutes", type=float)
    parser.add_argument("--keep", action="store_true", help="keep the folders of passing cases too")
    parser.add_argument("--verbose", action="store_true", help="print every seed's result")
    args = parser.parse_args()
    binary = str(Path(args.binary).resolve())
    workdir = Path(args.workdir or f"/tmp/roundtrip_property.{os.getpid()}").resolve()
    workdir.mkdir(parents=True, exist_ok=True)
    if args.seed is not None:
        seeds = [args.seed]
    elif args.seeds:
        seeds = [n for part in args.seeds.split(",") for low, _, high in [part.partition("-")]
                 for n in range(int(low), int(high or low) + 1)]
    elif args.soak_minutes:
        draw, deadline = random.Random(), time.monotonic() + 60 * args.soak_minutes
        seeds = iter(lambda: draw.randrange(1, 1 << 31) if time.monotonic() < deadline else None,
                     None)
    else:
        seeds = list(REGRESSION_SEEDS)
        seeds += [s for s in range(1, FIXED_SEEDS + 1) if s not in REGRESSION_SEEDS]
    mariadb = MariaDb(workdir / "mariadb")
    tally, failed, started = Counter(), [], time.monotonic()
    try:
        for seed in seeds:
            result, text = run_case(seed, binary, workdir, mariadb)
            tally[result] += 1
            if result == "failed":
                failed.append(seed)
                print(f"seed {seed}: FAILED: {text}", flush=True)
            elif result == "skipped" or args.seed is not None or args.verbose:
                print(f"seed {seed}: {result} {text}", flush=True)
            if result != "failed" and not args.keep:
                shutil.rmtree(workdir / f"seed_{seed}", ignore_errors=True)
    finally:
        mariadb.stop()
    ran, status0 = sum(tally.values()), tally["ok"] + len(failed)
    print(f"{ran} combinations in {time.monotonic() - started:.0f} s: {status0} with status 0 "
          f"({100 * status0 / max(ran, 1):.0f}%), {tally['ok']} of them read back whole; "
          f"{tally['refused']} refused, {tally['skipped']} skipped; {len(failed)} failed"
          + (f" (seeds {' '.join(map(str, failed))}, folders in {workdir})" if failed else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
