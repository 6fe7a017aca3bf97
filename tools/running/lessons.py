"""The lessons, as data: lessons/PROGRAM.json holds the point a program
makes, the runs the tour shows, the run ./show draws by default, and the
cases ./check holds a version of it to. Bytes (typed input, output, the
content of files) are strings of code points 0 to 255, one per byte.

  program  its name;  order  its place in the tour;  point  one sentence
  tour     {runs: [run], memcheck: valgrind's summary after the first run,
           picture: ./show's --at/--after for the moment of the lesson,
           note: a sentence after the picture}
           run: {input, args, files: {name: content} made before it,
           program: another program to run instead, show: [files whose
           bytes are shown after it], same: [two files that must be equal]}
  show     the run ./show draws: {input, args, files}
  cases    [{name (what it shows, in words), kind: "lesson" (every correct
           version passes it) or "choice" (the collection's own choice,
           advice only, unless a version crashes or loses a file on it),
           input, args, files (before; a name ending in / is a folder),
           output (the whole standard output) or matches (a regular
           expression the whole of it matches), status, after: {name:
           content, or null for none} (files after), lost: [bytes, blocks] memcheck finds
           definitely or indirectly lost at exit (default none)}]

Run as a command, it writes the tour's steps as shell words:
    python3 checker/lessons.py tour [PROGRAM...]
"""

import functools
import json
import os
import shlex
import sys

HERE = os.path.dirname(os.path.realpath(__file__))
ROOT = os.path.dirname(HERE)
FOLDER = os.path.join(ROOT, "lessons")


@functools.lru_cache(maxsize=None)
def names():
    """The programs, in the tour's order (read once: show and check ask often)."""
    found = [load(f[:-5]) for f in os.listdir(FOLDER) if f.endswith(".json")]
    return [lesson["program"] for lesson in sorted(found, key=lambda x: x["order"])]


def load(name):
    with open(os.path.join(FOLDER, name + ".json"), encoding="utf-8") as f:
        return json.load(f)


def bytes_of(text):
    return text.encode("latin-1")


def make_files(folder, files):
    for name, content in (files or {}).items():
        path = os.path.join(folder, name)
        if name.endswith("/"):
            os.makedirs(path, exist_ok=True)
        else:
            with open(path, "wb") as f:
                f.write(bytes_of(content))


def printf_format(text):
    """A format that printf turns into exactly these bytes, zero bytes too."""
    named = {"\n": "\\n", "\t": "\\t", "\\": "\\\\", "%": "%%"}
    return "".join(named.get(ch) or (ch if 32 <= ord(ch) < 127 else "\\%03o" % ord(ch))
                   for ch in text)


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
    if sys.argv[1:2] == ["tour"]:
        sys.stdout.buffer.write(tour(sys.argv[2:]).encode("latin-1"))
    else:
        print(__doc__.strip(), file=sys.stderr)
        sys.exit(2)
