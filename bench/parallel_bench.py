#!/usr/bin/env python3
"""Parallel unload benchmark on the embedded engine.

Builds nothing itself: bench/run.sh builds the release binary and calls this. Creates (once) a
database with the mixed-type ORDERS table, then times, pair by pair in one run, the serial unload
(degree 1) and the unload split into ROWID ranges with degree 2, both as CSV files, checks that
both wrote the same rows, and prints the median time ratio degree 2 / degree 1.
"""
import argparse
import glob
import os
import statistics
import subprocess
import sys
import time


def run_timed(argv, cwd):
    start = time.perf_counter()
    proc = subprocess.run(argv, cwd=cwd, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
    elapsed = time.perf_counter() - start
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}\n"
                 f"{proc.stdout.decode(errors='replace')}{proc.stderr.decode(errors='replace')}")
    return elapsed


def row_count(paths):
    total = 0
    for path in paths:
        with open(path, "rb") as handle:
            total += sum(chunk.count(b"\n") for chunk in iter(lambda: handle.read(1 << 20), b""))
    return total


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--rows", type=int, default=2000000)
    parser.add_argument("--pairs", type=int, default=5)
    args = parser.parse_args()
    workdir = os.path.abspath(args.workdir)
    os.makedirs(workdir, exist_ok=True)
    binary = os.path.abspath(args.binary)
    db = os.path.join(workdir, f"orders_{args.rows}.db")
    if not os.path.exists(db):
        subprocess.run([os.path.join(args.source, "tools/make_demo_db.sh"), db, str(args.rows)],
                       check=True, stdout=subprocess.DEVNULL)
    user = f"user=bench/bench@sqlite:{db}"
    ratios, serial_times, parallel_times = [], [], []
    for _ in range(args.pairs):
        for path in glob.glob(os.path.join(workdir, "par_*.csv")):
            os.remove(path)
        t_serial = run_timed([binary, user, "query=ORDERS", "text=CSV", "file=serial.csv"],
                             workdir)
        t_parallel = run_timed([binary, user, "split=ORDERS", "degree=2", "text=CSV",
                                "file=par_%p.csv"], workdir)
        ratios.append(t_parallel / t_serial)
        serial_times.append(t_serial)
        parallel_times.append(t_parallel)
    pieces = sorted(glob.glob(os.path.join(workdir, "par_*.csv")))
    # CSV records may hold line breaks, but both unloads hold the same rows, so the line counts
    # match once the header line of every file is taken off.
    serial_lines = row_count([os.path.join(workdir, "serial.csv")]) - 1
    parallel_lines = row_count(pieces) - len(pieces)
    if len(pieces) != 2 or serial_lines != parallel_lines:
        sys.exit(f"mismatch: {len(pieces)} pieces, {parallel_lines} lines against {serial_lines}")
    print(f"rows={args.rows}: degree 1 median {statistics.median(serial_times):.3f}s, "
          f"degree 2 median {statistics.median(parallel_times):.3f}s, "
          f"median ratio {statistics.median(ratios):.3f} (target <= 0.6)")
    for path in pieces + [os.path.join(workdir, "serial.csv")]:
        os.remove(path)


if __name__ == "__main__":
    main()
