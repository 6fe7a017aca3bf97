"""Show a program's memory step by step, as memcheck and the debugger see it.

usage: ./show PROGRAM|FILE [--input TEXT] [--case NAME] [--at TEXT]...
              [--after TEXT]... [--json] [--html [PATH]] [--open] [--steps N]
              [--seconds N] [ARGS...]
       ./show --lessons DIR [PROGRAM...]

  PROGRAM        one of the programs (dupstr, copy, swap, ...)
  FILE           a C (.c) or C++ (.cpp, .cc, .cxx) file of yours, built as
                 ./check builds it; named after a program (mine/dupstr.c),
                 it gets that program's input
  --input TEXT   the typed input, with C escapes: \\n for Enter, \\t, \\\\, \\0
                 and \\xHH for the one byte HH (default: the lesson's, as the
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
import shutil
import signal
import subprocess
import sys
import tempfile
import time

HERE = os.path.dirname(os.path.realpath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(ROOT, "checker"))

import draw  # noqa: E402
import lessons  # noqa: E402
import page as webpage  # noqa: E402
import recipe  # noqa: E402
import sandbox  # noqa: E402

NO_TRACE = 3
WRITE_LIMIT = 8 << 20  # bytes a traced program may write to any one file
TRACE_LIMIT = 64 << 20  # bytes of a trace


class Stop(Exception):
    """A signal asked show to stop."""


def unescape(text):
    """C's escapes to the bytes they name: \\n \\t \\r \\a \\b \\f \\v \\0 \\\\ \\" \\'
    and \\xHH (one or two hex digits: that one byte); the rest as UTF-8."""
    simple = {"n": b"\n", "t": b"\t", "r": b"\r", "0": b"\0", "\\": b"\\", '"': b'"',
              "'": b"'", "a": b"\a", "b": b"\b", "f": b"\f", "v": b"\v"}
    out, k = bytearray(), 0
    while k < len(text):
        ch = text[k]
        if ch == "\\" and k + 1 < len(text):
            nxt = text[k + 1]
            if nxt == "x":
                digits = ""
                while len(digits) < 2 and k + 2 + len(digits) < len(text) and \
                        text[k + 2 + len(digits)] in "0123456789abcdefABCDEF":
                    digits += text[k + 2 + len(digits)]
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
    return opts


def fail(sentence, status):
    print("show: " + sentence, file=sys.stderr)
    sys.exit(status)


def build():
    """Builds what is stale, as the tour does."""
    done = subprocess.run([os.path.join(ROOT, "setup", "build")], stdin=subprocess.DEVNULL)
    if done.returncode != 0:
        fail("the programs could not be built (see above).", 2)


def trace(binary, args, text, cwd, steps=2000, seconds=20.0, setup=None, box=None):
    """The trace of binary run with args on the bytes text as its standard
    input, in cwd (None: a new folder of its own, which setup(folder) may
    fill first); None when gdb wrote none, with what gdb said. In a box (a
    sandbox.Box) the program runs as ./check runs a learner's: a copy of
    it, as the box protects it; otherwise as the user, within limits."""
    binary = os.path.abspath(binary)
    work = tempfile.mkdtemp(prefix="show-")
    procs, folders, init = [], [work], None
    try:
        if cwd is None:
            cwd = box.folder("show-run-") if box else os.path.join(work, "run")
            os.makedirs(cwd, exist_ok=True)
            if setup:
                setup(cwd)
            if box:
                box.hand_over(cwd)
        # valgrind's own files (its errors, its log, the pipes gdb reaches it by)
        vg = box.folder("show-valgrind-") if box else work
        files = {k: os.path.join(work, k) for k in ("input", "output", "errors", "trace.json")}
        files.update({k: os.path.join(vg, k) for k in ("vg.xml", "vg.log")})
        with open(files["input"], "wb") as f:
            f.write(text)
        prefix = os.path.join(vg, "vgdb")
        argv = ["valgrind", "--tool=memcheck", "--vgdb=yes", "--vgdb-error=1000000000",
                "--vgdb-stop-at=startup,exit", "--vgdb-prefix=" + prefix, "--xml=yes",
                "--xml-file=" + files["vg.xml"], "--log-file=" + files["vg.log"],
                "--leak-check=no"]
        # valgrind and vgdb name the pipes between them after the user and
        # the host as each finds them in its environment: neither has them
        env = {k: v for k, v in os.environ.items() if k not in ("LOGNAME", "USER", "HOST")}
        fds, info, vgdb = (), None, None
        if box:
            programs, binary = sandbox.install(binary, os.path.join(ROOT, "build", "askline"),
                                               os.path.basename(binary))
            folders.append(programs)
            # only what a program needs of the environment; TMPDIR for valgrind's own files
            env = {"PATH": "/usr/bin:/bin", "LD_LIBRARY_PATH": programs, "HOME": cwd,
                   "TMPDIR": "/tmp", "LANG": os.environ.get("LANG", "C.UTF-8")}
            if box.pid_namespace():
                # vgdb runs in the program's pid namespace beside valgrind,
                # which it knows by that namespace's pid; gdb reaches it
                # through two pipes
                for side in ("in", "out"):
                    os.mkfifo("%s-%s" % (prefix, side), 0o600)
                box.hand_over(vg)
                if box.kind == "bwrap":
                    info, fds = os.pipe()
                    fds = (fds,)
                argv = ["sh", "-c", INSIDE, "sh", prefix] + argv
                vgdb = "sh -c 'cat \"$0-out\" & exec cat > \"$0-in\"' %s" % prefix
            command = box.command(argv, cwd, seconds * 2 + 60, 4 << 30, WRITE_LIMIT,
                                  reads=[programs], writes=[vg],
                                  info=fds[0] if fds else None)
        else:
            command = sandbox.as_user(None) + sandbox.limited(int(seconds) * 2 + 60, None,
                                                              WRITE_LIMIT) + argv
        with open(files["input"], "rb") as stdin, open(files["output"], "wb") as stdout, \
                open(files["errors"], "wb") as stderr:
            p = subprocess.Popen(command + [binary] + args, stdin=stdin, stdout=stdout,
                                 stderr=stderr, cwd=cwd, env=env, pass_fds=fds,
                                 start_new_session=True)
        procs.append(p)
        pid = p.pid
        if info is not None:
            os.close(fds[0])
            init = child_pid(info)
            if init is None:
                return None, "bubblewrap did not start the program"
            pid = valgrind_in(init)
        elif vgdb is not None:
            pid = valgrind_in(p.pid)
        else:
            vgdb = "env -u LOGNAME -u USER -u HOST vgdb --wait=20 --pid=%d --vgdb-prefix=%s" % (
                pid, prefix)
            if box and box.uid is not None:  # valgrind answers a vgdb of its own user only
                vgdb = "setpriv --reuid=%d --regid=%d --clear-groups %s" % (
                    box.uid, box.uid, vgdb)
        env = dict(os.environ, PICTURE_PROGRAM=binary, PICTURE_PID=str(pid), PICTURE_VGDB=vgdb,
                   PICTURE_OUTPUT=files["output"], PICTURE_INPUT=files["input"],
                   PICTURE_XML=files["vg.xml"], PICTURE_OUT=files["trace.json"],
                   PICTURE_ARGS=json.dumps(args), PICTURE_STEPS=str(steps),
                   PICTURE_SECONDS=str(seconds), PYTHONDONTWRITEBYTECODE="1")
        gdb = subprocess.Popen(
            sandbox.as_user(None) + sandbox.limited(int(seconds) * 2 + 60, None, TRACE_LIMIT) +
            ["gdb", "-nx", "-q", "-batch", "-iex",
             "python import sys; sys.path[:0] = [%r, %r]" % (HERE, os.path.join(ROOT, "checker")),
             "-x", os.path.join(HERE, "trace.py")],
            env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
            stderr=subprocess.STDOUT, start_new_session=True)
        procs.append(gdb)
        try:
            said = gdb.communicate(timeout=seconds + 30)[0].decode("utf-8", "replace")
        except subprocess.TimeoutExpired:
            return None, "it did not finish within %d s of its time limit" % 30
        try:
            with open(files["vg.log"], errors="replace") as f:
                # valgrind's own words when it could not start the program
                said += "".join(row for row in f if row.startswith("valgrind:"))
        except OSError:
            pass
        if not os.path.exists(files["trace.json"]):
            return None, said
        with open(files["trace.json"], encoding="utf-8") as f:
            try:
                return json.load(f), said
            except ValueError:  # cut short by the size limit
                return None, "the trace grew past %d MB, the most it may be: ask for " \
                    "fewer steps (--steps)" % (TRACE_LIMIT >> 20)
    finally:
        if init is not None:
            try:  # the sandbox's first process: everything in it ends with it
                os.kill(init, signal.SIGKILL)
            except OSError:
                pass
        for p in procs:
            end(p)
        if box:
            box.close()
        for f in folders:
            shutil.rmtree(f, ignore_errors=True)


# In the sandbox: the program under valgrind, its standard input given
# explicitly (a command started with & would get /dev/null), and vgdb
# beside it on the two pipes gdb's end reaches; $1 is vgdb's prefix.
INSIDE = """p=$1; shift
exec 3<&0
"$@" <&3 3<&- &
vgdb --wait=20 --pid=$! --vgdb-prefix="$p" <"$p-in" >"$p-out" 2>"$p-said" 3<&-
wait"""


def child_pid(fd):
    """The program's process id, from what bubblewrap tells on its info pipe."""
    import select

    data = b""
    with os.fdopen(fd, "rb", buffering=0) as f:
        while select.select([f], [], [], 10)[0]:
            chunk = f.read(4096)
            if not chunk:
                break
            data += chunk
            try:
                return int(json.loads(data)["child-pid"])
            except ValueError:
                continue
    return None


def valgrind_in(init):
    """valgrind's pid (the host's) among the sandbox's processes."""
    deadline = time.monotonic() + 10
    while time.monotonic() < deadline:
        todo = [init]
        while todo:
            pid = todo.pop()
            try:
                with open("/proc/%d/comm" % pid) as f:
                    if f.read().startswith("memcheck"):
                        return pid
                with open("/proc/%d/task/%d/children" % (pid, pid)) as f:
                    todo += [int(k) for k in f.read().split()]
            except OSError:
                pass
        time.sleep(0.01)
    return init


def wanted(opts):
    """What the program is, and the run the options ask for: (name, binary,
    args, input, cwd, setup, boxed)."""
    name = opts["program"]
    own = name not in lessons.names()
    if own:
        if os.path.splitext(name)[1] not in recipe.C + recipe.CXX:
            fail("no program named '%s', and it is not a C or C++ file; the programs are: %s"
                 % (name, " ".join(lessons.names())), 2)
        if not os.path.isfile(name):
            fail("no file %s" % name, 2)
        name = os.path.splitext(os.path.basename(name))[0]
    for tool in ("gdb", "valgrind", "vgdb"):
        if shutil.which(tool) is None:
            fail("%s is not installed, and the pictures are drawn with it: run ./tour "
                 "first, which installs it." % tool, NO_TRACE)
    build()
    binary = os.path.join(ROOT, "build", "bin", name)
    if own:
        binary, said = recipe.build(os.path.abspath(opts["program"]), name)
        sys.stderr.write(said)
        if binary is None:
            fail("%s does not compile (the compiler's words are above)" % opts["program"], 1)
    known = lessons.load(name) if name in lessons.names() else {"show": {}, "cases": []}
    run = known["show"]
    if opts["case"] is not None:
        run = next((c for c in known["cases"] if c["name"] == opts["case"]), None)
        if run is None:
            fail("%s has no case '%s'; ./check %s names them" % (name, opts["case"], name), 2)
    text = lessons.bytes_of(run.get("input", "")) if opts["input"] is None else opts["input"]
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
    return name, binary, args, text, cwd, setup, own


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
    name, binary, args, text, cwd, setup, own = wanted(opts)
    box = None
    if own:  # a learner's file: as ./check runs it
        said = sandbox.words(opts["program"], opts["as_me"])
        if said and sandbox.how()["kind"] is None and not opts["as_me"]:
            fail(said, 2)
        if said:
            print("show: " + said, file=sys.stderr)
        box = sandbox.Box(opts["as_me"])
    result, said = trace(binary, args, text, cwd, opts["steps"], opts["seconds"], setup, box)
    if result is None or result.get("error"):
        lines = [row for row in said.strip().split("\n") if row.strip()]
        reason = lines[-1] if lines else (result or {}).get("error") or "it said nothing"
        fail("gdb could not trace %s: %s" % (name, reason), NO_TRACE)
    return result


def end(p):
    """Ends a process and everything it started, and waits for it."""
    if p.poll() is None:
        try:
            os.killpg(p.pid, signal.SIGKILL)
        except (ProcessLookupError, PermissionError):
            pass
    try:
        p.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass


def chosen(result, opts):
    steps = result["steps"]
    if not opts["at"] and not opts["after"]:
        return list(range(len(steps) + 1))
    picked = []
    for i, step in enumerate(steps):
        at = any(t in step["text"] for t in opts["at"])
        after = i > 0 and any(t in steps[i - 1]["text"] for t in opts["after"])
        if at or after:
            picked.append(i)
    return picked


def speaks_utf8():
    # Python itself turns a "C" locale into C.UTF-8 in os.environ (PEP 538):
    # the environment this process was started with says what the user set.
    try:
        with open("/proc/self/environ", "rb") as f:
            rows = f.read().decode("utf-8", "replace").split("\0")
        env = dict(row.split("=", 1) for row in rows if "=" in row)
    except OSError:
        env = os.environ
    for var in ("LC_ALL", "LC_CTYPE", "LANG"):
        value = env.get(var)
        if value:
            return "utf-8" in value.lower() or "utf8" in value.lower()
    return False


def read_key(fd):
    """One key from the terminal: a character, or 'up', 'down', 'left', 'right'."""
    import select

    key = os.read(fd, 1)
    if key == b"\x1b":
        more = b""
        while len(more) < 2 and select.select([fd], [], [], 0.05)[0]:
            more += os.read(fd, 1)
        return {b"[A": "up", b"[B": "down", b"[C": "right", b"[D": "left",
                b"OA": "up", b"OB": "down", b"OC": "right", b"OD": "left"}.get(more, "esc")
    return key.decode("latin-1")


def page(result, indices, utf8):
    import termios
    import tty

    fd = sys.stdin.fileno()
    saved = termios.tcgetattr(fd)
    k, top = 0, 0
    try:
        tty.setcbreak(fd)
        while True:
            cols, rows = shutil.get_terminal_size()
            lines = draw.draw(result, indices[k], utf8, width=cols)
            head = draw.HEAD  # the title and its two source lines stay on screen
            room = max(rows - 1 - head, 1)
            body = lines[head:]
            top = max(0, min(top, len(body) - room))
            shown = lines[:head] + body[top:top + room]
            more = []
            if top > 0:
                more.append("%d above" % top)
            if top + room < len(body):
                more.append("%d below" % (len(body) - top - room))
            keys = (["Enter: forward"] if k + 1 < len(indices) else []) + \
                (["b: back"] if k > 0 else []) + \
                ["q: quit" if k + 1 < len(indices) else "Enter or q: quit"]
            hint = "  ".join(keys) + ("  up/down: scroll (%s)" % ", ".join(more) if more else "")
            sys.stdout.write("\033[H\033[2J" + "\n".join(row[:cols] for row in shown) + "\n"
                             + hint[:cols - 1])
            sys.stdout.flush()
            key = read_key(fd)
            if key in ("q", "Q", "\x04", "esc"):
                break
            if key in ("up", "k"):
                top -= 1
            elif key in ("down", "j"):
                top += 1
            elif key in ("b", "B", "left"):
                if k > 0:
                    k, top = k - 1, 0
            elif key in ("\r", "\n", " ", "right"):
                if k + 1 >= len(indices):
                    break
                k, top = k + 1, 0
    finally:
        termios.tcsetattr(fd, termios.TCSADRAIN, saved)
        sys.stdout.write("\n")


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
            path, draw.marks.plural(len(result["steps"]), "step"), os.path.abspath(path)),
            file=sys.stderr)
        if opts["open"]:
            opened(path)
        return ended(result)
    if opts["json"]:
        json.dump(result, sys.stdout, indent=1)
        print()
        return 0
    utf8 = speaks_utf8()
    indices = chosen(result, opts)
    if not indices:
        where = opts["program"] if opts["program"] not in lessons.names() else \
            "src/%s.cpp" % opts["program"]
        fail("no step matches --at/--after; the lines are in %s" % where, 1)
    if sys.stdout.isatty() and sys.stdin.isatty() and not opts["print"]:
        page(result, indices, utf8)
    else:
        width = shutil.get_terminal_size().columns if sys.stdout.isatty() else draw.WIDTH
        rule = ("═" if utf8 else "=") * min(width, draw.WIDTH)
        for n, i in enumerate(indices):
            if n:
                print(rule)
            print("\n".join(draw.draw(result, i, utf8, width=width)))
    sys.stdout.flush()
    return ended(result)


def ended(result):
    """0 when the program ended by itself; otherwise says how it ended, and 1."""
    complete = result["end"] is not None and result["end"]["signal"] is None
    if not complete:
        print("show: " + draw.marks.ending(result), file=sys.stderr)
    return 0 if complete else 1


def write_page(path, text):
    with open(path + ".part", "w", encoding="utf-8") as f:
        f.write(text)
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
        moment = dict(opts, program=name, args=[], at=words["at"], after=words["after"])
        result = lesson(moment)
        start = (chosen(result, moment) or [0])[0]
        write_page(os.path.join(folder, name + ".html"), webpage.page(result, start))
        entries.append((name, name + ".html", lesson_["point"], start + 1))
        status |= ended(result)
    write_page(os.path.join(folder, "index.html"), webpage.index(entries))
    print("show: wrote %s and index.html into %s: open file://%s in a browser" % (
        draw.marks.plural(len(entries), "page"), folder,
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
