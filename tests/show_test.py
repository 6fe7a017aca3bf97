"""./show as a command: its input, choices, pager, statuses and clean-up,
and the tour's pictures on a terminal.

Without gdb or valgrind it prints SKIPPED and exits 77.
"""

import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

from tests import suite
from tests.suite import ROOT, recorded
from tools.commands import show
from tools.running import sandbox

HERE = suite.HERE


class Command(unittest.TestCase):
    def show(self, *args, **kw):
        return subprocess.run([os.path.join(ROOT, "show")] + list(args), capture_output=True,
                              **kw)

    def test_input_escapes_type_the_bytes_they_name(self):
        rows = [("a\\n", b"a\n"), ("ab\\0cd\\n", b"ab\0cd\n"), ("\\xa5\\xFF", b"\xa5\xff"),
                ("\\x41B", b"AB"), ("\\x4", b"\x04"), ("\\x", b"\\x"), ("end\\", b"end\\"),
                ("\\t\\\\", b"\t\\"), ("å", "å".encode())]
        for text, want in rows:
            with self.subTest(text=text):
                self.assertEqual(show.unescape(text), want)

    def test_what_is_piped_in_is_typed(self):
        default = show.lessons.load("dupstr")["show"]["input"]
        with open(os.devnull, "rb") as null:
            rows = [({"input": b"abc\n"}, "abc\n"), ({"input": b""}, default),
                    ({"stdin": null}, default)]
            for kw, typed in rows:
                with self.subTest(stdin=kw):
                    done = self.show("dupstr", "--json", timeout=120, **kw)
                    self.assertEqual(json.loads(done.stdout)["input"], typed)
        # the lessons' pages are the lessons' own runs, whatever is piped in
        with tempfile.TemporaryDirectory() as pages:
            done = self.show("--lessons", pages, "dupstr", input=b"junk\n", timeout=120)
            with open(os.path.join(pages, "dupstr.html"), encoding="utf-8") as f:
                self.assertIn('"typed":"\\\\nhello\\\\n"', f.read())
        # a pipe held open and never written (a harness's) types nothing, and waits not
        p = subprocess.Popen([os.path.join(ROOT, "show"), "dupstr", "--json"],
                             stdin=subprocess.PIPE, stdout=subprocess.PIPE)
        out, end = b"", time.monotonic() + 120
        try:
            while select.select([p.stdout], [], [], max(end - time.monotonic(), 0))[0]:
                chunk = os.read(p.stdout.fileno(), 65536)
                if not chunk:
                    break
                out += chunk
        finally:
            p.stdin.close()
            if p.poll() is None:
                p.kill()
            p.wait()
        self.assertEqual(json.loads(out)["input"], default)

    def test_a_slow_answer_from_valgrind_is_waited_for(self):
        # on a loaded machine valgrind's gdbserver answers late: a vgdb that
        # starts 4 s late stands for it (gdb's own wait is 2 s)
        with tempfile.TemporaryDirectory() as slow:
            with open(os.path.join(slow, "vgdb"), "w") as f:
                f.write('#!/bin/sh\nsleep 4\nexec %s "$@"\n' % shutil.which("vgdb"))
            os.chmod(os.path.join(slow, "vgdb"), 0o755)
            done = self.show("swap", "--json", timeout=120,
                             env=dict(os.environ, PATH=slow + ":" + os.environ["PATH"]))
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertEqual(json.loads(done.stdout)["end"]["status"], 0)

    def test_at_after_and_the_closing_picture(self):
        t = recorded("swap")
        both = {"at": ["x = map"], "after": []}
        self.assertEqual([t["steps"][i]["text"].strip() for i in show.chosen(t, both)],
                         ["x = map;", "*x = map;"])
        later = {"at": [], "after": ["x = map"]}
        self.assertEqual([t["steps"][i - 1]["text"].strip() for i in show.chosen(t, later)],
                         ["x = map;", "*x = map;"])
        # after a call: the step into it, and the one after it returned (just ran: the call)
        calls = show.chosen(t, {"at": [], "after": ["swap(x, y)"]})
        self.assertEqual([(t["steps"][i]["function"], t["steps"][i - 1]["function"])
                          for i in calls], [("swap", "main"), ("main", "swap")])
        every = show.chosen(t, {"at": [], "after": []})
        self.assertEqual(every, list(range(len(t["steps"]) + 1)))

    def test_statuses_and_one_sentence_failures(self):
        rows = [  # arguments, status, what stderr says
            (["nosuch"], 2, "show: no program named 'nosuch'"),
            (["swap", "--steps", "x"], 2, "show: --steps needs a number"),
            (["swap", "--at"], 2, "show: --at needs a value"),
            (["swap"], 0, ""),
            (["dupstr", "--input", "ab\\0cd\\n"], 0, ""),
            (["dupstr", "--input", "\\n\\n\\n\\n\\n\\n", "--steps", "5"], 1,
             "show: 5 steps recorded, the limit (--steps) at line 16 of main"),
            ([os.path.join(HERE, "learner", "crash", "memory.cpp")] + suite.AS_ME, 1,
             "show: ended by signal 11, a segmentation fault"),
            (["dupstr", "--case", "a copy that cannot be allocated ends with status 2"], 2,
             "show: the case 'a copy that cannot be allocated ends with status 2' makes an "
             "allocation fail, which cannot be done under valgrind"),
        ]
        for args, status, said in rows:
            with self.subTest(args=args):
                done = self.show(*args)
                self.assertEqual(done.returncode, status, done.stderr)
                err = done.stderr.decode()
                # where no sandbox can be had, a learner's file is first told
                # what holds it instead, in one sentence of its own
                note = os.path.isfile(args[0]) and sandbox.words(args[0], args[1:] == ["--as-me"])
                if note:
                    self.assertTrue(err.startswith("show: %s\n" % note), err)
                    err = err.split("\n", 1)[1]
                self.assertTrue(err.startswith(said), err)
                self.assertLessEqual(err.count("\n"), 1, err)
        with open("/dev/full", "w") as full:
            done = subprocess.run([os.path.join(ROOT, "show"), "swap"], stdout=full,
                                  stderr=subprocess.PIPE)
        self.assertEqual((done.returncode, done.stderr.decode()),
                         (1, "show: the pictures could not be written: No space left on device\n"))

    def test_a_named_path_is_the_users_own(self):
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "src.bin"), "wb") as f:
                f.write(b"\xa5bc")
            done = self.show("fileclone", "--json", "src.bin", "dst.bin", cwd=work)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(json.loads(done.stdout)["end"]["status"], 0)
            with open(os.path.join(work, "dst.bin"), "rb") as f:
                self.assertEqual(f.read(), b"\xa5bc")

    def test_a_learners_file_reads_copies_of_what_its_arguments_name(self):
        with tempfile.TemporaryDirectory() as work:
            here = os.path.join(work, "here")
            os.mkdir(here)
            with open(os.path.join(work, "src.txt"), "w") as f:
                f.write("mine")
            shutil.copy(os.path.join(ROOT, "src", "fileclone.cpp"), here)
            done = self.show("fileclone.cpp", "--json", "../src.txt", "dst.txt", *suite.AS_ME,
                             cwd=here)
            self.assertEqual(done.returncode, 0, done.stderr)
            t = json.loads(done.stdout)
            self.assertEqual(t["argv"], ["src.txt", "dst.txt"])  # copies in its own folder
            self.assertEqual(t["end"]["status"], 0)
            self.assertEqual(sorted(os.listdir(here)), ["fileclone.cpp"])
            self.assertEqual(sorted(os.listdir(work)), ["here", "src.txt"])

    def test_enter_on_the_last_picture_ends_the_pager(self):
        screen = self.page(["swap", "--at", "swap1(&x, &y)"], ["\r"], rows=24, cols=80)
        self.assertEqual(self.status, 0)
        self.assertNotIn("Traceback", screen)

    def test_pager(self):
        # keys, then what the title of the screen shown last must be
        rows = [([], "step 1 of 11"), (["\r"], "step 2 of 11"), (["b"], "step 1 of 11"),
                (["\r", " ", "b"], "step 2 of 11"), (["\x1b[C", "\x1b[C", "\x1b[D"], "step 2 of 11")]
        for keys, title in rows:
            with self.subTest(keys=keys):
                screen = self.page(["copy"], keys, rows=24, cols=80)
                titles = re.findall(r"copy ── (step \d+ of \d+|at the end)", screen)
                self.assertEqual(titles[-1], title)

    def test_pager_offers_only_the_keys_that_do_something(self):
        rows = [  # arguments, keys, what the hint must say and must not
            (["copy"], [], "Enter: forward  q: quit", "b: back"),
            (["copy"], ["\r"], "Enter: forward  b: back  q: quit", None),
            (["swap", "--at", "swap1(&x, &y)"], [], "Enter or q: quit", "b: back"),
        ]
        for args, keys, said, unsaid in rows:
            with self.subTest(args=args, keys=keys):
                screen = self.page(args, keys, rows=24, cols=80).split("\x1b[H\x1b[2J")
                last = screen[-1]
                self.assertIn(said, last)
                if unsaid:
                    self.assertNotIn(unsaid, last)

    def test_the_tour_keeps_its_lesson_above_the_picture(self):
        screen = self.page(["copy"], ["\r"], rows=24, cols=80, program="tour",
                           env={"TOUR_BIN": os.path.join(ROOT, "build", "bin")},
                           ready=b"next program")
        self.assertNotIn("\x1b[2J", screen)  # nothing is cleared away
        self.assertLess(screen.index("== copy =="), screen.index("$ "))  # the command, and its output
        self.assertLess(screen.index("Hello\nHello"), screen.index("copy ── step"))
        self.assertIn("(Enter: on to the next program)", screen)

    def test_pager_keeps_the_head_in_view(self):
        screen = self.page(["fileclone", "--at", "fclose(src)"], ["\x1b[B"] * 5, rows=12, cols=80)
        last = screen.split("\x1b[H\x1b[2J")[-1].rstrip("\n").split("\n")
        self.assertEqual(len(last), 12)
        self.assertTrue(last[0].startswith("fileclone ── step"))
        self.assertTrue(last[1].startswith("just ran"))
        self.assertTrue(last[2].startswith("runs next"))
        self.assertIn("above", last[-1])

    def page(self, args, keys, rows, cols, program="show", env=None, ready=b"quit"):
        """The screens ./show (or program) writes on a terminal of rows x
        cols, given keys once it has written ready."""
        pid, fd = pty.fork()
        if pid == 0:
            os.environ.update(LINES=str(rows), COLUMNS=str(cols), LANG="C.UTF-8", **(env or {}))
            os.execv(os.path.join(ROOT, program), [os.path.join(ROOT, program)] + args)
        import fcntl
        import struct
        import termios
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        out = b""

        def drain(seconds):
            nonlocal out
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                ready, _, _ = select.select([fd], [], [], 0.1)
                if ready:
                    try:
                        out += os.read(fd, 65536)
                    except OSError:
                        return
        deadline = time.monotonic() + 30
        while ready not in out and time.monotonic() < deadline:
            drain(0.2)
        for k in keys:
            os.write(fd, k.encode())
            drain(0.2)
        os.write(fd, b"q")
        drain(0.5)
        self.status = os.waitstatus_to_exitcode(os.waitpid(pid, 0)[1])
        os.close(fd)
        return out.decode("utf-8", "replace").replace("\r\n", "\n")

    def test_what_a_run_started_ends_with_it(self):
        from tools.running import trace
        mark = "show-test-%d" % os.getpid()  # a child that outlives its leader
        p = subprocess.Popen(["sh", "-c", "(sleep 300; : %s) & exit 0" % mark],
                             start_new_session=True, stderr=subprocess.DEVNULL)
        p.communicate()
        trace.end(p)
        time.sleep(0.2)
        self.assertEqual(subprocess.run(["pgrep", "-f", mark]).returncode, 1)

    def test_a_stop_leaves_no_process_and_no_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            p = subprocess.Popen([os.path.join(ROOT, "show"), "dupstr", "--input",
                                  "\\n" * 30000], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, env=dict(os.environ, TMPDIR=tmp))
            time.sleep(4)
            p.send_signal(signal.SIGTERM)
            err = p.communicate(timeout=30)[1].decode()
            self.assertEqual(p.returncode, 128 + signal.SIGTERM, err)
            self.assertNotIn("Traceback", err)
            time.sleep(1)
            mine = subprocess.run(["ps", "-eo", "stat,args"], capture_output=True,
                                  text=True).stdout
            alive = [row for row in mine.split("\n") if tmp in row and not row.startswith("Z")]
            self.assertEqual(alive, [])
            self.assertEqual(os.listdir(tmp), [])


if __name__ == "__main__":
    for tool in ("gdb", "valgrind"):
        if shutil.which(tool) is None:
            print("SKIPPED: %s is not installed, and the traces are made with it" % tool)
            sys.exit(suite.SKIP)
    suite.main()
