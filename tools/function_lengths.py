#!/usr/bin/env python3
"""Lists the functions longer than a number of lines, longest first.

Each line reads `lines  file:line  name`, where lines counts from the line the
definition starts on to its closing brace. Universal Ctags finds the functions.

    tools/function_lengths.py                 # src/, over 80 lines
    tools/function_lengths.py -n 60 --tests   # src/ and tests/, over 60 lines
    tools/function_lengths.py --top 40 src/ui # the 40 longest under src/ui
"""

import argparse
import json
import os
import shutil
import signal
import subprocess
import sys

SOURCE_SUFFIXES = (".cpp", ".cc", ".h", ".hpp")
# Scopes that name a type; namespaces (named or anonymous) are left out of the name.
TYPE_SCOPES = ("class", "struct", "union")


def source_files(roots):
    for root in roots:
        if os.path.isfile(root):
            yield root
            continue
        for folder, dirs, files in os.walk(root):
            dirs.sort()
            for name in sorted(files):
                if name.endswith(SOURCE_SUFFIXES):
                    yield os.path.join(folder, name)


def ctags_functions(files):
    """Yields (lines, path, start, name) for each function definition ctags reports."""
    command = [
        "ctags", "--output-format=json", "--fields=+neZ", "--c++-kinds=+f",
        "--language-force=C++", "-L", "-", "-f", "-",
    ]
    result = subprocess.run(command, input="\n".join(files), capture_output=True, text=True,
                            check=True)
    for line in result.stdout.splitlines():
        tag = json.loads(line)
        if tag.get("_type") != "tag" or tag.get("kind") != "function" or "end" not in tag:
            continue
        name = tag["name"]
        if name.startswith("__anon"):
            continue  # a lambda, counted with the function it is written in
        if tag.get("scopeKind") in TYPE_SCOPES:
            name = tag["scope"].split("::")[-1] + "::" + name
        start = tag["line"]
        yield tag["end"] - start + 1, tag["path"], start, name


def main():
    parser = argparse.ArgumentParser(description=__doc__,
                                     formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("roots", nargs="*", help="folders or files (default: src)")
    parser.add_argument("-n", "--min-lines", type=int, default=80,
                        help="list functions longer than this (default: 80)")
    parser.add_argument("--tests", action="store_true", help="also look in tests/")
    parser.add_argument("--top", type=int, default=0, help="list at most this many")
    args = parser.parse_args()
    if hasattr(signal, "SIGPIPE"):
        signal.signal(signal.SIGPIPE, signal.SIG_DFL)  # quiet when piped to head

    if shutil.which("ctags") is None:
        sys.exit("function_lengths: ctags not found (apt-get install universal-ctags)")
    roots = args.roots or ["src"]
    if args.tests:
        roots.append("tests")

    found = [f for f in ctags_functions(list(source_files(roots))) if f[0] > args.min_lines]
    found.sort(key=lambda f: (-f[0], f[1], f[2]))
    if args.top:
        found = found[:args.top]
    for lines, path, start, name in found:
        print(f"{lines:5}  {path}:{start}  {name}")


if __name__ == "__main__":
    main()
