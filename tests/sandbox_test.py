"""The sandbox seen from inside a run, for each kind of protection this
machine can give: the limits a program really gets, what it may write,
whom it may signal, and what is left of it after its run.

    python3 sandbox_test.py

A kind this machine cannot give is skipped, saying why. Programs that
reach out (kill(-1), a write outside the folder) run only in a kind that
holds them: never as the user running the tests.
"""

import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from tests import suite
from tools import ROOT
from tools.running import sandbox

ROOTED = os.geteuid() == 0


def kinds():
    """(kind, why it cannot be had here, or None); "plain": alone, as where
    unshare may make no namespace (a container that forbids it)."""
    h = sandbox.how()
    return [("bwrap", None if h["kind"] == "bwrap" else h["why"]),
            ("alone", None if ROOTED and h["unshare"] else
             "only root can run a program as a user of its own" if not ROOTED else
             "unshare may make no namespace here"),
            ("plain", None if ROOTED else "only root can run a program as a user of its own"),
            ("as-me", "as root a program never runs as the user" if ROOTED else None)]


class Box(sandbox.Box):
    """A box of any kind, "plain" too."""

    def __init__(self, kind):
        super().__init__(kind="alone" if kind == "plain" else kind)
        self.plain = kind == "plain"

    def command(self, *args, **kw):
        h = sandbox.how()
        namespaces, h["unshare"] = h["unshare"], h["unshare"] and not self.plain
        try:
            return super().command(*args, **kw)
        finally:
            h["unshare"] = namespaces

    def pid_namespace(self):
        return super().pid_namespace() and not self.plain


def run(box, script, seconds=sandbox.SECONDS):
    """A shell script in a fresh folder of the box: (result, folder)."""
    where = box.folder()
    r = box.run(["sh", "-c", script], where, seconds=seconds,
                env={"PATH": "/usr/bin:/bin", "HOME": where})
    return r, where


def held(box):
    """Whether a program in the box is held apart from us: another user,
    or a pid namespace of its own. Asked before any program reaches out,
    so that a broken box fails a test rather than harm the machine."""
    r, _ = run(box, "id -u; readlink /proc/self/ns/pid")
    uid, ns = r.out.decode().split()
    return int(uid) != os.getuid() or ns != os.readlink("/proc/self/ns/pid")


def limits(text):
    """/proc/self/limits as {name: soft limit}."""
    out = {}
    for row in text.split("\n")[1:]:
        if row.strip():
            out[row[:26].strip()] = row[26:47].strip()
    return out


class Found(unittest.TestCase):
    def test_what_protects_is_found_once_for_every_thread(self):
        # checks run their cases on threads: the first ones must not see a
        # kind that is still being found (bwrap, where bubblewrap is missing)
        probe = ("import threading\nfrom tools.running import sandbox\nseen = []\n"
                 "ts = [threading.Thread(target=lambda: seen.append(sandbox.how()['kind']))"
                 " for _ in range(8)]\n[t.start() for t in ts]\n[t.join() for t in ts]\n"
                 "print(sorted(set(map(str, seen))))")
        with tempfile.TemporaryDirectory() as work:
            env = dict(os.environ, PATH=suite.without(os.path.join(work, "bin"), "bwrap"),
                       PYTHONPATH=ROOT)
            for _ in range(3):
                done = subprocess.run([sys.executable, "-P", "-c", probe], env=env,
                                      capture_output=True, text=True)
                self.assertEqual(done.stdout.strip(),
                                 "['alone']" if ROOTED else "['None']", done.stderr)


class Inside(unittest.TestCase):
    def kinds(self, holds_it=False):
        """(kind, why it is skipped or None): every kind, and only those that
        hold a program reaching out when holds_it."""
        return [(kind, why or ("as the user, nothing holds a program that reaches out"
                               if holds_it and kind == "as-me" else None))
                for kind, why in kinds()]

    def test_the_limits_it_gets(self):
        for kind, why in self.kinds():
            with self.subTest(kind=kind), Box(kind if not why else "as-me") as box:
                if why:
                    self.skipTest(why)
                r, _ = run(box, "cat /proc/self/limits")
                got = limits(r.out.decode())
                self.assertEqual(got["Max cpu time"], str(int(sandbox.SECONDS) + 1))
                self.assertEqual(got["Max address space"], str(sandbox.MEMORY))
                self.assertEqual(got["Max file size"], str(sandbox.FILE))
                self.assertEqual(got["Max core file size"], "0")
                self.assertEqual(got["Max processes"], str(box.processes))
                if box.uid is not None:  # a user of its own: its processes are its limit
                    self.assertEqual(box.processes, sandbox.PROCESSES)
                # what the limits stop
                r, _ = run(box, "python3 -c 'b = bytearray(1100 << 20)'")
                self.assertIn(b"MemoryError", r.err)
                r, where = run(box, "head -c 20000000 /dev/zero > big; true")
                self.assertEqual(os.path.getsize(os.path.join(where, "big")), sandbox.FILE)
                r, _ = run(box, "while :; do :; done")
                self.assertTrue(r.timed_out)
                self.assertLess(r.seconds, sandbox.SECONDS + 1)

    def test_a_fork_loop_stops_at_its_limit(self):
        loop = ("import os, time\nn = 0\ntry:\n    while n < 200:\n"
                "        if os.fork() == 0:\n            time.sleep(1)\n            os._exit(0)\n"
                "        n += 1\nexcept OSError as e:\n    print(n, e.errno)\n")
        for kind, why in self.kinds(holds_it=True):
            with self.subTest(kind=kind), Box(kind if not why else "as-me") as box:
                if why:
                    self.skipTest(why)
                r, _ = run(box, "python3 -c '%s'" % loop)
                started, errno = (int(w) for w in r.out.split())
                self.assertLess(started, sandbox.PROCESSES)
                self.assertGreater(started, sandbox.PROCESSES // 2)
                self.assertEqual(errno, 11)  # EAGAIN: no more processes for this user

    def test_it_writes_only_its_folder_and_signals_only_its_own(self):
        for kind, why in self.kinds(holds_it=True):
            with self.subTest(kind=kind), Box(kind if not why else "as-me") as box:
                if why:
                    self.skipTest(why)
                mine = tempfile.mkdtemp(dir="/var/tmp")  # not under the sandbox's own /tmp
                self.addCleanup(shutil.rmtree, mine)
                # a folder any user may write, and a file only we may: without
                # the sandbox the first would take a file, and the second
                # would change for a program run as us
                open_to_all = os.path.join(mine, "open")
                os.mkdir(open_to_all)
                os.chmod(open_to_all, 0o777)
                os.chmod(mine, 0o755)
                ours = os.path.join(mine, "file")
                with open(ours, "w") as f:
                    f.write("mine")
                left = "/tmp/left-by-%d" % os.getpid()
                self.assertTrue(held(box), "the program would run as us")
                outside = subprocess.Popen(["sleep", "60"])
                try:
                    r, where = run(box, 'echo x > "%s/new"; echo x > "%s"; echo x > %s;'
                                        ' kill -KILL -1; echo here > here'
                                   % (open_to_all, ours, left))
                    time.sleep(0.2)
                    self.assertIsNone(outside.poll(), "its kill(-1) reached a process of ours")
                finally:
                    outside.kill()
                    outside.wait()
                with open(ours) as f:
                    self.assertEqual(f.read(), "mine")
                if kind == "bwrap":  # the system is read-only to it
                    self.assertEqual(os.listdir(open_to_all), [])
                self.assertTrue(os.path.exists(os.path.join(where, "here")))
                box.close()
                # what it left where anyone may write goes with its run
                self.assertFalse(os.path.exists(left))

    def test_nothing_it_starts_outlives_its_run(self):
        marker = "%d.%d" % (29, os.getpid() % 100000)
        for kind, why in self.kinds(holds_it=True):
            with self.subTest(kind=kind), Box(kind if not why else "as-me") as box:
                if why:
                    self.skipTest(why)
                self.assertTrue(held(box), "the program would run as us")
                run(box, "setsid sleep %s </dev/null >/dev/null 2>&1 & sleep 0.3" % marker)
                box.close()
                time.sleep(0.3)
                left = subprocess.run(["pgrep", "-f", "sleep " + marker], capture_output=True,
                                      text=True)
                self.assertEqual(left.stdout, "")

    def test_namespaces_of_its_own(self):
        for kind, why in self.kinds(holds_it=True):
            if kind == "plain" and not why:
                why = "a plain run has no namespace of its own"
            with self.subTest(kind=kind), Box(kind if not why else "as-me") as box:
                if why:
                    self.skipTest(why)
                r, _ = run(box, "readlink /proc/self/ns/pid; cat /proc/net/dev")
                rows = r.out.decode().split("\n")
                self.assertNotEqual(rows[0], os.readlink("/proc/self/ns/pid"))
                devices = [row.split(":")[0].strip() for row in rows[3:] if ":" in row]
                self.assertEqual(devices, ["lo"])


if __name__ == "__main__":
    if shutil.which("setpriv") is None or shutil.which("prlimit") is None:
        print("SKIPPED: setpriv or prlimit (util-linux) is not installed")
        sys.exit(suite.SKIP)
    suite.main()
