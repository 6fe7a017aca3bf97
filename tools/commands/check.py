"""Check a version of one of the collection's programs against its lesson.

usage: ./check PROGRAM [FILE...] [--junit REPORT] [--jobs N] [--no-memcheck]
       ./check FILE...        (each FILE named after its program: mine/dupstr.c)

  PROGRAM         the program the FILEs are versions of (dupstr, copy, ...);
                  with no FILE, the collection's own program is checked
  FILE            a C (.c) or C++ (.cpp, .cc, .cxx) file, built by the
                  collection's own recipe (setup/recipe) into a folder of its
                  own, and again with the sanitizers, then run on every case
                  of the lesson, each in a fresh folder, as built, with the
                  sanitizers and under valgrind's memcheck
  --junit REPORT  also write a JUnit XML report, for CI and classroom tools
  --jobs N        FILEs checked at once (default: one per core)
  --no-memcheck   leave the memcheck and sanitizer runs out
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

import os
import shlex
import shutil
import signal
import subprocess
import sys
import xml.etree.ElementTree as ET
from concurrent.futures import ThreadPoolExecutor

from tools import ROOT
from tools.running import cases, lessons, recipe, sandbox
from tools.running.cases import shown, tally


def fail(sentence, status=2):
    print("check: " + sentence, file=sys.stderr)
    sys.exit(status)


def printf_line(data):
    """A shell word for printf that writes exactly these bytes."""
    return "'" + lessons.printf_format(data.decode("latin-1")).replace("'", "'\\''") + "'"


# ----- the report --------------------------------------------------------------

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
    run = " ".join(shlex.quote(a) for a in [report["built"]] + case.get("args", []))
    if case.get("fail_allocation") and recipe.shim():  # as the case ran it
        run = "LD_PRELOAD=%s FAILALLOC_AT=%d %s" % (
            shlex.quote(recipe.shim()), case["fail_allocation"], run)
    if "file_limit" in case:  # a full disk, whose failed write kills nothing
        run = "(trap '' XFSZ; prlimit --fsize=%d %s)" % (case["file_limit"], run)
    line = "printf %s | %s" % (printf_line(lessons.bytes_of(case.get("input", ""))), run)
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
        rows.append("      memory:   " + words)
    rows.append("      by hand:  " + reproduce(report, case))
    show = ["./show" if os.getcwd() == ROOT else os.path.join(ROOT, "show")]
    if report["as_me"]:  # as it was checked: here, a file runs as the user only when asked
        show.append("--as-me")
    source = report["source"]
    if source and os.path.splitext(os.path.basename(source))[0] != report["program"]:
        show.append(report["program"])  # the program it is a version of, as check was told
    show += [source or report["program"], "--case", case["name"]]
    if case.get("fail_allocation"):  # valgrind's malloc is its own, and never fails
        rows.append("      see it:   no picture: under valgrind, which draws them, an "
                    "allocation cannot be made to fail")
    else:
        rows.append("      see it:   " + " ".join(shlex.quote(w) for w in show))
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
        note = " (%s)" % got["note"] if got.get("note") else ""
        out.append("%s %s%s%s" % (mark, got["name"], choice, note))
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
                first = (got["problems"] + [("memory", "memory: " + w)
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
        reports = [cases.check(name, None, built, opts["memcheck"], color)]
        print("\n".join(show_report(reports[0], color)))
    elif len(opts["files"]) == 1:
        reports = [cases.check(name, opts["files"][0], None, opts["memcheck"], color, as_me)]
        print("\n".join(show_report(reports[0], color)))
    else:
        reports = []
        # threads: each check waits on its programs, and threads need no
        # shared memory (/dev/shm), which some containers do not give; the
        # builds and runs of every check share one thread a core
        with ThreadPoolExecutor(max_workers=opts["jobs"]) as pool, \
                ThreadPoolExecutor(os.cpu_count() or 1) as runs:
            jobs = [pool.submit(cases.check, name, f, None, opts["memcheck"], False, as_me,
                                runs) for f in opts["files"]]
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
