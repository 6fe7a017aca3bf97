"""Check a version of one of the collection's programs against its lesson.

usage: ./check PROGRAM [FILE...] [--junit REPORT] [--jobs N] [--no-memcheck]
       ./check FILE...        (each FILE named after its program: mine/dupstr.c)

  PROGRAM         the program the FILEs are versions of (dupstr, copy, ...);
                  with no FILE, the collection's own program is checked
  FILE            a C (.c) or C++ (.cpp, .cc, .cxx) file, built by the
                  collection's own recipe (setup/recipe) into a folder of its
                  own, then run on every case of the lesson, each in a fresh
                  folder, and once more under valgrind's memcheck
  --junit REPORT  also write a JUnit XML report, for CI and classroom tools
  --jobs N        FILEs checked at once (default: one per core)
  --no-memcheck   leave the memcheck runs out
  --as-me         where no sandbox can be made and you are not root, run
                  your own FILE as you anyway (never others' files)
  --program PATH  check a program already built, as PROGRAM (for the tests)

The cases are in lessons/PROGRAM.json. A case of the lesson that fails
makes the status 1; a case that shows one of the collection's own choices
gives advice, unless the version crashes, hangs, errs in memory or loses a
file on it. Each run is limited in time (2 s; 30 s under memcheck), memory,
output (1 MB), file size and processes; with bubblewrap it sees the system
read-only and no network, and may write nothing but its own folder. Where
bubblewrap may not make its sandbox (a container or a chroot), a FILE runs
as a user of its own when check runs as root, and not at all otherwise
unless --as-me says it may run as you.
"""

import difflib
import os
import re
import resource
import shlex
import shutil
import signal
import subprocess
import sys
import xml.etree.ElementTree as ET
from concurrent.futures import ThreadPoolExecutor

HERE = os.path.dirname(os.path.realpath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(1, os.path.join(ROOT, "picture"))

import lessons  # noqa: E402
import marks  # noqa: E402
import memcheck  # noqa: E402
import recipe  # noqa: E402
import sandbox  # noqa: E402

MEMCHECK_SECONDS = 30.0
MEMCHECK_MEMORY = 4 << 30


def fail(sentence, status=2):
    print("check: " + sentence, file=sys.stderr)
    sys.exit(status)


def shown(data):
    """Bytes as a learner reads them: every byte as itself or C's escape."""
    return marks.text(data, False)


def printf_line(data):
    """A shell word for printf that writes exactly these bytes."""
    return "'" + lessons.printf_format(data.decode("latin-1")).replace("'", "'\\''") + "'"


# ----- one case ----------------------------------------------------------------

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


# ----- one version -------------------------------------------------------------

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


def summary(report):
    if report["built"] is None:
        return "does not compile"
    passed, advice, failed = tally(report)
    return "%d of %d cases pass%s" % (passed, len(report["cases"]),
                                      "; %d advice" % advice if advice else "")


def reproduce(report, case):
    """One command that runs the case by hand."""
    setup = ""
    for fname, content in (case.get("files") or {}).items():
        if fname.endswith("/"):
            setup += "mkdir %s && " % shlex.quote(fname)
        else:
            setup += "printf %s > %s && " % (printf_line(lessons.bytes_of(content)),
                                              shlex.quote(fname))
    program = report["built"]
    line = "printf %s | %s" % (printf_line(lessons.bytes_of(case.get("input", ""))),
                               " ".join(shlex.quote(a) for a in [program] + case.get("args", [])))
    return ('cd "$(mktemp -d)" && ' + setup + line) if setup or case.get("after") else line


def details(report, got):
    """What a learner reads about one case that did not pass."""
    case = got["case"]
    rows = ["      typed     \"%s\"" % shown(lessons.bytes_of(case.get("input", "")))]
    if case.get("args"):
        rows.append("      arguments %s" % " ".join(shlex.quote(a) for a in case["args"]))
    for kind, words in got["problems"]:
        rows.append("      " + words.replace("\n", "\n    "))
    if not any(k == "status" for k, _ in got["problems"]) and got.get("status") is not None:
        rows.append("      exit status %d, as expected" % got["status"])
    for words in got["memory"]:
        rows.append("      memcheck: " + words)
    rows.append("      by hand:  " + reproduce(report, case))
    show = "./show" if os.getcwd() == ROOT else shlex.quote(os.path.join(ROOT, "show"))
    if report["as_me"]:  # as it was checked: here, a file runs as the user only when asked
        show += " --as-me"
    rows.append("      see it:   %s %s --case %s" % (show, shlex.quote(report["source"] or
                                                                 report["program"]),
                                                    shlex.quote(case["name"])))
    return rows


def paint(text, code, color):
    return "\033[%sm%s\033[0m" % (code, text) if color else text


def show_report(report, color):
    """The whole report of one version, as a learner reads it."""
    out = []
    what = report["source"] or "the collection's own %s" % report["program"]
    if report["said"]:
        out.append(report["said"].rstrip("\n"))
    if report["built"] is None:
        out.append(paint("%s does not compile" % what, "31", color))
        return out
    for got in report["cases"]:
        mark = {"pass": paint("PASS  ", "32", color), "fail": paint("FAIL  ", "31", color),
                "advice": paint("ADVICE", "33", color)}[got["verdict"]]
        choice = " (the collection's own choice)" if got["kind"] == "choice" else ""
        out.append("%s %s%s" % (mark, got["name"], choice))
        if got["verdict"] != "pass":
            out += details(report, got)
    out.append("%s: %s" % (what, summary(report)))
    return out


def junit(reports, path):
    """A JUnit XML report: a test suite a version, a test case a case."""
    suites = ET.Element("testsuites")
    for report in reports:
        name = report["source"] or report["program"]
        suite = ET.SubElement(suites, "testsuite", name=name)
        if report["built"] is None:
            case = ET.SubElement(suite, "testcase", classname=report["program"], name="builds")
            ET.SubElement(case, "failure", message="does not compile").text = report["said"]
            suite.set("tests", "1")
            suite.set("failures", "1")
            continue
        passed, advice, failed = tally(report)
        suite.set("tests", str(len(report["cases"])))
        suite.set("failures", str(failed))
        for got in report["cases"]:
            case = ET.SubElement(suite, "testcase", classname=report["program"], name=got["name"])
            text = "\n".join(details(report, got)) if got["verdict"] != "pass" else ""
            if got["verdict"] == "fail":
                first = (got["problems"] + [("memory", "memcheck: " + w)
                                            for w in got["memory"]])[0][1].split("\n")[0]
                ET.SubElement(case, "failure", message=first).text = text
            elif got["verdict"] == "advice":
                ET.SubElement(case, "system-out").text = "advice:\n" + text
    ET.ElementTree(suites).write(path, encoding="utf-8", xml_declaration=True)


# ----- the command ---------------------------------------------------------------

def parse(argv):
    opts = {"program": None, "files": [], "junit": None, "jobs": os.cpu_count() or 1,
            "memcheck": True, "built": None, "as_me": False}
    k = 0
    while k < len(argv):
        a = argv[k]
        if a in ("-h", "--help"):
            print(__doc__.strip())
            sys.exit(0)
        if a in ("--junit", "--jobs", "--program"):
            if k + 1 >= len(argv):
                fail("%s needs a value after it" % a)
            value = argv[k + 1]
            if a == "--jobs":
                if not value.isdigit() or int(value) < 1:
                    fail("--jobs needs a whole number above 0, not '%s'" % value)
                opts["jobs"] = int(value)
            else:
                opts["junit" if a == "--junit" else "built"] = value
            k += 2
            continue
        if a == "--no-memcheck":
            opts["memcheck"] = False
        elif a == "--as-me":
            opts["as_me"] = True
        elif a.startswith("-"):
            fail("no option %s; ./check --help tells all" % a)
        elif opts["program"] is None and not opts["files"] and a in lessons.names():
            opts["program"] = a
        else:
            opts["files"].append(a)
        k += 1
    if opts["program"] is None:
        if not opts["files"]:
            fail("name a program or a file; ./check --help tells how")
        guess = {os.path.splitext(os.path.basename(f))[0] for f in opts["files"]}
        if len(guess) != 1 or not guess <= set(lessons.names()):
            fail("the program is not in the file's name (%s): name it first, as in "
                 "./check dupstr %s" % (", ".join(opts["files"]), opts["files"][0]))
        opts["program"] = guess.pop()
    for f in opts["files"] + ([opts["built"]] if opts["built"] else []):
        if not os.path.isfile(f):
            fail("no file %s" % f)
    return opts


def stop(signum, _frame):
    raise KeyboardInterrupt  # the folders of the run are removed on the way out


def main():
    for s in (signal.SIGTERM, signal.SIGHUP):
        signal.signal(s, stop)
    opts = parse(sys.argv[1:])
    color = sys.stdout.isatty()
    if opts["files"]:
        what = opts["files"][0] if len(opts["files"]) == 1 else "each file"
        said = sandbox.words(what, opts["as_me"])
        if said and sandbox.how()["kind"] is None and not opts["as_me"]:
            fail(said)
        if said:
            print("check: " + said, file=sys.stderr)
    name = opts["program"]
    if opts["built"] is None:  # the library and the programs, when stale
        done = subprocess.run([os.path.join(ROOT, "setup", "build")], stdin=subprocess.DEVNULL)
        if done.returncode != 0:
            fail("the collection could not be built (see above)")
    if opts["memcheck"] and shutil.which("valgrind") is None:
        fail("valgrind is not installed, and the memory of each case is checked with it: "
             "run ./tour first, which installs it")
    as_me = opts["as_me"]
    if not opts["files"]:
        built = opts["built"] or os.path.join(ROOT, "build", "bin", name)
        reports = [check(name, None, built, opts["memcheck"], color)]
        print("\n".join(show_report(reports[0], color)))
    elif len(opts["files"]) == 1:
        reports = [check(name, opts["files"][0], None, opts["memcheck"], color, as_me)]
        print("\n".join(show_report(reports[0], color)))
    else:
        reports = []
        # threads: each check waits on its programs, and threads need no
        # shared memory (/dev/shm), which some containers do not give
        with ThreadPoolExecutor(max_workers=opts["jobs"]) as pool:
            jobs = [pool.submit(check, name, f, None, opts["memcheck"], False, as_me)
                    for f in opts["files"]]
            for f, job in zip(opts["files"], jobs):
                report = job.result()
                reports.append(report)
                print("%s: %s" % (f, summary(report)), flush=True)
    if opts["junit"]:
        junit(reports, opts["junit"])
    bad = [r for r in reports if r["built"] is None or tally(r)[2]]
    return 1 if bad else 0


if __name__ == "__main__":
    try:
        sys.exit(main())
    except KeyboardInterrupt:
        print("\ncheck: stopped", file=sys.stderr)
        sys.exit(130)
    except BrokenPipeError:
        os.dup2(os.open(os.devnull, os.O_WRONLY), sys.stdout.fileno())
        sys.exit(1)
