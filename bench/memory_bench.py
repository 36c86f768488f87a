#!/usr/bin/env python3
"""Peak memory of an unload against its row count: the program must run in constant memory.

Builds nothing itself; give it a release binary (bench/run.sh builds one):
    bench/memory_bench.py --binary build/release/rowflume --workdir build/bench [--rows 1000000 10000000]
For each row count it makes (once) a database with the mixed-type ORDERS table, unloads it to
/dev/null (so that the disk is not the limit) as CSV and as MySQL INSERT statements, and prints
the wall time, rows per second and the peak resident set size the kernel reports for the child
process. The last line compares the largest and the smallest run: a ratio near 1
means memory does not grow with the rows.
"""
import argparse
import os
import subprocess
import sys
import time


def peak_of(argv, cwd):
    """Runs argv; returns (seconds, peak resident KiB)."""
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=subprocess.DEVNULL, stderr=subprocess.PIPE, cwd=cwd)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    code = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    if code != 0:
        sys.exit(f"failed ({code}): {' '.join(argv)}\n{err}")
    return elapsed, usage.ru_maxrss


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--source", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--rows", type=int, nargs="+", default=[1000000, 10000000])
    args = parser.parse_args()
    binary = os.path.abspath(args.binary)
    workdir = os.path.abspath(args.workdir)
    os.makedirs(workdir, exist_ok=True)
    peaks = []
    print(f"{'rows':>10} {'layout':<14} {'seconds':>8} {'rows/s':>10} {'peak RSS':>10}")
    for rows in args.rows:
        db = os.path.join(workdir, f"orders_{rows}.db")
        if not os.path.exists(db):
            subprocess.run([os.path.join(args.source, "tools/make_demo_db.sh"), db, str(rows)],
                           check=True, stdout=subprocess.DEVNULL)
        user = f"user=bench/bench@sqlite:{db}"
        for name, items in (("CSV", ["text=CSV", "file=/dev/null"]),
                            ("MYSQLINS", ["text=MYSQLINS", "file=/dev/null"])):
            seconds, peak = peak_of([binary, user, "query=ORDERS", "array=2000", *items],
                                    cwd=workdir)
            peaks.append((rows, name, peak))
            print(f"{rows:>10} {name:<14} {seconds:>8.2f} {rows / seconds:>10.0f} "
                  f"{peak / 1024:>8.1f} MiB", flush=True)
    small = min(peaks, key=lambda p: p[0])
    large = max(peaks, key=lambda p: p[0])
    print(f"peak RSS {large[0]} rows / {small[0]} rows: {large[2] / small[2]:.2f}")


if __name__ == "__main__":
    main()
