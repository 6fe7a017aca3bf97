"""Running a program nobody has vouched for: in a fresh folder of its own,
with limits on its time, memory, output, file size and processes, and
inside bubblewrap where it can make a sandbox here (the system read-only,
a /tmp of its own, no network, only the folder writable). Run as root, the
program runs as nobody, so that the process limit holds."""

import ctypes
import os
import pwd
import resource
import select
import shutil
import signal
import subprocess
import tempfile
import time

SECONDS = 2.0  # wall time of one run
MEMORY = 1 << 30  # address space, bytes
OUTPUT = 1 << 20  # standard output, bytes
FILE = 16 << 20  # any one file it writes, bytes
PROCESSES = 64  # more than the user already runs

_bwrap = None


def bwrap():
    """Whether bubblewrap can make a sandbox here, and if not, why."""
    global _bwrap
    if _bwrap is None:
        if shutil.which("bwrap") is None:
            _bwrap = (False, "bubblewrap is not installed")
        else:
            done = subprocess.run(sandbox_argv("/") + ["true"], capture_output=True,
                                  preexec_fn=as_nobody if os.geteuid() == 0 else None)
            _bwrap = (done.returncode == 0, "bubblewrap may not make a sandbox here: "
                      + done.stderr.decode(errors="replace").strip().rstrip("."))
    return _bwrap


def sandbox_argv(folder, reads=(), writes=(), info=None):
    """bubblewrap's words for a sandbox that may write only folder and
    writes, and read the system and reads. Its processes have a pid
    namespace of their own: they can signal nothing outside, and all of
    them end when the first one does, daemons and forks included."""
    binds = []
    for path in reads:
        binds += ["--ro-bind", path, path]
    for path in (folder,) + tuple(writes):
        binds += ["--bind", path, path]
    return (["bwrap", "--ro-bind", "/", "/", "--dev", "/dev", "--proc", "/proc",
             "--tmpfs", "/tmp"] + binds +
            ["--chdir", folder, "--unshare-user-try", "--unshare-pid", "--unshare-ipc",
             "--unshare-net", "--unshare-uts", "--unshare-cgroup-try", "--die-with-parent",
             "--new-session"] +
            (["--info-fd", str(info)] if info is not None else []) + ["--"])


def nobody():
    try:
        return pwd.getpwnam("nobody")
    except KeyError:
        return None


def as_nobody():
    who = nobody()
    if who is not None:
        os.setgroups([])
        os.setgid(who.pw_gid)
        os.setuid(who.pw_uid)


def processes_of(uid):
    n = 0
    for pid in os.listdir("/proc"):
        try:
            if pid.isdigit() and os.stat("/proc/" + pid).st_uid == uid:
                n += 1
        except OSError:
            pass
    return n


def limiter(seconds, memory=MEMORY, files=FILE):
    """What the child does before it becomes the program: seconds of CPU."""
    uid = nobody().pw_uid if os.geteuid() == 0 and nobody() else os.getuid()
    procs = processes_of(uid) + PROCESSES

    def apply():
        if os.geteuid() == 0:
            as_nobody()
        for what, value in ((resource.RLIMIT_CPU, int(seconds) + 1),
                            (resource.RLIMIT_AS, memory), (resource.RLIMIT_FSIZE, files),
                            (resource.RLIMIT_NPROC, procs), (resource.RLIMIT_CORE, 0)):
            resource.setrlimit(what, (value, value))
        ctypes.CDLL(None).prctl(1, signal.SIGKILL)  # PR_SET_PDEATHSIG: die with us
    return apply


def folder(prefix="check-"):
    """A fresh empty folder the program may write, and nobody else."""
    path = tempfile.mkdtemp(prefix=prefix)
    hand_over(path)
    return path


def install(program, folder, library, name):
    """A copy of program, named name, in folder (one of folder()'s), with
    the prompt library found in library beside it: the sandbox's user may
    read them there, wherever the originals are."""
    shutil.copy2(program, os.path.join(folder, name))
    for f in os.listdir(library):
        if f.startswith("libaskline.so"):
            shutil.copy2(os.path.join(library, f), folder)
    hand_over(folder)
    return os.path.join(folder, name)


def hand_over(path):
    """Run as root, the program runs as nobody: what it is given to write
    becomes nobody's."""
    who = nobody() if os.geteuid() == 0 else None
    if who is None:
        return
    for top, dirs, files in os.walk(path):
        for name in [top] + [os.path.join(top, n) for n in dirs + files]:
            os.lchown(name, who.pw_uid, who.pw_gid)


class Result:
    def __init__(self):
        self.out = b""
        self.err = b""
        self.status = None  # exit status; None when a signal or a limit ended it
        self.signal = None  # the signal that ended it
        self.timed_out = False
        self.flooded = False  # printed more than the output limit
        self.seconds = 0.0


def run(argv, where, stdin=b"", seconds=SECONDS, memory=MEMORY, output=OUTPUT, files=FILE,
        env=None, reads=(), writes=()):
    """Runs argv in the folder where, on the bytes stdin, within the limits;
    in the sandbox it may also read reads and write writes."""
    boxed = bwrap()[0]
    full = (sandbox_argv(where, reads, writes) if boxed else []) + argv
    r = Result()
    start = time.monotonic()
    p = subprocess.Popen(full, cwd=where, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                         stderr=subprocess.PIPE, start_new_session=True, env=env,
                         preexec_fn=limiter(seconds, memory, files))
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
        ready_r, ready_w, _ = select.select(list(pending), [inp] if inp is not None else [], [],
                                            left)
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
    elif boxed and p.returncode > 128:  # bubblewrap tells a signal as 128 + its number
        r.signal = p.returncode - 128
    else:
        r.status = p.returncode
    return r


def kill(p):
    try:
        os.killpg(p.pid, signal.SIGKILL)
    except (ProcessLookupError, PermissionError):
        pass
