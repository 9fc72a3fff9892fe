#!/usr/bin/env python3
"""Reads the archives the hotfix tests wrote, with Python's own ZIP reader."""
import os
import sys
import zipfile
from pathlib import Path

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "support"))
from prefix_checks import run_per_prefix  # noqa: E402

HEADER = (
    "<html>\n"
    "<h3>Win32_QuickFixEngineering</h3>\n"
    '<table border="1" cellspacing="0" cellpadding="2" style="font:10pt Tahoma;">\n'
    '<tr align="left" style="background-color:#eded00;font-weight:bold;">\n'
    + "".join("<td>%s</td>\n" % name for name in (
        "Caption", "CSName", "Description", "FixComments", "HotFixID", "InstallDate",
        "InstalledBy", "InstalledOn", "Name", "ServicePackInEffect", "Status"))
    + "</tr>\n"
)
# Wine's one Win32_QuickFixEngineering instance; "." where it leaves a property unset.
WINE_CELLS = "".join("<td>%s</td>\n" % cell for cell in (
    "http://winehq.org", ".", "Update", ".", "KB1234567", ".",
    ".", "22/2/2022", ".", ".", "."))
WINE_ROW = '<tr style="background-color:#ffffff;">\n' + WINE_CELLS + "</tr>\n"
WINE_ROW_ODD = '<tr style="background-color:#eeeeee;">\n' + WINE_CELLS + "</tr>\n"
END = "</table></html>"
EXPECTED_PAGE = (HEADER + WINE_ROW + END).encode("ascii")
# The archives of the failure cases: their entries, and the page where there is one.
FAILURE_ARCHIVES = {
    "connection-refused.zrpk": (["info/marker.txt"], None),
    "query-refused.zrpk": (["info/hotfixes.html"], (HEADER + END).encode("ascii")),
    "failed-part-way.zrpk": (["info/hotfixes.html"],
                             (HEADER + WINE_ROW + WINE_ROW_ODD + END).encode("ascii")),
}


def check(folder: Path) -> list:
    problems = []
    with zipfile.ZipFile(folder / "with-com.zrpk") as archive:
        if archive.testzip() is not None:
            problems.append("with-com.zrpk: bad entry %s" % archive.testzip())
        names = archive.namelist()
        if names != ["info/hotfixes.html", "info/marker.txt"]:
            problems.append("with-com.zrpk: entries %r" % names)
        else:
            page = archive.read("info/hotfixes.html")
            if page != EXPECTED_PAGE:
                problems.append("with-com.zrpk: page differs:\n%r\nexpected\n%r"
                                % (page, EXPECTED_PAGE))
    for name, (entries, page) in FAILURE_ARCHIVES.items():
        with zipfile.ZipFile(folder / name) as archive:
            if archive.testzip() is not None:
                problems.append("%s: bad entry %s" % (name, archive.testzip()))
            if archive.namelist() != entries:
                problems.append("%s: entries %r, expected %r" % (name, archive.namelist(), entries))
            elif page is not None and archive.read("info/hotfixes.html") != page:
                problems.append("%s: page differs:\n%r\nexpected\n%r"
                                % (name, archive.read("info/hotfixes.html"), page))
    with zipfile.ZipFile(folder / "without-com.zrpk") as archive:
        if archive.testzip() is not None:
            problems.append("without-com.zrpk: bad entry")
        if archive.namelist() != ["info/after.txt"]:
            problems.append("without-com.zrpk: entries %r" % archive.namelist())
    return problems


def main() -> int:
    return run_per_prefix(sys.argv[2:], lambda prefix: check(Path(sys.argv[1]) / prefix))


if __name__ == "__main__":
    sys.exit(main())
