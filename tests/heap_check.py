#!/usr/bin/python3
"""Runs one in-process test suite under Wine's heap checking.

usage: heap_check.py WINE SUITE.exe

The whole suite runs once, in one process, with WINEDEBUG=warn+heap: Wine
then validates every heap call and reports a double free, a bad pointer or
a damaged block as a heap warning. The suite must pass, and every heap
warning it gives must also come from a run of the same executable that runs
no test, and so none of the program's code: those come from Wine and the
test framework starting up.
"""
import os
import re
import subprocess
import sys

# Thread ids, heap and block addresses differ from run to run.
HEX = re.compile(r"\b(?:0x)?[0-9A-Fa-f]{4,}\b")


def heap_warnings(stderr):
    return {HEX.sub("#", line) for line in stderr.splitlines() if ":heap:" in line}


def run(wine, suite, *args):
    env = dict(os.environ, WINEDEBUG="warn+heap")
    return subprocess.run([wine, suite, *args], env=env, capture_output=True,
                          text=True, errors="replace", timeout=900)


def main():
    wine, suite = sys.argv[1:]
    baseline = run(wine, suite, "--gtest_filter=-*")
    if baseline.returncode != 0:
        sys.exit(f"the run without tests failed ({baseline.returncode}):\n{baseline.stderr}")
    checked = run(wine, suite)
    print(checked.stdout)
    # A process that Wine ends after damage to its memory can exit with 0:
    # only gtest's summary tells that every test ran and passed.
    ran = re.search(r"^\[==========\] (\d+) tests? from .* ran\.", checked.stdout, re.M)
    passed = re.search(r"^\[  PASSED  \] (\d+) tests?\.", checked.stdout, re.M)
    if checked.returncode != 0 or not ran or not passed or ran.group(1) != passed.group(1):
        sys.exit(f"the suite failed under heap checking ({checked.returncode}):\n{checked.stderr}")
    new = sorted(heap_warnings(checked.stderr) - heap_warnings(baseline.stderr))
    if new:
        sys.exit("heap warnings that the run without tests does not give:\n" + "\n".join(new))
    print(f"no heap warnings beyond the {len(heap_warnings(baseline.stderr))} of the run without tests")


if __name__ == "__main__":
    main()
