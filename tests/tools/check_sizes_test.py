#!/usr/bin/env python3
"""The size checker's reading of C++: which brace blocks are functions, how long each is, and
that braces inside comments and literals are not counted; and its verdict on a source tree."""
import os
import sys
import tempfile
import unittest

sys.path.insert(0, os.path.join(os.path.dirname(__file__), "..", "..", "tools"))
import check_sizes  # noqa: E402


def found(source):
    return [(name, last - first + 1)
            for name, first, last in check_sizes.functions(check_sizes.code_only(source))]


class Functions(unittest.TestCase):
    def test_each_form_is_told_apart(self):
        cases = [
            # (source, the functions found with their lines)
            ("int F(int a) {\n  return a;\n}\n", [("F", 3)]),
            ("sword AttrGet(void* p,\n              ub4 n) {\n  x();\n}\n", [("AttrGet", 3)]),
            ('extern "C" int Exported(void) {\n  return 0;\n}\n', [("Exported", 3)]),
            ("namespace a {\nnamespace {\nvoid G() {}\n}\n}\n", [("G", 1)]),
            ("struct S {\n  int Get() const { return 1; }\n  S() : v_{0}, w_(1) {}\n  int v_{0};\n};\n",
             [("Get", 1), ("S", 1)]),
            ("auto Later() -> int {\n  return 1;\n}\n", [("Later", 3)]),
            ("template <class T>\nT Max(T a, T b) {\n  return a;\n}\n", [("Max", 3)]),
            ("S& S::operator=(const S&) {\n  return *this;\n}\n", [("S::operator=", 3)]),
            # Tables are data, however their entries are written.
            ("constexpr Entry kTable[] = {\n    {\"a\", F(1)},\n    Make(\"b\", 2),\n    {.x = 3},\n};\n",
             []),
            ("enum class Kind : uint8_t {\n  kA,\n  kB,\n};\n", []),
            ("auto lambda = [](int x) {\n  return x;\n};\n", []),
            # Lambdas and blocks inside a function belong to it.
            ("void H() {\n  auto f = [] {\n    if (a) {\n    }\n  };\n}\n", [("H", 6)]),
            # Braces in comments and literals count for nothing.
            ("void Q() {\n  // }\n  /* } */\n  s = \"}\\\"}\";\n  c = '}';\n  r = R\"x(})x\";\n}\n",
             [("Q", 7)]),
            ("int n = 1'000;\nvoid D() {\n  c = '{';\n}\n", [("D", 3)]),
        ]
        for source, expected in cases:
            with self.subTest(source=source):
                self.assertEqual(found(source), expected)


class Verdict(unittest.TestCase):
    def test_limits_and_allowed_entries(self):
        long_body = "void Long() {\n" + "  x();\n" * 119 + "}\n"  # 121 lines
        with tempfile.TemporaryDirectory() as root:
            os.makedirs(os.path.join(root, "src", "job"))
            with open(os.path.join(root, "src", "job", "a.cpp"), "w", encoding="utf-8") as f:
                f.write("\n" * 480 + long_body)
            with open(os.path.join(root, "src", "job", "b.cpp"), "w", encoding="utf-8") as f:
                f.write("void Short() {\n" + "  x();\n" * 118 + "}\n" + "\n" * 480)  # 600 lines
            problems = check_sizes.check(root)
            self.assertEqual(problems, [
                "src/job/a.cpp: 601 lines (at most 600)",
                "src/job/a.cpp:481: Long has 121 lines (at most 120)",
            ])
            allowed = {("job/a.cpp", None): "reason", ("job/a.cpp", "Long"): "reason"}
            saved = dict(check_sizes.ALLOWED)
            check_sizes.ALLOWED.update(allowed)
            try:
                self.assertEqual(check_sizes.check(root), [])
            finally:
                check_sizes.ALLOWED.clear()
                check_sizes.ALLOWED.update(saved)


if __name__ == "__main__":
    unittest.main()
