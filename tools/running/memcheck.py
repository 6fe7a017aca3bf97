"""What valgrind's memcheck says, read from the XML it writes (--xml=yes):
each error, where in the program's own sources it happened, the block it
concerns (where that was made and freed), where an unset value came from,
and the blocks left at exit; and each told in the words a learner reads,
the same words tools/running/sanitizer.py gives what AddressSanitizer
finds, so that one finding seen by both is told once."""

import os
import re
import subprocess
import xml.etree.ElementTree as ET

PLACE = re.compile(r"Address (0x[0-9a-fA-F]+) is ([\d,]+) bytes (inside|after|before) a block "
                   r"of size ([\d,]+) (alloc'd|free'd)")
LEFT = ("Leak_DefinitelyLost", "Leak_IndirectlyLost", "Leak_PossiblyLost", "Leak_StillReachable")
# what makes a stream: one left open at exit is the process's to close, as
# the collection's contactsave leaves its own
STREAMS = ("fopen", "fopen64", "fdopen", "freopen", "tmpfile", "popen", "fmemopen",
           "open_memstream", "fopen_internal")


def names_only(folder):
    """[(a copy made in folder, the file it stands for)]: a copy of the C
    library's debugging information (libc6-dbg's) with the names of its
    functions only. Memcheck reads the whole at every start, a third of the
    start's time, for line numbers inside the library that no report uses;
    the names are kept, as reports need them (a stream's block is made by
    __fopen_internal, which the library does not export). Empty when there
    is none."""
    notes = subprocess.run(["readelf", "-n", "/lib/x86_64-linux-gnu/libc.so.6"],
                           capture_output=True, text=True).stdout
    i = re.search(r"Build ID: ([0-9a-f]{3,})", notes)
    whole = i and "/usr/lib/debug/.build-id/%s/%s.debug" % (i.group(1)[:2], i.group(1)[2:])
    names = os.path.join(folder, "libc-names.debug")
    if not whole or not os.path.isfile(whole) or subprocess.run(
            ["objcopy", "--remove-section=.debug_*", whole, names],
            capture_output=True).returncode != 0:
        return []
    os.chmod(names, 0o644)
    return [(names, whole)]


def number(text):
    return int(text.replace(",", ""))


def plain_name(name):
    """The public name of a C library function from a symbol's name."""
    name = (name or "?").split("@")[0].split("(")[0].strip()
    for prefix in ("__GI_", "__libc_", "_IO_new_", "__isoc99_", "__isoc23_", "_IO_", "__"):
        if name.startswith(prefix) and len(name) > len(prefix):
            name = name[len(prefix):]
    return name


def block_of(text):
    """(block start, offset) from memcheck's "Address 0x.. is N bytes after
    a block of size S alloc'd", or None."""
    m = PLACE.search(text)
    if not m:
        return None
    p, offset, size = int(m.group(1), 16), number(m.group(2)), number(m.group(4))
    start = p - offset if m.group(3) == "inside" else (
        p - offset - size if m.group(3) == "after" else p + offset)
    return start, p - start


def split(text):
    """The complete <error> elements at the start of text, and the rest."""
    chunks = []
    while True:
        start = text.find("<error>")
        end = text.find("</error>", start)
        if start < 0 or end < 0:
            return chunks, text
        chunks.append(text[start:end + len("</error>")])
        text = text[end + len("</error>"):]


def own_frame(stack, own_files):
    """(file, line, function, the function it called) of the innermost frame
    of a <stack> in one of own_files, or None."""
    called = None
    for frame in stack.findall("frame") if stack is not None else []:
        if frame.findtext("file") in own_files:
            return (frame.findtext("file"), int(frame.findtext("line") or 0) or None,
                    plain_name(frame.findtext("fn")), called)
        called = frame.findtext("fn")
    return None


def error(chunk, own_files):
    """One error: {kind, what, aux, file, line, function, block, offset, lost,
    made, freed, origin, allocator, releaser}: file, line and function where
    the program's own code made it (the innermost frame in one of
    own_files); block and offset, the address against the block it concerns
    (hex start and offset); made and freed, the lines that allocated and
    freed that block; origin, for an unset value, ("heap", line) or
    ("stack", function); lost: [bytes, blocks] for a block left at exit."""
    node = ET.fromstring(chunk)
    what = node.findtext("what") or node.findtext("xwhat/text") or ""
    err = {"kind": node.findtext("kind") or "", "what": what,
           "aux": [a.text or "" for a in node.findall("auxwhat")], "file": None,
           "line": None, "function": None, "block": None, "offset": None, "made": None,
           "freed": None, "origin": None, "allocator": None, "called": None}
    if node.find("xwhat/leakedbytes") is not None:
        # a lost block's record counts the bytes it alone reaches too: "16 (12
        # direct, 4 indirect) bytes"; those have a record of their own
        direct = re.match(r"([\d,]+) \(([\d,]+) direct", what)
        err["lost"] = [number(direct.group(2)) if direct else
                       int(node.findtext("xwhat/leakedbytes")),
                       int(node.findtext("xwhat/leakedblocks"))]
    # the error's own stack, then each further one after the auxwhat that names it
    stacks, said = [], None
    for child in node:
        if child.tag == "auxwhat":
            said = child.text or ""
        elif child.tag == "stack":
            stacks.append((said, child))
            said = None
    first = own_frame(stacks[0][1], own_files) if stacks else None
    if first:
        err["file"], err["line"], err["function"], called = first
        err["called"] = plain_name(called) if called else None
    for aux in err["aux"]:
        place = block_of(aux)
        if place:
            err["block"], err["offset"] = "0x%x" % place[0], place[1]
            break
    for said, stack in stacks[1:]:
        at = own_frame(stack, own_files)
        if at is None or said is None:
            continue
        if "free'd" in said:
            err["freed"] = at[1]
        elif "alloc'd" in said:
            err["made"], err["allocator"] = at[1], plain_name(at[3]) if at[3] else None
        elif said.startswith("Uninitialised value was created by a heap"):
            err["origin"] = ("heap", at[1])
        elif said.startswith("Uninitialised value was created by a stack"):
            err["origin"] = ("stack", at[2])
    return err


def read(text, own_files):
    """Every error of a whole XML file: (errors, blocks left at exit)."""
    chunks, _ = split(text)
    found = []
    for chunk in chunks:
        try:
            found.append(error(chunk, own_files))
        except ET.ParseError:
            continue
    return ([e for e in found if not e["kind"].startswith("Leak_")],
            [e for e in found if e["kind"] in LEFT])


def plural(n, word):
    return "%d %s%s" % (n, word, "" if n == 1 else "s")


def block_words(size, made):
    return "the %d-byte block made at line %d" % (size, made) if made else \
        "a %d-byte block" % size


def access(line, verb, size, start, length, whose, freed=None, on=False):
    """The words of an access of size bytes at byte start of what whose
    names (length bytes long), by the line line: past its end or before its
    start (told by the first byte outside it, which memcheck and the
    sanitizers agree on, whatever size each gives a string function's
    access; on: and further, how far not known), or into it after line
    freed freed it (0: at a line not known)."""
    did = "line %s %s" % (line, verb)
    if freed is not None:
        return "%s into %s, after line %s freed it" % (did, whose, freed) if freed else \
            "%s into %s, after it was freed" % (did, whose)
    if start < 0:
        return "%s before the start of %s, %s before it" % (did, whose, plural(-start, "byte"))
    if start + size > length:
        return "%s past the end of %s, %s byte %d%s" % (
            did, whose, "from" if on else "at", max(start, length), " on" if on else "")
    return "%s %s of %s" % (did, plural(size, "byte"), whose)


def words(err):
    """One error of memcheck's in a learner's words, with its line."""
    kind, line = err["kind"], err["line"] or "?"
    m = PLACE.search(" ".join(err["aux"]))
    if kind in ("InvalidRead", "InvalidWrite"):
        verb = "read" if kind == "InvalidRead" else "wrote"
        size = number(re.search(r"of size ([\d,]+)", err["what"]).group(1)) \
            if re.search(r"of size ([\d,]+)", err["what"]) else 1
        if m:
            distance, where, length = number(m.group(2)), m.group(3), number(m.group(4))
            start = {"inside": distance, "after": length + distance, "before": -distance}[where]
            whose = block_words(length, err["made"])
            freed = err["freed"] if m.group(5) == "free'd" else None
            if m.group(5) == "free'd" and freed is None:
                freed = 0
            return access(line, verb, size, start, length, whose, freed)
        address = re.search(r"Address (0x[0-9a-fA-F]+)", " ".join(err["aux"]))
        if address and int(address.group(1), 16) < 4096:
            return "line %s %s %s at address %s, through a null pointer" % (
                line, verb, plural(size, "byte"), address.group(1))
        if address:
            return "line %s %s %s at address %s, which is no block's" % (
                line, verb, plural(size, "byte"), address.group(1))
    if kind in ("UninitCondition", "UninitValue", "SyscallParam"):
        used = {"UninitCondition": "decided on a value that was never set",
                "UninitValue": "used a value that was never set"}.get(kind)
        if used is None:  # Syscall param write(buf) points to uninitialised byte(s)
            call = re.search(r"param (\w+)", err["what"])
            used = "passed bytes never set to %s()" % (call.group(1) if call else "the system")
        origin = err["origin"]
        if origin and origin[0] == "heap":
            return "line %s %s: it came from the block made at line %s, and the byte it " \
                   "came from was never written" % (line, used, origin[1])
        if origin:
            return "line %s %s: it came from a variable of %s never given a value" % (
                line, used, origin[1])
        return "line %s %s" % (line, used)
    if kind == "InvalidFree":
        if m and m.group(5) == "free'd":
            return "line %s freed %s again: line %s freed it already" % (
                line, block_words(number(m.group(4)), err["made"]), err["freed"] or "?")
        return "line %s freed an address that is no block malloc gave" % line
    if kind == "MismatchedFree":
        return "line %s gave back with %s %s, made with %s" % (
            line, err["called"] or "?", block_words(number(m.group(4)), err["made"])
            if m else "a block", err["allocator"] or "?")
    return "line %s: %s" % (line, err["what"])


def left_words(leaks):
    """The blocks left at exit, one sentence for the blocks made at one line."""
    at = {}
    for e in leaks:
        key = (e["line"] or 0, e["called"] or "malloc")
        n = at.setdefault(key, [0, 0])
        n[0] += e["lost"][0]
        n[1] += e["lost"][1]
    out = []
    for (line, called), (nbytes, nblocks) in sorted(at.items()):
        made = "made by %s at line %d" % (called, line) if line else "made by the C library"
        out.append("%s %s (%s) %s never freed" % (
            "the block" if nblocks == 1 else "%d blocks" % nblocks, made,
            plural(nbytes, "byte"), "is" if nblocks == 1 else "are"))
    return out
