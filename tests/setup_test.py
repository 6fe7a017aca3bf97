"""setup/install on machines of every kind, made of stand-in commands: a
dpkg-query that knows what is installed, an apt-get and a sudo that only
note that they were called, and an id that tells who runs it."""

import os
import shutil
import subprocess
import tempfile
import unittest

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
INSTALL = os.path.join(ROOT, "setup", "install")
with open(os.path.join(ROOT, "setup", "packages")) as f:
    TOUR = [row.split()[0] for row in f if not row.startswith("#") and "tour" in row.split()[1:]]

FAKES = {
    "dpkg-query": 'for p in $INSTALLED; do [ "$p" = "$4" ] && { echo "install ok installed"; '
                  'exit 0; }; done; exit 1',
    "apt-get": 'echo "apt-get $*" >>"$LOG"',
    "sudo": 'echo "sudo" >>"$LOG"; exec "$@"',
    "id": 'echo "$AS_UID"',
}


def machine(work, tools):
    """A folder of commands: the stand-ins named in tools, and the real
    ones the script needs."""
    bin_ = os.path.join(work, "bin")
    os.mkdir(bin_)
    for name in ("bash", "sh", "awk", "grep", "env", "dirname", "cat"):
        os.symlink(shutil.which(name), os.path.join(bin_, name))
    for name in tools:
        path = os.path.join(bin_, name)
        with open(path, "w") as f:
            f.write("#!/bin/sh\n" + FAKES[name] + "\n")
        os.chmod(path, 0o755)
    return bin_


class Install(unittest.TestCase):
    def run_install(self, tools, installed, uid, extra=None):
        with tempfile.TemporaryDirectory() as work:
            log = os.path.join(work, "log")
            env = {"PATH": machine(work, tools), "INSTALLED": " ".join(installed),
                   "AS_UID": str(uid), "LOG": log}
            env.update(extra or {})
            done = subprocess.run([shutil.which("bash"), INSTALL, "tour"], env=env,
                                  capture_output=True, text=True, stdin=subprocess.DEVNULL)
            called = open(log).read().split("\n")[:-1] if os.path.exists(log) else []
            return done, called

    def test_machines(self):
        everything = ["dpkg-query", "apt-get", "sudo", "id"]
        rows = [  # tools, installed, uid, more env, status, calls, what it says
            (everything, TOUR, 1000, {}, 0, [], ""),
            (everything, TOUR[1:], 0, {}, 0,
             ["apt-get update -qq", "apt-get install -y -qq cmake"],
             "with: apt-get install cmake"),
            (everything, TOUR[1:], 1000, {}, 0,
             ["sudo", "apt-get update -qq", "sudo", "apt-get install -y -qq cmake"],
             "with: sudo apt-get install cmake"),
            (["dpkg-query", "apt-get", "id"], TOUR[1:], 1000, {}, 1, [],
             "ask someone who is root to run: apt-get install cmake"),
            (everything, [], 1000, {"NO_INSTALL": "1"}, 0, [], ""),
            (["id"], [], 1000, {}, 1, [], "this system has no apt-get"),
        ]
        for tools, installed, uid, extra, status, calls, said in rows:
            with self.subTest(tools=tools, installed=len(installed), uid=uid, env=extra):
                done, called = self.run_install(tools, installed, uid, extra)
                self.assertEqual(done.returncode, status, done.stderr)
                self.assertEqual(called, calls)
                self.assertIn(said, done.stdout + done.stderr)
                if not said:
                    self.assertEqual(done.stdout + done.stderr, "")


if __name__ == "__main__":
    unittest.main()
