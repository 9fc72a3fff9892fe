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
INSTALL_DIR = "C:\\Program Files\\Morquaine QEV Scan"
# Key path of each registry entry, and a value the run's fixtures put there.
REGISTRY_ROWS = {
    "reg/termsrv.re_": ("SYSTEM\\CurrentControlSet\\Control\\Terminal Server", '"DkFixture"="termsrv"'),
    "reg/services.re_": ("SYSTEM\\CurrentControlSet\\Services", None),
    "reg/winlogon.re_": ("SOFTWARE\\Microsoft\\Windows NT\\CurrentVersion\\Winlogon", None),
    "reg/morquaine.re_": ("SOFTWARE\\Morquaine", None),
    "reg/morquaine32.re_": ("SOFTWARE\\Morquaine", None),
    "reg/winntpolicies.re_": ("SOFTWARE\\Policies\\Microsoft\\Windows NT", '"DkFixture"="winntpolicies"'),
    "reg/msrpc.re_": ("SOFTWARE\\Microsoft\\Rpc", None),
}
# The other packages a run keeps, each with the entries its run leaves out.
KEPT_VARIANTS = [
    ("no-installdir.zrpk", ("info/qevdslister.txt", "dir/qevscan.txt")),
    ("expandable-installdir.zrpk", ("info/qevdslister.txt", "dir/qevscan.txt")),
    ("silent-lister.zrpk", ("info/qevdslister.txt",)),
    ("lingering-lister.zrpk", ()),
]
failures = []


def check(condition, what):
    if not condition:
        failures.append(what)


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
    check(not any(n.startswith("log/") for n in names), path + ": Wine writes no event-log backup")


def expected_names(walk_order, leave_out=()):
    """Every entry the steps make in the prepared prefix, in step order; Wine
    backs up no event log, and the per-user files come in walk order."""
    names = []
    for name in STEP_ORDER:
        if name == "files/":
            names += walk_order
        elif not name.startswith("log/") and name not in leave_out:
            names.append(name)
    return names


def registry_sections(text):
    return [line[1:-1] for line in text.split("\r\n") if line.startswith("[")]


def check_registry(path, entries):
    wow64 = b"IsWow64Process:    1\r\n" in entries.get("info/osversion.txt", b"")
    for name, (key, fixture) in REGISTRY_ROWS.items():
        text = entries.get(name, b"").decode("utf-16", "replace")
        full = "HKEY_LOCAL_MACHINE\\" + key
        sections = registry_sections(text)
        check(sections[:1] == [full] and all(s == full or s.startswith(full + "\\") for s in sections),
              path + ": " + name + " exports " + full + ", not " + str(sections[:1]))
        check(fixture is None or fixture in text, path + ": " + name + " holds " + str(fixture))
    # The two Morquaine rows differ in their view only: under WOW64 each sees its own.
    native = entries.get("reg/morquaine.re_", b"").decode("utf-16", "replace")
    view32 = entries.get("reg/morquaine32.re_", b"").decode("utf-16", "replace")
    check('"View32"=' in view32, path + ": morquaine32 reads the 32-bit view")
    check('"View64"=' in native, path + ": morquaine reads the native view")
    check(('"View64"=' in view32) != wow64 and ('"View32"=' in native) != wow64,
          path + ": under WOW64 (" + str(wow64) + ") each Morquaine entry has its own view's values only")


def listing_paths(entries, name):
    text = entries.get(name, b"").decode("utf-16-le", "replace")
    return [line.split("\t")[-1] for line in text.split("\r\n") if line]


def check_listing(path, entries, name, directory, top_names_match, required):
    paths = listing_paths(entries, name)
    inside = [p[len(directory) + 1:] for p in paths if p.lower().startswith(directory.lower() + "\\")]
    check(paths and len(inside) == len(paths), path + ": " + name + " lists below " + directory + " only")
    top = set(p.split("\\")[0] for p in inside)
    check(all(top_names_match(t) for t in top), path + ": " + name + " top names " + str(sorted(top)))
    check(required <= set(t.lower() for t in top), path + ": " + name + " lists " + str(sorted(required)))


def check_steps(path, entries, names, walk_order, leave_out=()):
    """Each step's entry is there, in order, and shows the argument it was made with."""
    expected = expected_names(walk_order, leave_out)
    check(names == expected, path + ": entries " + str(names) + "\n  expected " + str(expected))
    check(entries.get("info/osversion.txt", b"").startswith(b"Operating System:  Windows"), path + ": osversion")
    check(b"\r\nNetBIOS:" in entries.get("info/computername.txt", b""), path + ": computername")
    check(entries.get("info/vm.txt", b"").startswith(b"VM: "), path + ": vm")
    for service in ("wendroxhlp", "wendroxsrv", "qevusbsrv"):
        check(entries.get("info/sv" + service + ".txt", b"").startswith(b"SVC Name:    " + service.encode() + b"\r\n"),
              path + ": info/sv" + service + ".txt names its service")
    check(entries.get("info/hotfixes.html", b"").startswith(b"<html>"), path + ": hotfixes")
    check_registry(path, entries)
    windir = dict(re.findall(rb"(\w+):\s+(.*?)\r\n", entries.get("info/windir.txt", b"")))
    twain = {"twain.dll", "twain_32", "twain_32.dll"}
    starts_tw = lambda top: top.lower().startswith("tw")
    check_listing(path, entries, "dir/twain_32-sys.txt",
                  windir.get(b"GetSystemWindowsDirectory", b"?").decode(), starts_tw, twain)
    check_listing(path, entries, "dir/twain_32-usr.txt",
                  windir.get(b"GetWindowsDirectory", b"?").decode(), starts_tw, twain)
    if "dir/qevscan.txt" not in leave_out:
        product = {"qevdslister.exe", "readme.txt"}
        check_listing(path, entries, "dir/qevscan.txt", INSTALL_DIR, lambda top: top.lower() in product, product)


def main(root):
    # The prefixes whose runs build packages (the frame's failing runs keep none).
    folders = sorted(os.path.dirname(p) for p in glob.glob(os.path.join(root, "run-*", "complete.zrpk")))
    check(folders, "no kept packages under " + root)
    for folder in folders:
        with open(os.path.join(folder, "files-walk-order.txt")) as walk:
            walk_order = [line.replace("\\", "/") for line in walk.read().split("\n") if line]
        check(len(walk_order) > 2, folder + ": walk order of the per-user files")
        complete = os.path.join(folder, "complete.zrpk")
        entries, names = read(complete)
        check_common(complete, entries, names)
        check_steps(complete, entries, names, walk_order)
        with open(os.path.join(folder, "lister-expected.bin"), "rb") as expected:
            lister = expected.read()
        check(len(lister) > 2 * 4096, complete + ": the stand-in writes more than a chunk per stream")
        check(entries.get("info/qevdslister.txt") == lister, complete + ": lister output byte for byte")
        check(entries.get("files/settings.ini") == b"[scan]\r\nresolution=300\r\n", complete + ": files/settings.ini")
        check(entries.get("files/logs/scan.log") == b"binary\0log\xff", complete + ": files/logs/scan.log")

        print(folder, ":", len(names), "entries in the complete package")

        for name, leave_out in KEPT_VARIANTS:
            path = os.path.join(folder, name)
            entries, names = read(path)
            check_common(path, entries, names)
            check_steps(path, entries, names, walk_order, leave_out)
            if name == "lingering-lister.zrpk":
                check(entries.get("info/qevdslister.txt") == LINGER_TEXT, path + ": what it wrote is kept")
    for failure in failures:
        print("FAIL:", failure)
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
