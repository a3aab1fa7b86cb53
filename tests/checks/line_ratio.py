#!/usr/bin/env python3
"""Fails when tests/ holds more than half as many lines as the product.

    python3 tests/checks/line_ratio.py [REPOSITORY]

Counts the text lines of the files git knows (tracked, or new and not ignored)
as they are in the working tree; files with a NUL byte or a binary extension
do not count."""
import os
import subprocess
import sys

PRODUCT = ["app", "session", "net", "config", "ui", "diag", "support", "res", "scripts", "bench", "tools"]
BINARY = (".ico", ".png", ".bmp", ".jpg", ".gif", ".exe", ".dll", ".der")


def count_lines(repo, folders):
    listed = subprocess.run(["git", "-C", repo, "ls-files", "-z", "--cached", "--others", "--exclude-standard", "--"]
                            + folders, check=True, capture_output=True).stdout.decode()
    total = 0
    for name in set(filter(None, listed.split("\0"))):
        path = os.path.join(repo, name)
        if not name.lower().endswith(BINARY) and os.path.isfile(path):
            with open(path, "rb") as f:
                data = f.read()
            total += 0 if b"\0" in data else data.count(b"\n") + (1 if data and not data.endswith(b"\n") else 0)
    return total


repo = sys.argv[1] if len(sys.argv) > 1 else os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
tests, product = count_lines(repo, ["tests"]), count_lines(repo, PRODUCT)
print("tests/: %d lines; product (%s): %d lines; tests/ may hold %d: %s"
      % (tests, ", ".join(PRODUCT), product, product // 2, "ok" if 2 * tests <= product else "TOO MANY"))
sys.exit(0 if 2 * tests <= product else 1)
