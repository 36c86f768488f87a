#!/usr/bin/env python3
"""Checks the sizes of the sources of src/: no file over 600 lines, no function over 120.

A function is a brace block at namespace or class scope whose head (the text since the last
";", "{" or "}" of that scope) has a parameter list and no "=": a brace-initialised table
(`constexpr Entry kTable[] = {...}`) is data and is not measured, nor are the namespaces,
classes and enumerations around the functions; lambdas and blocks inside a function belong to
it. A function's size is its lines from the opening brace to the closing one. Braces in
comments, string and character literals do not count. Exceptions are the entries of ALLOWED,
each with its reason. Prints every oversized file and function and exits 1 when there is one.
"""
import argparse
import os
import re
import sys

FILE_LIMIT = 600
FUNCTION_LIMIT = 120

# (path under src/, function name or None for the whole file): the reason it may be longer,
# e.g. ("engine/example.cpp", "Dispatch"): "one case per attribute, nothing to divide".
ALLOWED = {
    ("platform/platform_windows.cpp", None):
        "every Windows call of the program in the one file of its platform; Windows needs more "
        "words than POSIX for the same calls (handles, command lines, devices, CNG digests)",
}

SCOPE_WORDS = re.compile(r"\b(namespace|class|struct|union|enum|extern)\b")
QUALIFIERS_ONLY = re.compile(r"^(\s|const\b|noexcept\b|override\b|final\b|volatile\b|&|"
                             r"->[\w\s:<>,*&]+)*$")
NAME_BEFORE_PARAMETERS = re.compile(r"((?:[A-Za-z_]\w*::)*(?:operator\s*\S+?|~?[A-Za-z_]\w*))\s*$")
# A head ending in a name: "Foo x{1}" or a member's brace initialiser in a constructor's list,
# whose braces belong to the head of what follows.
ENDS_IN_NAME = re.compile(r"[A-Za-z_]\w*\s*$")


def code_only(text):
    """The text with comments, string and character literals blanked out; line ends kept."""
    out = []
    idx = 0
    length = len(text)
    while idx < length:
        ch = text[idx]
        nxt = text[idx + 1] if idx + 1 < length else ""
        if ch == "/" and nxt == "/":
            end = text.find("\n", idx)
            end = length if end < 0 else end
            idx = end
            continue
        if ch == "/" and nxt == "*":
            end = text.find("*/", idx + 2)
            end = length if end < 0 else end + 2
            out.append(re.sub(r"[^\n]", " ", text[idx:end]))
            idx = end
            continue
        raw = re.match(r'R"([^()\\ ]{0,16})\(', text[idx:idx + 20]) if ch == "R" else None
        if raw and (idx == 0 or not (text[idx - 1].isalnum() or text[idx - 1] == "_")):
            closing = ")" + raw.group(1) + '"'
            end = text.find(closing, idx + raw.end())
            end = length if end < 0 else end + len(closing)
            out.append('""' + re.sub(r"[^\n]", " ", text[idx + 2:end]))
            idx = end
            continue
        if ch == "'" and idx > 0 and text[idx - 1].isdigit() and nxt.isalnum():
            out.append(" ")  # a digit separator: 1'000'000
            idx += 1
            continue
        if ch in "\"'":
            end = idx + 1
            while end < length and text[end] != ch and text[end] != "\n":
                end += 2 if text[end] == "\\" else 1
            end = min(end + 1, length)
            out.append(ch + " " * (end - idx - 2) + ch)
            idx = end
            continue
        out.append(ch)
        idx += 1
    return "".join(out)


def function_name(head):
    """The name of the function whose head (the text before its body) this is, or None when the
    head is no function's: without a parameter list closing it (but for qualifiers such as
    const, noexcept or a trailing return type), or with an "=" before it (an initialiser)."""
    head = re.sub(r"^\s*#.*$", "", head, flags=re.M).strip()
    depth = 0
    first_open = None
    last_close = None
    for pos, ch in enumerate(head):
        if ch in "([":
            if ch == "(" and depth == 0 and first_open is None:
                first_open = pos
            depth += 1
        elif ch in ")]":
            depth -= 1
            if ch == ")" and depth == 0:
                last_close = pos
        elif ch == "=" and depth == 0 and first_open is None and "operator" not in head[:pos]:
            return None  # a table, or a variable given a lambda
    if first_open is None or not QUALIFIERS_ONLY.match(head[last_close + 1:]):
        return None
    match = NAME_BEFORE_PARAMETERS.search(head[:first_open])
    if not match or match.group(1) in ("if", "for", "while", "switch", "return", "sizeof"):
        return None
    return match.group(1)


def functions(code):
    """(name, first line, last line) of every function body in the blanked text."""
    found = []
    # Per open brace outside functions: "scope" (namespace, class, ...), "data" (a table), or
    # "head" (braces inside a head, which goes on after them).
    stack = []
    head_start = 0
    line = 1
    inside = 0  # open braces inside the outermost function, 0 outside any
    start_line = 0
    func = None
    for pos, ch in enumerate(code):
        if ch == "\n":
            line += 1
        elif ch == "{":
            if inside:
                inside += 1
                continue
            head = code[head_start:pos]
            # Inside a brace-initialised table every brace is data, whatever its head holds.
            name = function_name(head) if not stack or stack[-1] == "scope" else None
            if name is not None:
                inside = 1
                start_line = line
                func = name
            else:
                if stack and stack[-1] != "scope":
                    stack.append("data")
                elif SCOPE_WORDS.search(head) and "=" not in head:
                    stack.append("scope")
                else:
                    stack.append("head" if ENDS_IN_NAME.search(head) and "=" not in head
                                 else "data")
                    if stack[-1] == "head":
                        continue
            head_start = pos + 1
        elif ch == "}":
            if inside:
                inside -= 1
                if inside == 0:
                    found.append((func, start_line, line))
                    head_start = pos + 1
                continue
            if stack and stack.pop() == "head":
                continue
            head_start = pos + 1
        elif ch == ";" and not inside:
            head_start = pos + 1
    return found


def check(source):
    problems = []
    src = os.path.join(source, "src")
    for folder, _, names in sorted(os.walk(src)):
        for name in sorted(names):
            if not name.endswith((".h", ".cpp", ".c")):
                continue
            path = os.path.join(folder, name)
            rel = os.path.relpath(path, src).replace(os.sep, "/")
            with open(path, encoding="utf-8") as handle:
                text = handle.read()
            lines = text.count("\n")
            if lines > FILE_LIMIT and (rel, None) not in ALLOWED:
                problems.append(f"src/{rel}: {lines} lines (at most {FILE_LIMIT})")
            for func, first, last in functions(code_only(text)):
                size = last - first + 1
                if size > FUNCTION_LIMIT and (rel, func) not in ALLOWED:
                    problems.append(f"src/{rel}:{first}: {func} has {size} lines "
                                    f"(at most {FUNCTION_LIMIT})")
    return problems


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("source", nargs="?", default=os.path.join(os.path.dirname(__file__), ".."))
    args = parser.parse_args()
    problems = check(args.source)
    for problem in problems:
        print(problem)
    if problems:
        return 1
    print(f"sizes: every file of src/ within {FILE_LIMIT} lines, every function within "
          f"{FUNCTION_LIMIT}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
