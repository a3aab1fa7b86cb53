#!/usr/bin/env python3
"""Fails when a page cites a test that does not exist, naming it: cited_tests.py REPOSITORY PAGE...

A citation is a name in backticks shaped like a test: a CTest name (e2e_Group, fuzz_..., tools_..., ..._tests,
test_...) as tests/CMakeLists.txt makes it (e2e_<group> for each group there that is a class of
tests/e2e/test_online_setup.py), a Python test method (test_...) or a GoogleTest Suite.Case under tests/."""
import glob
import os
import re
import sys

TEST_SHAPED = r"e2e_[A-Z]\w*|(fuzz|tools)_\w+|\w+_tests|test_\w+|[A-Z]\w*[a-z]\w*\.[A-Z]\w*[a-z]\w*"
repo, pages = sys.argv[1], sys.argv[2:]
read = lambda *path: open(os.path.join(repo, *path), encoding="utf-8").read()  # noqa: E731
sources = lambda ext: "".join(read(p) for p in glob.glob(os.path.join(repo, "tests", "**", ext), recursive=True))  # noqa
cmake, e2e = read("tests", "CMakeLists.txt"), read("tests", "e2e", "test_online_setup.py")
ctest = re.findall(r"(?:add_test\(NAME |tarnwick_add_test\()(\w+)", cmake)
known = set(ctest + re.findall(r"def (test_\w+)\(", sources("*.py")))
known |= {"e2e_" + g for g in re.search(r"set\(e2e_groups ([^)]*)\)", cmake).group(1).split() if "\nclass %s(" % g in e2e}
known |= {"%s.%s" % case for case in re.findall(r"^TEST(?:_F|_P)?\((\w+), (\w+)\)", sources("*.cpp"), re.M)}
failed = False
for page in pages:
    cited = {name for name in re.findall(r"`([\w.]+)`", read(page)) if re.fullmatch(TEST_SHAPED, name)}
    missing = sorted(cited - known)
    failed = failed or not cited or bool(missing)
    print("%s: %d test names cited, %s" % (page, len(cited), "missing: " + ", ".join(missing) if missing
                                             else "all exist" if cited else "none at all"))
sys.exit(1 if failed else 0)
