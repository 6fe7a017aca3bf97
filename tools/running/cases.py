"""A version of a program on its lesson's cases: each case run in a fresh
folder of its own and again under memcheck, within the sandbox's limits,
and judged against what the lesson says (tools/running/lessons.py)."""

import difflib
import os
import re
import shutil
import signal

from tools import ROOT
from tools.drawing import marks
from tools.running import lessons, memcheck, recipe, sandbox

MEMCHECK_SECONDS = 30.0
MEMCHECK_MEMORY = 4 << 30


def shown(data):
    """Bytes as a learner reads them: every byte as itself or C's escape."""
    return marks.text(data, False)


def run_case(program, libs, case, memcheck_too, own, exact, asan, as_me):
    """What one case shows of a program: a dict of its verdict and problems."""
    got = {"name": case["name"], "kind": case["kind"], "problems": [], "memory": []}
    stdin = lessons.bytes_of(case.get("input", ""))
    env = {"PATH": "/usr/bin:/bin", "LD_LIBRARY_PATH": libs}
    memory = sandbox.MEMORY
    if asan:  # it reserves terabytes of address space, and leaks are memcheck's to judge
        env["ASAN_OPTIONS"], memory = "detect_leaks=0", None
    with sandbox.Box(as_me) as box:
        where = box.folder()
        lessons.make_files(where, case.get("files"))
        box.hand_over(where)
        env["HOME"] = where
        r = box.run([program] + case.get("args", []), where, stdin, reads=[libs], env=env,
                    memory=memory)
        got.update(out=r.out, status=r.status, signal=r.signal)
        judge(case, r, where, got)
    if memcheck_too and not (r.timed_out or r.flooded):
        got["memory"] = memory_problems(program, libs, case, stdin, env, own, exact, as_me)
    return got


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
    if "output" in case and case["output"] is not None:
        want = lessons.bytes_of(case["output"])
        if r.out != want:
            p.append(("output", difference(want, r.out)))
    elif "matches" in case and not re.fullmatch(case["matches"], r.out.decode("latin-1")):
        p.append(("output", "expected output matching %s\n  got       \"%s\"" % (
            case["matches"], shown(r.out))))
    if not r.signal and r.status != case["status"]:
        p.append(("status", "exit status: expected %d, got %d" % (case["status"], r.status)))
    for name, content in (case.get("after") or {}).items():
        path = os.path.join(where, name)
        want = None if content is None else lessons.bytes_of(content)
        have = open(path, "rb").read() if os.path.isfile(path) else None
        if have == want:
            continue
        before = (case.get("files") or {}).get(name)
        kind = "loss" if before is not None and lessons.bytes_of(before) == want else "file"
        if want is None:
            p.append((kind, "%s should not be there, but holds \"%s\"" % (name, shown(have))))
        else:
            p.append((kind, "%s should hold \"%s\" but %s" % (
                name, shown(want), "is not there" if have is None else
                "holds \"%s\"" % shown(have))))


def signal_name(number):
    try:
        return signal.Signals(number).name
    except ValueError:
        return "signal %d" % number


def difference(want, got):
    """Expected and got, the first difference marked; a line-by-line diff
    for long outputs."""
    a, b = shown(want), shown(got)
    if len(want) > 200 or want.count(b"\n") > 6:
        rows = difflib.unified_diff(want.decode("latin-1").split("\n"),
                                    got.decode("latin-1").split("\n"),
                                    "expected", "got", lineterm="", n=1)
        return "the output differs:\n" + "\n".join("    " + shown(r.encode("latin-1"))
                                                   for r in list(rows)[:30])
    k = next((i for i in range(min(len(want), len(got))) if want[i] != got[i]),
             min(len(want), len(got)))
    column = len(shown(want[:k]))
    return ("expected  \"%s\"\n  got       \"%s\"\n             %s^ the first difference, "
            "at byte %d" % (a, b, " " * column, k + 1))


def memory_problems(program, libs, case, stdin, env, own, exact, as_me):
    """The case once more under memcheck: its errors, and the blocks lost
    beyond what the lesson's own program loses."""
    with sandbox.Box(as_me) as box:
        where = box.folder()
        logs = box.folder("check-memcheck-")
        lessons.make_files(where, case.get("files"))
        box.hand_over(where)
        xml = os.path.join(logs, "memcheck.xml")
        argv = ["valgrind", "--tool=memcheck", "--xml=yes", "--xml-file=" + xml,
                "--log-file=" + os.path.join(logs, "log"), "--leak-check=full",
                "--show-leak-kinds=definite,indirect", "--track-origins=yes", "--vgdb=no",
                program] + case.get("args", [])
        box.run(argv, where, stdin, seconds=MEMCHECK_SECONDS, memory=MEMCHECK_MEMORY,
                reads=[libs], writes=[logs], env=dict(env, HOME=where))
        try:
            with open(xml, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError:
            return []
    errors, leaks = memcheck.read(text, own)
    found = [memcheck.words(e) for e in errors]
    allowed = case.get("lost", [0, 0])
    lost = [sum(e["lost"][0] for e in leaks), sum(e["lost"][1] for e in leaks)]
    if lost[1] > allowed[1]:
        found += [memcheck.words(e) for e in leaks]
        found.append("(the lesson's own program loses %d bytes in %d blocks on this case)"
                     % tuple(allowed))
    elif exact and lost != allowed:  # the lesson's data must say what its program does
        found.append("loses %d bytes in %d blocks, and the lesson says %d in %d"
                     % tuple(lost + allowed))
    return found


def check(name, source, program, memcheck_too, color, as_me=False):
    """Every case of a lesson on one version: a report (a plain dict).
    as_me: the version may run as the user where nothing safer can be had
    (the collection's own programs always may)."""
    report = {"program": name, "source": source, "built": None, "said": "", "cases": [],
              "as_me": as_me and source is not None and sandbox.how()["kind"] is None}
    if program is None:
        program, report["said"] = recipe.build(source, name, color)
        if program is None:
            return report
    report["built"] = program
    # the prompt library of the build the program comes from
    library = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(program))),
                           "askline")
    if source is not None or not os.path.isdir(library):
        library = os.path.join(ROOT, "build", "askline")
    libs, copy = sandbox.install(program, library, name)
    try:
        own = {os.path.basename(source or name + ".cpp")}
        with open(program, "rb") as f:
            asan = b"__asan_init" in f.read()  # built with AddressSanitizer (the suite's)
        for case in lessons.load(name)["cases"]:
            got = run_case(copy, libs, case, memcheck_too, own,
                           source is None, asan, as_me or source is None)
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
        shutil.rmtree(libs, ignore_errors=True)
    return report


def tally(report):
    cases = report["cases"]
    passed = sum(c["verdict"] == "pass" for c in cases)
    advice = sum(c["verdict"] == "advice" for c in cases)
    failed = sum(c["verdict"] == "fail" for c in cases)
    return passed, advice, failed
