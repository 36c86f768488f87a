#!/usr/bin/env python3
"""Kills parallel unloads of a plan with SIGKILL at random moments, resumes each one until it
completes, and checks what the runs leave together against one uninterrupted run:

- every piece file is byte for byte the uninterrupted run's, and the rows of all of them are the
  serial unload's rows, each once;
- no file is left under a temporary name, and a killed serial unload leaves none under its own;
- `verify=` and `sha256sum -c` pass on the manifest, which Python's json and jq both read;
- one byte changed, a file cut short or a file removed makes `verify` fail, naming the file;
- with a user, `verify` counts each piece's rows in the database at the manifest's SCN.

    proof_and_resume.py --binary BUILD/rowflume --workdir DIR [--seeds 20] [--rows 300000]
"""
import argparse
import csv
import json
import os
import random
import shutil
import subprocess
import sys
import time

SOURCE = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
PIECES = 4


def run(binary, *items, cwd, check=True):
    done = subprocess.run([binary, *items], cwd=cwd, capture_output=True, text=True)
    if check and done.returncode != 0:
        sys.exit(f"{' '.join(items)} ended with {done.returncode}:\n{done.stdout}{done.stderr}")
    return done


def data_rows(path):
    with open(path, newline="", encoding="latin-1") as data:
        rows = [tuple(row) for row in csv.reader(data, strict=True)]
    return rows[1:]  # the header line aside


def main():
    options = argparse.ArgumentParser()
    options.add_argument("--binary", required=True)
    options.add_argument("--workdir", required=True)
    options.add_argument("--seeds", type=int, default=20)
    options.add_argument("--rows", type=int, default=300000)
    args = options.parse_args()
    binary = os.path.abspath(args.binary)
    work = os.path.abspath(args.workdir)
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    database = os.path.join(work, "orders.db")
    subprocess.run([os.path.join(SOURCE, "tools", "make_demo_db.sh"), database, str(args.rows)],
                   check=True, capture_output=True)
    user = f"user=scott/tiger@sqlite:{database}"
    run(binary, user, "split=ORDERS", f"degree={PIECES}", "scn=current", "plan=orders.plan",
        cwd=work)
    plan = os.path.join(work, "orders.plan")
    unload = [user, f"plan={plan}", f"pieces=1-{PIECES}", "text=CSV", "file=o_%p.csv",
              "manifest=m.json", "resume=yes"]

    # The uninterrupted run: the files every resumed one must end with, and its duration.
    reference = os.path.join(work, "reference")
    os.makedirs(reference)
    started = time.monotonic()
    run(binary, *unload, cwd=reference)
    duration = time.monotonic() - started
    names = [f"o_{piece}.csv" for piece in range(1, PIECES + 1)]
    expected = {name: open(os.path.join(reference, name), "rb").read() for name in names}
    run(binary, user, "query=ORDERS", "text=CSV", "file=serial.csv", cwd=work)
    serial_rows = sorted(data_rows(os.path.join(work, "serial.csv")))
    union = sorted(row for name in names for row in data_rows(os.path.join(reference, name)))
    assert len(serial_rows) == args.rows and union == serial_rows, "the pieces' rows differ"

    kills = 0
    for seed in range(1, args.seeds + 1):
        chance = random.Random(seed)
        folder = os.path.join(work, f"seed{seed}")
        os.makedirs(folder)
        for _ in range(chance.randint(1, 3)):
            process = subprocess.Popen([binary, *unload], cwd=folder, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            time.sleep(chance.uniform(0.0, duration * 1.1))
            if process.poll() is None:
                process.kill()
                kills += 1
            process.wait()
        finished = run(binary, *unload, cwd=folder)
        left = sorted(os.listdir(folder))
        wanted = sorted(names + ["ORDERS_sqlldr.ctl", "m.json", "m.json.sha256"])
        assert left == wanted, f"seed {seed}: the folder holds {left}"
        for name in names:
            got = open(os.path.join(folder, name), "rb").read()
            assert got == expected[name], f"seed {seed}: {name} differs\n{finished.stdout}"
        run(binary, f"verify=m.json", cwd=folder)
        subprocess.run(["sha256sum", "--check", "--quiet", "m.json.sha256"], cwd=folder,
                       check=True)
        manifest = json.load(open(os.path.join(folder, "m.json")))
        assert manifest["complete"] and manifest["rows"] == args.rows, manifest["rows"]
        assert [p["piece"] for p in manifest["pieces"]] == list(range(1, PIECES + 1))
    print(f"{args.seeds} seeds, {kills} runs killed, every resumed unload equal to the reference")

    # What a reader that is no program of ours makes of the manifest.
    folder = os.path.join(work, f"seed{args.seeds}")
    total = subprocess.run(["jq", "[.files[] | select(.kind == \"data\") | .rows] | add",
                            "m.json"], cwd=folder, capture_output=True, text=True, check=True)
    assert int(total.stdout) == args.rows, total.stdout
    counted = run(binary, f"verify=m.json", user, cwd=folder)
    assert counted.stdout.count("rows in the database at SCN") == PIECES, counted.stdout

    # Each damage is named by verify, which then fails.
    def damaged(name, damage, word):
        copy = os.path.join(work, f"damaged_{name}")
        shutil.copytree(folder, copy)
        path = os.path.join(copy, name)
        damage(path)
        checked = run(binary, "verify=m.json", cwd=copy, check=False)
        assert checked.returncode == 11, (name, checked.returncode, checked.stdout)
        line = [text for text in checked.stdout.splitlines() if text.startswith("MISMATCH")]
        assert len(line) == 1 and name in line[0] and word in line[0], checked.stdout
        sums = subprocess.run(["sha256sum", "--check", "--quiet", "m.json.sha256"], cwd=copy,
                              capture_output=True)
        assert sums.returncode != 0, name

    def flip(path):
        data = bytearray(open(path, "rb").read())
        data[len(data) // 2] ^= 0x01
        open(path, "wb").write(bytes(data))

    def cut(path):
        data = open(path, "rb").read()
        open(path, "wb").write(data[: data.rfind(b"\n", 0, len(data) - 1) + 1])

    damaged("o_2.csv", flip, "changed")
    damaged("o_3.csv", cut, "1 missing")
    damaged("o_1.csv", os.remove, "missing")

    # A serial unload killed in its middle leaves nothing under the file's own name.
    process = subprocess.Popen([binary, user, "query=ORDERS", "text=CSV", "file=killed.csv"],
                               cwd=work, stdout=subprocess.DEVNULL)
    time.sleep(duration / 4)
    process.kill()
    process.wait()
    assert not os.path.exists(os.path.join(work, "killed.csv")), "a killed run left killed.csv"
    print("verify names damaged files; a killed serial run leaves no file under its name")


if __name__ == "__main__":
    main()
