#!/usr/bin/env python3
"""Checks that a program imports only DLLs that Windows loads from its list of
known DLLs (never from the program's own folder).

    check_imports.py OBJDUMP PROGRAM [DLL...]

With DLLs named, the program must import exactly those.
"""
import re
import subprocess
import sys

# Known DLLs on every Windows from 7 on.
KNOWN_DLLS = {"advapi32.dll", "gdi32.dll", "kernel32.dll", "msvcrt.dll", "ole32.dll",
              "oleaut32.dll", "shell32.dll", "user32.dll"}


def main():
    objdump, program, exactly = sys.argv[1], sys.argv[2], {name.lower() for name in sys.argv[3:]}
    dump = subprocess.run([objdump, "-p", program], capture_output=True, text=True, check=True).stdout
    imports = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
    unknown = sorted(imports - KNOWN_DLLS)
    print("imports:", ", ".join(sorted(imports)))
    if unknown:
        print("imported from wherever the loader finds them first:", ", ".join(unknown))
        return 1
    if exactly and imports != exactly:
        print("expected exactly:", ", ".join(sorted(exactly)))
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
