"""The tour's steps, from the lessons (lessons/PROGRAM.json), as calls of
the tour's shell functions, one a line:

    python3 -P -m tools.commands.tour [PROGRAM...]
"""

import shlex
import sys

from tools.running.lessons import load, names, printf_format


def tour(chosen):
    """The tour's steps as calls of its shell functions, one a line."""
    q = shlex.quote
    rows = []
    for name in names():
        if chosen and name not in chosen:
            continue
        lesson = load(name)
        t = lesson["tour"]
        rows.append("stop %s %s" % (q(name), q(lesson["point"])))
        for k, run in enumerate(t["runs"]):
            for file, content in (run.get("files") or {}).items():
                rows.append("make %s %s" % (q(file), q(printf_format(content))))
            args = " ".join(q(a) for a in run.get("args", []))
            rows.append("run %s %s %s" % (q(run.get("input", "")), q(run.get("program", name)),
                                          args))
            for file in run.get("show", []):
                rows.append("bytes %s" % q(file))
            if run.get("same"):
                rows.append("same %s %s" % tuple(q(f) for f in run["same"]))
            if k == 0 and t.get("memcheck"):
                rows.append("summary %s %s" % (q(name), q(run.get("input", ""))))
        if t.get("picture"):
            rows.append("picture %s %s" % (q(name), " ".join(q(a) for a in t["picture"])))
        if t.get("note"):
            rows.append("note %s" % q(t["note"]))
    return "\n".join(rows) + "\n"


if __name__ == "__main__":
    sys.stdout.buffer.write(tour(sys.argv[1:]).encode("latin-1"))
