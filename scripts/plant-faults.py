#!/usr/bin/env python3
"""Plants one-line faults in the product code, one at a time, and checks that
the tests still catch each.

The faults are listed in tests/faults/*.faults, as blocks separated by blank
lines:

    fault: eeprom-page-size
    file: src/core/programming/EepromProgramming.cpp
    find: kPageSize = 32
    replace: kPageSize = 31
    caught-by: EepromProgramming|ProgramJob

`find` must occur exactly once in the file. For each fault the script edits
the file, rebuilds the build folder, runs the tests whose names match
`caught-by` (ctest -R), and puts the file back whatever happens. A fault is
caught when at least one of those tests fails. With --record it runs the
whole suite instead and prints every test that failed, which is what a trim
needs: a test that is the only one to catch a fault stays.

    scripts/plant-faults.py BUILD_DIR [--record] [--only ID,...] [--targets T,...] [FILE.faults ...]

Use a build folder configured without SPINDLE_UNITY_BUILD, so that one planted
fault rebuilds one file. --targets builds only the named targets (the test
programs that hold the caught-by tests) instead of the whole tree, which
relinks every program after each fault. Exit status 1 when a fault is missed or does not
build."""
import argparse
import glob
import os
import re
import subprocess
import sys

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def read_faults(paths):
    faults = []
    for path in paths:
        block = {}
        with open(path, encoding="utf-8") as f:
            lines = f.read().split("\n") + [""]
        for line in lines:
            if line.startswith("#"):
                continue
            if not line.strip():
                if block:
                    block["list"] = os.path.relpath(path, ROOT)
                    faults.append(block)
                    block = {}
                continue
            key, _, value = line.partition(":")
            block[key.strip()] = value[1:] if value.startswith(" ") else value
    for fault in faults:
        for key in ("fault", "file", "find", "replace", "caught-by"):
            if key not in fault:
                sys.exit(f"{fault.get('list')}: fault {fault.get('fault', '?')} has no '{key}'")
    return faults


def failed_tests(output):
    # "  13 - Suite.Test (Failed)", or "  13 - Set/Suite.Test/Name  # GetParam() = 1 (Failed)"
    return re.findall(r"^\s*\d+ - (\S+)", output, re.M)


def run(build, fault, record, targets):
    path = os.path.join(ROOT, fault["file"])
    with open(path, encoding="utf-8") as f:
        original = f.read()
    if original.count(fault["find"]) != 1:
        return "BAD", f"'{fault['find']}' occurs {original.count(fault['find'])} times in {fault['file']}"
    try:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original.replace(fault["find"], fault["replace"], 1))
        b = subprocess.run(["cmake", "--build", build] + (["--target"] + targets if targets else []),
                           capture_output=True, text=True)
        if b.returncode != 0:
            return "BAD", "does not build"
        cmd = ["ctest", "--test-dir", build, "-j", str(os.cpu_count() or 2), "--timeout", "120"]
        if not record:
            cmd += ["-R", fault["caught-by"]]
        t = subprocess.run(cmd, capture_output=True, text=True)
        failed = failed_tests(t.stdout)
        if t.returncode == 0 or not failed:
            return "MISSED", ""
        return "caught", " ".join(failed)
    finally:
        with open(path, "w", encoding="utf-8") as f:
            f.write(original)
        # Keeps the timestamp moving so the next build sees the file restored.
        os.utime(path, None)


def main():
    p = argparse.ArgumentParser()
    p.add_argument("build")
    p.add_argument("lists", nargs="*")
    p.add_argument("--record", action="store_true")
    p.add_argument("--only", default="")
    p.add_argument("--targets", default="")
    a = p.parse_intermixed_args()
    lists = a.lists or sorted(glob.glob(os.path.join(ROOT, "tests", "faults", "*.faults")))
    faults = read_faults(lists)
    only = set(filter(None, a.only.split(",")))
    targets = list(filter(None, a.targets.split(",")))
    bad = 0
    for fault in faults:
        if only and fault["fault"] not in only:
            continue
        verdict, detail = run(a.build, fault, a.record, targets)
        print(f"{verdict:7} {fault['fault']}  {detail}", flush=True)
        bad += verdict != "caught"
    subprocess.run(["cmake", "--build", a.build] + (["--target"] + targets if targets else []), capture_output=True)
    return 1 if bad else 0


if __name__ == "__main__":
    sys.exit(main())
