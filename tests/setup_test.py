"""setup/install on machines of every kind, made of stand-in commands: a
dpkg-query that knows what is installed, an apt-get and a sudo that only
note that they were called, and an id that tells who runs it."""

import os
import shutil
import subprocess
import tempfile
import unittest

from tests import suite

from tools import ROOT
INSTALL = os.path.join(ROOT, "setup", "install")
with open(os.path.join(ROOT, "setup", "packages")) as f:
    TOUR = [row.split()[0] for row in f if not row.startswith("#") and "tour" in row.split()[1:]]

FAKES = {
    "dpkg-query": 'for p in $INSTALLED; do [ "$p" = "$4" ] && { echo "install ok installed"; '
                  'exit 0; }; done; exit 1',
    "apt-get": 'echo "apt-get $*" >>"$LOG"',
    # asked with -n whether it would let the user in without a password
    "sudo": 'if [ "$1" = -n ]; then echo "sudo -n" >>"$LOG"; exit ${NOPASSWD:-1}; fi; '
            'echo "sudo" >>"$LOG"; exec "$@"',
    "id": 'if [ "$1" = -nG ]; then echo "$AS_GROUPS"; else echo "$AS_UID"; fi',
}


def machine(work, tools):
    """A folder of commands: the stand-ins named in tools, and the real
    ones the script needs."""
    bin_ = os.path.join(work, "bin")
    os.mkdir(bin_)
    for name in ("bash", "sh", "awk", "grep", "env", "dirname", "cat", "true"):
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
                   "AS_UID": str(uid), "AS_GROUPS": "bob users", "LOG": log}
            env.update(extra or {})
            done = subprocess.run([shutil.which("bash"), INSTALL, "tour"], env=env,
                                  capture_output=True, text=True, stdin=subprocess.DEVNULL)
            called = []
            if os.path.exists(log):
                with open(log) as f:
                    called = f.read().split("\n")[:-1]
            return done, called

    def test_machines(self):
        everything = ["dpkg-query", "apt-get", "sudo", "id"]
        update = "apt-get update -qq"
        install = "apt-get install --no-install-recommends cmake -y -qq"
        rows = [  # tools, installed, uid, more env, status, calls, what it says
            (everything, TOUR, 1000, {}, 0, [], ""),
            (everything, TOUR[1:], 0, {}, 0, [update, install],
             "with: apt-get install --no-install-recommends cmake"),
            # sudo without a password, or as one of Debian's sudo group: it is used
            (everything, TOUR[1:], 1000, {"NOPASSWD": "0"}, 0,
             ["sudo -n", "sudo", update, "sudo", install],
             "with: sudo apt-get install --no-install-recommends cmake"),
            (everything, TOUR[1:], 1000, {"AS_GROUPS": "ann sudo users"}, 0,
             ["sudo -n", "sudo", update, "sudo", install], "with: sudo apt-get"),
            # sudo that would not let this user in: never asked, one line instead
            (everything, TOUR[1:], 1000, {}, 1, ["sudo -n"],
             "ask someone who is root to run 'apt-get install --no-install-recommends "
             "cmake', then run this again"),
            (["dpkg-query", "apt-get", "id"], TOUR[1:], 1000, {}, 1, [],
             "ask someone who is root to run 'apt-get install --no-install-recommends cmake'"),
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
                if status:  # one line, and root is never asked to run a file of this folder
                    self.assertEqual(done.stderr.count("\n"), 1, done.stderr)
                    self.assertNotIn(ROOT, done.stderr)


# A stand-in cmake for ./test: each preset's run fails, skips or passes as
# RESULTS says ("default=fail sanitize=skip"), writing the logs ctest writes.
CMAKE = r"""preset=$3; dir=build; [ $preset = default ] || dir=build-$preset
echo "$preset" >>"$LOG"
mkdir -p $dir/Testing/Temporary
case " $RESULTS " in
*" $preset=fail "*) echo "1:Some.Test" >$dir/Testing/Temporary/LastTestsFailed.log; exit 8 ;;
*" $preset=broken "*) exit 1 ;;
*" $preset=skip "*) printf '1/2 Test: cases\nSKIPPED: a case: no sandbox here\n' \
  >$dir/Testing/Temporary/LastTest.log ;;
esac
exit 0"""


class Test(unittest.TestCase):
    """./test runs both presets whatever the first gives, names every
    failure and skip, and fails when any test failed."""

    def test_runs(self):
        rows = [  # results of the presets, status, presets run, lines at the end
            ("", 0, ["default", "sanitize"], ["every test passed"]),
            ("default=fail", 1, ["default", "sanitize"],
             ["failed (default): Some.Test", "1 failed; every other test passed or is named above as skipped"]),
            ("default=broken sanitize=skip", 1, ["default", "sanitize"],
             ["skipped (sanitize): cases: a case: no sandbox here",
              "failed (default): its build or configuration (see above)"]),
            ("sanitize=skip", 0, ["default", "sanitize"],
             ["skipped (sanitize): cases: a case: no sandbox here",
              "every test passed, but for the skipped ones named above"]),
        ]
        for results, status, presets, said in rows:
            with self.subTest(results=results), tempfile.TemporaryDirectory() as work:
                os.makedirs(os.path.join(work, "setup"))
                shutil.copy(os.path.join(ROOT, "test"), work)
                with open(os.path.join(work, "setup", "install"), "w") as f:
                    f.write("#!/bin/sh\nexit 0\n")
                os.chmod(os.path.join(work, "setup", "install"), 0o755)
                bin_ = machine(work, [])
                with open(os.path.join(bin_, "cmake"), "w") as f:
                    f.write("#!/bin/sh\n" + CMAKE + "\n")
                os.chmod(os.path.join(bin_, "cmake"), 0o755)
                for name in ("mkdir", "rm", "printf"):
                    os.symlink(shutil.which(name), os.path.join(bin_, name))
                log = os.path.join(work, "log")
                done = subprocess.run([os.path.join(work, "test")], capture_output=True,
                                      text=True, env={"PATH": bin_, "RESULTS": results,
                                                      "LOG": log})
                self.assertEqual(done.returncode, status, done.stdout + done.stderr)
                with open(log) as f:
                    self.assertEqual(f.read().split(), presets)
                for words in said:
                    self.assertIn(words + "\n", done.stdout)


if __name__ == "__main__":
    suite.main()
