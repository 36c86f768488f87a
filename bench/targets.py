#!/usr/bin/env python3
"""Every performance target, measured for the current build beside a baseline build in one run.

Builds nothing itself: bench/run.sh builds both programs and calls this. Each figure is the median
of pairs (or rounds) in which the programs run one after the other, so that both see the same
machine; on a busy machine the CPU-time ratio, printed too, varies far less than wall time.

  CSV / sqlite3       rowflume text=CSV against `sqlite3 -csv -header` on the same file, both
                      writing to /dev/null, and both writing new files. On this kind of virtual
                      machine the time to write a new file's pages swings by a second from one
                      run to the next (freed memory goes back to the host and must be fetched
                      again), so the /dev/null figure is the one that measures the programs.
  Parquet / CSV       text=PARQUET (zstd) against the CSV unload, both to files; its bytes against
                      the CSV file's, and its peak resident set for each table size
  manifest / without  the CSV unload keeping a manifest (every byte hashed, the manifest and its
                      checksum list written) against the same unload without, both to /dev/null
  LAYOUT / CSV        each other layout against the CSV run of the same pair, both written to
                      /dev/null
  encoder GB/s        bench/encoder_bench, output bytes per second on one core
  degree 2 / 1        split=ORDERS degree=2 against the serial unload, with the files on disk
                      and, where /dev/shm exists, in memory; the CPU-time ratio in brackets
                      is both pieces' time against the serial run's. Where both are measured,
                      the figure in memory is the one that measures the program: on disk it
                      follows which of the two runs had to fetch its new pages from the host
                      (pairs of one run ranged from 0.50 to 0.91, the same code in memory from
                      0.53 to 0.56)
  peak RSS            the largest resident set of the CSV runs, for each table size
"""
import argparse
import glob
import json
import os
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

GNU_TIME = "/usr/bin/time"

LAYOUTS = [
    ("MYSQL", ["text=MYSQL"]),
    ("MYSQLINS", ["text=MYSQLINS"]),
    ("ORACLEINS", ["text=ORACLEINS"]),
    ("FORM", ["text=FORM"]),
    ("SEARCH", ["text=SEARCH"]),
    ("fixed width", ["field=0x20"]),
    ("client=yes", ["text=CSV", "client=yes"]),
]


def remove_output(path):
    """Removes an earlier output file; devices such as /dev/null are never touched."""
    if not path.startswith("/dev/") and os.path.isfile(path):
        os.remove(path)


def run_measured(argv, cwd, stdout_path=None):
    """Runs argv; returns (seconds, CPU seconds, peak resident KiB)."""
    # The write-back of earlier runs' files would otherwise take CPU time from this one.
    os.sync()
    if stdout_path:
        remove_output(stdout_path)
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    # A child's peak memory, as the kernel reports it to its parent, includes the parent's own
    # at the fork: Python's is larger than the program's. GNU time, a small parent, reports the
    # program's peak; without it the figure is an upper bound.
    peak_file = os.path.join(cwd, "peak.txt")
    timed = os.path.exists(GNU_TIME)
    command = [GNU_TIME, "-f", "%M", "-o", peak_file, *argv] if timed else argv
    start = time.perf_counter()
    proc = subprocess.Popen(command, stdout=out, stderr=subprocess.PIPE, cwd=cwd)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    err = proc.stderr.read().decode(errors="replace")
    if stdout_path:
        out.close()
    code = os.waitstatus_to_exitcode(status)
    if code != 0:
        sys.exit(f"failed ({code}): {' '.join(argv)}\n{err}")
    peak = usage.ru_maxrss
    if timed:
        with open(peak_file) as handle:
            peak = int(handle.read().split()[-1])
        os.remove(peak_file)
    return elapsed, usage.ru_utime + usage.ru_stime, peak


class Program:
    def __init__(self, name, binary, encoder, workdir):
        self.name = name
        self.binary = os.path.abspath(binary)
        self.encoder = os.path.abspath(encoder) if encoder else None
        # Each program runs in a folder of its own: the unload writes its loader control file there.
        self.workdir = os.path.join(workdir, name)
        os.makedirs(self.workdir, exist_ok=True)
        self.samples = {}

    def add(self, key, value):
        self.samples.setdefault(key, []).append(value)

    def median(self, key):
        values = self.samples.get(key)
        return statistics.median(values) if values else None

    def writes_parquet(self):
        usage = subprocess.run([self.binary, "help=yes"], capture_output=True, text=True).stdout
        return "text=PARQUET" in usage

    def unload(self, db, items, out_name):
        # Every program writes a new file: the one a redirection truncates for sqlite3 is
        # emptied before its clock starts, and freeing an old file's pages costs tens of
        # milliseconds.
        remove_output(os.path.join(self.workdir, out_name))
        return run_measured([self.binary, f"user=bench/bench@sqlite:{db}", *items,
                             f"file={out_name}"], self.workdir)


def ensure_db(source, workdir, rows):
    db = os.path.join(workdir, f"orders_{rows}.db")
    if not os.path.exists(db):
        subprocess.run([os.path.join(source, "tools/make_demo_db.sh"), db, str(rows)],
                       check=True, stdout=subprocess.DEVNULL)
    return db


def serial_pairs(programs, db, rows, pairs, layouts):
    """CSV against sqlite3, and every layout against CSV, pair by pair.

    The layouts are timed writing to /dev/null, so that their figure is the program's own work:
    written to a file, a layout's time follows its output bytes (the fixed-width layout writes
    almost five times the bytes of CSV) and the disk's write-back.
    """
    theirs_out = os.path.join(programs[0].workdir, "sqlite3.csv")
    for _ in range(pairs):
        t_theirs, cpu_theirs, _ = run_measured(["sqlite3", "-csv", "-header", db,
                                                "SELECT * FROM ORDERS"],
                                               programs[0].workdir, stdout_path=theirs_out)
        t_theirs_null, cpu_theirs_null, _ = run_measured(
            ["sqlite3", "-csv", "-header", db, "SELECT * FROM ORDERS"], programs[0].workdir,
            stdout_path="/dev/null")
        for program in programs:
            t_csv, cpu_csv, rss = program.unload(db, ["query=ORDERS", "text=CSV"], "out.csv")
            program.add(("sqlite file", rows), t_csv / t_theirs)
            program.add(("sqlite file cpu", rows), cpu_csv / cpu_theirs)
            program.add(("csv seconds", rows), t_csv)
            program.add(("rss", rows), rss)
            t_null, cpu_null, _ = program.unload(db, ["query=ORDERS", "text=CSV"], "/dev/null")
            program.add(("sqlite", rows), t_null / t_theirs_null)
            program.add(("sqlite cpu", rows), cpu_null / cpu_theirs_null)
            program.add(("csv null seconds", rows), t_null)
            # The same unload keeping its manifest: every byte hashed, the manifest written.
            t_proof, cpu_proof, rss = program.unload(
                db, ["query=ORDERS", "text=CSV", "manifest=bench_manifest.json"], "/dev/null")
            program.add(("manifest", rows), t_proof / t_null)
            program.add(("manifest cpu", rows), cpu_proof / cpu_null)
            program.add(("rss", rows), rss)
            # Parquet to a file of its own (its footer needs one), against the CSV file above.
            if program.writes_parquet():
                t_pq, cpu_pq, rss = program.unload(db, ["query=ORDERS", "text=PARQUET"],
                                                   "out.parquet")
                program.add(("parquet", rows), t_pq / t_csv)
                program.add(("parquet cpu", rows), cpu_pq / cpu_csv)
                program.add(("parquet bytes", rows),
                            os.path.getsize(os.path.join(program.workdir, "out.parquet")) /
                            os.path.getsize(os.path.join(program.workdir, "out.csv")))
                program.add(("parquet rss", rows), rss)
            for label, items in layouts:
                t_layout, cpu_layout, rss = program.unload(db, ["query=ORDERS", *items],
                                                           "/dev/null")
                program.add((label, rows), t_layout / t_null)
                program.add((label + " cpu", rows), cpu_layout / cpu_null)
                program.add(("rss", rows), rss)
    for program in programs:
        for name in ("out.csv", "out.txt", "out.parquet", "sqlite3.csv", "bench_manifest.json",
                     "bench_manifest.json.sha256"):
            path = os.path.join(program.workdir, name)
            if os.path.exists(path):
                os.remove(path)


def line_count(paths):
    total = 0
    for path in paths:
        with open(path, "rb") as handle:
            total += sum(chunk.count(b"\n") for chunk in iter(lambda: handle.read(1 << 20), b""))
    return total


def parallel_pairs(programs, db, pairs, places):
    """Degree 2 against degree 1, with the output files in each of places (label, folder).

    Written to a disk, the kernel's write-back of the output takes CPU time of its own: a serial
    unload leaves it a core, two pieces share the two cores with it. A memory file system has no
    write-back, so its figure shows what the unload itself gains.

    Each unload's old files are removed just before it runs, as the serial one's are. A virtual
    machine that reports free memory to its host gives it back a few seconds after it is freed,
    and the pages must then be fetched again: the pieces took 40% more CPU time than the serial
    run when their old files were removed ahead of the serial run instead.
    """
    for label, folder in places:
        for _ in range(pairs):
            for program in programs:
                out = os.path.join(folder, program.name)
                os.makedirs(out, exist_ok=True)
                t1, cpu1, _ = program.unload(db, ["query=ORDERS", "text=CSV"],
                                             os.path.join(out, "serial.csv"))
                for path in glob.glob(os.path.join(out, "par_*.csv")):
                    os.remove(path)
                t2, cpu2, _ = program.unload(db, ["split=ORDERS", "degree=2", "text=CSV"],
                                             os.path.join(out, "par_%p.csv"))
                program.add(("degree", label), t2 / t1)
                # Both pieces' CPU time against the serial run's: half of it is the wall figure
                # two idle cores would give.
                program.add(("degree cpu", label), cpu2 / cpu1)
        for program in programs:
            # Both unloads hold the same rows, so the line counts match once every header is off.
            out = os.path.join(folder, program.name)
            pieces = sorted(glob.glob(os.path.join(out, "par_*.csv")))
            serial = os.path.join(out, "serial.csv")
            if len(pieces) != 2 or line_count([serial]) - 1 != line_count(pieces) - len(pieces):
                sys.exit(f"{program.name}: the degree 2 unload does not hold the serial rows")
            for path in pieces + [serial]:
                os.remove(path)


def encoder_rounds(programs, rounds):
    for _ in range(rounds):
        for program in programs:
            if program.encoder is None:
                continue
            proc = subprocess.run([program.encoder, "--benchmark_format=json",
                                   "--benchmark_min_time=0.5"],
                                  check=True, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
            result = json.loads(proc.stdout)["benchmarks"][0]
            program.add("encoder", result["bytes_per_second"] / 1e9)


def fmt(value, digits=3):
    return "-" if value is None else f"{value:.{digits}f}"


def report(programs, rows_list, layouts, pairs, places):
    width = 16
    print()
    print(f"Medians of {pairs} pairs; a ratio's CPU-time ratio is in brackets.")
    print(f"{'target':38}" + "".join(f"{p.name:>{width}}" for p in programs) + "   goal")

    def row(label, key, goal, digits=3, cpu_key=None):
        cells = ""
        for program in programs:
            text = fmt(program.median(key), digits)
            if cpu_key is not None and program.median(cpu_key) is not None:
                text += f" ({program.median(cpu_key):.3f})"
            cells += f"{text:>{width}}"
        print(f"{label:38}{cells}   {goal}")

    largest = max(rows_list)
    row("CSV / sqlite3 -csv, to /dev/null", ("sqlite", largest), "<= 0.40",
        cpu_key=("sqlite cpu", largest))
    row("CSV / sqlite3 -csv, to files", ("sqlite file", largest), "",
        cpu_key=("sqlite file cpu", largest))
    row("CSV with manifest / without, /dev/null", ("manifest", largest), "<= 1.10",
        cpu_key=("manifest cpu", largest))
    row("Parquet / CSV, to files", ("parquet", largest), "<= 1.50",
        cpu_key=("parquet cpu", largest))
    row("Parquet bytes / CSV bytes", ("parquet bytes", largest), "<= 0.35")
    for rows in rows_list:
        row(f"Parquet peak RSS KiB, {rows} rows", ("parquet rss", rows), "<= row group + 32 MiB",
            digits=0)
    for label, _ in layouts:
        row(f"{label} / CSV, to /dev/null", (label, largest), "<= 1.30",
            cpu_key=(label + " cpu", largest))
    row("encoder GB/s", "encoder", ">= 2.00", digits=2)
    for label in places:
        row(f"degree 2 / degree 1, {label}", ("degree", label),
            "<= 0.55" if label == places[-1] else "", cpu_key=("degree cpu", label))
    for rows in rows_list:
        row(f"CSV seconds to a file, {rows} rows", ("csv seconds", rows), "")
    row(f"CSV seconds to /dev/null, {largest} rows", ("csv null seconds", largest), "")
    for rows in rows_list:
        cells = "".join(f"{max(p.samples.get(('rss', rows), [0])) / 1024:>{width}.1f}"
                        for p in programs)
        print(f"{f'peak RSS MiB, {rows} rows':38}{cells}   <= 64, flat in rows")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--encoder")
    parser.add_argument("--baseline-binary")
    parser.add_argument("--baseline-encoder")
    parser.add_argument("--baseline-name", default="baseline")
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--rows", type=int, nargs="+", default=[200000, 2000000])
    parser.add_argument("--pairs", type=int, default=5)
    parser.add_argument("--no-layouts", action="store_true")
    args = parser.parse_args()
    workdir = os.path.abspath(args.workdir)
    os.makedirs(workdir, exist_ok=True)
    programs = []
    if args.baseline_binary:
        programs.append(Program(args.baseline_name, args.baseline_binary, args.baseline_encoder,
                                workdir))
    programs.append(Program("now", args.binary, args.encoder, workdir))
    layouts = [] if args.no_layouts else LAYOUTS
    largest = max(args.rows)
    for rows in sorted(args.rows):
        db = ensure_db(args.source, workdir, rows)
        # The layouts are compared on the largest table only; the smaller one shows memory is flat.
        serial_pairs(programs, db, rows, args.pairs, layouts if rows == largest else [])
        print(f"measured {rows} rows", flush=True)
    places = [("files on disk", workdir)]
    if os.path.isdir("/dev/shm"):
        places.append(("files in memory", tempfile.mkdtemp(prefix="rowflume-bench-",
                                                            dir="/dev/shm")))
    try:
        parallel_pairs(programs, ensure_db(args.source, workdir, largest), args.pairs, places)
    finally:
        for _, folder in places[1:]:
            shutil.rmtree(folder, ignore_errors=True)
    encoder_rounds(programs, args.pairs)
    report(programs, sorted(args.rows), layouts, args.pairs, [label for label, _ in places])


if __name__ == "__main__":
    main()
