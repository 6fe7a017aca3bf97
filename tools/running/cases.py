"""A version of a program on its lesson's cases (tools/running/lessons.py),
judged against what the lesson says. Each case runs in a fresh folder of
its own, within the sandbox's limits, three times: as built (its output,
status and files), built with the sanitizers (overruns of the stack and
the globals, a signed overflow) and under memcheck (the heap, unset
values, what is left at exit). The cases run side by side, on every core,
and are reported in the lesson's order."""

import difflib
import os
import re
import shutil
import signal
import threading
from concurrent.futures import ThreadPoolExecutor

from tools import ROOT
from tools.drawing import marks
from tools.running import lessons, memcheck, recipe, sandbox, sanitizer

MEMCHECK_SECONDS = 30.0
MEMCHECK_MEMORY = 4 << 30
CONTEXT = 12  # bytes shown on each side of a difference in a long or binary text
NTH = {1: "1st", 2: "2nd", 3: "3rd"}


def shown(data):
    """Bytes as a learner reads them: every byte as itself or C's escape."""
    return marks.text(data, False)


def nth(k):
    return NTH.get(k, "%dth" % k)


class Version:
    """One version's programs, installed where every run's user may read
    them: as built, with the sanitizers (a build that may still be under
    way, or None), and the failing allocator (or None); and what the
    judging needs of its sources."""

    def __init__(self, program, sanitized, source, name, library):
        self.folder, self.program = sandbox.install(program, library, name)
        self.building, self.done, self.lock = sanitized, None, threading.Lock()
        self.shim = None
        shim = recipe.shim()
        if shim:
            self.shim = os.path.join(self.folder, "failalloc.so")
            shutil.copy2(shim, self.shim)
        self.cover = memcheck.names_only(self.folder)
        self.own = {os.path.basename(source or name + ".cpp")}
        self.lines = []
        if source:
            with open(source, encoding="utf-8", errors="replace") as f:
                self.lines = f.read().split("\n")
        with open(program, "rb") as f:
            self.asan = b"__asan_init" in f.read()  # built with AddressSanitizer (the suite's)

    def sanitized(self):
        """The program built with the sanitizers, once its build is done, or
        None when there is none."""
        with self.lock:
            if self.building is not None:
                built = self.building.result()[0]
                self.building = None
                if built:
                    self.done = os.path.join(self.folder, os.path.basename(built))
                    shutil.copy2(built, self.done)
            return self.done

    def close(self):
        shutil.rmtree(self.folder, ignore_errors=True)


def run_case(v, case, memcheck_too, exact, as_me):
    """What one case shows of a version: a dict of its problems."""
    got = {"name": case["name"], "kind": case["kind"], "problems": [], "memory": []}
    stdin = lessons.bytes_of(case.get("input", ""))
    env = {"PATH": "/usr/bin:/bin", "LD_LIBRARY_PATH": v.folder}
    files = case.get("file_limit", sandbox.FILE)

    def command(program):
        argv = [program] + case.get("args", [])
        if "file_limit" in case:  # a full disk: a write past it fails, and kills nothing
            argv = ["sh", "-c", 'trap "" XFSZ; exec "$@"', "sh"] + argv
        return argv
    memory = sandbox.MEMORY
    if v.asan:
        env["ASAN_OPTIONS"], memory = sanitizer.OPTIONS, None
        if any(r.get("address") == "stack" for r in case.get("lines", [])):
            # a local whose address is judged stays on the stack, where finding
            # uses after a return would move it to a fake stack among the mappings
            env["ASAN_OPTIONS"] += ":detect_stack_use_after_return=0"
    plain = command(v.program)
    if case.get("fail_allocation") and v.shim:
        # set by env last of all, so that what starts the program allocates as ever
        plain = ["env", "LD_PRELOAD=" + v.shim, "FAILALLOC_AT=%d" % case["fail_allocation"]] \
            + plain
    with sandbox.Box(as_me) as box:
        where = box.folder()
        lessons.make_files(where, case.get("files"))
        box.hand_over(where)
        r = box.run(plain, where, stdin, reads=[v.folder], env=dict(env, HOME=where),
                    memory=memory, files=files)
        got.update(out=r.out, status=r.status, signal=r.signal)
        judge(case, r, where, got)
    if case.get("fail_allocation") and b"failalloc: " not in r.err and not r.timed_out:
        # the version allocated nothing of its own for the case to make fail
        got["problems"] = [(k, w) for k, w in got["problems"] if k in ("hang", "flood", "crash")]
        got["note"] = "it allocates nothing of its own with malloc, so no allocation failed"
    if r.timed_out or r.flooded:
        return got
    if case.get("fail_allocation"):
        # memcheck's malloc and the sanitizers' are their own, which the shim
        # cannot make fail: their runs would take the path where it succeeds,
        # which this case is not about (the other cases check that path)
        return got
    # memcheck first: the sanitized build may still be under way
    found = memory_problems(v, case, stdin, env, exact, as_me) if memcheck_too else []
    sanitized = v.sanitized()
    if sanitized:
        with sandbox.Box(as_me) as box:
            where = box.folder()
            lessons.make_files(where, case.get("files"))
            box.hand_over(where)
            s = box.run(command(sanitized), where, stdin, reads=[v.folder],
                        env=dict(env, HOME=where, ASAN_OPTIONS=sanitizer.OPTIONS,
                                 UBSAN_OPTIONS="print_stacktrace=1"), memory=None, files=files)
            found = sanitizer.findings(s.err, v.own, v.lines) + found
    got["memory"] = once(found)
    return got


def once(found):
    """Each finding once: one seen by both memcheck and the sanitizers reads
    the same; and what UndefinedBehaviorSanitizer says of a pointer (null,
    out of bounds) at a line where an access is told already says no more."""
    told = list(dict.fromkeys(found))
    # memcheck's "at byte 5" and a sanitized C library call's "from byte 5 on"
    # are the same write: memcheck's, byte by byte, is told
    told = [w for w in told if not re.search(r", from byte \d+ on$", w) or
            re.sub(r", from (byte \d+) on$", r", at \1", w) not in told]
    lines = {w.split()[1] for w in told if not re.match(r"line \S+: ", w)}
    return [w for w in told if not (re.match(r"line \S+: ", w) and w.split()[1].rstrip(":")
                                    in lines and re.search(r"null pointer|out of bounds", w))]


def judge(case, r, where, got):
    p = got["problems"]
    if r.timed_out:
        p.append(("hang", "still running after %g s: a loop that never ends, or waiting for "
                          "input it will not get" % sandbox.SECONDS))
        return
    if r.flooded:
        p.append(("flood", "printed more than %d MB: stopped" % (sandbox.OUTPUT >> 20)))
        return
    if r.signal:
        p.append(("crash", "%s, after printing %s" % (
            marks.signal_words({"name": signal_name(r.signal), "number": r.signal}),
            "`%s`" % shown(r.out) if r.out else "nothing")))
    if case.get("output") is not None:
        want = lessons.bytes_of(case["output"])
        if r.out != want:
            p.append(("output", difference(want, r.out, "the output")))
    elif case.get("lines") is not None:
        p += [("output", words) for words in relations(case["lines"], r.out)]
    if not r.signal and r.status != case["status"]:
        p.append(("status", "exit status: expected %d, got %d" % (case["status"], r.status)))
    for name, content in (case.get("after") or {}).items():
        path = os.path.join(where, name)
        want = None if content is None else lessons.bytes_of(content)
        have = None
        if os.path.isfile(path):
            with open(path, "rb") as f:
                have = f.read()
        if have == want:
            continue
        # a file that should have stayed as it was, and lost some of it
        before = (case.get("files") or {}).get(name)
        kept = before is not None and lessons.bytes_of(before) == want
        kind = "loss" if kept and not (have or b"").startswith(want) else "file"
        if want is None:
            p.append((kind, "%s should not be there, but holds \"%s\"" % (name, shown(have))))
        elif have is None:
            p.append((kind, "%s should hold \"%s\" but is not there" % (name, shown(want))))
        else:
            p.append((kind, difference(want, have, name)))


def relations(lines, out):
    """What the output's lines break of the relations the case states, in
    words: each line is {"address": "any" or "stack"} (an address as %p
    prints it), {"same": k} (the same as line k), {"plus": [k, n]} (line
    k's address plus n) or {"text": t}."""
    rows = out.decode("latin-1").split("\n")
    if rows and rows[-1] == "":
        rows.pop()
    else:
        rows.append(None)  # a last line with no line feed is no whole line
    found = []
    for k, rule in enumerate(lines, 1):
        have = rows[k - 1] if k <= len(rows) else None
        value = int(have, 16) if have and re.fullmatch(r"0x[0-9a-f]+", have) else None
        shows = "is missing" if have is None else "is %s" % shown(have.encode("latin-1"))
        if "text" in rule and have != rule["text"]:
            found.append("the %s line should be %s, and %s" % (nth(k), rule["text"], shows))
        elif "same" in rule and have != rows[rule["same"] - 1]:
            found.append("the %s line should be the same as the %s: %s, and %s" % (
                nth(k), nth(rule["same"]), rows[rule["same"] - 1], shows))
        elif "plus" in rule:
            base, n = rule["plus"]
            first = rows[base - 1]
            start = int(first, 16) if first and re.fullmatch(r"0x[0-9a-f]+", first) else None
            if start is not None and value != start + n:
                found.append("the %s line should be the %s plus %d: %#x, and %s" % (
                    nth(k), nth(base), n, start + n, shows))
        elif "address" in rule and (value is None or value == 0):
            found.append("the %s line should be an address as %%p prints it (0x and hex "
                         "digits), and %s" % (nth(k), shows))
        elif rule.get("address") == "stack" and value < 0x7f0000000000:
            found.append("the %s line should be an address on the stack, from 0x7f0000000000 "
                         "up, where Linux places it, and %s: the address of a global, a "
                         "literal or a heap block?" % (nth(k), shows))
    extra = [r for r in rows[len(lines):] if r is not None]
    if extra:
        found.append("there should be %d lines, and there are %d more" % (len(lines), len(extra)))
    elif None in rows[:len(lines)] and not found:
        found.append("the last line should end with a line feed")
    return found


def signal_name(number):
    try:
        return signal.Signals(number).name
    except ValueError:
        return "signal %d" % number


def difference(want, got, name):
    """What should be and what is, where they differ: for a short text, both
    with the first difference marked; for long text, a line-by-line diff;
    for bytes that are no text, the first difference with a few bytes on
    each side, and the lengths."""
    k = next((i for i in range(min(len(want), len(got))) if want[i] != got[i]),
             min(len(want), len(got)))
    text = all(b in (9, 10) or 32 <= b < 127 for b in want + got)
    if text and len(want) <= 200 and want.count(b"\n") <= 6:
        a, b = shown(want), shown(got)
        if name == "the output":
            return ("expected  \"%s\"\n  got       \"%s\"\n             %s^ the first "
                    "difference, at byte %d" % (a, b, " " * len(shown(want[:k])), k + 1))
        pad = " " * (len(name) + 2)
        return ("%s should hold \"%s\"\n  and holds%s\"%s\"\n%s^ the first difference, at "
                "byte %d" % (name, a, pad, b, " " * (len(name) + 14 + len(shown(want[:k]))),
                             k + 1))
    if text and name == "the output":
        rows = difflib.unified_diff(want.decode("latin-1").split("\n"),
                                    got.decode("latin-1").split("\n"),
                                    "expected", "got", lineterm="", n=1)
        return "the output differs:\n" + "\n".join("    " + shown(r.encode("latin-1"))
                                                   for r in list(rows)[:30])
    lo = max(k - CONTEXT, 0)

    def around(data):
        part = shown(data[lo:k + CONTEXT])
        return ("..." if lo else "") + part + ("..." if k + CONTEXT < len(data) else " (its end)")

    def byte(data):
        return shown(data[k:k + 1]) if k < len(data) else None
    holds = "holds %s" % byte(got) if byte(got) else "ends"
    should = "should hold %s" % byte(want) if byte(want) else "should end"
    return ("%s differs from byte %d on, where it %s and %s (it should be %s long, and is %d):"
            "\n  should hold  %s\n  holds        %s" % (
                name, k + 1, should, holds, marks.plural(len(want), "byte"), len(got),
                around(want), around(got)))


def memory_problems(v, case, stdin, env, exact, as_me):
    """The case once more under memcheck: its errors in words, and the
    blocks left at exit beyond what the lesson's own program leaves."""
    text = memcheck_run(v, case, stdin, env, as_me)
    errors, leaks = memcheck.read(text, v.own)
    if any(e["kind"].startswith("Uninit") or "uninitialised" in e["what"] for e in errors):
        # where an unset value came from: tracked only when there is one,
        # as tracking slows every run
        text = memcheck_run(v, case, stdin, env, as_me, ["--track-origins=yes"])
        errors, leaks = memcheck.read(text, v.own)
    found = [memcheck.words(e) for e in errors]
    if "<fatal_signal>" in text:  # what a crashed run leaves says nothing of the version
        return found
    leaks = [e for e in leaks if e["called"] not in memcheck.STREAMS]
    allowed = case.get("left", [0, 0])
    left = [sum(e["lost"][0] for e in leaks), sum(e["lost"][1] for e in leaks)]
    more = [what for what, n in ((marks.plural(left[1] - allowed[1], "block"),
                                  left[1] - allowed[1]),
                                 (marks.plural(left[0] - allowed[0], "byte"),
                                  left[0] - allowed[0])) if n > 0]
    if more:
        found.append("%s: %s more than the lesson's own program leaves on this case" % (
            "; ".join(memcheck.left_words(leaks)), " and ".join(more)))
    elif exact and left != allowed:  # the lesson's data must say what its program does
        found.append("leaves %d bytes in %d blocks, and the lesson says %d in %d"
                     % tuple(left + allowed))
    return found


def memcheck_run(v, case, stdin, env, as_me, more=()):
    """The XML memcheck writes of a run of the case ("" when it wrote none)."""
    with sandbox.Box(as_me) as box:
        where = box.folder()
        logs = box.folder("check-memcheck-")
        lessons.make_files(where, case.get("files"))
        box.hand_over(where)
        xml = os.path.join(logs, "memcheck.xml")
        argv = ["valgrind", "--tool=memcheck", "--xml=yes", "--xml-file=" + xml,
                "--log-file=" + os.path.join(logs, "log"), "--leak-check=full",
                "--show-leak-kinds=all", "--vgdb=no",
                # no inlined frames to read at -O0: it halves valgrind's start
                "--read-inline-info=no"] + list(more) + [v.program] + case.get("args", [])
        box.run(argv, where, stdin, seconds=MEMCHECK_SECONDS, memory=MEMCHECK_MEMORY,
                reads=[v.folder], writes=[logs], env=dict(env, HOME=where),
                cover=v.cover)
        try:
            with open(xml, encoding="utf-8", errors="replace") as f:
                return f.read()
        except OSError:
            return ""


def check(name, source, program, memcheck_too, color, as_me=False, pool=None):
    """Every case of a lesson on one version: a report (a plain dict). The
    builds and the runs go to pool (a ThreadPoolExecutor; a new one of a
    thread a core when None). as_me: the version may run as the user
    where nothing safer can be had (the collection's own programs always
    may)."""
    own_pool = pool is None
    pool = pool or ThreadPoolExecutor(os.cpu_count() or 1)
    report = {"program": name, "source": source, "built": None, "said": "", "cases": [],
              "as_me": as_me and source is not None and sandbox.how()["kind"] is None}
    try:
        sanitized = None
        if program is None:
            native = pool.submit(recipe.build, source, name, color)
            if memcheck_too:
                sanitized = pool.submit(recipe.build, source, name, False, True)
            program, report["said"] = native.result()
            if program is None:
                if sanitized:
                    sanitized.cancel()
                return report
        report["built"] = program
        # the prompt library of the build the program comes from
        library = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(program))),
                               "askline")
        if source is not None or not os.path.isdir(library):
            library = os.path.join(ROOT, "build", "askline")
        v = Version(program, sanitized, source, name, library)
        try:
            cases = lessons.load(name)["cases"]
            jobs = [pool.submit(run_case, v, case, memcheck_too, source is None,
                                as_me or source is None) for case in cases]
            for case, job in zip(cases, jobs):
                got = job.result()
                serious = [k for k, _ in got["problems"] if k not in ("output", "status", "file")]
                if not got["problems"] and not got["memory"]:
                    got["verdict"] = "pass"
                elif case["kind"] == "choice" and not serious and not got["memory"]:
                    got["verdict"] = "advice"
                else:
                    got["verdict"] = "fail"
                got["case"] = case
                report["cases"].append(got)
        finally:
            v.close()
    finally:
        if own_pool:
            pool.shutdown()
    return report


def tally(report):
    cases = report["cases"]
    passed = sum(c["verdict"] == "pass" for c in cases)
    advice = sum(c["verdict"] == "advice" for c in cases)
    failed = sum(c["verdict"] == "fail" for c in cases)
    return passed, advice, failed
