"""What AddressSanitizer and UndefinedBehaviorSanitizer say on standard
error of a program built with them: overruns of the stack, the globals
and the heap, accesses after a free or a return, and undefined behaviour
such as a signed overflow, each told in the words memcheck.py gives
memcheck's errors (the same finding seen by both reads the same)."""

import re

from tools.running.memcheck import access, block_words, plain_name, plural

# How a sanitized program runs: on past its first error (it is built to
# recover), leaks left to memcheck; AddressSanitizer reserves terabytes of
# address space, so its memory is held by its own limit on what it uses.
OPTIONS = ("detect_leaks=0:detect_stack_use_after_return=1:hard_rss_limit_mb=1024:"
           "allocator_may_return_null=1:abort_on_error=0:halt_on_error=0")
HEADER = re.compile(r"ERROR: AddressSanitizer: ([\w-]+)")
ACCESS = re.compile(r"^(READ|WRITE) of size (\d+) at ")
FRAME = re.compile(r"^\s*#\d+ 0x[0-9a-f]+ in (\S+)(?:\(.*?\))? (\S+?):(\d+)(?::\d+)?\s*$")
REGION = re.compile(r"is located (\d+) bytes (to the right of|to the left of|inside of) "
                    r"(\d+)-byte region")
GLOBAL = re.compile(r"is located (\d+) bytes (to the right of|to the left of|inside of) "
                    r"global variable '([^']+)' defined in '[^:']*:(\d+)(?::\d+)?' "
                    r"\(0x[0-9a-f]+\) of size (\d+)")
STACK_FRAME = re.compile(r"is located in stack of thread \w+ at offset (\d+) in frame")
OBJECT = re.compile(r"\[(\d+), (\d+)\) '([^']+)'(?: \(line (\d+)\))? <== Memory access")
UB = re.compile(r"^(\S+?):(\d+):\d+: runtime error: (.*)$")


def own_line(rows, own_files):
    """(line, function) of the first frame in rows that is in own_files."""
    for row in rows:
        m = FRAME.match(row)
        if m and m.group(2).rsplit("/", 1)[-1] in own_files:
            return int(m.group(3)), plain_name(m.group(1))
    return None, None


def frames_after(rows, header):
    """The frame rows under the row that starts with header."""
    for k, row in enumerate(rows):
        if row.strip().startswith(header):
            out = []
            for frame in rows[k + 1:]:
                if not FRAME.match(frame):
                    break
                out.append(frame)
            return out
    return []


def kind_of(source_lines, line, name):
    """'array' when the line that declares name makes it one, 'variable'
    otherwise (AddressSanitizer names the object, not its type)."""
    text = source_lines[line - 1] if line and 0 < line <= len(source_lines) else ""
    return "array" if re.search(r"\b%s\s*\[" % re.escape(name), text) else "variable"


def report(rows, own_files, source_lines):
    """The finding of one AddressSanitizer report (its rows), in words, or
    None; for an access past an array of the stack or the globals, a dict
    of its words, line, name, function (None for a global), offset from
    the array's start, size and verb."""
    head = next((HEADER.search(r) for r in rows if HEADER.search(r)), None)
    if head is None:
        return None
    kind = head.group(1)
    acc = next((ACCESS.match(r) for r in rows if ACCESS.match(r)), None)
    text = "\n".join(rows)
    if acc is None:
        line, _ = own_line(rows, own_files)
        if kind == "attempting":  # attempting double-free / free on address not malloc()-ed
            made, _ = own_line(frames_after(rows, "previously allocated by"), own_files)
            freed, _ = own_line(frames_after(rows, "freed by"), own_files)
            region = REGION.search(text)
            if "double-free" in text and region:
                return "line %s freed %s again: line %s freed it already" % (
                    line, block_words(int(region.group(3)), made), freed or "?")
            return "line %s freed an address that is no block malloc gave" % line
        if kind == "alloc-dealloc-mismatch":
            m = re.search(r"\((.*?) vs (.*?)\)", text)
            made, _ = own_line(frames_after(rows, "allocated by"), own_files)
            region = REGION.search(text)
            return "line %s gave back with %s %s, made with %s" % (
                line, m.group(2) if m else "?", block_words(int(region.group(3)), made)
                if region else "a block", m.group(1) if m else "?")
        return None  # a crash (SEGV): the plain run tells it
    verb = "read" if acc.group(1) == "READ" else "wrote"
    size = int(acc.group(2))
    at = next(k for k, r in enumerate(rows) if ACCESS.match(r))
    line, _ = own_line(rows[at:], own_files)
    # in a C library call (strcat, memcpy, printf's %s) the size is the
    # call's whole range, and only its first byte outside is told
    call = next((r for r in rows[at:] if re.match(r"\s*#0 ", r)), "")
    on = not any(f + ":" in call for f in own_files)
    g = GLOBAL.search(text)
    if g:
        length, distance = int(g.group(5)), int(g.group(1))
        start = {"to the right of": length + distance, "to the left of": -distance,
                 "inside of": distance}[g.group(2)]
        whose = "%s, a %d-byte global %s declared at line %s" % (
            g.group(3), length, kind_of(source_lines, int(g.group(4)), g.group(3)), g.group(4))
        return {"words": access(line, verb, size, start, length, whose, on=on), "line": line,
                "name": g.group(3), "function": None, "offset": start,
                "size": None if on else size, "verb": verb}
    r = REGION.search(text)
    if r:
        length, distance = int(r.group(3)), int(r.group(1))
        start = {"to the right of": length + distance, "to the left of": -distance,
                 "inside of": distance}[r.group(2)]
        made, _ = own_line(frames_after(rows, "allocated by") or
                           frames_after(rows, "previously allocated by"), own_files)
        freed = None
        if kind == "heap-use-after-free":
            freed, _ = own_line(frames_after(rows, "freed by"), own_files)
            freed = freed or 0
        return access(line, verb, size, start, length, block_words(length, made), freed, on)
    s = STACK_FRAME.search(text)
    o = OBJECT.search(text)
    if s and o:
        lo, hi, name = int(o.group(1)), int(o.group(2)), o.group(3)
        declared = int(o.group(4)) if o.group(4) else None
        at = next(k for k, x in enumerate(rows) if STACK_FRAME.search(x))
        frame = FRAME.match(rows[at + 1]) if at + 1 < len(rows) else None
        function = plain_name(frame.group(1)) if frame else "?"
        whose = "%s, a %d-byte %s of %s%s" % (
            name, hi - lo, kind_of(source_lines, declared, name), function,
            " declared at line %d" % declared if declared else "")
        if kind == "stack-use-after-return":
            return "line %s %s %s of %s, after %s had returned" % (
                line, verb, plural(size, "byte"), whose, function)
        if kind == "stack-use-after-scope":
            return "line %s %s %s of %s, after the block it was declared in had ended" % (
                line, verb, plural(size, "byte"), whose)
        return {"words": access(line, verb, size, int(s.group(1)) - lo, hi - lo, whose, on=on),
                "line": line, "name": name, "function": function,
                "offset": int(s.group(1)) - lo, "size": None if on else size, "verb": verb}
    return "line %s: %s" % (line, kind.replace("-", " "))


def findings(stderr, own_files, source_lines):
    """Every finding on a sanitized program's standard error, in words, in
    order: AddressSanitizer's report, and each of UndefinedBehaviorSanitizer's
    runtime errors in its own words with the line (but an index out of
    bounds, which AddressSanitizer tells better, where it told one)."""
    found = []  # (row, words), in the order they were printed
    for start, said in reports(stderr, own_files, source_lines):
        found.append((start, said["words"] if isinstance(said, dict) else said))
    found += undefined(stderr, own_files, [w for _, w in found])
    return list(dict.fromkeys(w for _, w in sorted(found)))


def undefined(stderr, own_files, told=()):
    """(row, words) of each of UndefinedBehaviorSanitizer's runtime errors in
    the program's own files (a signed overflow), but an index out of bounds
    at a line where an access is told already."""
    out = []
    for k, row in enumerate(stderr.decode("utf-8", "replace").split("\n")):
        m = UB.match(row)
        if not m or m.group(1).rsplit("/", 1)[-1] not in own_files:
            continue
        if "out of bounds" in m.group(3) and any(w.startswith("line %s " % m.group(2))
                                                 for w in told):
            continue
        out.append((k, "line %s: %s" % (m.group(2), m.group(3))))
    return out


def reports(stderr, own_files, source_lines):
    """(row, finding) of each of AddressSanitizer's reports (it goes on after
    one, built to recover), in order."""
    rows = stderr.decode("utf-8", "replace").split("\n")
    starts = [k for k, r in enumerate(rows) if HEADER.search(r)]
    out = []
    for n, start in enumerate(starts):
        end = starts[n + 1] if n + 1 < len(starts) else len(rows)
        said = report(rows[start:end], own_files, source_lines)
        if said:
            out.append((start, said))
    return out


def overruns(stderr, own_files, source_lines):
    """The accesses past arrays of the stack and the globals, as report()
    gives them, in order: what memcheck cannot see."""
    return [said for _, said in reports(stderr, own_files, source_lines)
            if isinstance(said, dict)]
