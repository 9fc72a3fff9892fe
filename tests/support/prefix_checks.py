"""Runs a host-side check once per Wine prefix over the files its tests left,
prints every problem found and gives the exit code for CTest."""
import zipfile


def run_per_prefix(prefixes, check_prefix):
    """check_prefix(prefix) gives a list of problems; an unreadable file is one too."""
    problems = []
    for prefix in prefixes:
        try:
            problems += ["%s: %s" % (prefix, p) for p in check_prefix(prefix)]
        except (OSError, zipfile.BadZipFile) as error:
            problems.append("%s: %s" % (prefix, error))
    for problem in problems:
        print(problem)
    print("checked %s: %s" % (", ".join(prefixes), "ok" if not problems else "%d problems" % len(problems)))
    return 1 if problems else 0
