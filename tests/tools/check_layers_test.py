#!/usr/bin/env python3
"""tools/check_layers.py passes on the tree and on the build's objects, and fails on each kind of
planted offence: an include of a folder that may not be used, and a link-time tie hidden behind
a declaration of the using folder's own.

Arguments: --compiler CXX (compiles the planted objects), --build-dir DIR (a built tree).
"""
import argparse
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SCRIPT = os.path.join(ROOT, "tools", "check_layers.py")
OPTIONS = argparse.Namespace(compiler="c++", build_dir=None)


def run_check(*args):
    result = subprocess.run([sys.executable, SCRIPT, *args], capture_output=True, text=True)
    return result.returncode, result.stdout + result.stderr


class CheckLayers(unittest.TestCase):
    def setUp(self):
        self.tmp = tempfile.mkdtemp(prefix="check_layers_")

    def tearDown(self):
        shutil.rmtree(self.tmp)

    def test_tree_and_build_pass(self):
        status, out = run_check(ROOT)
        self.assertEqual(status, 0, out)
        if OPTIONS.build_dir:
            status, out = run_check(ROOT, "--objects", OPTIONS.build_dir)
            self.assertEqual(status, 0, out)
            self.assertIn("needed symbols", out)

    def test_planted_include_fails(self):
        # (file planted, include line, expected to pass)
        cases = [
            ("engine/planted.h", '#include "db/session.h"', False),
            ("db/planted.h", '#include "engine/embedded_api.h"', False),
            ("parallel/planted.h", '#include "engine/engine.h"', False),
            ("oci/planted.h", '#include "job/job_record.h"', False),
            ("engine/planted.h", '#include "oci/oci_api.h"', True),
            ("run/planted.h", '#include "engine/embedded_api.h"', True),
        ]
        for planted, line, passes in cases:
            with self.subTest(planted=planted, line=line):
                copy = os.path.join(self.tmp, "tree")
                shutil.copytree(os.path.join(ROOT, "src"), os.path.join(copy, "src"))
                with open(os.path.join(copy, "src", planted), "w", encoding="utf-8") as handle:
                    handle.write(line + "\n")
                status, out = run_check(copy)
                self.assertEqual(status == 0, passes, out)
                if not passes:
                    self.assertIn(f"src/{planted}:1:", out)
                shutil.rmtree(copy)

    def plant_object(self, build, folder, name, code):
        folder_dir = os.path.join(build, "CMakeFiles", "planted.dir", "src", folder)
        os.makedirs(folder_dir, exist_ok=True)
        source = os.path.join(self.tmp, name + ".cpp")
        with open(source, "w", encoding="utf-8") as handle:
            handle.write(code)
        subprocess.run([OPTIONS.compiler, "-c", source, "-o", os.path.join(folder_dir, name + ".o")],
                       check=True)

    def test_planted_link_tie_fails(self):
        # A caller in one folder declares the function itself, so no include shows the tie.
        caller = "namespace rowflume { int Planted(); int Caller() { return Planted(); } }\n"
        callee = "namespace rowflume { int Planted() { return 1; } }\n"
        # (caller's folder, callee's folder, expected to pass)
        cases = [("db", "engine", False), ("oci", "db", False), ("engine", "oci", True),
                 ("run", "engine", True)]
        for caller_folder, callee_folder, passes in cases:
            with self.subTest(caller=caller_folder, callee=callee_folder):
                build = os.path.join(self.tmp, "build")
                self.plant_object(build, caller_folder, "caller", caller)
                self.plant_object(build, callee_folder, "callee", callee)
                status, out = run_check(ROOT, "--objects", build)
                self.assertEqual(status == 0, passes, out)
                if not passes:
                    self.assertIn(f"{caller_folder}/ needs rowflume::Planted(), defined only in "
                                  f"{callee_folder}/", out)
                shutil.rmtree(build)


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--compiler", default="c++")
    parser.add_argument("--build-dir")
    OPTIONS, rest = parser.parse_known_args()
    unittest.main(argv=[sys.argv[0]] + rest)
