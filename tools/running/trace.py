"""One trace of a program: valgrind's memcheck running it (in its sandbox,
for a learner's file), vgdb between them, and gdb running the tracer
(tools/tracer/trace.py documents the trace it writes); everything they
start and every file they make is gone when it returns."""

import json
import os
import select
import shutil
import signal
import subprocess
import tempfile
import time

from tools import ROOT
from tools.running import sandbox, sanitizer

WRITE_LIMIT = 8 << 20  # bytes a traced program may write to any one file
TRACE_LIMIT = 64 << 20  # bytes of a trace


def trace(binary, args, text, cwd, steps=2000, seconds=20.0, setup=None, box=None,
          sanitized=None):
    """The trace of binary run with args on the bytes text as its standard
    input, in cwd (None: a new folder of its own, which setup(folder) may
    fill first); None when gdb wrote none, with what gdb said. In a box (a
    sandbox.Box) the program runs as ./check runs a learner's: a copy of
    it, as the box protects it; otherwise as the user, within limits.
    sanitized: (the program built with the sanitizers, its source): run
    first the same way, what it finds past arrays of the stack and the
    globals, which memcheck cannot see, is marked in the trace."""
    found = overruns(sanitized, args, text, setup, box) if sanitized and box else []
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
                "--leak-check=no", "--read-inline-info=no"]
        # valgrind and vgdb name the pipes between them after the user and
        # the host as each finds them in its environment: neither has them
        env = {k: v for k, v in os.environ.items() if k not in ("LOGNAME", "USER", "HOST")}
        fds, info, vgdb = (), None, None
        if box:
            programs, binary = sandbox.install(binary, os.path.join(ROOT, "build", "askline"),
                                               os.path.basename(binary))
            folders.append(programs)
            # only what a program needs of the environment; TMPDIR for valgrind's own files
            # the program found on PATH by its name, which is its argv[0] then,
            # as when run by hand, not the path of its copy
            env = {"PATH": programs + ":/usr/bin:/bin", "LD_LIBRARY_PATH": programs,
                   "HOME": cwd, "TMPDIR": "/tmp", "LANG": os.environ.get("LANG", "C.UTF-8")}
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
            p = subprocess.Popen(command + [os.path.basename(binary) if box else binary] + args,
                                 stdin=stdin, stdout=stdout,
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
                   PICTURE_OUTPUT=files["output"], PICTURE_STDERR=files["errors"],
                   PICTURE_INPUT=files["input"],
                   PICTURE_XML=files["vg.xml"], PICTURE_OUT=files["trace.json"],
                   PICTURE_ARGS=json.dumps(args), PICTURE_STEPS=str(steps),
                   PICTURE_SECONDS=str(seconds), PYTHONDONTWRITEBYTECODE="1")
        env["PYTHONPATH"] = ROOT  # the tracer is tools.tracer, as the commands find theirs
        gdb = subprocess.Popen(
            sandbox.as_user(None) + sandbox.limited(int(seconds) * 2 + 60, None, TRACE_LIMIT) +
            ["gdb", "-nx", "-q", "-batch", "-ex",
             "python from tools.tracer import trace; trace.main()"],
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
                result = json.load(f)
            except ValueError:  # cut short by the size limit
                return None, "the trace grew past %d MB, the most it may be: ask for " \
                    "fewer steps (--steps)" % (TRACE_LIMIT >> 20)
        attach(result, found)
        return result, said
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


def overruns(sanitized, args, text, setup, box):
    """What the program built with the sanitizers does past the arrays of
    the stack and the globals, run on the same input and files in a box of
    the same kind: sanitizer.overruns()."""
    program, source = sanitized
    with open(source, encoding="utf-8", errors="replace") as f:
        lines = f.read().split("\n")
    with sandbox.Box(kind=box.kind) as other:
        folder, copy = sandbox.install(program, os.path.join(ROOT, "build", "askline"),
                                       os.path.basename(program))
        try:
            where = other.folder("show-run-")
            if setup:
                setup(where)
            other.hand_over(where)
            r = other.run([copy] + args, where, text, seconds=10, memory=None, reads=[folder],
                          env={"PATH": "/usr/bin:/bin", "LD_LIBRARY_PATH": folder,
                               "HOME": where, "ASAN_OPTIONS": sanitizer.OPTIONS})
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    found = sanitizer.overruns(r.err, {os.path.basename(source)}, lines)
    return found + [{"undefined": words} for _, words in sanitizer.undefined(
        r.err, {os.path.basename(source)}, [f["words"] for f in found])]


def attach(result, found):
    """Marks each overrun found by the sanitizers on the step after the line
    that made it: the pass where that line's subscript lay outside the array
    (the tracer's "outside"), or else its last pass recorded, or the step
    after the passes left out of its loop. An error of the step like
    memcheck's, by AddressSanitizer."""
    steps = result["steps"]
    for f in found:
        if "undefined" in f:  # by the line, not the pass: told with what is left at the end
            result.setdefault("undefined", []).append(f["undefined"])
            continue
        ran = [i for i in range(1, len(steps)) if steps[i - 1]["line"] == f["line"] and
               (f["function"] is None or steps[i - 1]["function"] == f["function"])]
        if not ran:
            continue
        hit = next((i for i in ran if any(o["name"] == f["name"] for o in
                                          steps[i - 1].get("outside", []))), None)
        note = None
        if hit is None:
            later = [s["before_step"] for s in result.get("skipped", [])
                     if s["before_step"] >= ran[-1]]
            hit, note = (later[0], "in a pass left out") if later else (ran[-1], None)
        step = steps[hit]
        block = next((b for b in step["blocks"] if b.get("name") == f["name"] and (
            (b["frame"] is None) == (f["function"] is None))), None)
        if block is None or step.get("errors") is None:
            continue
        step["errors"].append({
            "kind": "InvalidWrite" if f["verb"] == "wrote" else "InvalidRead",
            # a C library call's size is its whole range: its first byte outside is marked
            "what": "Invalid %s" % ("write" if f["verb"] == "wrote" else "read") + (
                " of size %d" % f["size"] if f["size"] else ""),
            "aux": [f["words"] + (" (%s)" % note if note else "")], "file": step["file"],
            "line": f["line"], "function": f["function"], "block": block["address"],
            "offset": f["offset"], "by": "AddressSanitizer"})


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


def end(p):
    """Ends a process and everything it started, and waits for it: the
    whole group, even where its leader has ended (gdb's pipe to vgdb,
    a cat, can outlive gdb)."""
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
    try:
        p.wait(timeout=10)
    except subprocess.TimeoutExpired:
        pass
