"""What the Python tests share: a unittest main that names every skipped
test for ./test to gather, and a machine without some command."""

import os
import sys
import unittest

SKIP = 77  # CTest's skip (SKIP_RETURN_CODE)


def main():
    """unittest's main; then each skipped test or subtest on a line of its
    own, "SKIPPED: test: why". Exits 77 when every test skipped whole."""
    result = unittest.main(exit=False).result
    for test, why in result.skipped:
        print("SKIPPED: %s: %s" % (test.id().split(".", 1)[-1], why), flush=True)
    if not result.wasSuccessful():
        sys.exit(1)
    whole = [t for t, _ in result.skipped if isinstance(t, unittest.TestCase)
             and type(t).__name__ != "_SubTest"]
    sys.exit(SKIP if result.testsRun and len(whole) >= result.testsRun else 0)


SYSTEM = "/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin"


def without(folder, *names, path=None):
    """A PATH with every command of path (default: this one) but names
    (bwrap: a machine where no sandbox is to be had), as links in folder."""
    os.makedirs(folder, exist_ok=True)
    for top in (path or os.environ.get("PATH") or SYSTEM).split(":"):
        if not os.path.isdir(top):
            continue
        for name in os.listdir(top):
            link = os.path.join(folder, name)
            if name not in names and not os.path.lexists(link):
                os.symlink(os.path.join(top, name), link)
    return folder
