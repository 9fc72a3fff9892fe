#!/usr/bin/env python3
"""Reads the archives the listing tests wrote with Python's own ZIP reader and
compares them with the files on disk: every listing line with the file it names
(size, MD5, kind), the order of the lines, and every copied file byte for byte.

    check_listing_archives.py ARTIFACTS_DIR PREFIX_ROOT PREFIX...
"""
import fnmatch
import hashlib
import os
import re
import sys
import zipfile
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from prefix_checks import run_per_prefix  # noqa: E402

ZEROS = "0" * 32
# What the tests' files outside the per-user folders hold.
SECRET = b"secret of the administrators"
LINE = re.compile(r"^([D-][A-][A-][H-][S-])\t( *\d+)\t(\d{4,5}-\d\d-\d\d \d\d:\d\d)\t"
                  r"(\d+\.\d+\.\d+\.\d+ *)\t([0-9A-F]{32})\t(.+)$")


def host_path(windows_path, prefix_dir):
    drive, rest = windows_path[:2].upper(), windows_path[3:].replace("\\", "/")
    if drive == "Z:":
        return "/" + rest
    if drive == "C:":
        return os.path.join(prefix_dir, "drive_c", rest)
    raise ValueError("unexpected drive in " + windows_path)


def entry_name(info):
    # Names without the UTF-8 flag are read as code page 437; undo that for raw bytes.
    return info.filename.encode("cp437") if not info.flag_bits & 0x800 else info.filename.encode()


def check_listing(data, prefix_dir, label):
    problems = []
    if data[:2] == b"\xff\xfe":
        problems.append("%s starts with a byte-order mark" % label)
    if len(data) % 2:
        problems.append("%s has an odd length" % label)
    text = data.decode("utf-16-le")
    if not text.endswith("\r\n"):
        problems.append("%s does not end with a line end" % label)
    lines = text[:-2].split("\r\n")
    paths = []
    for line in lines:
        match = LINE.match(line)
        if not match:
            problems.append("%s: malformed line %r" % (label, line))
            continue
        attributes, size, _, version, digest, path = match.groups()
        if len(size) < 12 or (len(size) > 12 and size[0] == " ") or size != size.strip().rjust(12):
            problems.append("%s: size column %r" % (label, size))
        if len(version) < 16 or (len(version) > 16 and version.endswith(" ")):
            problems.append("%s: version column %r" % (label, version))
        paths.append(path)
        local = host_path(path, prefix_dir)
        if not os.path.lexists(local):
            problems.append("%s: %s does not exist (%s)" % (label, path, local))
            continue
        is_dir = os.path.isdir(local)
        if (attributes[0] == "D") != is_dir:
            problems.append("%s: %s attribute column %s" % (label, path, attributes))
        if is_dir:
            if digest != ZEROS or version.strip() != "0.0.0.0":
                problems.append("%s: directory %s with a digest or version" % (label, path))
            continue
        if int(size) != os.path.getsize(local):
            problems.append("%s: %s size %s, on disk %d" % (label, path, size.strip(), os.path.getsize(local)))
        with open(local, "rb") as f:
            content = f.read()
        want = hashlib.md5(content).hexdigest().upper() if content else ZEROS
        if digest != want:
            problems.append("%s: %s digest %s, expected %s" % (label, path, digest, want))
    keys = [p.encode("utf-16-be") for p in paths]
    if keys != sorted(keys):
        problems.append("%s: lines are not in ordinal order of their paths" % label)
    return paths, problems


def walk_host(windows_root, prefix_dir, pattern):
    """Windows paths of everything below the root, the pattern on the top level only."""
    local_root = host_path(windows_root, prefix_dir)
    found = []
    pattern = pattern.lower()
    for name in os.listdir(local_root):
        # As on Windows, a closing ".*" also matches names without a dot.
        if not (fnmatch.fnmatch(name.lower(), pattern) or
                (pattern.endswith(".*") and fnmatch.fnmatch(name.lower(), pattern[:-2]))):
            continue
        found.append(windows_root + "\\" + name)
        local = os.path.join(local_root, name)
        if os.path.isdir(local):
            for top, dirs, files in os.walk(local):
                relative = os.path.relpath(top, local_root).replace("/", "\\")
                for child in dirs + files:
                    found.append(windows_root + "\\" + relative + "\\" + child)
    return found


def check_listings(folder, prefix_dir):
    problems = []
    path = os.path.join(folder, "listings.zip")
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            problems.append("%s: an entry fails its CRC check" % path)
        names = sorted(archive.namelist())
        wanted = ["dir/fixture.txt", "dir/twain_32-sys.txt", "dir/twain_32-usr.txt"]
        if names != wanted:
            problems.append("%s: entries %s, expected %s" % (path, names, wanted))
        for name in ("dir/twain_32-sys.txt", "dir/twain_32-usr.txt"):
            if name not in names:
                continue
            paths, found = check_listing(archive.read(name), prefix_dir, name)
            problems += found
            on_disk = walk_host("C:\\windows", prefix_dir, "tw*.*")
            if sorted(paths) != sorted(on_disk):
                problems.append("%s lists %s, the disk holds %s" % (name, sorted(paths), sorted(on_disk)))
            relative = [p[len("C:\\windows\\"):] for p in paths]
            known = [p for p in relative if p in ("twain.dll", "twain_32", "twain_32.dll")]
            if known != ["twain.dll", "twain_32", "twain_32.dll"]:
                problems.append("%s: order of the known names %s" % (name, known))
        if "dir/fixture.txt" in names:
            data = archive.read("dir/fixture.txt")
            with open(os.path.join(folder, "fixture-expected.bin"), "rb") as f:
                if data != f.read():
                    problems.append("dir/fixture.txt differs from the text the listing built")
            paths, found = check_listing(data, prefix_dir, "dir/fixture.txt")
            problems += found
            order = [p.rsplit("\\tree\\", 1)[-1] for p in paths]
            want = ["Twunk_16.exe", "empty.txt", "hidden.txt", "twain_32", "twain_32.dll",
                    "twain_32\\a.ds", "twain_32a"]
            if order != want:
                problems.append("dir/fixture.txt order %s, expected %s" % (order, want))
            lines = dict(zip(order, data.decode("utf-16-le").split("\r\n")))
            if "\t10.0.19041.1    \t" not in lines.get("Twunk_16.exe", ""):
                problems.append("dir/fixture.txt: no file version on the program's line")
            if not lines.get("hidden.txt", "").startswith("--AH-\t"):
                problems.append("dir/fixture.txt: hidden file's line %r" % lines.get("hidden.txt"))
            if not lines.get("empty.txt", "").startswith("--A--\t           0\t"):
                problems.append("dir/fixture.txt: empty file's line %r" % lines.get("empty.txt"))
    return problems


def expected_copies(root):
    """Raw entry names and contents of every file below root that must be copied."""
    special = {"\u0436.txt": b"?.txt", "\u00e9.txt": b"\xe9.txt"}
    wanted = {}
    for top, _, files in os.walk(root):
        for name in files:
            local = os.path.join(top, name)
            relative = os.path.relpath(local, root)
            if relative == "locked.dat":
                continue
            raw = b"files/" + os.path.dirname(relative).encode() + (b"/" if os.path.dirname(relative) else b"")
            raw += special.get(name, name.encode())
            if len(raw) > 259:
                continue
            with open(local, "rb") as f:
                wanted[raw] = f.read()
    return wanted


def check_copies(folder):
    problems = []
    root = os.path.join(folder, "userfiles")
    wanted = expected_copies(root)
    if b"files/a.dat" not in wanted or b"files/logs/b.log" not in wanted or b"files/?.txt" not in wanted:
        problems.append("the fixture below %s is incomplete" % root)
    long_names = [n for n in wanted if n.startswith(b"files/long/")]
    if len(long_names) != 1 or len(long_names[0]) != 259:
        problems.append("expected the one long name of 259 bytes, have %s" % [len(n) for n in long_names])
    for archive_name, extra in (("files.zip", {b"info/marker.txt": b"after the copies"}),
                                ("files-trailing.zip", {}), ("files-none.zip", None)):
        path = os.path.join(folder, archive_name)
        expected = {} if extra is None else {**wanted, **extra}
        with zipfile.ZipFile(path) as archive:
            if archive.testzip() is not None:
                problems.append("%s: an entry fails its CRC check" % path)
            got = {entry_name(info): info for info in archive.infolist()}
            if sorted(got) != sorted(expected):
                problems.append("%s: entries %s, expected %s" % (archive_name, sorted(got), sorted(expected)))
            for raw, content in expected.items():
                if raw in got and archive.read(got[raw]) != content:
                    problems.append("%s: %r differs from the file" % (archive_name, raw))
    return problems


def read_archive(path):
    """(raw name, data) of every entry in the archive's order, and its problems."""
    with zipfile.ZipFile(path) as archive:
        problems = [] if archive.testzip() is None else ["%s: an entry fails its CRC check" % path]
        return [(entry_name(info), archive.read(info)) for info in archive.infolist()], problems


def secrets_in(archive_name, entries):
    return ["%s: %r holds a file from outside the folder" % (archive_name, name)
            for name, data in entries if SECRET in data]


def check_links(folder, prefix_dir):
    """The tree with links: every link listed as a line of its own and nothing
    below it; only the real files copied, nothing from the folder outside."""
    problems = []
    path = os.path.join(folder, "links.zip")
    with zipfile.ZipFile(path) as archive:
        if archive.testzip() is not None:
            problems.append("%s: an entry fails its CRC check" % path)
        names = sorted(archive.namelist())
        # The link to a file (pw.txt) is never copied, under Wine either.
        copies = ["files/real.txt", "files/sub/inner.txt"]
        if names != sorted(["dir/links.txt"] + copies):
            problems.append("%s: entries %s" % (path, names))
        with open(os.path.join(folder, "outside", "deeper", "more.txt"), "rb") as f:
            outside_only = f.read()
        with open(os.path.join(folder, "outside", "secret.txt"), "rb") as f:
            secret = f.read()
        for name in names:
            if outside_only in archive.read(name) or (name.startswith("files/") and secret in archive.read(name)):
                problems.append("%s: %s holds a file from outside the folder" % (path, name))
        if "dir/links.txt" in names:
            paths, found = check_listing(archive.read("dir/links.txt"), prefix_dir, "dir/links.txt")
            problems += found
            relative = [p.rsplit("\\linked\\", 1)[-1] for p in paths]
            want = ["loop", "out", "pw.txt", "real.txt", "sub", "sub\\again", "sub\\inner.txt"]
            if relative != want:
                problems.append("dir/links.txt lists %s, expected %s" % (relative, want))
    return problems


def check_copied_in_order(folder, archive_name, root, order):
    """The archive holds exactly files/<name> for each name of order, in that
    order, each with the bytes of the file below root; nothing from outside."""
    entries, problems = read_archive(os.path.join(folder, archive_name))
    want = [b"files/" + name.encode() for name in order]
    got = [name for name, _ in entries]
    if got != want:
        problems.append("%s: entries %s, expected %s" % (archive_name, got, want))
    for name, data in entries:
        local = os.path.join(root, name[len(b"files/"):].decode())
        if name in want and os.path.isfile(local):
            with open(local, "rb") as f:
                if data != f.read():
                    problems.append("%s: %r differs from the file" % (archive_name, name))
    return problems + secrets_in(archive_name, entries)


def read_lines(path):
    with open(path, encoding="utf-8") as f:
        return f.read().splitlines()


def check_user_rights(folder):
    """Per-user copies that must not reach past the folder: a folder reached
    through a link, links and hard links inside it, files swapped after the walk,
    and the walk and opens made with the user's identity."""
    problems = []
    for archive_name in ("root-link.zip", "root-link-trailing.zip", "root-below-link.zip", "refused.zip"):
        entries, found = read_archive(os.path.join(folder, archive_name))
        problems += found + secrets_in(archive_name, entries)
        if entries:
            problems.append("%s: entries %s, expected none" % (archive_name, [n for n, _ in entries]))

    ordinary = ["one.txt", "two.bin", "sub/three.txt"]
    for stem, archives in (("linked-files", ("linked-files.zip", "linked-files-case.zip")),
                           ("no-shell-user", ("no-shell-user.zip",))):
        walk = read_lines(os.path.join(folder, stem + "-walk.txt"))
        if sorted(walk) != sorted(ordinary + ["flink.txt", "sub/hard.txt"]):
            problems.append("%s: the fixture's walk found %s" % (stem, walk))
        for archive_name in archives:
            problems += check_copied_in_order(folder, archive_name, os.path.join(folder, stem),
                                              [name for name in walk if name in ordinary])

    entries, found = read_archive(os.path.join(folder, "swap.zip"))
    problems += found + secrets_in("swap.zip", entries)
    if entries != [(b"files/after-open.txt", b"checked before the swap")]:
        problems.append("swap.zip: entries %s, expected the file checked before its swap" % entries)

    opened = read_lines(os.path.join(folder, "rights-opened.txt"))
    problems += check_copied_in_order(folder, "rights.zip", os.path.join(folder, "rights"), opened)
    return problems


def main():
    artifacts, prefix_root, prefixes = sys.argv[1], sys.argv[2], sys.argv[3:]

    def check_prefix(prefix):
        folder = os.path.join(artifacts, "listings", prefix)
        prefix_dir = os.path.join(prefix_root, prefix)
        return (check_listings(folder, prefix_dir) + check_copies(folder) + check_links(folder, prefix_dir) +
                check_user_rights(folder))

    return run_per_prefix(prefixes, check_prefix)


if __name__ == "__main__":
    sys.exit(main())
