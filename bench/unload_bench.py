#!/usr/bin/env python3
"""Side-by-side unload benchmark on the embedded engine.

Builds nothing itself: run bench/run.sh, which builds the release binary and calls this.
For each table size it creates a database with the mixed-type ORDERS table, then times, pair by
pair in one run, `rowflume ... text=CSV` and `sqlite3 -csv` writing the same table to files, and
prints the median time ratio and rowflume's peak resident memory. The ratio of CPU time (user and
system) is printed too: on a machine busy with other work it varies far less than wall time.
"""
import argparse
import os
import statistics
import subprocess
import sys
import time


def run_measured(argv, stdout_path=None, cwd=None):
    """Runs argv, returns (seconds, peak resident KiB, CPU seconds)."""
    out = open(stdout_path, "wb") if stdout_path else subprocess.DEVNULL
    start = time.perf_counter()
    proc = subprocess.Popen(argv, stdout=out, stderr=subprocess.PIPE, cwd=cwd)
    _, status, usage = os.wait4(proc.pid, 0)
    elapsed = time.perf_counter() - start
    proc.returncode = os.waitstatus_to_exitcode(status)
    err = proc.stderr.read().decode(errors="replace")
    if stdout_path:
        out.close()
    if proc.returncode != 0:
        sys.exit(f"failed ({proc.returncode}): {' '.join(argv)}\n{err}")
    return elapsed, usage.ru_maxrss, usage.ru_utime + usage.ru_stime


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--binary", required=True)
    parser.add_argument("--workdir", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--rows", type=int, nargs="+", default=[200000, 2000000])
    parser.add_argument("--pairs", type=int, default=5)
    args = parser.parse_args()
    # Absolute paths: rowflume runs inside the work folder, where its loader control file goes.
    args.binary = os.path.abspath(args.binary)
    args.workdir = os.path.abspath(args.workdir)
    os.makedirs(args.workdir, exist_ok=True)
    for rows in args.rows:
        db = os.path.join(args.workdir, f"orders_{rows}.db")
        if not os.path.exists(db):
            subprocess.run([os.path.join(args.source, "tools/make_demo_db.sh"), db, str(rows)],
                           check=True, stdout=subprocess.DEVNULL)
        ours_out = os.path.join(args.workdir, "rowflume.csv")
        theirs_out = os.path.join(args.workdir, "sqlite3.csv")
        ratios, cpu_ratios, ours_times, theirs_times, peaks = [], [], [], [], []
        for _ in range(args.pairs):
            t_ours, rss, cpu_ours = run_measured([args.binary, f"user=bench/bench@sqlite:{db}",
                                        "query=ORDERS", "text=CSV", f"file={ours_out}"],
                                       cwd=args.workdir)
            t_theirs, _, cpu_theirs = run_measured(["sqlite3", "-csv", db, "SELECT * FROM ORDERS"],
                                       stdout_path=theirs_out)
            ratios.append(t_ours / t_theirs)
            cpu_ratios.append(cpu_ours / cpu_theirs)
            ours_times.append(t_ours)
            theirs_times.append(t_theirs)
            peaks.append(rss)
        print(f"rows={rows}: rowflume median {statistics.median(ours_times):.3f}s, "
              f"sqlite3 -csv median {statistics.median(theirs_times):.3f}s, "
              f"median ratio {statistics.median(ratios):.3f} (target <= 0.5; CPU time "
              f"{statistics.median(cpu_ratios):.3f}), "
              f"peak RSS {max(peaks) / 1024:.1f} MiB (target <= 64)")
        for path in (ours_out, theirs_out):
            os.remove(path)


if __name__ == "__main__":
    main()
