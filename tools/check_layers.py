#!/usr/bin/env python3
"""Checks the include graph of src/ against the program's layers.

Each folder of src/ is one layer; a file may include headers of its own folder and of the layers
below it, never of a layer above. Strict order also rules out cycles between folders. Prints
every offending include and exits 1 when there is one; with --graph prints the folder graph.
"""
import argparse
import os
import re
import sys

# Lowest first. The engine is a provider of the client functions: it sees their declarations in
# db/, the ASCII helpers and the operating system's platform module, nothing else of the program,
# and db/ reaches it only through its function table.
LAYERS = ["common", "platform", "scramble", "job", "db", "engine", "output", "parallel", "run",
          "main"]

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"')


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source", nargs="?", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--graph", action="store_true")
    args = parser.parse_args()
    src = os.path.join(args.source, "src")
    rank = {name: idx for idx, name in enumerate(LAYERS)}
    problems = []
    edges = set()
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in rank:
            problems.append(f"src/{folder}: folder has no layer (add it to LAYERS)")
            continue
        for name in sorted(os.listdir(path)):
            if not name.endswith((".h", ".cpp")):
                continue
            with open(os.path.join(path, name), encoding="utf-8") as handle:
                for line_no, line in enumerate(handle, 1):
                    match = INCLUDE.match(line)
                    if not match or match.group(1) == folder:
                        continue
                    target = match.group(1)
                    edges.add((folder, target))
                    if target not in rank:
                        problems.append(f"src/{folder}/{name}:{line_no}: includes unknown folder "
                                        f"{target}/")
                    elif rank[target] > rank[folder]:
                        problems.append(f"src/{folder}/{name}:{line_no}: {folder}/ includes "
                                        f"{target}/, a higher layer")
    if args.graph:
        for folder, target in sorted(edges, key=lambda e: (rank.get(e[0], 99), e[1])):
            print(f"{folder} -> {target}")
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"include graph: {len(edges)} folder arrows, all downward ({' < '.join(LAYERS)})")
    return 0


if __name__ == "__main__":
    sys.exit(main())
