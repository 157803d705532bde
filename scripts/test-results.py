#!/usr/bin/env python3
"""Reads what one test suite left behind: ctest's JUnit file (one entry per
test, with the output of a test that skipped) and the folder of GoogleTest
XML files its programs wrote (one entry per case).

Prints "passed N", "failed N", then one line "skip NAME: REASON" per test
that ctest skipped and per GoogleTest case that skipped inside a test that
passed, so that a skip is never counted as a pass.

Usage: test-results.py JUNIT_FILE GTEST_XML_DIR
"""
import glob
import os
import sys
import xml.etree.ElementTree as ET


def last_line(text):
    lines = [l.strip() for l in (text or "").splitlines() if l.strip()]
    return lines[-1] if lines else "no reason given"


def main(junit, gtest_dir):
    passed = failed = 0
    skips = []
    for case in ET.parse(junit).getroot().iter("testcase"):
        name = case.get("name")
        if case.find("skipped") is not None:
            skips.append((name, last_line(case.findtext("system-out"))))
        elif case.get("status") == "run" and case.find("failure") is None:
            passed += 1
        else:
            failed += 1
    for path in sorted(glob.glob(os.path.join(gtest_dir, "*.xml"))):
        program = os.path.splitext(os.path.basename(path))[0]
        try:
            root = ET.parse(path).getroot()
        except ET.ParseError:
            continue   # a program that crashed left no whole file; ctest failed it
        for case in root.iter("testcase"):
            skipped = case.find("skipped")
            if case.get("result") != "skipped" and skipped is None:
                continue
            # The message is "file:line" then the reason given to GTEST_SKIP.
            message = skipped.get("message", "") if skipped is not None else ""
            reason = message.split("\n", 1)[1] if "\n" in message else message
            skips.append(("%s %s.%s" % (program, case.get("classname"), case.get("name")),
                          reason.strip() or "no reason given"))
    print("passed %d" % passed)
    print("failed %d" % failed)
    for name, reason in skips:
        print("skip %s: %s" % (name, reason))


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    main(sys.argv[1], sys.argv[2])
