#!/usr/bin/env python3
"""Reads the packages the system-facts archive test wrote, with Python's own ZIP reader."""
import os
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from prefix_checks import run_per_prefix  # noqa: E402

NAME_LABELS = [
    "NetBIOS:                       ", "DNS hostname:                  ",
    "DNS domain:                    ", "DNS fully-qualified:           ",
    "Physical NetBIOS:              ", "Physical DNS hostname:         ",
    "Physical DNS domain:           ", "Physical DNS fully-qualified:  ",
]
SERVICES = [("info/svwendroxhlp.txt", "wendroxhlp"), ("info/svwendroxsrv.txt", "wendroxsrv"),
            ("info/svqevusbsrv.txt", "qevusbsrv")]


def os_version(bits: str) -> bytes:
    flag = "1" if bits == "64" else "0"
    return ("Operating System:  Windows 7 Ultimate N, %s-bit Service Pack 1 (build 7601)\r\n"
            "Suitemask:         0x0 ( )\r\n"
            "MajorVersion:      6\r\nMinorVersion:      1\r\n"
            "ServicePackMajor:  1\r\nServicePackMinor:  0\r\n"
            "BuildNumber:       7601\r\nPlatformId:        2\r\n"
            "ProductType:       1 ( WORKSTATION )\r\n"
            "Is64BitOS:         %s\r\nIsWow64Process:    %s\r\n" % (bits, flag, flag)).encode("ascii")


def check(folder: Path, bits: str) -> list:
    problems = []
    with zipfile.ZipFile(folder / "facts.zrpk") as archive:
        bad = archive.testzip()
        if bad is not None:
            problems.append("bad entry %s" % bad)
        expected_names = ["info/osversion.txt", "info/computername.txt", "info/vm.txt"] + [
            name for name, _ in SERVICES]
        if archive.namelist() != expected_names:
            return problems + ["entries %r" % archive.namelist()]
        if archive.read("info/osversion.txt") != os_version(bits):
            problems.append("osversion.txt: %r" % archive.read("info/osversion.txt"))
        if archive.read("info/vm.txt") != b"VM: Unknown\r\n":
            problems.append("vm.txt: %r" % archive.read("info/vm.txt"))
        names = archive.read("info/computername.txt").decode("latin-1")
        lines = names.split("\r\n")
        if len(lines) != 10 or lines[-1] != "" or \
                lines[0] != "Is Domain:                     0 (Code: 0x32)" or \
                any(not line.startswith(label) for line, label in zip(lines[1:9], NAME_LABELS)):
            problems.append("computername.txt: %r" % names)
        for entry, service in SERVICES:
            expected = ("SVC Name:    %s\r\nOpen SCM:    Success\r\nOpen SVC:    Error\r\n" % service).encode()
            if archive.read(entry) != expected:
                problems.append("%s: %r" % (entry, archive.read(entry)))
    return problems


def main() -> int:
    return run_per_prefix(sys.argv[2:], lambda prefix: check(Path(sys.argv[1]) / prefix, prefix[-2:]))


if __name__ == "__main__":
    sys.exit(main())
