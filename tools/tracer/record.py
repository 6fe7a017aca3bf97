"""What is recorded at one stop of the program: its frames and globals
with their values, the pointers written in its lines, the blocks they
reach from memcheck's book of the heap (heap.py), memcheck's new errors,
and what it printed; the trace's format is in trace.py."""

import os
import re

import gdb

from tools.tracer import heap, values
from tools.tracer.values import hexa

MAX_FRAMES = 48  # frames of a step recorded: main and the newest calls
SUBSCRIPT = re.compile(r"\b([A-Za-z_]\w*)\s*\[([^\[\]]+)\]")
# what gdb must not evaluate: it would run in the program (a[n++] would
# count twice, a[f()] call f again): ++, --, a call, an assignment
IMPURE = re.compile(r"\+\+|--|\w\s*\(|(?<![=!<>])=(?!=)")
EXPR = re.compile(r"&\s*[A-Za-z_]\w*\s*\[\s*\d+\s*\]|&\s*[A-Za-z_]\w*|"
                  r"(?<![\w)\].>])[A-Za-z_]\w*\s*[-+]\s*\d+\b")


class Record:
    """The steps recorded so far, and what recording them needs: the
    program's own sources, the types named, the heap's book."""

    def __init__(self, pid, output_path, stderr_path):
        self.pid = pid  # valgrind's: its mappings are the program's
        self.output_path = output_path  # the file the program's standard output goes to
        self.stderr_path = stderr_path  # and its standard error (unbuffered)
        self.types = values.Types()
        self.steps = []
        self.own_dir = None  # the folder of the program's own sources
        self.own_files = set()
        self.sources = {}
        self.book = None  # memcheck's book of the heap, once connected
        self.returning = None  # {function, value} of a function that returned
        self.last_calls = True  # whether the line just run called anything
        self.global_syms = None
        self.statics = []  # (function, symbol) of every static variable of a function
        self.printed = 0  # bytes of output already in a step
        self.functions = {}  # address -> name of each of the program's functions
        self.told = 0  # bytes of standard error already in a step
        self.skipped = False  # whether loop passes were left out before this step

    def own(self, frame):
        try:
            sal = frame.find_sal()
        except (gdb.error, RuntimeError):
            return False
        return sal.symtab is not None and os.path.dirname(sal.symtab.fullname()) == self.own_dir

    def own_stack(self, frame):
        """The program's own frames from main down to frame."""
        out = []
        while frame is not None:
            if self.own(frame):
                out.append(frame)
            frame = frame.older()
        return out[::-1]

    def source(self, path):
        name = os.path.basename(path)
        if name not in self.sources:
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    self.sources[name] = f.read().split("\n")
            except OSError:
                self.sources[name] = []
        return self.sources[name]

    def text_of(self, frame):
        sal = frame.find_sal()
        lines = self.source(sal.symtab.fullname())
        return lines[sal.line - 1] if 0 < sal.line <= len(lines) else ""

    def record(self, frame, signal_info=None):
        stack = self.own_stack(frame)
        # a deep recursion: main and the newest calls
        left_out = max(len(stack) - MAX_FRAMES, 0)
        stack = stack[:1] + stack[1 + left_out:]
        sp = int(gdb.newest_frame().read_register("rsp"))
        regions = heap.regions(self.pid, sp)
        live_low = sp
        frames, named, roots = [], [], []
        # globals first: a block two pointers reach is drawn as the type of
        # the one declared first
        globals_ = self.globals(frame, roots, named)
        for index, f in enumerate(stack):
            f.select()  # a variable-length array's bounds are its own frame's
            pairs = values.frame_symbols(f)
            known = frame_vbits(pairs)
            vars_ = []
            for sym, value in pairs:
                address = int(value.address) if value.address is not None else None
                var = values.describe(self.types, sym.name, value, address, known)
                vars_.append(var)
                self.root(var, roots, named, index)
                if index == len(stack) - 1 and address is not None:
                    # a call that runs no other keeps its variables below the stack
                    # pointer; anything lower than they is a call that has ended
                    live_low = min(live_low, address)
            frames.append({"function": f.name(), "line": f.find_sal().line, "vars": vars_})
        gdb.newest_frame().select()
        exprs = self.exprs(stack, roots)
        prev = self.steps[-1] if self.steps else None
        made = self.last_calls or signal_info is not None or prev is None \
            or prev["function"] != frame.name()
        self.book.refresh(made, len(self.steps))
        errors, repeats = self.book.errors()
        blocks, hidden = self.book.blocks(self.types, roots, named, regions, len(self.steps),
                                          live_low, [e["block"] for e in errors if e["block"]])
        errors = self.book.from_heads(errors)
        nodes(blocks, [v for f in frames for v in f["vars"]] + globals_)
        sal = frame.find_sal()
        outside = self.outside(stack[-1], frames[-1]["vars"] + globals_) if stack else []
        step = {"file": os.path.basename(sal.symtab.filename), "line": sal.line,
                "text": self.text_of(frame), "function": frame.name(), "frames": frames,
                "globals": globals_, "exprs": exprs, "blocks": blocks, "hidden": hidden,
                "returned": self.returned(blocks), "errors": errors, "repeats": repeats}
        step.update(self.output())
        if left_out:
            step["calls_left_out"] = left_out
        if outside:
            step["outside"] = outside
        if signal_info is not None:
            step["signal"] = signal_info
        self.steps.append(step)

    def root(self, var, roots, named, frame):
        """A variable as a place pointers may point into, and the pointers it holds."""
        if var["address"] is not None:
            named.append((int(var["address"], 16), var["size"], var["name"], frame, var["type"]))
        kind = self.types.table[var["type"]]["kind"]
        shows = var.get("shows")
        if shows is not None:
            # an object of the standard library: what it holds, where it keeps
            # it, as its printer says; its own insides are not the program's
            at = shows.get("pointer") if shows.get("pointer") not in (None, "0x0") else None
            what = None
            if at:
                what = self.types.table.get(shows.get("type"), {}).get("target")
            elif shows.get("chars") and not shows.get("inside"):
                at, what = shows["chars"]["address"], "char"
            elif shows.get("nodes"):  # each element in a node of the container's
                roots += [(int(e["address"], 16), None) for e in shows["elements"]
                          if e.get("address")]
                for e in shows["elements"]:  # and what an element holds elsewhere
                    if e.get("shows"):
                        self.root(dict(e, size=0), roots, [], frame)
            elif shows.get("elements") and shows["elements"][0].get("address"):
                at, what = shows["elements"][0]["address"], shows.get("type")
            if at:
                roots.append((int(at, 16), what))
            return
        if "points_to" in var:
            target = self.types.table[var["type"]]["target"]
            if self.types.table[target]["kind"] != "func":  # code is no block to draw
                roots.append((int(var["points_to"], 16), target))
        elif kind == "array" and var["address"] is not None:  # drawn cell by cell
            # (its own address: the array itself, even where another one ends)
            roots.append((int(var["address"], 16), self.types.table[var["type"]]["target"],
                          True))
        elif kind in ("struct", "union") and var["address"] is not None and \
                self.types.table[var["type"]]["file"] in self.own_files:
            # the program's own structs member by member; a library's (struct stat) stays a value
            roots.append((int(var["address"], 16), var["type"], True))
        if var.get("bytes") is not None:
            for off, target in self.types.pointers(var["type"]):
                raw = var["bytes"][off:off + 8]
                if len(raw) == 8 and None not in raw:
                    roots.append((int.from_bytes(bytes(raw), "little"), target))

    def globals(self, frame, roots, named):
        """The program's globals, then the static variables of its functions,
        which live as long: named "counter's count", and marked static."""
        if self.global_syms is None:
            self.global_syms = []
            block = frame.block()
            for b in (block.global_block, block.static_block):
                for sym in b:
                    if sym.is_variable and sym.symtab is not None and \
                            os.path.dirname(sym.symtab.fullname()) == self.own_dir:
                        self.global_syms.append((None, sym))
            self.global_syms += self.statics
        pairs, owners = [], []
        for owner, sym in self.global_syms:
            try:
                pairs.append((sym, sym.value()))
                owners.append(owner)
            except gdb.error:
                continue
        known = frame_vbits(pairs)
        out = []
        for owner, (sym, value) in zip(owners, pairs):
            name = sym.name if owner is None else "%s's %s" % (owner, sym.name)
            var = values.describe(self.types, name, value, int(value.address), known)
            if owner is not None:
                var["static"] = owner
            out.append(var)
            self.root(var, roots, named, None)
        return out

    def outside(self, frame, variables):
        """The subscripts of arrays in the line about to run that lie outside
        them (a[i] with i 4 for int a[4]): [{name, index}]. The tracing of a
        learner's file marks an overrun that AddressSanitizer saw at that line
        on the pass where they do."""
        arrays = {v["name"]: self.types.table[v["type"]].get("count") for v in variables
                  if self.types.table[v["type"]]["kind"] == "array"}
        out = []
        code = self.text_of(frame).split("//")[0]
        for m in SUBSCRIPT.finditer(code):
            name = m.group(1)
            if name not in arrays or code[:m.start()].rstrip().endswith(("&", "sizeof")) or \
                    IMPURE.search(m.group(2)):
                continue
            try:
                frame.select()
                k = int(gdb.parse_and_eval(m.group(2)))
            except (gdb.error, RuntimeError, ValueError):
                continue
            if not 0 <= k < arrays[name]:
                out.append({"name": name, "index": k})
        gdb.newest_frame().select()
        return out

    def exprs(self, stack, roots):
        """Pointers written in the line just run (in the frame that ran it,
        while it is still there) and in the line about to run."""
        out, seen = [], set()
        owners = [(len(stack) - 1, self.text_of(stack[-1]), stack[-1].find_sal().line)]
        if self.steps:
            prev = self.steps[-1]
            depth = len(prev["frames"]) - 1
            if depth < len(stack) and stack[depth].name() == prev["function"]:
                owners.append((depth, prev["text"], prev["line"]))
        for index, text, line in owners:
            code = text.split("//")[0]
            for m in EXPR.finditer(code):
                expr = re.sub(r"\s+", " ", m.group(0)).replace("& ", "&")
                if (index, expr) in seen or not whole(code, m):
                    continue
                try:
                    stack[index].select()
                    value = gdb.parse_and_eval(expr)
                    t = value.type.strip_typedefs()
                    if t.code != gdb.TYPE_CODE_PTR:
                        continue
                    p = int(value) & 0xFFFFFFFFFFFFFFFF
                    shown = value.format_string(symbols=False)
                except gdb.error:
                    continue
                seen.add((index, expr))
                tname = self.types.add(value.type)
                out.append({"name": expr, "type": tname, "value": shown, "address": None,
                            "size": t.sizeof, "set": True, "points_to": hexa(p), "frame": index,
                            "line": line})
                roots.append((p, self.types.table[tname]["target"]))
        gdb.newest_frame().select()
        return out

    def returned(self, blocks):
        if self.returning is not None:
            value, self.returning = self.returning, None
            return value
        if self.skipped:  # passes left out made what they made: no line of it is seen
            return None
        # a block made by the line just run, when a call that makes one made it
        drawn = {int(b["address"], 16) for b in blocks if not b["freed"]}
        new = [(a, called) for a, called in self.book.born if a in drawn and heap.makes(called)]
        if len(new) == 1:
            return {"function": new[0][1], "value": hexa(new[0][0])}
        return None

    def output(self):
        """What was printed since the step before: what reached the output
        file, then what is still in stdout's buffer."""
        pending = b""
        try:
            fp = int(gdb.parse_and_eval("*(unsigned long *)&stdout"))
            base = int.from_bytes(values.read(fp + 32, 8) or bytes(8), "little")
            ptr = int.from_bytes(values.read(fp + 40, 8) or bytes(8), "little")
            if base and base < ptr <= base + (1 << 20):
                pending = values.read(base, ptr - base) or b""
        except (gdb.error, TypeError):
            pass
        try:
            with open(self.output_path, "rb") as f:
                f.seek(0, 2)
                written = f.tell()
                f.seek(min(self.printed, written))
                stream = f.read() + pending
        except OSError:
            written, stream = 0, pending
        new = stream[max(self.printed - written, 0):]
        self.printed = written + len(pending)
        out = {"output": new.decode("latin-1"), "pending": len(pending)}
        try:
            with open(self.stderr_path, "rb") as f:
                f.seek(self.told)
                told = f.read()
        except OSError:
            told = b""
        self.told += len(told)
        if told:
            out["stderr"] = told.decode("latin-1")
        return out


def nodes(blocks, variables):
    """Marks the blocks a list, a map or a set keeps its elements in, one
    node each: {of: the container's name, holds: the texts of what it
    holds}, drawn by what they hold, not by the library's bytes."""
    for var in variables:
        shows = var.get("shows") or {}
        if not shows.get("nodes"):
            continue
        for e in shows["elements"]:
            p = int(e["address"], 16) if e.get("address") else 0
            block = next((b for b in blocks if b["kind"] == "heap" and not b["freed"] and
                          int(b["address"], 16) <= p < int(b["address"], 16) + b["size"]), None)
            if block is not None:
                node = block.setdefault("node", {"of": var["name"], "holds": []})
                node["holds"].append(e["text"])
                block["bytes"] = None


def whole(code, m):
    """Whether a match of EXPR in code is the whole of an expression: not
    the right of a binary & (x & y, x && y), nor the start of a longer one
    (&p.b[1], &h->b, x + 1 * 2)."""
    before = code[:m.start()].rstrip()
    after = code[m.end():].lstrip()
    if m.group(0).startswith("&") and (before[-1:].isalnum() or before[-1:] in ")]_&") \
            and not re.search(r"\breturn$", before):
        return False
    if not m.group(0).startswith("&") and before[-1:] in ("*", "/", "%", "&"):
        return False  # *p - 4 is (*p) - 4; a * b + 2 is (a * b) + 2
    if re.search(r"\bsizeof\s*\(?$", before):
        return False  # sizeof name - 1 is (sizeof name) - 1, a number
    return not re.match(r"(->|\.|\[|\(|[*/%])", after)


def frame_vbits(pairs):
    """vbits(address, size) of the recorded bytes (the ranges cut gives) of
    a frame's variables, read in one range when they lie close together."""
    spans = [(int(v.address), v.type.sizeof) for _, v in pairs if v.address is not None]
    if not spans:
        return lambda a, n: None
    lo = min(a for a, _ in spans)
    hi = max(a + n for a, n in spans)
    read = heap.vbits
    if hi - lo <= 1 << 16:
        flags = heap.vbits(lo, hi - lo)

        def read(a, n):  # from the range read once; anywhere else, asked again
            return flags[a - lo:a - lo + n] if lo <= a and a + n <= hi else heap.vbits(a, n)
    return lambda a, n: [f for off, k in values.cut(n) for f in read(a + off, k)]
