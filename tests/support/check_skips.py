#!/usr/bin/python3
"""Fails when a test did not run (skipped, disabled or not run) unless tests/allowed-skips.txt lists it.

Usage: check_skips.py <ctest JUnit file> <allowed-skips file>
       check_skips.py --summary <ctest JUnit file>
The second form prints one line, "test.sh: N passed, N failed" (a test that did not run counts as
failed unless it is an allowed skip; skips are named besides).
Reads the JUnit file that `ctest --output-junit` writes: one <testcase> a test, with status "run",
"fail", "notrun" or "disabled".
"""
import sys
import xml.etree.ElementTree as ET


def allowed_skips(path):
    allowed, errors = {}, []
    with open(path, encoding="utf-8") as f:
        for number, line in enumerate(f, 1):
            line = line.strip()
            if not line or line.startswith("#"):
                continue
            name, _, reason = line.replace("\t", " ").partition(" ")
            if not reason.strip():
                errors.append(f"{path}:{number}: {name} has no reason")
            allowed[name] = reason.strip()
    return allowed, errors


def summary(results, listing):
    try:
        cases = list(ET.parse(results).getroot().iter("testcase"))
    except (OSError, ET.ParseError):
        print(f"test.sh: 0 passed, 0 failed (no test results in {results})")
        return 1
    allowed, _ = allowed_skips(listing)
    passed = failed = skipped = 0
    for case in cases:
        status = case.get("status", "")
        if status in ("notrun", "disabled") or case.find("skipped") is not None:
            if case.get("name") in allowed:
                skipped += 1
            else:
                failed += 1
        elif status == "fail" or case.find("failure") is not None:
            failed += 1
        else:
            passed += 1
    extra = f" ({skipped} allowed skips)" if skipped else ""
    print(f"test.sh: {passed} passed, {failed} failed{extra}")
    return 1 if failed else 0


def main():
    if len(sys.argv) == 3 and sys.argv[1] == "--summary":
        import os
        listing = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "allowed-skips.txt")
        return summary(sys.argv[2], listing)
    if len(sys.argv) != 3:
        print(__doc__.strip(), file=sys.stderr)
        return 2
    results, listing = sys.argv[1], sys.argv[2]
    allowed, errors = allowed_skips(listing)
    try:
        cases = ET.parse(results).getroot().iter("testcase")
    except (OSError, ET.ParseError) as e:
        print(f"check_skips: no test results in {results}: {e}", file=sys.stderr)
        return 1
    ran = 0
    for case in cases:
        name, status = case.get("name"), case.get("status", "")
        skipped = status in ("notrun", "disabled") or case.find("skipped") is not None
        if not skipped:
            ran += 1
        elif name in allowed:
            print(f"allowed skip: {name} ({allowed[name]})")
        else:
            message = case.find("skipped")
            why = message.get("message", "") if message is not None else status
            errors.append(f"{name} did not run ({why}); tests that may skip are listed in {listing}")
    if ran == 0:
        errors.append(f"no test ran ({results})")
    for e in errors:
        print(f"check_skips: {e}", file=sys.stderr)
    return 1 if errors else 0


if __name__ == "__main__":
    sys.exit(main())
