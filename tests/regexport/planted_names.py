#!/usr/bin/env python3
"""Plants something at every name that GetTempFileNameW(folder, "zrpk_", 0)
could give in a folder of each prefix's own, and checks afterwards that the
registry export test used none of it.

    planted_names.py plant ARTIFACTS_DIR PREFIX...
    planted_names.py check ARTIFACTS_DIR PREFIX...

The system keeps the prefix's first three characters and adds the unique value
in hexadecimal: zrp0000.tmp to zrpffff.tmp, and, as Wine writes them without
leading zeros, zrp0.tmp to zrpfff.tmp too (Wine writes lower case; the file
system ignores case anyway). Most names are second links of one forged export
(a file of its own for each would take a block each), every sixteenth a forged
export of its own, every sixty-fourth a symbolic link to a file outside.
"""
import os
import shutil
import sys
import zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from prefix_checks import run_per_prefix  # noqa: E402

MARK = b"\xff\xfe"
OUTSIDE_BYTES = b"outside the temporary folder: the planted links lead here\r\n"
FORGED_KEY = "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Forged]".encode("utf-16-le")


def forged_export(who):
    text = ("Windows Registry Editor Version 5.00\r\n\r\n"
            "[HKEY_LOCAL_MACHINE\\SOFTWARE\\Forged]\r\n\"planted\"=\"%s\"\r\n\r\n" % who)
    return MARK + text.encode("utf-16-le")


def kind(unique):
    if unique % 64 == 1:
        return "symlink"
    if unique % 16 == 0:
        return "file"
    return "second link"


def places(artifacts, prefix):
    planted = os.path.join(artifacts, "regexport", "planted-" + prefix)
    return (planted, os.path.join(planted, "temp"), os.path.join(planted, "outside.txt"),
            os.path.join(planted, "forged.reg"))


def planted_names():
    """Each name with the unique value it stands for."""
    padded = [("zrp%04x.tmp" % unique, unique) for unique in range(0x10000)]
    short = [("zrp%x.tmp" % unique, unique) for unique in range(0x1000)]
    return padded + short


def plant(artifacts, prefix):
    planted, temp, outside, shared = places(artifacts, prefix)
    shutil.rmtree(planted, ignore_errors=True)
    os.makedirs(temp)
    with open(outside, "wb") as f:
        f.write(OUTSIDE_BYTES)
    with open(shared, "wb") as f:
        f.write(forged_export("shared"))
    for name, unique in planted_names():
        path = os.path.join(temp, name)
        what = kind(unique)
        if what == "symlink":
            os.symlink(outside, path)
        elif what == "file":
            with open(path, "wb") as f:
                f.write(forged_export(name))
        else:
            os.link(shared, path)
    return []


def check(artifacts, prefix):
    planted, temp, outside, shared = places(artifacts, prefix)
    problems = []
    present = set(os.listdir(temp))
    wanted = planted_names()
    wanted_names = set(name for name, _ in wanted)
    if present != wanted_names:
        problems.append("%s: %d names added, %d gone" % (temp, len(present - wanted_names),
                                                         len(wanted_names - present)))
    with open(outside, "rb") as f:
        if f.read() != OUTSIDE_BYTES:
            problems.append("%s was changed" % outside)
    with open(shared, "rb") as f:
        if f.read() != forged_export("shared"):
            problems.append("%s was changed" % shared)
    shared_inode = os.stat(shared).st_ino
    changed = []
    for name, unique in wanted:
        path = os.path.join(temp, name)
        if name not in present:
            continue
        what = kind(unique)
        if what == "symlink":
            same = os.path.islink(path) and os.readlink(path) == outside
        elif what == "file":
            with open(path, "rb") as f:
                same = not os.path.islink(path) and f.read() == forged_export(name)
        else:
            same = not os.path.islink(path) and os.stat(path).st_ino == shared_inode
        if not same:
            changed.append(name)
    if changed:
        problems.append("%s: %d planted names changed, first %s" % (temp, len(changed), changed[0]))

    folder = os.path.join(artifacts, "regexport")
    archive_path = os.path.join(folder, "planted-exports-%s.zip" % prefix)
    expected_dir = os.path.join(folder, "planted-expected-%s" % prefix)
    expected = sorted(os.listdir(expected_dir))
    with zipfile.ZipFile(archive_path) as archive:
        if archive.testzip() is not None:
            problems.append("%s: an entry fails its CRC check" % archive_path)
        entries = archive.namelist()
        if sorted(entries) != ["reg/" + name for name in expected]:
            problems.append("%s: entries %s, expected %s" % (archive_path, entries, expected))
        for name in expected:
            entry = "reg/" + name
            if entry not in entries:
                continue
            got = archive.read(entry)
            with open(os.path.join(expected_dir, name), "rb") as f:
                want = f.read()
            if FORGED_KEY in got or got == OUTSIDE_BYTES:
                problems.append("%s: %s holds planted bytes" % (archive_path, entry))
            elif got != want:
                problems.append("%s: %s holds %d bytes, expected %d" % (archive_path, entry, len(got), len(want)))
    return problems


def main():
    action, artifacts, prefixes = sys.argv[1], sys.argv[2], sys.argv[3:]
    if action == "plant":
        for prefix in prefixes:
            plant(artifacts, prefix)
        return 0
    return run_per_prefix(prefixes, lambda prefix: check(artifacts, prefix))


if __name__ == "__main__":
    sys.exit(main())
