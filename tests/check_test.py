"""./check on versions of the programs kept in learner/, each with a fault a
learner makes: every one fails on its case, in the right words.

    python3 check_test.py

Without valgrind it prints SKIPPED and exits 77; the test of the sandbox
skips, saying why, where bubblewrap cannot make one.
"""

import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest
import xml.etree.ElementTree as ET

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True
sys.path.insert(0, os.path.join(ROOT, "checker"))
import sandbox  # noqa: E402

SKIP = 77


def check(*args, env=None):
    """./check's status, its output, and its JUnit report as an element tree."""
    with tempfile.TemporaryDirectory() as work:
        report = os.path.join(work, "report.xml")
        done = subprocess.run([os.path.join(ROOT, "check")] + list(args) + ["--junit", report],
                              capture_output=True, text=True, env=env, timeout=600)
        tree = ET.parse(report) if os.path.exists(report) else None
    return done, tree


def case(tree, name):
    return next(c for c in tree.iter("testcase") if c.get("name") == name)


class Versions(unittest.TestCase):
    def test_each_fault_fails_its_case_in_words(self):
        rows = [  # version, the case, what its failure must say, whether the output matched
            ("short_malloc/dupstr.c", "hello gives hello twice",
             ["memcheck: dupstr.c:19: Invalid write of size 1",
              "is 0 bytes after a block of size 5 alloc'd"], True),
            ("one_short/dupchars.c", "hi gives hi twice",
             ["dupchars.c:23: Conditional jump or move depends on uninitialised value(s)"], None),
            ("real_copy/copy.c", "hello and world give Hello twice",
             ['expected  "a: b: Hello\\nHello\\n"', 'got       "a: b: hello\\nHello\\n"',
              "^ the first difference, at byte 7"], False),
            ("swap_pointers/swap.c", "its three lines: unchanged, unchanged, exchanged",
             ['got       "x=1,y=2\\nx=1,y=2\\nx=1,y=2\\n"'], False),
            ("crash_at_eof/dupstr.c", "end of input at the prompt ends with status 1",
             ["ended by signal 11, a segmentation fault, after printing `a: `",
              "memcheck: dupstr.c:15: Invalid read of size 1"], None),
            ("forever/addresses.cpp", "one address, as %p prints it",
             ["still running after 2 s: a loop that never ends"], None),
            ("floods/try.c", "hello gives 1", ["printed more than 1 MB: stopped"], None),
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
                self.assertRegex(failure.text, r"see it:   \S*show \S*/%s --case '%s'\n?$" % (
                    re.escape(version), re.escape(name)))
                if output_matched is not None:
                    self.assertEqual("expected  " not in failure.text, output_matched)
                self.assertRegex(done.stdout, r"/%s: \d+ of \d+ cases pass(; \d+ advice)?\n$" % version.replace(
                    ".", r"\."))

    def test_a_good_version_passes_and_a_broken_build_says_why(self):
        done, tree = check(os.path.join(HERE, "learner", "good", "dupstr.c"))
        self.assertEqual(done.returncode, 0, done.stdout)
        self.assertTrue(done.stdout.endswith("good/dupstr.c: 9 of 9 cases pass\n"))
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
                         ["9 of 9 cases pass", "7 of 9 cases pass", "2 of 9 cases pass"])
        suites = tree.getroot().findall("testsuite")
        self.assertEqual([len(s.findall("testcase")) for s in suites], [9, 9, 9])
        self.assertEqual([s.get("failures") for s in suites], ["0", "2", "7"])
        for s in suites:
            self.assertEqual(s.get("tests"), "9")

    def test_nothing_it_starts_outlives_the_check(self):
        check("swap", os.path.join(HERE, "learner", "escape", "escape.c"))
        time.sleep(0.5)
        left = subprocess.run(["pgrep", "-af", "check-program-[^ ]*/swap"], capture_output=True,
                              text=True).stdout
        self.assertEqual(left, "")

    def test_nothing_outside_its_folder_is_touched(self):
        ok, why = sandbox.bwrap()
        if not ok:
            self.skipTest(why)
        # check's own temporary folders in one of the test's own, as other
        # tests that run beside this one make theirs in /tmp
        with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as tmp:
            os.chmod(tmp, 0o755)
            victim = os.path.join(home, "victim")
            with open(victim, "w") as f:
                f.write("mine")
            cache = tempfile.mkdtemp()
            env = dict(os.environ, HOME=home, VICTIM=victim, XDG_CACHE_HOME=cache, TMPDIR=tmp)
            check(os.path.join(HERE, "learner", "writes_outside", "contactsave.c"), env=env)
            self.assertEqual(os.listdir(home), ["victim"])
            with open(victim) as f:
                self.assertEqual(f.read(), "mine")
            self.assertNotIn("written-by-contactsave", os.listdir(tempfile.gettempdir()))
            self.assertEqual(os.listdir(tmp), [])
            shutil.rmtree(cache)


if __name__ == "__main__":
    if shutil.which("valgrind") is None:
        print("SKIPPED: valgrind is not installed, and ./check runs every case under it")
        sys.exit(SKIP)
    unittest.main()
