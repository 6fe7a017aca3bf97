"""What the Python tests share: a unittest main that names every skipped
test for ./test to gather, a machine without some command, and traces:
recorded ones (traces/), fresh ones of the collection's programs, and
where to look in them. The tests run as the commands do:

    PYTHONPATH=.. python3 -P -m tests.NAME_test
"""

import json
import os
import sys
import unittest

from tools import ROOT
from tools.running import lessons, sandbox, trace

HERE = os.path.dirname(os.path.abspath(__file__))
# Where no sandbox can be had, the learners' files of learner/ are the
# suite's own, and run as the user (--as-me); those that reach out skip.
AS_ME = ["--as-me"] if sandbox.how()["kind"] is None else []

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


def recorded(name):
    """A trace kept in traces/."""
    with open(os.path.join(HERE, "traces", name + ".json"), encoding="utf-8") as f:
        return json.load(f)


def after(trace, text):
    """Index of the first step whose line just run contains text."""
    steps = trace["steps"]
    return next(i for i in range(1, len(steps)) if text in steps[i - 1]["text"])


def lesson(name, text=None, **kw):
    """A fresh trace of a program of the collection, with its lesson's input
    (or text), files and arguments."""
    default = lessons.load(name)["show"]
    text = default.get("input", "") if text is None else text
    result, said = trace.trace(os.path.join(ROOT, "build", "bin", name), default.get("args", []),
                               text.encode("latin-1"), None,
                               setup=lambda f: lessons.make_files(f, default.get("files")), **kw)
    assert result is not None and not result.get("error"), said
    return result


def running(name):
    """The processes, not ended, whose command line holds name."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                line = f.read()
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if name.encode() in line and state != "Z" and int(pid) != os.getpid():
            found.append(line.replace(b"\0", b" ").decode(errors="replace"))
    return found
