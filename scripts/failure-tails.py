#!/usr/bin/env python3
"""Prints the end of each failed test's output from ctest's logs, so that the reason for a
failure is in the last lines of a long test run.

usage: failure-tails.py BUILD_DIR [LINES]
"""
import re
import sys
from pathlib import Path


def main():
    build = Path(sys.argv[1])
    keep = int(sys.argv[2]) if len(sys.argv) > 2 else 60
    temp = build / "Testing" / "Temporary"
    failed_log = temp / "LastTestsFailed.log"
    last_log = temp / "LastTest.log"
    if not failed_log.exists() or not last_log.exists():
        return
    failed = [line.split(":", 1)[1].strip() for line in failed_log.read_text(errors="replace").splitlines()
              if ":" in line]
    text = last_log.read_text(errors="replace")
    for name in failed:
        # Each test's section: '"name" start time: ...' then 'Output:', a rule, the output, '<end of output>'.
        m = re.search(r'^"' + re.escape(name) + r'" start time:.*?\nOutput:\n-+\n(.*?)<end of output>',
                      text, re.S | re.M)
        print(f"--- {build.name}: {name} (last {keep} lines of its output)")
        if not m:
            print("(no output recorded)")
            continue
        lines = m.group(1).rstrip("\n").splitlines()
        # A TAP stream (the page's suites) says why in the block under each "not ok".
        for i, line in enumerate(lines):
            if re.match(r"\s*not ok \d+", line):
                print("\n".join(lines[max(0, i - 1):i + 40]))
        print("\n".join(lines[-keep:]))


if __name__ == "__main__":
    main()
