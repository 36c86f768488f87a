#!/usr/bin/env python3
"""Checks the folders of src/ against the program's layers.

Each folder of src/ is one layer and lists in ALLOWED the folders it may use; a folder may always
use itself. The lists must form no cycle. Two kinds of use are checked:

- Includes: a file of folder F may include "X/..." only when X is F or in ALLOWED[F].
- Link-time ties, with --objects BUILD_DIR, after a build: the object files of folder F are
  those under BUILD_DIR/CMakeFiles/<target>/src/F/ (every target, as CMake lays them out; where
  the build has compile_commands.json, only those it still makes). They
  are read with nm (mangled names, so overloads stay apart). A symbol that F's objects leave
  undefined must not be defined only by objects of folders F may not use: a function declared in
  a lower header but defined in a higher folder would pass the include check and still tie the
  lower folder to the higher one. Symbols no object of src/ defines (the C and C++ libraries,
  SQLite) are not checked; weak definitions (inline functions, templates) count as definitions.

Prints every offence and exits 1 when there is one; with --graph prints the include graph.
"""
import argparse
import glob
import json
import os
import re
import subprocess
import sys

# What each folder may use. The client interface (oci) sits below both the callers of the client
# (db and above) and the embedded engine, which provides it; only the run layer, which chooses a
# provider for each logon, and what stands on it may reach the engine.
BASE = ["common", "platform"]
ALLOWED = {
    "common": [],
    "platform": ["common"],
    "oci": BASE,
    "scramble": BASE,
    "job": BASE + ["scramble"],
    "db": BASE + ["job", "oci"],
    "engine": BASE + ["oci"],
    "output": BASE + ["scramble", "job", "db", "oci"],
    "parallel": BASE + ["scramble", "job", "db", "oci"],
    "run": BASE + ["scramble", "job", "db", "oci", "engine", "output", "parallel"],
    "main": BASE + ["scramble", "job", "db", "oci", "output", "parallel", "run"],
}

INCLUDE = re.compile(r'^\s*#\s*include\s+"([a-z_]+)/[^"]+"')


def may_use(folder, target):
    return target == folder or target in ALLOWED.get(folder, [])


def check_lists():
    """The lists name known folders only and form no cycle."""
    problems = []
    for folder, targets in ALLOWED.items():
        for target in targets:
            if target not in ALLOWED:
                problems.append(f"ALLOWED[{folder}] names unknown folder {target}")
    state = {}

    def visit(folder, path):
        if state.get(folder) == "done":
            return
        if state.get(folder) == "open":
            problems.append("ALLOWED has a cycle: " + " -> ".join(path + [folder]))
            return
        state[folder] = "open"
        for target in ALLOWED.get(folder, []):
            visit(target, path + [folder])
        state[folder] = "done"

    for folder in ALLOWED:
        visit(folder, [])
    return problems


def check_includes(src, edges):
    problems = []
    for folder in sorted(os.listdir(src)):
        path = os.path.join(src, folder)
        if not os.path.isdir(path):
            continue
        if folder not in ALLOWED:
            problems.append(f"src/{folder}: folder has no entry in ALLOWED")
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
                    if not may_use(folder, target):
                        problems.append(f"src/{folder}/{name}:{line_no}: {folder}/ includes "
                                        f"{target}/, which it may not use")
    return problems


def current_objects(build_dir):
    """The object files the build's compile commands produce, or None when it lists none.

    A source file removed from the tree leaves its object in the build folder; only the
    objects the build still makes are the program's."""
    listing = os.path.join(build_dir, "compile_commands.json")
    if not os.path.exists(listing):
        return None
    with open(listing, encoding="utf-8") as handle:
        commands = json.load(handle)
    made = set()
    for command in commands:
        output = command.get("output")
        if output is None:
            words = command.get("command", "").split()
            output = words[words.index("-o") + 1] if "-o" in words[:-1] else None
        if output is not None:
            made.add(os.path.normpath(os.path.join(command["directory"], output)))
    return made


def read_symbols(build_dir, nm):
    """(defined, undefined): folder -> set of symbols, from the objects of every target."""
    defined, undefined = {}, {}
    made = current_objects(build_dir)
    for folder_dir in glob.glob(os.path.join(build_dir, "CMakeFiles", "*", "src", "*")):
        folder = os.path.basename(folder_dir)
        objects = [path for path in glob.glob(os.path.join(folder_dir, "**", "*"), recursive=True)
                   if path.endswith((".o", ".obj")) and
                   (made is None or os.path.normpath(os.path.abspath(path)) in made)]
        if not objects:
            continue
        out = subprocess.run([nm, "-P", "-A"] + objects, check=True, capture_output=True,
                             text=True).stdout
        for line in out.splitlines():
            # "file.o: symbol type [value size]"
            _, _, rest = line.rpartition(": ")
            fields = rest.split()
            if len(fields) < 2:
                continue
            symbol, kind = fields[0], fields[1]
            if kind == "U":
                undefined.setdefault(folder, set()).add(symbol)
            elif kind not in ("w", "v"):
                defined.setdefault(folder, set()).add(symbol)
    return defined, undefined


def demangle(symbols):
    try:
        out = subprocess.run(["c++filt"], input="\n".join(symbols), check=True,
                             capture_output=True, text=True).stdout.splitlines()
        return dict(zip(symbols, out)) if len(out) == len(symbols) else {}
    except (OSError, subprocess.CalledProcessError):
        return {}


def check_objects(build_dir, nm):
    defined, undefined = read_symbols(build_dir, nm)
    if not defined and not undefined:
        return [f"{build_dir}: no object files under CMakeFiles/*/src/ (build first)"], 0
    definers = {}
    for folder, symbols in defined.items():
        for symbol in symbols:
            definers.setdefault(symbol, set()).add(folder)
    ties = []
    for folder, symbols in sorted(undefined.items()):
        for symbol in sorted(symbols):
            owners = definers.get(symbol)
            if owners and not any(may_use(folder, owner) for owner in owners):
                ties.append((folder, symbol, sorted(owners)))
    names = demangle([symbol for _, symbol, _ in ties])
    problems = [f"link tie: {folder}/ needs {names.get(symbol, symbol)}, defined only in "
                f"{', '.join(owner + '/' for owner in owners)}, which it may not use"
                for folder, symbol, owners in ties]
    return problems, sum(len(symbols) for symbols in undefined.values())


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source", nargs="?", default=os.path.join(os.path.dirname(__file__), ".."))
    parser.add_argument("--graph", action="store_true")
    parser.add_argument("--objects", metavar="BUILD_DIR",
                        help="also check the link-time ties of the objects of this build")
    parser.add_argument("--nm", default="nm", help="the nm program that reads the objects")
    args = parser.parse_args()
    edges = set()
    problems = check_lists() + check_includes(os.path.join(args.source, "src"), edges)
    needed = 0
    if args.objects:
        object_problems, needed = check_objects(args.objects, args.nm)
        problems += object_problems
    if args.graph:
        for folder, target in sorted(edges):
            print(f"{folder} -> {target}")
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"include graph: {len(edges)} folder arrows, all allowed")
    if args.objects:
        print(f"objects: {needed} needed symbols, none defined only where a folder may not reach")
    return 0


if __name__ == "__main__":
    sys.exit(main())
