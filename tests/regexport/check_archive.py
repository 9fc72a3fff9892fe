#!/usr/bin/env python3
"""Reads the archives the registry export tests wrote, with Python's own ZIP
reader, and compares every entry with the export text the test expected.

    check_archive.py ARTIFACTS_DIR PREFIX...
"""
import os
import sys
import zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from prefix_checks import run_per_prefix  # noqa: E402

HEADER = "Windows Registry Editor Version 5.00\r\n\r\n".encode("utf-16-le")
MARK = b"\xff\xfe"


def check(artifacts, prefix):
    folder = os.path.join(artifacts, "regexport")
    path = os.path.join(folder, "exports-%s.zip" % prefix)
    expected_dir = os.path.join(folder, "expected-%s" % prefix)
    problems = []
    with zipfile.ZipFile(path) as archive:
        bad = archive.testzip()
        if bad is not None:
            problems.append("%s: entry %s fails its CRC check" % (path, bad))
        names = archive.namelist()
        expected = sorted(os.listdir(expected_dir))
        wanted = ["reg/" + name for name in expected]
        if sorted(names) != sorted(wanted):
            problems.append("%s: entries %s, expected %s" % (path, names, wanted))
        for name in expected:
            with open(os.path.join(expected_dir, name), "rb") as f:
                want = f.read()
            entry = "reg/" + name
            if entry not in names:
                continue
            got = archive.read(entry)
            if got != want:
                problems.append("%s: %s holds %d bytes, expected %d" % (path, entry, len(got), len(want)))
            if not got.startswith(MARK + HEADER):
                problems.append("%s: %s does not start with the mark and the header" % (path, entry))
        if "reg/missing.re_" in names and len(archive.read("reg/missing.re_")) != 82:
            problems.append("%s: the missing key's entry is not 82 bytes" % path)
        if "reg/view.re_" in names and "reg/view32.re_" in names:
            native, view32 = archive.read("reg/view.re_"), archive.read("reg/view32.re_")
            if prefix == "win64" and (len(native) != 82 or native == view32):
                problems.append("%s: under WOW64 the native row must not see the 32-bit key" % path)
            if prefix == "win32" and native != view32:
                problems.append("%s: without WOW64 both rows must be equal" % path)
    return problems


def main():
    artifacts, prefixes = sys.argv[1], sys.argv[2:]
    return run_per_prefix(prefixes, lambda prefix: check(artifacts, prefix))


if __name__ == "__main__":
    sys.exit(main())
