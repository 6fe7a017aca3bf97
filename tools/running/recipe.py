"""Building a learner's file by the collection's own recipe (setup/recipe):
C or C++ by its name's ending, full debug information, no optimisation,
the warnings, and the prompt library, libm and libcrypt linked in. The
program lands in a folder of its own, never in the project's build/."""

import hashlib
import os
import subprocess
import threading

from tools import ROOT
from tools.running import sandbox

C = (".c",)
CXX = (".cpp", ".cc", ".cxx", ".C")
SECONDS = 60  # of CPU, to compile one file
MEMORY = 2 << 30  # address space of the compiler, bytes


def recipe():
    settings = {}
    with open(os.path.join(ROOT, "setup", "recipe")) as f:
        for row in f:
            if row.strip() and not row.startswith("#"):
                key, *words = row.split()
                settings[key] = words
    return settings


def place(source):
    """The folder a learner's file is built in: its own, kept between runs
    so that the command a report gives can be run by hand."""
    cache = os.environ.get("XDG_CACHE_HOME") or os.path.join(os.path.expanduser("~"), ".cache")
    path = os.path.realpath(source)
    key = hashlib.sha1(path.encode("utf-8", "surrogateescape")).hexdigest()[:10]
    name = os.path.splitext(os.path.basename(path))[0]
    return os.path.join(cache, "lessons", "%s-%s" % (name, key))


def command(source, binary, color=False, sanitize=False):
    r = recipe()
    ext = os.path.splitext(source)[1]
    compiler, lang = ("gcc", r["c"]) if ext in C else ("g++", r["c++"])
    links = ["-laskline" if lib == "askline" else "-Wl,-l" + lib for lib in r["libraries"]]
    library = os.path.join(ROOT, "build", "askline")
    return ([compiler] + lang + r["options"] + (r["sanitize"] if sanitize else [])
            + ["-fmax-errors=10"]
            + ["-fdiagnostics-color=" + ("always" if color else "never")]
            + ["-I", os.path.join(ROOT, "askline"), source, "-o", binary,
               "-L", library, "-Wl,-rpath," + library, "-Wl,--no-as-needed"] + links
            + ["-Wl,--as-needed"])


def build(source, name, color=False, sanitize=False):
    """(the program, or None, and what the compiler said); sanitize: built
    with the sanitizers too, as NAME-sanitized."""
    ext = os.path.splitext(source)[1]
    if ext not in C + CXX:
        return None, "%s is neither C (.c) nor C++ (.cpp, .cc, .cxx)\n" % source
    folder = place(source)
    os.makedirs(folder, exist_ok=True)
    binary = os.path.join(folder, name + ("-sanitized" if sanitize else ""))
    return compile_(command(source, binary, color, sanitize), binary, source)


def compile_(argv, binary, source):
    try:
        # within limits too: #include "/dev/zero" would take every byte of
        # memory the machine has
        done = subprocess.run(sandbox.as_user(None) + sandbox.limited(SECONDS, MEMORY, MEMORY)
                              + argv, capture_output=True, stdin=subprocess.DEVNULL,
                              timeout=SECONDS * 2)
    except subprocess.TimeoutExpired:
        return None, "%s: the compiler did not finish within %d s\n" % (source, SECONDS * 2)
    said = (done.stdout + done.stderr).decode("utf-8", "replace")
    if done.returncode != 0 and not said.strip():
        said = "%s: the compiler was stopped by a limit (%d s of CPU, %d MB)\n" % (
            source, SECONDS, MEMORY >> 20)
    return (binary if done.returncode == 0 else None), said


def shim():
    """The preloaded library that makes an allocation fail (failalloc.c),
    built once for its source as it is; None when it cannot be built."""
    source = os.path.join(os.path.dirname(os.path.realpath(__file__)), "failalloc.c")
    with open(source, "rb") as f:
        key = hashlib.sha1(f.read()).hexdigest()[:10]
    folder = os.path.dirname(place(source))
    os.makedirs(folder, exist_ok=True)
    binary = os.path.join(folder, "failalloc-%s.so" % key)
    if not os.path.exists(binary):
        part = "%s.%d-%d" % (binary, os.getpid(), threading.get_ident())
        made, _ = compile_(["gcc", "-shared", "-fPIC", "-O2", source, "-o", part, "-ldl"], part,
                           source)
        if made is None:
            return None
        os.replace(made, binary)  # whole, even when checks build it side by side
    return binary
