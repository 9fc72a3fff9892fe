#!/usr/bin/env python3
"""Checks every archive that the archive writer's Wine tests left, with readers
that are not ours: Python's zipfile (testzip and a byte-for-byte read-back),
`unzip -t`, `zipdetails`, and a field-by-field look at the raw headers.

Each archive X has X.manifest beside it (one line per entry: stored name,
method, external attributes in hex or *, content file) and the expected
contents in X.expected/.  Usage: verify_archives.py <folder>
"""
import os
import struct
import subprocess
import sys
import zipfile
import zlib

LOCAL = struct.Struct("<IHHHHHIIIHH")
CENTRAL = struct.Struct("<IHHHHHHIIIHHHHHII")
END = struct.Struct("<IHHHHIIH")


class Problems:
    def __init__(self):
        self.items = []

    def check(self, condition, archive, text):
        if not condition:
            self.items.append(f"{archive}: {text}")


def read_manifest(path):
    entries = []
    folder = path[: -len(".manifest")] + ".expected"
    with open(path, encoding="latin-1") as manifest:
        for line in manifest:
            name, method, attributes, content = line.rstrip("\n").split("\t")
            with open(os.path.join(folder, content), "rb") as data:
                entries.append({
                    "name": name.encode("latin-1"),
                    "method": int(method),
                    "attributes": None if attributes == "*" else int(attributes, 16),
                    "bytes": data.read(),
                })
    return entries


def check_raw_headers(label, raw, expected, problems):
    """Local and central headers agree with each other and with the manifest,
    entries lie back to back, and the end record closes the file."""
    problems.check(len(raw) >= END.size, label, "shorter than an end record")
    if len(raw) < END.size:
        return
    (sig, disk, cd_disk, on_disk, total, cd_size, cd_offset, comment) = END.unpack_from(raw, len(raw) - END.size)
    problems.check(sig == 0x06054B50, label, "the file does not end in an end record")
    problems.check((disk, cd_disk, comment) == (0, 0, 0), label, "disk numbers or comment in the end record")
    problems.check(on_disk == total == len(expected), label, f"end record counts {on_disk}/{total}, expected {len(expected)}")
    problems.check(cd_offset + cd_size + END.size == len(raw), label, "central directory does not end at the end record")

    at = cd_offset
    next_local = 0
    for index, entry in enumerate(expected):
        where = f"{label} entry {index} ({entry['name'].decode('latin-1')})"
        fields = CENTRAL.unpack_from(raw, at)
        (sig, made_by, needed, flags, method, time, date, crc, csize, usize, name_len, extra_len,
         comment_len, disk_start, internal, external, local_offset) = fields
        name = raw[at + 46: at + 46 + name_len]
        extra = raw[at + 46 + name_len: at + 46 + name_len + extra_len]
        at += 46 + name_len + extra_len + comment_len
        data = entry["bytes"]
        deflated = entry["method"] == 8
        problems.check(sig == 0x02014B50, where, "central signature")
        problems.check(made_by == 0x0B17, where, f"version made by {made_by:#06x}")
        problems.check(needed == 20, where, f"version needed {needed}")
        problems.check(flags == (2 if deflated else 0), where, f"central flags {flags:#06x}")
        problems.check(method == entry["method"], where, f"central method {method}")
        problems.check(crc == zlib.crc32(data), where, f"central CRC {crc:#010x}")
        problems.check(usize == len(data), where, f"uncompressed size {usize}")
        problems.check(deflated or csize == len(data), where, f"stored size {csize}")
        problems.check(name == entry["name"], where, f"central name {name!r}")
        problems.check((comment_len, disk_start, internal) == (0, 0, 0), where, "comment, disk or internal attributes")
        if entry["attributes"] is not None:
            problems.check(external == entry["attributes"], where, f"external attributes {external:#010x}")
        problems.check(len(extra) == 9 and extra[:5] == b"UT\x05\x00\x07", where, f"central extra {extra.hex()}")
        problems.check(local_offset == next_local, where, f"local header at {local_offset}, expected {next_local}")

        (lsig, lneeded, lflags, lmethod, ltime, ldate, lcrc, lcsize, lusize, lname_len, lextra_len) = \
            LOCAL.unpack_from(raw, local_offset)
        lname = raw[local_offset + 30: local_offset + 30 + lname_len]
        lextra = raw[local_offset + 30 + lname_len: local_offset + 30 + lname_len + lextra_len]
        problems.check(lsig == 0x04034B50, where, "local signature")
        problems.check((lneeded, lflags, lmethod, ltime, ldate, lcrc, lcsize, lusize) ==
                       (needed, flags, method, time, date, crc, csize, usize),
                       where, "local header differs from the central one")
        problems.check(lflags & 8 == 0, where, "data-descriptor bit left set")
        problems.check(lname == name, where, "local name")
        problems.check(len(lextra) == 17 and lextra[:5] == b"UT\x0D\x00\x07", where, f"local extra {lextra.hex()}")
        problems.check(lextra[5:9] == extra[5:9], where, "modification times differ")
        next_local = local_offset + 30 + lname_len + lextra_len + lcsize
        if deflated:
            stream = raw[next_local - lcsize: next_local]
            try:
                inflated = zlib.decompress(stream, -15)
            except zlib.error as error:
                inflated = None
                problems.check(False, where, f"raw inflate: {error}")
            problems.check(inflated is None or inflated == data, where, "inflated data differ")
    problems.check(cd_offset == next_local, label, f"directory at {cd_offset}, entries end at {next_local}")
    problems.check(at == cd_offset + cd_size, label, "directory size")


def check_with_zipfile(label, path, expected, problems):
    with zipfile.ZipFile(path) as archive:
        problems.check(archive.testzip() is None, label, "testzip found a bad entry")
        infos = archive.infolist()
        problems.check(len(infos) == len(expected), label, f"{len(infos)} entries")
        for info, entry in zip(infos, expected):
            problems.check(info.orig_filename.encode("cp437") == entry["name"], label,
                           f"name {info.orig_filename!r}")
            problems.check(not info.is_dir(), label, f"{info.orig_filename!r} reads as a folder")
            problems.check(archive.read(info) == entry["bytes"], label,
                           f"{info.orig_filename}: contents differ")


def check_with_tools(label, path, expected, problems):
    test = subprocess.run(["unzip", "-t", path], capture_output=True, text=True, errors="replace")
    if expected:
        problems.check(test.returncode == 0 and "No errors detected" in test.stdout, label,
                       f"unzip -t: {test.returncode}\n{test.stdout}{test.stderr}")
    else:
        problems.check("zipfile is empty" in test.stdout + test.stderr, label, "unzip -t on the empty archive")
    details = subprocess.run(["zipdetails", path], capture_output=True, text=True, errors="replace")
    problems.check(details.returncode == 0 and "Done" in details.stdout, label,
                   f"zipdetails: {details.returncode}\n{details.stderr}")
    problems.check(details.stdout.count("Extended Timestamp") >= 2 * len(expected) or not expected,
                   label, "zipdetails does not see the extended timestamps")


def main():
    folder = sys.argv[1]
    manifests = sorted(f for f in os.listdir(folder) if f.endswith(".manifest"))
    if not manifests:
        print(f"no archives in {folder}")
        return 1
    problems = Problems()
    for manifest in manifests:
        path = os.path.join(folder, manifest[: -len(".manifest")])
        label = os.path.basename(path)
        expected = read_manifest(os.path.join(folder, manifest))
        with open(path, "rb") as archive:
            raw = archive.read()
        check_raw_headers(label, raw, expected, problems)
        check_with_zipfile(label, path, expected, problems)
        check_with_tools(label, path, expected, problems)
        print(f"checked {label}: {len(expected)} entries, {len(raw)} bytes")
    for problem in problems.items:
        print("PROBLEM", problem)
    return 1 if problems.items else 0


if __name__ == "__main__":
    sys.exit(main())
