#!/usr/bin/env python3
"""Reads the packages that the dossierkit runs kept (one folder per prefix)
with Python's zipfile and unzip, and checks their entries."""
import glob
import os
import re
import subprocess
import sys
import zipfile

# Entry names in the order of the build's steps; the per-user files come
# between the installation listing and the event logs.
STEP_ORDER = [
    "info/zrpk.txt", "info/osversion.txt", "info/computername.txt", "info/vm.txt",
    "info/svwendroxhlp.txt", "info/svwendroxsrv.txt", "info/svqevusbsrv.txt",
    "reg/termsrv.re_", "reg/services.re_", "reg/winlogon.re_", "reg/morquaine.re_",
    "reg/morquaine32.re_", "reg/winntpolicies.re_", "reg/msrpc.re_", "info/hotfixes.html",
    "info/netstat.txt", "info/qevdslister.txt", "info/windir.txt", "dir/twain_32-sys.txt",
    "dir/twain_32-usr.txt", "dir/qevscan.txt", "files/", "log/system.evt", "log/application.evt",
]
LINGER_TEXT = b"lister: closing its output and staying\r\n"
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


def step_index(name):
    return STEP_ORDER.index("files/") if name.startswith("files/") else STEP_ORDER.index(name)


def read(path):
    check(subprocess.run(["unzip", "-tq", path], capture_output=True).returncode == 0,
          path + ": unzip -t")
    with zipfile.ZipFile(path) as archive:
        check(archive.testzip() is None, path + ": testzip")
        return {info.filename: archive.read(info) for info in archive.infolist()}, archive.namelist()


def check_common(path, entries, names):
    check(names[:1] == ["info/zrpk.txt"], path + ": the identifier comes first")
    check(entries.get("info/zrpk.txt") == b"ZRPK-Identifier:  QEV-SCAN\r\n", path + ": info/zrpk.txt")
    check(re.fullmatch(rb"GetWindowsDirectory:        C:\\windows\r\n"
                       rb"GetSystemWindowsDirectory:  C:\\windows\r\n",
                       entries.get("info/windir.txt", b""), re.I) is not None, path + ": info/windir.txt")
    check(len(entries.get("info/netstat.txt", b"")) > 0, path + ": info/netstat.txt")
    known = [n for n in names if n.startswith("files/") or n in STEP_ORDER]
    check(known == names, path + ": unexpected entries " + str(sorted(set(names) - set(known))))
    order = [step_index(n) for n in known]
    check(order == sorted(order), path + ": entries out of step order " + str(names))
    check(not any(n.startswith("log/") for n in names), path + ": Wine writes no event-log backup")


def main(root):
    folders = sorted(glob.glob(os.path.join(root, "run-*")))
    check(folders, "no kept packages under " + root)
    for folder in folders:
        complete = os.path.join(folder, "complete.zrpk")
        entries, names = read(complete)
        check_common(complete, entries, names)
        with open(os.path.join(folder, "lister-expected.bin"), "rb") as expected:
            lister = expected.read()
        check(len(lister) > 2 * 4096, complete + ": the stand-in writes more than a chunk per stream")
        check(entries.get("info/qevdslister.txt") == lister, complete + ": lister output byte for byte")
        check(entries.get("files/settings.ini") == b"[scan]\r\nresolution=300\r\n", complete + ": files/settings.ini")
        check(entries.get("files/logs/scan.log") == b"binary\0log\xff", complete + ": files/logs/scan.log")

        for name in ("no-installdir.zrpk", "expandable-installdir.zrpk"):
            path = os.path.join(folder, name)
            entries, names = read(path)
            check_common(path, entries, names)
            check("info/qevdslister.txt" not in names and "dir/qevscan.txt" not in names,
                  path + ": nothing from the installation directory")

        path = os.path.join(folder, "silent-lister.zrpk")
        entries, names = read(path)
        check_common(path, entries, names)
        check("info/qevdslister.txt" not in names, path + ": an empty capture adds no entry")

        path = os.path.join(folder, "lingering-lister.zrpk")
        entries, names = read(path)
        check_common(path, entries, names)
        check(entries.get("info/qevdslister.txt") == LINGER_TEXT, path + ": what it wrote is kept")
        print(folder, ":", len(names), "entries in the complete package")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
