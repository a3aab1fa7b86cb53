#!/usr/bin/env python3
"""Seeded-fault check: does the test suite fail when a realistic fault is seeded?

    python3 tests/mutation/run.py [--only ID,ID...] [--list]

Copies the tracked files of the working tree to build/mutation/src and builds
the copy as the test run does: x86_64 in build/mutation/x64 and the 32-bit
release that the end-to-end runs start in build/mutation/i686-test (servers
compiled in on TW_PORT_BASE+20..22, so a normal test run can go on beside it). Starts one Wine
test environment for the whole run and checks that the chosen tests pass on
the unchanged copy. Then, for each fault of faults.py: applies it, rebuilds
incrementally, runs the fault's CTest tests (each must exist) and puts the file back;
a kill counts only when the failed tests pass on the restored copy (else "flaky").
Prints killed / survived / flaky / not-applied / build-failed per fault and a summary
line; exits 0 only when every fault was applied and killed. Logs: build/mutation/log/.
"""
import argparse
import os
import shutil
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.abspath(os.path.join(HERE, "..", ".."))
sys.path.insert(0, HERE)
from faults import FAULTS  # noqa: E402

WORK = os.path.join(ROOT, "build", "mutation")
SRC, BUILD, BUILD32, LOGS = (os.path.join(WORK, d) for d in ("src", "x64", "i686-test", "log"))
STATE = os.path.join(BUILD, "test-env")


def read(path):
    with open(path, "rb") as f:
        return f.read()


def write(path, data):
    with open(path, "wb") as f:
        f.write(data)


def run(cmd, log, cwd=ROOT):
    with open(os.path.join(LOGS, log), "ab") as f:
        return subprocess.run(cmd, cwd=cwd, stdout=f, stderr=subprocess.STDOUT).returncode


def sync_tree():
    """The working tree's tracked files; unchanged files keep their time stamps."""
    listed = subprocess.run(["git", "ls-files", "-z"], cwd=ROOT, check=True, capture_output=True)
    names = {n for n in listed.stdout.decode().split("\0") if n and os.path.isfile(os.path.join(ROOT, n))}
    for folder, _, files in os.walk(SRC):
        for name in files:
            if os.path.relpath(os.path.join(folder, name), SRC) not in names:
                os.remove(os.path.join(folder, name))
    for name in names:
        source, target = os.path.join(ROOT, name), os.path.join(SRC, name)
        if not os.path.exists(target) or read(target) != read(source):
            os.makedirs(os.path.dirname(target), exist_ok=True)
            # A fresh time stamp: a copy left seeded by an interrupted run is
            # older than its objects and would not be rebuilt.
            shutil.copy(source, target)


def build(log):
    return run(["cmake", "--build", BUILD, "-j2"], log) == 0 and \
        run(["cmake", "--build", BUILD32, "-j2", "--target", "TarnwickOnlineSetup"], log) == 0


def ctest(regex, log):
    """None when all passed, else the names of the failed tests ("-" when ctest named none)."""
    failed = os.path.join(BUILD, "Testing", "Temporary", "LastTestsFailed.log")
    os.path.exists(failed) and os.remove(failed)
    code = run(["ctest", "-R", regex, "-FA", "wine", "--timeout", "600", "--stop-on-failure", "--no-tests=error",
                "--output-on-failure"], log, cwd=BUILD)
    names = read(failed).decode().split() if os.path.exists(failed) else ["0:-"]
    return None if code == 0 else [name.split(":", 1)[1] for name in names]


def try_fault(fault):
    ident, rel, original, replacement, regex = fault
    path = os.path.join(SRC, rel)
    text = read(path) if os.path.exists(path) else b""
    if text.count(original.encode()) != 1:
        return "not-applied"
    write(path, text.replace(original.encode(), replacement.encode()))
    try:
        if not build(ident + ".log"):
            return "build-failed"
        failed = ctest(regex, ident + ".log")
    finally:
        write(path, text)
    # Only tests that pass without the fault were failed by it.
    if failed is None:
        return "survived"
    return "killed" if build(ident + ".log") and ctest("^(%s)$" % "|".join(failed), ident + ".log") is None else "flaky"


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--only", help="comma-separated fault ids")
    parser.add_argument("--list", action="store_true", help="list the faults and whether each applies")
    args = parser.parse_args()
    faults = [f for f in FAULTS if not args.only or f[0] in args.only.split(",")]
    if args.list:
        for ident, rel, original, _, regex in faults:
            path = os.path.join(ROOT, rel)
            found = read(path).count(original.encode()) if os.path.exists(path) else 0
            print("%-26s %-32s %s  %s" % (ident, rel, "ok" if found == 1 else "FOUND %d" % found, regex))
        return 0

    os.makedirs(SRC, exist_ok=True)
    shutil.rmtree(LOGS, ignore_errors=True)
    os.makedirs(LOGS)
    sync_tree()
    port = int(os.environ.get("TW_PORT_BASE", "18443")) + 20
    hosts = ["-DTARNWICK_VERSION_HOST=localhost:%d" % port, "-DTARNWICK_ERRORLOG_HOST=localhost:%d" % (port + 1),
             "-DTARNWICK_WEB_HOST=localhost:%d" % (port + 2)]
    if run(["cmake", "-S", SRC, "-B", BUILD32, "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/mingw-w64-i686.cmake" % SRC,
            "-DTARNWICK_BUILD_TESTS=OFF"] + hosts, "build.log") != 0 or \
            run(["cmake", "-S", SRC, "-B", BUILD, "-DCMAKE_TOOLCHAIN_FILE=%s/cmake/mingw-w64-x86_64.cmake" % SRC,
                 "-DTARNWICK_E2E_TIMEOUT=600", "-DTARNWICK_E2E_EXE=%s/bin/TarnwickOnlineSetup.exe" % BUILD32] + hosts,
                "build.log") != 0 or not build("build.log"):
        sys.exit("the unchanged copy does not build (build/mutation/log/build.log)")
    listed = subprocess.run(["ctest", "-N"], cwd=BUILD, capture_output=True, text=True).stdout.split()
    unknown = sorted({"%s: %s" % (f[0], name) for f in faults for name in f[4].split("|") if name not in listed})
    if unknown:
        sys.exit("faults name tests that do not exist: " + ", ".join(unknown))
    env_script = os.path.join(SRC, "tests", "harness", "wine-env.sh")
    if run([env_script, "start", STATE, os.path.join(BUILD, "bin")], "wine-env.log") != 0:
        sys.exit("the Wine test environment did not start (build/mutation/log/wine-env.log)")
    results = []
    try:
        every_regex = "|".join(sorted({f[4] for f in faults}))
        if ctest(every_regex, "baseline.log") is not None:
            sys.exit("the tests fail without any fault (build/mutation/log/baseline.log)")
        for fault in faults:
            started = time.time()
            outcome = try_fault(fault)
            results.append((fault[0], outcome))
            print("%-26s %-12s %4.0fs  %s" % (fault[0], outcome, time.time() - started, fault[4]), flush=True)
        build("build.log")  # leave the copy built unchanged
    finally:
        run([env_script, "stop", STATE], "wine-env.log")
    counts = [(k, sum(1 for _, o in results if o == k)) for k in ("killed", "survived", "flaky", "not-applied", "build-failed")]
    print("seeded faults: %d; %s" % (len(results), ", ".join("%s %d" % (k.replace("-", " "), n) for k, n in counts)))
    return 0 if counts[0][1] == len(results) else 1


if __name__ == "__main__":
    sys.exit(main())
