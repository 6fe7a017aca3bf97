"""Show a program's memory step by step, as memcheck and the debugger see it.

usage: ./show [PROGRAM] FILE | PROGRAM [--input TEXT] [--case NAME] [--at TEXT]...
              [--after TEXT]... [--json] [--html [PATH]] [--open] [--steps N]
              [--seconds N] [ARGS...]
       ./show --lessons DIR [PROGRAM...]

  PROGRAM        one of the programs (dupstr, copy, swap, ...)
  FILE           a C (.c) or C++ (.cpp, .cc, .cxx) file of yours, built as
                 ./check builds it; a version of PROGRAM, or named after a
                 program (mine/dupstr.c), it gets that program's input
  --input TEXT   the typed input, with C escapes: \\n for Enter, \\t, \\\\, \\0
                 and \\xHH for the one byte HH (default: what is piped in,
                 printf 'hi\\n' | ./show ..., or else the lesson's, as the
                 tour types it; lessons/PROGRAM.json holds it)
  --case NAME    the input, arguments and files of the lesson's case NAME
                 (as ./check names it)
  --at TEXT      only the pictures whose line about to run contains TEXT
  --after TEXT   only the pictures whose line just run contains TEXT
                 (--at and --after can be repeated; a picture shows when
                 any of them matches)
  --json         print the trace itself instead of the pictures
  --print        print every picture, one after another, even on a terminal
  --html [PATH]  write the pictures as one page for a browser instead, which
                 needs nothing but itself (default: PROGRAM.html here); it
                 opens at the first step --at/--after pick
  --open         and open it, where xdg-open is installed
  --lessons DIR  write the page of every lesson (or of the PROGRAMs named)
                 into DIR, each opening at its lesson's moment, with an
                 index.html that links them in the tour's order
  --steps N      record at most N steps (default 2000)
  --seconds N    trace for at most N seconds (default 20)
  --as-me        where no sandbox can be made and you are not root, run
                 your own FILE as you anyway (as ./check --as-me)
  ARGS           the program's own arguments (fileclone: SOURCE DEST)

Without ARGS the program runs in a temporary folder of its own, so no file
of yours is touched (fileclone then copies a 256-byte picture.bin it makes
there). With ARGS it runs where you are, as when you run it by hand: the
paths are yours, and a destination you name is really written (only in
part when a limit stops the program). A FILE of yours always runs in a
fresh folder, inside the sandbox and limits of ./check, and the files its
ARGS name are copied in first: it never writes a file of yours.

On a terminal: Enter, space or the right arrow goes forward, b or the left
arrow back, the up and down arrows (or k and j) scroll a picture taller
than the terminal, q quits. Otherwise every picture is printed in order.
The program runs under valgrind, so its addresses are valgrind's, not those
of a run by hand.
"""

import json
import os
import select
import shutil
import signal
import stat
import subprocess
import sys
import time

from tools import ROOT
from tools.commands import pager
from tools.drawing import marks, page as webpage, text
from tools.running import lessons, recipe, sandbox, trace

NO_TRACE = 3


class Stop(Exception):
    """A signal asked show to stop."""


def unescape(words):
    """C's escapes to the bytes they name: \\n \\t \\r \\a \\b \\f \\v \\0 \\\\ \\" \\'
    and \\xHH (one or two hex digits: that one byte); the rest as UTF-8."""
    simple = {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0", "\\": b"\\", '"': b'"',
              "'": b"'", "a": b"\a", "b": b"\b", "f": b"\f", "v": b"\v"}
    out, k = bytearray(), 0
    while k < len(words):
        ch = words[k]
        if ch == "\\" and k + 1 < len(words):
            nxt = words[k + 1]
            if nxt == "x":
                digits = ""
                while len(digits) < 2 and k + 2 + len(digits) < len(words) and \
                        words[k + 2 + len(digits)] in "0123456789abcdefABCDEF":
                    digits += words[k + 2 + len(digits)]
                if digits:
                    out.append(int(digits, 16))
                    k += 2 + len(digits)
                    continue
            elif nxt in simple:
                out += simple[nxt]
                k += 2
                continue
        out += ch.encode("utf-8", "surrogateescape")
        k += 1
    return bytes(out)


def piped(limit=1 << 20):
    """What is piped into ./show (printf 'hi\\n' | ./show ...), or None: not
    from a terminal, nothing at all, or a pipe that gives nothing within a
    second (one held open by whatever started ./show, never written)."""
    try:
        if not stat.S_ISFIFO(os.fstat(0).st_mode) and not stat.S_ISREG(os.fstat(0).st_mode):
            return None
    except OSError:
        return None
    data, end = b"", time.monotonic() + 1
    while len(data) < limit and select.select([0], [], [], max(end - time.monotonic(), 0))[0]:
        chunk = os.read(0, 65536)
        if not chunk:
            break
        data, end = data + chunk, time.monotonic() + 1  # more may follow
    return data[:limit] or None


def parse(argv):
    opts = {"program": None, "input": None, "case": None, "at": [], "after": [],
            "json": False, "html": None, "open": False, "lessons": None, "args": [],
            "steps": 2000, "seconds": 20.0, "as_me": False, "print": False}
    k = 0
    while k < len(argv):
        a = argv[k]
        if a in ("-h", "--help"):
            print(__doc__.strip())
            sys.exit(0)
        if a == "--":
            opts["args"] += argv[k + 1:]
            break
        if a == "--html" and k + 1 < len(argv) and argv[k + 1].endswith(".html"):
            opts["html"] = argv[k + 1]
            k += 2
            continue
        if a in ("--input", "--case", "--at", "--after", "--steps", "--seconds", "--lessons"):
            if k + 1 >= len(argv):
                fail("%s needs a value after it" % a, 2)
            value = argv[k + 1]
            if a == "--input":
                opts["input"] = unescape(value)
            elif a in ("--case", "--lessons"):
                opts[a[2:]] = value
            elif a in ("--steps", "--seconds"):
                try:
                    opts[a[2:]] = int(value) if a == "--steps" else float(value)
                except ValueError:
                    fail("%s needs a number, not '%s'" % (a, value), 2)
                if opts[a[2:]] <= 0:
                    fail("%s needs a number above 0" % a, 2)
            else:
                opts[a[2:]].append(value)
            k += 2
            continue
        if a == "--json":
            opts["json"] = True
        elif a == "--html":
            opts["html"] = ""
        elif a == "--open":
            opts["open"] = True
        elif a == "--as-me":
            opts["as_me"] = True
        elif a == "--print":
            opts["print"] = True
        elif opts["program"] is None:
            opts["program"] = a
        else:
            opts["args"].append(a)
        k += 1
    if opts["program"] is None and opts["lessons"] is None:
        fail("name a program; ./show --help tells how", 2)
    # PROGRAM FILE: a file of the learner's that is a version of PROGRAM, as
    # ./check PROGRAM FILE takes it
    opts["version_of"] = None
    if opts["program"] in lessons.names() and opts["args"] and \
            os.path.splitext(opts["args"][0])[1] in recipe.C + recipe.CXX:
        opts["version_of"] = opts["program"]
        opts["program"] = opts["args"].pop(0)
    return opts


def fail(sentence, status):
    print("show: " + sentence, file=sys.stderr)
    sys.exit(status)


def build():
    """Builds what is stale, as the tour does."""
    done = subprocess.run([os.path.join(ROOT, "setup", "build")], stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        fail("the programs could not be built (see above).", 2)


def wanted(opts):
    """What the program is, and the run the options ask for: (name, binary,
    args, input, cwd, setup, boxed, (the program built with the sanitizers,
    its source) or None)."""
    name = opts["program"]
    own = name not in lessons.names()
    if own:
        if os.path.splitext(name)[1] not in recipe.C + recipe.CXX:
            fail("no program named '%s', and it is not a C or C++ file; the programs are: %s"
                 % (name, " ".join(lessons.names())), 2)
        if not os.path.isfile(name):
            fail("no file %s" % name, 2)
        name = opts["version_of"] or os.path.splitext(os.path.basename(name))[0]
    for tool in ("gdb", "valgrind", "vgdb"):
        if shutil.which(tool) is None:
            fail("%s is not installed, and the pictures are drawn with it: run ./tour "
                 "first, which installs it." % tool, NO_TRACE)
    build()
    binary = os.path.join(ROOT, "build", "bin", name)
    sanitized = None
    if own:
        source = os.path.abspath(opts["program"])
        binary, said = recipe.build(source, name)
        sys.stderr.write(said)
        if binary is None:
            fail("%s does not compile (the compiler's words are above)" % opts["program"], 1)
        # built again with the sanitizers: what it does past arrays of the
        # stack and the globals, which memcheck cannot see, is marked too
        sanitized = recipe.build(source, name, sanitize=True)[0]
        sanitized = (sanitized, source) if sanitized else None
    known = lessons.load(name) if name in lessons.names() else {"show": {}, "cases": []}
    run = known["show"]
    if opts["case"] is not None:
        run = next((c for c in known["cases"] if c["name"] == opts["case"]), None)
        if run is None:
            fail("%s has no case '%s'; ./check %s names them" % (name, opts["case"], name), 2)
        if run.get("fail_allocation"):
            fail("the case '%s' makes an allocation fail, which cannot be done under valgrind, "
                 "which the pictures are drawn from: the by-hand line ./check prints runs it"
                 % opts["case"], 2)
    typed = opts["input"]
    if typed is None and opts["case"] is None:
        typed = piped()
    if typed is None:
        typed = lessons.bytes_of(run.get("input", ""))
    args, cwd, files, copies = opts["args"], os.getcwd(), None, {}
    if not args or opts["case"] is not None:  # in a folder of its own
        args, cwd, files = run.get("args", []), None, run.get("files")
    elif own:  # never where the learner is: what the arguments name is copied in
        args, copies = copied(args)
        cwd = None

    def setup(folder):
        lessons.make_files(folder, files)
        for path, source in copies.items():
            os.makedirs(os.path.dirname(os.path.join(folder, path)), exist_ok=True)
            shutil.copy2(source, os.path.join(folder, path))
    return name, binary, args, typed, cwd, setup, own, sanitized


def copied(args):
    """The arguments of a learner's program run in a fresh folder: each
    that names one of the learner's files becomes a copy of it there.
    (the arguments, {name of a copy: the file it copies})"""
    out, files = [], {}
    for a in args:
        if os.path.isfile(a):
            # a/x.txt stays a/x.txt; a path out of here (/x, ../x) becomes a
            # name of its own there, never one already taken
            copy = os.path.normpath(a)
            if os.path.isabs(copy) or copy.startswith(".."):
                copy = os.path.basename(a)
            k = 2
            while copy in files and files[copy] != a:
                copy = "%d-%s" % (k, os.path.basename(a))
                k += 1
            files[copy] = a
            out.append(copy)
        else:
            out.append(a)
    return out, files


def lesson(opts):
    """The trace of a program, as the options ask."""
    name, binary, args, typed, cwd, setup, own, sanitized = wanted(opts)
    box = None
    if own:  # a learner's file: as ./check runs it
        said = sandbox.words(opts["program"], opts["as_me"])
        if said and sandbox.how()["kind"] is None and not opts["as_me"]:
            fail(said, 2)
        if said:
            print("show: " + said, file=sys.stderr)
        box = sandbox.Box(opts["as_me"])
    result, said = trace.trace(binary, args, typed, cwd, opts["steps"], opts["seconds"], setup, box,
                               sanitized)
    if result is None or result.get("error"):
        lines = [row for row in said.strip().split("\n") if row.strip()]
        reason = lines[-1] if lines else (result or {}).get("error") or "it said nothing"
        fail("gdb could not trace %s: %s" % (name, reason), NO_TRACE)
    return result


def chosen(result, opts):
    steps = result["steps"]
    if not opts["at"] and not opts["after"]:
        return list(range(len(steps) + 1))
    picked = []
    for i, step in enumerate(steps):
        at = any(t in step["text"] for t in opts["at"])
        after = i > 0 and any(t in marks.ran(result, i)[1] for t in opts["after"])
        if at or after:
            picked.append(i)
    return picked


def stop(signum, _frame):
    raise Stop(signum)


def main():
    for s in (signal.SIGTERM, signal.SIGHUP, signal.SIGINT):
        signal.signal(s, stop)
    sys.stdout.reconfigure(errors="replace")
    opts = parse(sys.argv[1:])
    if opts["lessons"] is not None:
        return lesson_pages(opts)
    result = lesson(opts)
    if opts["html"] is not None:
        picked = chosen(result, opts)
        name = os.path.splitext(os.path.basename(opts["program"]))[0]
        path = opts["html"] or name + ".html"
        write_page(path, webpage.page(result, picked[0] if picked else 0))
        print("show: wrote %s (%s): open file://%s in a browser" % (
            path, marks.plural(len(result["steps"]), "step"), os.path.abspath(path)),
            file=sys.stderr)
        if opts["open"]:
            opened(path)
        return ended(result)
    if opts["json"]:
        json.dump(result, sys.stdout, indent=1)
        print()
        return 0
    utf8 = pager.speaks_utf8()
    indices = chosen(result, opts)
    if not indices:
        where = opts["program"] if opts["program"] not in lessons.names() else \
            "src/%s.cpp" % opts["program"]
        fail("no step matches --at/--after; the lines are in %s" % where, 1)
    if sys.stdout.isatty() and sys.stdin.isatty() and not opts["print"]:
        pager.page(result, indices, utf8)
    else:
        # the terminal's width, or the one COLUMNS asks for, terminal or not
        width = shutil.get_terminal_size().columns if sys.stdout.isatty() or \
            os.environ.get("COLUMNS", "").isdigit() else text.WIDTH
        rule = ("═" if utf8 else "=") * min(width, text.WIDTH)
        for n, i in enumerate(indices):
            if n:
                print(rule)
            print("\n".join(text.draw(result, i, utf8, width=width)))
    sys.stdout.flush()
    return ended(result)


def ended(result):
    """0 when the program ended by itself; otherwise says how it ended, and 1."""
    complete = result["end"] is not None and result["end"]["signal"] is None
    if not complete:
        print("show: " + marks.ending(result), file=sys.stderr)
    return 0 if complete else 1


def write_page(path, content):
    with open(path + ".part", "w", encoding="utf-8") as f:
        f.write(content)
    os.replace(path + ".part", path)  # never a page cut short


def opened(path):
    if shutil.which("xdg-open") is None:
        print("show: xdg-open is not installed: open the page by hand", file=sys.stderr)
        return
    subprocess.Popen(["xdg-open", path], stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                     stderr=subprocess.DEVNULL, start_new_session=True)


def lesson_pages(opts):
    """Every lesson's page, at the moment of its lesson, and the index."""
    folder = opts["lessons"]
    names = ([opts["program"]] if opts["program"] else []) + opts["args"] or lessons.names()
    for name in names:
        if name not in lessons.names():
            fail("no program named '%s'; the programs are: %s" % (
                name, " ".join(lessons.names())), 2)
    names = [n for n in lessons.names() if n in names]  # in the tour's order
    os.makedirs(folder, exist_ok=True)
    entries, status = [], 0
    for name in names:
        lesson_ = lessons.load(name)
        words = parse([name] + (lesson_["tour"].get("picture") or []))  # --at/--after
        moment = dict(opts, program=name, args=[], at=words["at"], after=words["after"],
                      input=lessons.bytes_of(lesson_["show"].get("input", "")))  # never piped
        result = lesson(moment)
        start = (chosen(result, moment) or [0])[0]
        write_page(os.path.join(folder, name + ".html"), webpage.page(result, start))
        entries.append((name, name + ".html", lesson_["point"], start + 1))
        status |= ended(result)
    write_page(os.path.join(folder, "index.html"), webpage.index(entries))
    print("show: wrote %s and index.html into %s: open file://%s in a browser" % (
        marks.plural(len(entries), "page"), folder,
        os.path.join(os.path.abspath(folder), "index.html")), file=sys.stderr)
    return status


if __name__ == "__main__":
    try:
        sys.exit(main())
    except BrokenPipeError:  # the reader stopped early (| head)
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(0)
    except Stop as e:
        print("\nshow: stopped by %s; gdb and the program are ended, nothing is left" % (
            signal.Signals(e.args[0]).name), file=sys.stderr)
        sys.exit(128 + e.args[0])
    except OSError as e:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        print("show: the pictures could not be written: %s" % e.strerror, file=sys.stderr)
        sys.exit(1)
