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
           output (the whole standard output) or lines (what each line of
           it must be: [{"text": t}, {"address": "any" or "stack"} (as %p
           prints it), {"same": k} (as line k), {"plus": [k, n]} (line k's
           address plus n)]), status, after: {name: content, or null for
           none} (files after), left: [bytes, blocks] memcheck finds left at
           exit, lost or still reachable (default none), fail_allocation: N
           (the Nth allocation the program's own code asks malloc for fails),
           file_limit: bytes (no file may grow past them: a full disk)}]
"""

import functools
import json
import os

from tools import ROOT

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
