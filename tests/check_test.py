"""./check on versions of the programs kept in learner/, each with a fault a
learner makes: every one fails on its case, in the right words.

    python3 check_test.py

Without valgrind it prints SKIPPED and exits 77; the test of the sandbox
skips, saying why, where bubblewrap cannot make one.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

from tests import suite
from tests.suite import AS_ME
from tests.suite import HERE
from tools import ROOT
from tools.running import lessons, sandbox

SKIP = 77


def check(*args, env=None):
    """./check's status, its output, and its JUnit report as an element tree."""
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "report.xml")
        done = subprocess.run([os.path.join(ROOT, "check")] + AS_ME + list(args) +
                              ["--junit", report],
                              capture_output=True, text=True, env=env, timeout=600)
        tree = ET.parse(report) if os.path.exists(report) else None
    return done, tree


def case(tree, name):
    return next(c for c in tree.iter("testcase") if c.get("name") == name)


class Versions(unittest.TestCase):
    def test_each_fault_fails_its_case_in_words(self):
        rows = [  # version, the case, what its failure must say, whether the output matched
            ("short_malloc/dupstr.c", "hello gives hello twice",
             ["memory:   line 19 wrote past the end of the 5-byte block made at line 17, at "
              "byte 5"], True),
            ("one_short/dupchars.c", "hi gives hi twice",
             ["memory:   line 23 decided on a value that was never set: it came from the block "
              "made at line 17, and the byte it came from was never written"], None),
            ("real_copy/copy.c", "hello and world give Hello twice",
             ['expected  "a: b: Hello\\nHello\\n"', 'got       "a: b: hello\\nHello\\n"',
              "^ the first difference, at byte 7"], False),
            ("swap_pointers/swap.c", "its three lines: unchanged, unchanged, exchanged",
             ['got       "x=1,y=2\\nx=1,y=2\\nx=1,y=2\\n"'], False),
            ("crash_at_eof/dupstr.c", "end of input at the prompt ends with status 1",
             ["ended by signal 11, a segmentation fault, after printing `a: `",
              "memory:   line 15 read 1 byte at address 0x0, through a null pointer"], None),
            ("forever/addresses.cpp", "one address on the stack, as %p prints it",
             ["still running after 2 s: a loop that never ends"], None),
            ("floods/try.c", "hello gives 1", ["printed more than 1 MB: stopped"], None),
            # what memcheck cannot see: writes past arrays of the globals and the stack
            ("global_overrun/dupchars.c", "hi gives hi twice",
             ["memory:   line 20 wrote past the end of b, a 2-byte global array declared at "
              "line 10, at byte 2"], True),
            ("stack_overrun/dupchars.c", "hi gives hi twice",
             ["memory:   line 18 wrote past the end of b, a 2-byte array of main declared at "
              "line 11, at byte 2"], None),
            # adding 1 twice prints addresses too: the relation tells them apart
            ("wrong_offsets/ptrwalk.c", "an address twice, o, then the address plus 2 and plus 3",
             ["the 4th line should be the 1st plus 2: 0x", ", and is 0x",
              "the 5th line should be the 1st plus 3: 0x"], None),
            ("ignores_null/dupstr.c", "a copy that cannot be allocated ends with status 2",
             ["ended by signal 11, a segmentation fault, after printing `a: `"], None),
        ]
        for version, name, words, output_matched in rows:
            with self.subTest(version=version):
                program = os.path.splitext(os.path.basename(version))[0]
                start = time.monotonic()
                done, tree = check(program, os.path.join(HERE, "learner", version))
                self.assertLess(time.monotonic() - start, 120)
                self.assertEqual(done.returncode, 1, done.stdout + done.stderr)
                failure = case(tree, name).find("failure")
                self.assertIsNotNone(failure, name)
                for w in words:
                    self.assertIn(w, failure.text)
                self.assertIn("by hand:  printf ", failure.text)
                lesson = next(c for c in lessons.load(program)["cases"] if c["name"] == name)
                if lesson.get("fail_allocation"):  # under valgrind malloc never fails
                    self.assertTrue(failure.text.endswith("see it:   no picture: under valgrind, "
                                                          "which draws them, an allocation "
                                                          "cannot be made to fail"))
                else:
                    self.assertRegex(failure.text, r"see it:   \S*show (--as-me )?\S*/%s --case "
                                     r"'%s'\n?$" % (re.escape(version), re.escape(name)))
                if output_matched is not None:
                    self.assertEqual("expected  " not in failure.text, output_matched)
                self.assertRegex(done.stdout, r"/%s: \d+ of \d+ cases pass(; \d+ advice)?\n$" % version.replace(
                    ".", r"\."))

    def test_the_by_hand_line_runs_the_case_as_it_ran(self):
        # the version is ours, so it may run here as the learner would run it
        name = "a copy that cannot be allocated ends with status 2"
        _, tree = check("dupstr", os.path.join(HERE, "learner", "ignores_null", "dupstr.c"))
        line = re.search(r"by hand:  (.*)", case(tree, name).find("failure").text).group(1)
        with tempfile.TemporaryDirectory() as work:
            done = subprocess.run(["bash", "-c", line], cwd=work, capture_output=True,
                                  timeout=30)
        self.assertEqual(done.returncode, 128 + 11, line)  # the check saw signal 11
        self.assertIn(b"failalloc: ", done.stderr)

    def test_quiet_faults_each_on_one_point(self):
        # versions whose every other case passes: each fault must still tell
        rows = [  # version, the case, its verdict, what it must say, and not say
            ("quiet/eof_zero/dupstr.c", "end of input at the prompt ends with status 1", "fail",
             "exit status: expected 1, got 0", "as expected"),
            ("quiet/twelve/memory.c", "prints nothing, and leaves its 12 bytes", "fail",
             "12 blocks made by malloc at line 8 (12 bytes) are never freed: 11 blocks more",
             "bytes more"),
            ("quiet/lost_list/memory.c", "prints nothing, and leaves its 12 bytes", "fail",
             "1 block and 4 bytes more than the lesson's own program leaves", None),
            ("quiet/truncates/contactsave.c",
             "end of input at the first prompt leaves the file", "fail",
             # the stream it leaves open is the process's to close
             'contactlog.txt should hold "old\\n"', "never freed"),
            ("quiet/advice_only/dupchars.c", "end of input at the prompt", "advice",
             "exit status: expected 1, got 0", "as expected"),
            ("short_malloc/dupstr.c", "hello gives hello twice", "fail",
             "exit status 0, as expected", "exit status: expected"),
        ]
        for version, name, verdict, said, unsaid in rows:
            with self.subTest(version=version):
                program = os.path.splitext(os.path.basename(version))[0]
                done, tree = check(program, os.path.join(HERE, "learner", version))
                got = case(tree, name)
                failure, advice = got.find("failure"), got.find("system-out")
                self.assertEqual(failure is not None, verdict == "fail", done.stdout)
                self.assertEqual(advice is not None, verdict == "advice", done.stdout)
                text = (failure if failure is not None else advice).text
                self.assertIn(said, text)
                if unsaid:
                    self.assertNotIn(unsaid, text)
                suite_ = tree.getroot().find("testsuite")
                fails = len([c for c in suite_.iter("testcase") if c.find("failure") is not None])
                self.assertEqual(suite_.get("failures"), str(fails))  # advice is no failure
                self.assertEqual(done.returncode, 1 if fails else 0)

    def test_the_compiler_gets_its_limits(self):
        # a stand-in gcc that tells the limits it runs under, and fails
        with tempfile.TemporaryDirectory() as work:
            os.mkdir(os.path.join(work, "bin"))
            with open(os.path.join(work, "bin", "gcc"), "w") as f:
                f.write("#!/bin/sh\ncat /proc/self/limits >&2\nexit 1\n")
            os.chmod(os.path.join(work, "bin", "gcc"), 0o755)
            env = dict(os.environ, PATH=os.path.join(work, "bin") + ":" + os.environ["PATH"])
            done, _ = check(os.path.join(HERE, "learner", "good", "dupstr.c"), env=env)
        said = {row[:26].strip(): row[26:].split()[:2] for row in done.stdout.split("\n")
                if row.startswith("Max ")}
        self.assertEqual(said["Max cpu time"], ["60", "60"])
        self.assertEqual(said["Max address space"], [str(2 << 30)] * 2)
        self.assertEqual(said["Max file size"], [str(2 << 30)] * 2)

    def test_the_lessons_in_the_tours_order(self):
        self.assertEqual(lessons.names()[:3], ["dupstr", "dupchars", "copy"])
        self.assertEqual(lessons.names()[-1], "contactsave")
        every = "".join(chr(b) for b in range(256))  # a case may send any byte as itself
        self.assertEqual(lessons.bytes_of(every), bytes(range(256)))

    def test_a_failed_allocation_is_judged_by_its_own_run(self):
        # memcheck and the sanitizers cannot make malloc fail: what they find
        # on the path where it succeeds is not this case's
        _, tree = check("dupstr", os.path.join(HERE, "learner", "short_checked", "dupstr.c"))
        self.assertIsNone(case(tree, "a copy that cannot be allocated ends with status "
                                     "2").find("failure"))
        self.assertIn("wrote past the end", case(tree, "hello gives hello twice")
                      .find("failure").text)

    def test_each_finding_is_told_once(self):
        rows = [  # version, its case, a finding; a write past a heap block is seen by
            # memcheck and AddressSanitizer both, one past a stack array by the second only
            ("short_malloc/dupstr.c", "hello gives hello twice",
             "line 19 wrote past the end of the 5-byte block made at line 17"),
            ("stack_overrun/dupchars.c", "hi gives hi twice", "wrote past the end of b"),
        ]
        for version, name, finding in rows:
            with self.subTest(version=version):
                program = os.path.splitext(os.path.basename(version))[0]
                _, tree = check(program, os.path.join(HERE, "learner", version))
                self.assertEqual(case(tree, name).find("failure").text.count(finding), 1)

    def test_correct_versions_in_other_styles_pass(self):
        rows = [  # version, its program, cases (all pass)
            ("locals/dupstr.c", "dupstr", 10),  # the pointers local to main: the copy lost
            ("locals/dupchars.c", "dupchars", 7),
            ("cpp_refs/swap.cpp", "swap", 1),  # C++: references, std::string
            ("cpp_refs/copy.cpp", "copy", 11),
            ("cpp_refs/dupstr.cpp", "dupstr", 10),
        ]
        for version, program, n in rows:
            with self.subTest(version=version):
                done, tree = check(program, os.path.join(HERE, "learner", version))
                self.assertEqual(done.returncode, 0, done.stdout)
                self.assertTrue(done.stdout.endswith("%s: %d of %d cases pass\n" % (
                    version, n, n)), done.stdout)
                self.assertEqual(len(list(tree.iter("failure"))), 0)

    def test_a_file_not_named_after_its_program_and_its_see_it_line(self):
        version = os.path.join(HERE, "learner", "renamed", "version2.c")
        done, tree = check("dupstr", version)
        self.assertEqual(done.returncode, 1)
        failure = case(tree, "hello gives hello twice").find("failure").text
        see = re.search(r"see it:   (.*)$", failure).group(1)
        self.assertIn(" dupstr %s --case " % version, see)
        shown = subprocess.run(see + " --after 'strcpy(b, a)'", shell=True, capture_output=True,
                               text=True, env=dict(os.environ, LANG="C.UTF-8"), timeout=120)
        self.assertEqual(shown.returncode, 0, shown.stderr)
        self.assertIn("line 20: Invalid write of size 1", shown.stdout)  # the case's input
        self.assertIn("wrote past the end", shown.stdout)
        traced = subprocess.run([os.path.join(ROOT, "show"), "dupstr", version, "--json"] +
                                AS_ME, capture_output=True, timeout=120)
        self.assertEqual(json.loads(traced.stdout)["argv"], [])  # the file is no argument

    def test_a_good_version_passes_and_a_broken_build_says_why(self):
        done, tree = check(os.path.join(HERE, "learner", "good", "dupstr.c"))
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertTrue(done.stdout.endswith("good/dupstr.c: 10 of 10 cases pass\n"))
        self.assertEqual(len(list(tree.iter("failure"))), 0)
        done, tree = check(os.path.join(HERE, "learner", "no_compile", "dupstr.c"))
        self.assertEqual(done.returncode, 1)
        self.assertIn("no_compile/dupstr.c:6:20: error: ‘a’ undeclared", done.stdout)
        self.assertEqual(case(tree, "builds").find("failure").get("message"), "does not compile")
        start = time.monotonic()  # a build that would take all the memory there is
        done, tree = check(os.path.join(HERE, "learner", "zero", "dupstr.c"))
        self.assertLess(time.monotonic() - start, 60)
        self.assertEqual(done.returncode, 1)
        self.assertIn("out of memory", done.stdout)

    def test_many_at_once_and_their_report(self):
        versions = ["good/dupstr.c", "crash_at_eof/dupstr.c", "short_malloc/dupstr.c"]
        done, tree = check("dupstr", *[os.path.join(HERE, "learner", v) for v in versions])
        self.assertEqual(done.returncode, 1)
        lines = done.stdout.split("\n")[:-1]
        self.assertEqual([row.split(":")[0] for row in lines],
                         [os.path.join(HERE, "learner", v) for v in versions])
        self.assertEqual([row.split(": ")[1] for row in lines],
                         ["10 of 10 cases pass", "7 of 10 cases pass", "2 of 10 cases pass"])
        suites = tree.getroot().findall("testsuite")
        self.assertEqual([len(s.findall("testcase")) for s in suites], [10, 10, 10])
        self.assertEqual([s.get("failures") for s in suites], ["0", "3", "8"])
        for s in suites:
            self.assertEqual(s.get("tests"), "10")

    def test_nothing_it_starts_outlives_the_check(self):
        if sandbox.how()["kind"] is None:
            self.skipTest("no sandbox here: the program would run as us")
        check("swap", os.path.join(HERE, "learner", "escape", "escape.c"))
        time.sleep(0.5)
        left = subprocess.run(["pgrep", "-af", "check-program-[^ ]*/swap"], capture_output=True,
                              text=True).stdout
        self.assertEqual(left, "")

    def test_nothing_outside_its_folder_is_touched(self):
        kind = sandbox.how()["kind"]
        if kind is None:
            self.skipTest("no sandbox here: the program would run as us")
        # places it names by their paths, which without the sandbox it could
        # write: a folder of ours, a file of ours, one anyone may write (the
        # sandbox's system is read-only), /tmp; and its own folder (HOME)
        with tempfile.TemporaryDirectory(dir="/var/tmp") as mine, \
                tempfile.TemporaryDirectory() as tmp:
            os.chmod(mine, 0o755)
            victim = os.path.join(mine, "victim")
            with open(victim, "w") as f:
                f.write("mine")
            anyone = os.path.join(mine, "anyone")
            os.mkdir(anyone)
            os.chmod(anyone, 0o777)
            left = "/tmp/written-by-contactsave-%d" % os.getpid()
            source = os.path.join(tmp, "contactsave.c")
            with open(source, "w") as f:
                f.write(OUTSIDE % {"mine": mine, "anyone": anyone, "victim": victim,
                                   "left": left})
            os.chmod(tmp, 0o755)
            cache = tempfile.mkdtemp()
            done, tree = check(source, env=dict(os.environ, XDG_CACHE_HOME=cache))
            shutil.rmtree(cache)
            self.assertIn("contactsave.c: 4 of", done.stdout)  # it ran
            self.assertEqual(sorted(os.listdir(mine)), ["anyone", "victim"])
            with open(victim) as f:
                self.assertEqual(f.read(), "mine")
            self.assertFalse(os.path.exists(left))
            if kind == "bwrap":
                self.assertEqual(os.listdir(anyone), [])

    def test_without_a_sandbox_it_asks_before_it_runs_a_file_as_you(self):
        if shutil.which("setpriv") is None:
            self.skipTest("setpriv (util-linux) is not installed")
        good = os.path.join(HERE, "learner", "good", "dupstr.c")
        with tempfile.TemporaryDirectory() as work:
            env = dict(os.environ, PATH=suite.without(os.path.join(work, "bin"), "bwrap"),
                       HOME=work, XDG_CACHE_HOME=os.path.join(work, "cache"))
            as_user = []
            if os.geteuid() == 0:  # as root each runs as a user of its own
                done, _ = check(good, env=env)
                self.assertEqual(done.returncode, 0, done.stderr)
                self.assertIn("runs as a user of its own instead", done.stderr)
                as_user = ["setpriv", "--reuid=%d" % sandbox.private_uid(), "--regid=65534",
                           "--clear-groups"]
                if subprocess.run(as_user + ["test", "-x", os.path.join(ROOT, "check")]).returncode:
                    self.skipTest("the project lies where another user may not run it (%s)"
                                  % ROOT)
                os.chmod(work, 0o777)
                # the system's commands: root's own (a pyenv in /root) are not theirs
                env["PATH"] = suite.without(os.path.join(work, "system"), "bwrap",
                                            path=suite.SYSTEM)
                env["XDG_CACHE_HOME"] = os.path.join(work, "theirs")
            started = time.monotonic()
            refused = subprocess.run(as_user + [os.path.join(ROOT, "check"), good], env=env,
                                     capture_output=True, text=True, cwd=work)
            self.assertEqual(refused.returncode, 2)
            self.assertEqual(refused.stdout, "")
            self.assertEqual(refused.stderr.count("\n"), 1, refused.stderr)
            self.assertIn("would run as you", refused.stderr)
            self.assertIn("--as-me", refused.stderr)
            self.assertLess(time.monotonic() - started, 10)  # nothing was built or run
            allowed = subprocess.run(as_user + [os.path.join(ROOT, "check"), "--as-me", good],
                                     env=env, capture_output=True, text=True, cwd=work)
            self.assertEqual(allowed.returncode, 0, allowed.stdout + allowed.stderr)
            self.assertIn("runs as you, as you asked (--as-me)", allowed.stderr)


# contactsave that writes where it has no business, by the paths it is given
OUTSIDE = r"""
#include <stdio.h>
#include <unistd.h>

#include "askline.h"

int main(void)
{
    string name = get_string(NULL, "name: ");
    string numbers = get_string(NULL, "numbers: ");
    const char *away[] = {"%(mine)s/new", "%(anyone)s/new", "%(left)s", "%(victim)s"};
    for (int k = 0; k < 4; k++) {
        FILE *f = fopen(away[k], "w");
        if (f != NULL)
            fclose(f);
    }
    unlink("%(victim)s");
    FILE *file = fopen("contactlog.txt", "w");
    if (file == NULL)
        return 1;
    fprintf(file, "%%s\n%%s", name, numbers);
    return 0;
}
"""


if __name__ == "__main__":
    if shutil.which("valgrind") is None:
        print("SKIPPED: valgrind is not installed, and ./check runs every case under it")
        sys.exit(SKIP)
    suite.main()
