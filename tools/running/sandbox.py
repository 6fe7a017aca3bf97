"""Running a program nobody has vouched for: in a fresh folder of its own,
with limits on its time, memory, output, file size and processes, and as
safely as this machine allows. A Box is one run's protection, of one of
three kinds:

  bwrap  bubblewrap's sandbox: the system read-only, a /tmp of its own, no
         network, only its folder writable, a pid namespace of its own (it
         signals nothing outside, and all its processes end with the run);
  alone  where bubblewrap may not make a sandbox (a container or a chroot,
         or user namespaces switched off) and we are root: the program runs
         as a user of its own that nothing else on the machine is, so it can
         change no file of anyone's and signal no process but its own, in a
         pid and network namespace of its own where unshare can make them;
         after the run every process of that user is ended and every file
         it left where anyone may write is removed;
  as-me  where neither can be had, and only when the user asked for it:
         as the user, with the limits alone.

Run as root, the program is never root: in bwrap and alone it runs as a
user of its own, a new one for each Box. No process is prepared in Python
between fork and exec: setpriv and prlimit (util-linux) set the user and
the limits, so runs may start from many threads at once."""

import os
import pwd
import random
import select
import shutil
import signal
import subprocess
import tempfile
import threading
import time

SECONDS = 2.0  # wall time of one run
MEMORY = 1 << 30  # address space, bytes
OUTPUT = 1 << 20  # standard output, bytes
FILE = 16 << 20  # any one file it writes, bytes
PROCESSES = 64  # more than the user already runs
# where any user may write, outside the sandbox: what a user of its own
# left there is removed after its run
SHARED = ("/tmp", "/var/tmp", "/dev/shm", "/run/lock")
NOT_ALLOWED = ("this machine does not allow the sandbox (a container or a chroot, or user "
               "namespaces switched off)")

_how = None
_lock = threading.RLock()


def how():
    """What protects a run here: {kind: "bwrap", "alone" or None, why: the
    sandbox's absence in words, or None; unshare: whether runs as root's
    users of their own get a pid and network namespace of their own}.
    Found once, whole, before any thread sees it."""
    global _how
    with _lock:
        if _how is None:
            found = {"kind": "bwrap", "why": None, "unshare": False}
            if shutil.which("bwrap") is None:
                found["why"] = "bubblewrap is not installed (./tour installs it)"
            else:
                uid = private_uid() if os.geteuid() == 0 else None
                done = subprocess.run(as_user(uid) + sandbox_argv("/") + ["true"],
                                      capture_output=True, stdin=subprocess.DEVNULL)
                if done.returncode != 0:
                    found["why"] = NOT_ALLOWED
            if found["why"] is not None:
                found["kind"] = "alone" if os.geteuid() == 0 else None
            if os.geteuid() == 0:
                found["unshare"] = subprocess.run(
                    UNSHARE + ["true"], capture_output=True,
                    stdin=subprocess.DEVNULL).returncode == 0
            _how = found
    return _how


def words(what, as_me=False):
    """One sentence, or None: what protects a run of what (a learner's
    file, in words) here when bubblewrap cannot, or why nothing does."""
    h = how()
    if h["kind"] == "bwrap":
        return None
    if h["kind"] == "alone":
        return ("%s: %s runs as a user of its own instead, which may write only where "
                "anyone may and stop no program but its own%s" % (
                    h["why"], what, ", and reaches no network" if h["unshare"] else ""))
    if as_me:
        return "%s: %s runs as you, as you asked (--as-me), within its limits only" % (
            h["why"], what)
    return ("%s, so %s would run as you, free to change your files and stop your programs: "
            "if it is your own, run this again with --as-me; to run others' files, run as "
            "root (each then runs as a user of its own) or on a machine that allows user "
            "namespaces" % (h["why"], what))


def sandbox_argv(folder, reads=(), writes=(), info=None, cover=()):
    """bubblewrap's words for a sandbox that may write only folder and
    writes, and read the system and reads, where each (file, other) of
    cover reads as file. Its processes have a pid
    namespace of their own: they can signal nothing outside, and all of
    them end when the first one does, daemons and forks included."""
    binds = []
    for path in reads:
        binds += ["--ro-bind", path, path]
    for path in (folder,) + tuple(writes):
        binds += ["--bind", path, path]
    for path, other in cover:
        binds += ["--ro-bind", path, other]
    return (["bwrap", "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc",
             "--tmpfs", "/tmp"] + binds +
            ["--chdir", folder, "--unshare-user-try", "--unshare-pid", "--unshare-ipc",
             "--unshare-net", "--unshare-uts", "--unshare-cgroup-try", "--die-with-parent",
             "--new-session"] +
            (["--info-fd", str(info)] if info is not None else []) + ["--"])


# A pid, network, IPC and host-name namespace, as root can make them without
# user namespaces; a shell is their first process, so that the program is
# not the namespace's init (which signals from inside would not reach).
UNSHARE = ["unshare", "--fork", "--pid", "--kill-child", "--net", "--ipc", "--uts", "--"]
INIT = ["sh", "-c", '"$@"; s=$?; exit $s', "sh"]


def as_user(uid, death=True):
    """setpriv's words that run what follows as uid (None: as we are), and
    end it when the thread that started it ends."""
    words = ["setpriv"]
    if uid is not None:
        words += ["--reuid=%d" % uid, "--regid=%d" % uid, "--clear-groups"]
    return words + (["--pdeathsig=KILL"] if death else []) + ["--"]


def limited(seconds=None, memory=None, files=None, processes=None):
    """prlimit's words that hold what follows to seconds of CPU, memory
    bytes of address space, files bytes in any one file and processes of
    its user; no core files."""
    words = ["prlimit", "--core=0"]
    for flag, value in (("--cpu", seconds), ("--as", memory), ("--fsize", files),
                        ("--nproc", processes)):
        if value is not None:
            words.append("%s=%d" % (flag, value))
    return words + ["--"]


def private_uid():
    """A user id no account and no process has: a user of the run's own."""
    while True:
        # above Debian's own ranges; within the 65,536 ids a container maps
        uid = random.randrange(50000, 60000) if _small_ids() else \
            random.randrange(100000, 4000000)
        try:
            pwd.getpwuid(uid)
        except KeyError:
            if processes_of(uid) == 0:
                return uid


_small = None


def _small_ids():
    """Whether only the 65,536 first user ids exist here (a container's
    user namespace): a folder cannot be given to a greater one."""
    global _small
    with _lock:
        if _small is None:
            probe = tempfile.mkdtemp(prefix="check-probe-")
            try:
                os.chown(probe, 1000000, 1000000)
                _small = False
            except OSError:
                _small = True
            finally:
                os.rmdir(probe)
    return _small


def install(program, library, name):
    """A copy of program, named name, in a fresh folder that any user may
    read and only we may write, with the prompt library found in library
    beside it: the program's user may run it there, wherever the original
    is, and change nothing of it. (the folder, the copy)"""
    folder = tempfile.mkdtemp(prefix="check-program-")
    os.chmod(folder, 0o755)
    shutil.copy2(program, os.path.join(folder, name))
    for f in os.listdir(library):
        if f.startswith("libaskline.so"):
            shutil.copy2(os.path.join(library, f), folder)
    return folder, os.path.join(folder, name)


def end_user(uid):
    """Kills every process whose real user is uid (one of our own users:
    nothing else is); how many there were."""
    n = 0
    for pid in os.listdir("/proc"):
        try:
            if pid.isdigit() and os.stat("/proc/" + pid).st_uid == uid:
                os.kill(int(pid), signal.SIGKILL)
                n += 1
        except OSError:
            pass
    return n


def processes_of(uid):
    n = 0
    for pid in os.listdir("/proc"):
        try:
            if pid.isdigit() and os.stat("/proc/" + pid).st_uid == uid:
                n += 1
        except OSError:
            pass
    return n


class Result:
    def __init__(self):
        self.out = b""
        self.err = b""
        self.status = None  # exit status; None when a signal or a limit ended it
        self.signal = None  # the signal that ended it
        self.timed_out = False
        self.flooded = False  # printed more than the output limit
        self.seconds = 0.0


class Box:
    """One run's protection (or several runs' in a row): its kind, its
    user, the folders it may write, and the clean-up after it. as_me: the
    user asked to run without protection where none can be had; kind:
    another kind than this machine's best (the tests')."""

    def __init__(self, as_me=False, kind=None):
        self.kind = kind or how()["kind"] or ("as-me" if as_me else None)
        if self.kind is None:
            raise PermissionError(words("the program"))
        self.uid = private_uid() if os.geteuid() == 0 and self.kind != "as-me" else None
        me = self.uid if self.uid is not None else os.getuid()
        self.processes = PROCESSES + (0 if self.uid is not None else processes_of(me))
        self.folders = []

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.close()

    def folder(self, prefix="check-"):
        """A fresh empty folder the program may write, and nobody else."""
        path = tempfile.mkdtemp(prefix=prefix)
        self.folders.append(path)
        self.hand_over(path)
        return path

    def hand_over(self, path):
        """What the program is given to write becomes its user's."""
        if self.uid is None:
            return
        for top, dirs, files in os.walk(path):
            for name in [top] + [os.path.join(top, n) for n in dirs + files]:
                os.lchown(name, self.uid, self.uid)

    def command(self, argv, where, seconds=SECONDS, memory=MEMORY, files=FILE, reads=(),
                writes=(), info=None, cover=()):
        """The whole command that runs argv in the folder where, within the
        limits (seconds of wall time: the CPU limit is a second more), as
        this box's kind protects it; with cover (see sandbox_argv) where the
        kind allows, so a cover may change a run's speed, never its result."""
        limits = limited(int(seconds) + 1, memory, files, self.processes)
        if self.kind == "bwrap":
            return (as_user(self.uid) + limits + sandbox_argv(where, reads, writes, info, cover)
                    + argv)
        if self.kind == "alone" and how()["unshare"]:
            return as_user(None) + limits + UNSHARE + as_user(self.uid, False) + INIT + argv
        return as_user(self.uid) + limits + argv

    def pid_namespace(self):
        return self.kind == "bwrap" or self.kind == "alone" and how()["unshare"]

    def close(self):
        """Ends whatever the program's user still runs, removes what it
        left where anyone may write, and the box's folders."""
        if self.kind == "alone" and self.uid is not None and self.uid != os.getuid():
            for _ in range(10):  # it may be forking meanwhile
                if not end_user(self.uid):
                    break
            subprocess.run(["find"] + [p for p in SHARED if os.path.isdir(p)] +
                           ["-xdev", "-user", str(self.uid), "-delete"],
                           stdin=subprocess.DEVNULL, capture_output=True)
        for f in self.folders:
            shutil.rmtree(f, ignore_errors=True)
        self.folders = []

    def run(self, argv, where, stdin=b"", seconds=SECONDS, memory=MEMORY, output=OUTPUT,
            files=FILE, env=None, reads=(), writes=(), cover=()):
        """Runs argv in the folder where, on the bytes stdin, within the
        limits; in the sandbox it may also read reads and write writes."""
        full = self.command(argv, where, seconds, memory, files, reads, writes, cover=cover)
        r = Result()
        start = time.monotonic()
        p = subprocess.Popen(full, cwd=where, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE, start_new_session=True, env=env)
        deadline = start + seconds
        pending = {p.stdout.fileno(): "out", p.stderr.fileno(): "err"}
        sent, inp = 0, p.stdin.fileno()
        os.set_blocking(inp, False)
        if not stdin:
            p.stdin.close()
            inp = None
        while pending:
            left = deadline - time.monotonic()
            if left <= 0:
                r.timed_out = True
                break
            ready_r, ready_w, _ = select.select(list(pending),
                                                [inp] if inp is not None else [], [], left)
            for fd in ready_r:
                data = os.read(fd, 65536)
                if not data:
                    del pending[fd]
                    continue
                name = pending[fd]
                setattr(r, name, getattr(r, name) + data)
                if len(r.out) > output:
                    r.flooded = True
                    pending = {}
                    break
            if inp is not None and ready_w:
                try:
                    sent += os.write(inp, stdin[sent:sent + 65536])
                except (BrokenPipeError, OSError):
                    sent = len(stdin)
                if sent >= len(stdin):
                    p.stdin.close()
                    inp = None
        if r.timed_out or r.flooded:
            kill(p)
        try:
            p.wait(timeout=5)
        except subprocess.TimeoutExpired:
            kill(p)
            p.wait()
        for f in (p.stdout, p.stderr) + ((p.stdin,) if inp is not None else ()):
            f.close()
        r.seconds = time.monotonic() - start
        if r.timed_out or r.flooded:
            return r
        if p.returncode < 0:
            r.signal = -p.returncode
        elif self.pid_namespace() and p.returncode > 128:
            # bubblewrap, and the shell that is init in unshare's namespace,
            # tell a signal as 128 + its number
            r.signal = p.returncode - 128
        else:
            r.status = p.returncode
        return r


def kill(p):
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
