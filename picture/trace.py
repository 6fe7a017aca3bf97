"""Trace one program's memory, line by line, from inside gdb.

Run inside gdb in batch mode; the caller passes everything through the
environment:

    PICTURE_PROGRAM=build/bin/copy PICTURE_INPUT=$'hello\\nworld\\n' \\
    PICTURE_ARGS='[]' PICTURE_CWD=/tmp/somewhere PICTURE_OUT=/tmp/t.json \\
        gdb -nx -q -batch -x picture/trace.py

PICTURE_ARGS is a JSON list of strings (default none), PICTURE_INPUT the
standard input (default empty), PICTURE_CWD the working directory the
program runs in (default the current one), PICTURE_LOOP how many times one
line of a function is recorded before the loop around it is cut (default 4:
a loop's head line is reached once more than its body, so a loop of up to 3
passes shows whole, a longer one its first 4). The program runs
to its end with `run < input > output`; this module writes the trace and
draws nothing.

The trace (JSON object) is the contract with the drawing:

  program   name of the program (file name of the binary)
  argv      list of the arguments given after the program name
  input     the standard input text
  error     present only when the program could not be traced: one sentence
  steps     one entry per source line of the program's own code reached, in
            order; each step:
    file      source file name (e.g. "copy.cpp")
    line      line number of the line ABOUT TO RUN
    text      that line's source text (no line feed)
    function  the running function
    frames    list from main down to the running function, each
              {function, line, vars: [var...]} (line: where that frame is)
    globals   the program's own file-scope variables: [var...]
    exprs     pointer-valued expressions written in the line that just ran
              or the line about to run (forms `name + N`, `name - N`,
              `&name`, `&name[N]`), shaped like vars: name = the text,
              address null, set true
    blocks    every block reachable from a var, global, expr or reached
              block (and every live heap block of the program or the prompt
              library, reached or not): [block...]
    returned  null, or {function, value} when a function of the program, or
              get_string / malloc / calloc / realloc called by the program,
              returned since the step before (value: as gdb prints it, or
              a hex address; null for void)
    output    the program's standard output so far: what reached the output
              file plus what is still pending in stdout's buffer
  skipped   loop passes left out: [{function, line, passes, before_step}]:
            `passes` visits of `line` (the loop's head) were not recorded;
            before_step is the index of the first step recorded after them
  end       {status: exit status, left: [...]}: every heap block still
            allocated when main returns, that the program allocated, or a
            prompt library line, or an open stream:
            {address, size, allocated_by, reachable, library, stream}
            reachable: a pointer to its start is in the program's writable
            data (globals) or in another reachable block (valgrind's "still
            reachable"; false = "definitely lost"); library: a line of the
            prompt library (it frees them at exit); stream: a FILE from
            fopen never closed (the C library closes and frees it at exit)

  var   {name, type, value (as gdb prints it), address (hex string),
         size (bytes), set (false while its bytes still hold the fill of
         fresh memory), points_to (hex address it holds; pointers only,
         absent when the pointer is not set)}
  block {address (hex), size (bytes), kind: "heap" | "read-only" | "stack"
         | "global", allocated_by (heap only: the program's function that
         called malloc itself, e.g. "main", else the library function the
         program called, e.g. "get_string", "fopen"), library (true for a
         prompt library line), reached (false when nothing points into it),
         name (stack and global blocks: the variable, else null), frame
         (stack blocks: index into frames, or null), elem: {type, size}
         (what it holds, as the pointer reaching it says; "char" if
         unknown), stream (true for a FILE), bytes: list of numbers, null
         for a byte not yet set; bytes itself is null for a FILE}

Not-set detection: fresh heap bytes are filled by glibc (MALLOC_PERTURB_)
and a few hundred bytes below the stack pointer are filled on entry to each
of the program's functions, both with FILL; a byte still holding FILL counts
as not set (a value really equal to FILL is shown as not set too).
"""

import json
import os
import re
import tempfile

import gdb

FILL = 0xA5  # not ASCII; MALLOC_PERTURB_ = FILL ^ 0xff gives this fill
STACK_FILL = 2048
ALLOCATORS = ("malloc", "calloc", "realloc")
MAX_BYTES = 4096


def hexa(n):
    return "0x%x" % n


def plain_name(name):
    """The public name of a C library function from gdb's frame name."""
    name = (name or "?").split("@")[0].split("(")[0]
    for prefix in ("__GI_", "__libc_", "_IO_new_", "__isoc99_", "__isoc23_", "_IO_", "__"):
        if name.startswith(prefix) and len(name) > len(prefix):
            name = name[len(prefix):]
    return name


class Tracer:
    def __init__(self):
        self.program = os.environ["PICTURE_PROGRAM"]
        self.argv = json.loads(os.environ.get("PICTURE_ARGS") or "[]")
        self.input = os.environ.get("PICTURE_INPUT", "")
        self.cwd = os.environ.get("PICTURE_CWD") or os.getcwd()
        self.out_path = os.environ["PICTURE_OUT"]
        self.loop = int(os.environ.get("PICTURE_LOOP", "4"))
        self.tmp = tempfile.mkdtemp(prefix="picture-")
        self.in_file = os.path.join(self.tmp, "input")
        self.out_file = os.path.join(self.tmp, "output")
        self.own_dir = None  # folder of main's source file
        self.own_funcs = {}  # name -> entry address
        self.started = False
        self.live = {}  # address -> allocation record
        self.order = 0
        self.pending_return = None
        self.steps = []
        self.skipped = []
        self.end = None
        self.status = None
        self.sources = {}
        self.elem_seen = {}  # heap address -> (type name, size)
        self.lines_in_frame = {}  # function -> lines recorded since entry
        self.call_names = {}  # return address -> name of the function called

    # ----- gdb plumbing -------------------------------------------------
    def own_code(self, frame):
        try:
            sal = frame.find_sal()
        except gdb.error:
            return False
        return (sal.symtab is not None and self.own_dir is not None
                and os.path.dirname(sal.symtab.fullname()) == self.own_dir)

    def caller_of(self, frame):
        """(program frame, name of the function the program called)."""
        inner = frame
        f = frame.older()
        while f is not None:
            if self.own_code(f):
                return f, inner
            inner = f
            f = f.older()
        return None, None

    def called_from(self, frame):
        """Name of the function a `call rel32` right before frame's pc calls."""
        pc = int(frame.pc())
        if pc not in self.call_names:
            name = None
            code = self.memory(pc - 5, 5)
            if code and code[0] == 0xE8:
                target = (pc + int.from_bytes(code[1:], "little", signed=True)) & 0xFFFFFFFFFFFFFFFF
                try:
                    found = gdb.execute("info symbol %#x" % target, to_string=True)
                    if " in section " in found:
                        name = plain_name(found.split(" in section ")[0].split(" + ")[0])
                except gdb.error:
                    pass
            self.call_names[pc] = name
        return self.call_names[pc]

    def source_line(self, path, line):
        if path not in self.sources:
            try:
                with open(path, encoding="utf-8", errors="replace") as f:
                    self.sources[path] = f.read().split("\n")
            except OSError:
                self.sources[path] = []
        lines = self.sources[path]
        return lines[line - 1] if 0 < line <= len(lines) else ""

    def memory(self, address, size):
        try:
            return bytes(gdb.selected_inferior().read_memory(address, size))
        except gdb.MemoryError:
            return None

    def maps(self):
        pid = gdb.selected_inferior().pid
        regions = []
        with open("/proc/%d/maps" % pid) as f:
            for row in f:
                parts = row.split()
                lo, hi = (int(x, 16) for x in parts[0].split("-"))
                path = parts[5] if len(parts) > 5 else ""
                regions.append((lo, hi, parts[1], path))
        return regions

    # ----- values ---------------------------------------------------------
    def describe(self, name, value, address=None):
        t = value.type
        size = t.sizeof
        if address is None and value.address is not None:
            address = int(value.address)
        raw = self.memory(address, size) if address is not None else None
        is_set = raw is None or not all(b == FILL for b in raw) or size == 0
        try:
            shown = value.format_string()
        except gdb.error:
            shown = "?"
        var = {"name": name, "type": str(t), "value": shown,
               "address": hexa(address) if address is not None else None,
               "size": size, "set": is_set}
        if t.strip_typedefs().code == gdb.TYPE_CODE_PTR and is_set:
            var["points_to"] = hexa(int(value) & 0xFFFFFFFFFFFFFFFF)
        return var

    def frame_vars(self, frame):
        block = frame.block()
        chain = []
        while block is not None:
            chain.append(block)
            if block.function is not None:
                break
            block = block.superblock
        out, seen = [], set()
        for block in reversed(chain):  # outer scopes first
            for sym in block:
                if not (sym.is_variable or sym.is_argument) or sym.name in seen:
                    continue
                seen.add(sym.name)
                try:
                    out.append((sym, sym.value(frame)))
                except gdb.error:
                    continue
        return out

    def globals(self, frame):
        out, seen = [], set()
        block = frame.block()
        for b in (block.global_block, block.static_block):
            for sym in b:
                if not sym.is_variable or sym.name in seen or sym.symtab is None:
                    continue
                if os.path.dirname(sym.symtab.fullname()) != self.own_dir:
                    continue
                seen.add(sym.name)
                try:
                    out.append(self.describe(sym.name, sym.value()))
                except gdb.error:
                    pass
        return out

    # ----- breakpoints ----------------------------------------------------
    def on_entry(self, name):
        """At the very first instruction of a function of the program."""
        frame = gdb.newest_frame()
        rsp = int(frame.read_register("rsp"))
        gdb.selected_inferior().write_memory(rsp - STACK_FILL, bytes([FILL]) * STACK_FILL)
        self.lines_in_frame[name] = []
        if name == "main":
            self.started = True
        else:
            Finish(self, frame, name, "own")

    def on_alloc(self, kind):
        if not self.started:
            return
        frame = gdb.newest_frame()
        regs = [int(frame.read_register(r)) for r in ("rdi", "rsi")]
        if kind == "calloc":
            size, old = regs[0] * regs[1], None
        elif kind == "realloc":
            size, old = regs[1], regs[0]
        else:
            size, old = regs[0], None
        caller, callee = self.caller_of(frame)
        if caller is None:
            by, direct = "?", False
        elif callee == frame:
            by, direct = caller.name(), True
        else:
            by, direct = self.called_from(caller) or plain_name(callee.name()), False
        Finish(self, frame, kind, "alloc", size=size, old=old, by=by, direct=direct)

    def allocated(self, kind, address, size, old, by, direct):
        if old:
            self.live.pop(old, None)
        if address:
            self.order += 1
            self.live[address] = {"address": address, "size": size, "by": by,
                                  "own": direct, "library": False, "order": self.order}
        if direct:
            self.pending_return = {"function": kind, "value": hexa(address)}

    def on_free(self):
        if not self.started:
            return
        address = int(gdb.newest_frame().read_register("rdi"))
        self.live.pop(address, None)

    def on_get_string(self):
        if not self.started:
            return
        frame = gdb.newest_frame()
        caller, _ = self.caller_of(frame)
        if caller is not None and caller == frame.older():
            Finish(self, frame, "get_string", "line")

    def returned(self, name, why, value, extra):
        if why == "alloc":
            self.allocated(name, value, **extra)
        elif why == "line":
            rec = self.live.get(value)
            if rec is not None:
                rec["library"] = True
                rec["by"] = "get_string"
            self.pending_return = {"function": name,
                                   "value": hexa(value) if value else "0x0"}
        else:
            self.pending_return = {"function": name, "value": extra.get("shown")}

    def on_exit(self):
        frame = gdb.newest_frame()
        self.status = int(frame.read_register("rdi")) & 0xFF
        self.end = {"status": self.status, "left": self.leftovers()}

    # ----- the end --------------------------------------------------------
    def leftovers(self):
        exe = os.path.realpath(self.program)
        roots = []
        regions = self.maps()
        for i, (lo, hi, perms, path) in enumerate(regions):
            if "w" in perms and path == exe:
                roots.append((lo, hi))
                # .bss continues in the anonymous mapping right after
                if i + 1 < len(regions) and regions[i + 1][3] == "" and regions[i + 1][0] == hi:
                    roots.append(regions[i + 1][:2])
        starts = self.live
        reach = set()
        todo = [self.memory(lo, hi - lo) or b"" for lo, hi in roots]
        while todo:
            data = todo.pop()
            for k in range(0, len(data) - 7, 8):
                p = int.from_bytes(data[k:k + 8], "little")
                if p in starts and p not in reach:
                    reach.add(p)
                    todo.append(self.memory(p, starts[p]["size"]) or b"")
        left = []
        for rec in sorted(self.live.values(), key=lambda r: r["order"]):
            stream = rec["by"] == "fopen"
            if not (rec["own"] or rec["library"] or stream):
                continue
            left.append({"address": hexa(rec["address"]), "size": rec["size"],
                         "allocated_by": rec["by"],
                         "reachable": rec["address"] in reach or stream,
                         "library": rec["library"], "stream": stream})
        return left

    # ----- one step ---------------------------------------------------------
    def exprs(self, frames, just_ran):
        out, seen = [], set()
        pattern = re.compile(r"&\s*[A-Za-z_]\w*\s*\[\s*\d+\s*\]|&\s*[A-Za-z_]\w*|"
                             r"(?<![\w)\].>])[A-Za-z_]\w*\s*[-+]\s*\d+\b")
        for frame, text in ((frames[-1], self.steps_text_now), just_ran):
            if frame is None or not text:
                continue
            code = text.split("//")[0]
            for m in pattern.finditer(code):
                expr = re.sub(r"\s+", " ", m.group(0)).replace("& ", "&")
                if expr in seen:
                    continue
                try:
                    frame.select()
                    value = gdb.parse_and_eval(expr)
                    if value.type.strip_typedefs().code != gdb.TYPE_CODE_PTR:
                        continue
                    var = self.describe(expr, value, address=None)
                except gdb.error:
                    continue
                var["address"] = None
                var["set"] = True
                var["points_to"] = hexa(int(value) & 0xFFFFFFFFFFFFFFFF)
                var["value"] = value.format_string()
                seen.add(expr)
                var["_target"] = value.type.strip_typedefs().target()
                out.append(var)
        gdb.newest_frame().select()
        return out

    def find_block(self, p, target, regions, frame_vars, global_vars):
        """(key, block) for the block holding address p, or (None, None)."""
        for rec in self.live.values():
            if rec["address"] <= p < rec["address"] + max(rec["size"], 1):
                return rec["address"], None
        region = next((r for r in regions if r[0] <= p < r[1]), None)
        if region is None:
            return None, None
        lo, hi, perms, path = region
        for fi, var_list in frame_vars:
            for v in var_list:
                a = int(v["address"], 16) if v["address"] else None
                if a is not None and a <= p < a + max(v["size"], 1):
                    return a, {"kind": "stack", "address": a, "size": v["size"],
                               "name": v["name"], "frame": fi}
        for v in global_vars:
            a = int(v["address"], 16)
            if a <= p < a + max(v["size"], 1):
                return a, {"kind": "global", "address": a, "size": v["size"],
                           "name": v["name"], "frame": None}
        kind = ("stack" if path == "[stack]" else
                "read-only" if "w" not in perms else "global")
        tsize = target.sizeof if target is not None else 1
        if target is not None and target.strip_typedefs().code == gdb.TYPE_CODE_PTR:
            # an array of pointers ending with a null one (argv)
            n = 0
            while n < 64:
                word = self.memory(p + 8 * n, 8)
                n += 1
                if word is None or word == bytes(8):
                    break
            return p, {"kind": kind, "address": p, "size": 8 * n, "name": None, "frame": None}
        if tsize == 1:
            # characters: back to the string's first one, on to its zero byte
            start = p
            while start > lo and p - start < 256:
                prev = self.memory(start - 1, 1)
                if prev is None or not (32 <= prev[0] < 127):
                    break
                start -= 1
            end = p
            while end < hi and end - p < MAX_BYTES:
                c = self.memory(end, 1)
                end += 1
                if c is None or c == b"\0":
                    break
            return start, {"kind": kind, "address": start, "size": end - start,
                           "name": None, "frame": None}
        return p, {"kind": kind, "address": p, "size": tsize, "name": None, "frame": None}

    def blocks(self, frames_raw, frames_out, globals_out, exprs):
        regions = self.maps()
        frame_vars = [(i, f["vars"]) for i, f in enumerate(frames_out)]
        found = {}
        todo = []  # (pointer value, target type)
        for (frame, pairs), fout in zip(frames_raw, frames_out):
            for (sym, value), var in zip(pairs, fout["vars"]):
                if "points_to" in var:
                    todo.append((int(var["points_to"], 16), value.type.strip_typedefs().target()))
        for var in globals_out:
            if "points_to" in var:
                try:
                    t = gdb.parse_and_eval(var["name"]).type.strip_typedefs().target()
                except gdb.error:
                    t = None
                todo.append((int(var["points_to"], 16), t))
        for e in exprs:
            todo.append((int(e["points_to"], 16), e.pop("_target")))
        while todo:
            p, target = todo.pop(0)
            if p == 0:
                continue
            key, info = self.find_block(p, target, regions, frame_vars, globals_out)
            if key is None or key in found:
                continue
            if info is None:  # heap
                rec = self.live[key]
                if target is not None and key not in self.elem_seen:
                    self.elem_seen[key] = (str(target.unqualified()), max(target.sizeof, 1))
                info = {"kind": "heap", "address": key, "size": rec["size"],
                        "name": None, "frame": None}
            found[key] = self.make_block(info, target)
            found[key]["reached"] = True
            if target is not None and target.strip_typedefs().code == gdb.TYPE_CODE_PTR \
                    and found[key]["bytes"] is not None:
                for k in range(0, info["size"] - 7, 8):
                    word = self.memory(key + k, 8)
                    if word and word != bytes([FILL]) * 8:
                        todo.append((int.from_bytes(word, "little"), target.strip_typedefs().target()))
        for rec in sorted(self.live.values(), key=lambda r: r["order"]):
            if rec["address"] in found or not (rec["own"] or rec["library"] or rec["by"] == "fopen"):
                continue
            info = {"kind": "heap", "address": rec["address"], "size": rec["size"],
                    "name": None, "frame": None}
            found[rec["address"]] = self.make_block(info, None)
            found[rec["address"]]["reached"] = False
        heap = sorted((b for b in found.values() if b["kind"] == "heap"),
                      key=lambda b: self.live[int(b["address"], 16)]["order"])
        rest = [b for b in found.values() if b["kind"] != "heap"]
        return rest + heap

    def make_block(self, info, target):
        a, size, kind = info["address"], info["size"], info["kind"]
        block = {"address": hexa(a), "size": size, "kind": kind, "allocated_by": None,
                 "library": False, "name": info["name"], "frame": info["frame"],
                 "stream": False}
        if kind == "heap":
            rec = self.live[a]
            block["allocated_by"] = rec["by"]
            block["library"] = rec["library"]
            block["stream"] = rec["by"] == "fopen"
            etype, esize = self.elem_seen.get(a, ("char", 1))
        elif target is not None:
            etype, esize = str(target.unqualified()), max(target.sizeof, 1)
        else:
            etype, esize = "char", 1
        if block["stream"] or etype in ("FILE", "_IO_FILE"):
            block["stream"] = True
            block["elem"] = {"type": "FILE", "size": size}
            block["bytes"] = None
            return block
        block["elem"] = {"type": etype, "size": esize}
        raw = self.memory(a, min(size, MAX_BYTES)) or b""
        fresh = kind in ("heap", "stack")
        block["bytes"] = [None if (fresh and b == FILL) else b for b in raw]
        return block

    def output(self):
        try:
            with open(self.out_file, "rb") as f:
                done = f.read()
        except OSError:
            done = b""
        pending = b""
        try:
            fp = int(gdb.parse_and_eval("*(unsigned long *)&stdout"))
            base = int.from_bytes(self.memory(fp + 32, 8), "little")
            ptr = int.from_bytes(self.memory(fp + 40, 8), "little")
            if base and base < ptr <= base + (1 << 20):
                pending = self.memory(base, ptr - base) or b""
        except (gdb.error, TypeError):
            pass
        return (done + pending).decode("utf-8", errors="replace")

    def record(self, frame, just_ran):
        stack = []
        f = frame
        while f is not None and self.own_code(f):
            stack.append(f)
            f = f.older()
        stack.reverse()
        frames_raw, frames_out = [], []
        for f in stack:
            pairs = self.frame_vars(f)
            frames_raw.append((f, pairs))
            frames_out.append({"function": f.name(), "line": f.find_sal().line,
                               "vars": [self.describe(s.name, v) for s, v in pairs]})
        globals_out = self.globals(frame)
        sal = frame.find_sal()
        text = self.source_line(sal.symtab.fullname(), sal.line)
        self.steps_text_now = text
        prev = None
        if just_ran is not None:
            owner = next((f for f in stack if f.name() == just_ran["function"]), None)
            prev = (owner, just_ran["text"])
        exprs = self.exprs(stack, prev or (None, None))
        step = {"file": os.path.basename(sal.symtab.filename), "line": sal.line,
                "text": text, "function": frame.name(), "frames": frames_out,
                "globals": globals_out, "exprs": exprs,
                "blocks": self.blocks(frames_raw, frames_out, globals_out, exprs),
                "returned": self.pending_return, "output": self.output()}
        self.pending_return = None
        self.steps.append(step)

    # ----- loops --------------------------------------------------------------
    def skip_loop(self, frame, line):
        name = frame.name()
        seen = self.lines_in_frame[name]
        body = set(seen[seen.index(line):]) | {line}
        block = frame.block()
        while block.function is None:
            block = block.superblock
        table = frame.find_sal().symtab.linetable()
        stops = []
        for entry in table:
            if block.start <= entry.pc < block.end and entry.line not in body and entry.line > 0:
                stops.append(gdb.Breakpoint("*%#x" % entry.pc, internal=True))
        counter = gdb.Breakpoint("*%#x" % int(frame.pc()), internal=True)
        counter.ignore_count = 1 << 30  # counts its hits without stopping
        try:
            gdb.execute("continue", to_string=True)
        finally:
            for b in stops:
                b.delete()
            passes = counter.hit_count + 1
            counter.delete()
        self.skipped.append({"function": name, "line": line, "passes": passes,
                             "before_step": len(self.steps)})

    # ----- the run --------------------------------------------------------------
    def run(self):
        for cmd in ("set pagination off", "set confirm off", "set width 0",
                    "set print pretty off", "set startup-with-shell on"):
            gdb.execute(cmd)
        gdb.execute("file %s" % gdb_quote(self.program), to_string=True)
        main = gdb.lookup_global_symbol("main")
        if main is None:
            raise gdb.GdbError("no debug information for main in %s" % self.program)
        self.own_dir = os.path.dirname(main.symtab.fullname())
        for sym in main.symtab.global_block():
            if sym.is_function and os.path.dirname(sym.symtab.fullname()) == self.own_dir:
                self.own_funcs[sym.name.split("(")[0]] = sym
        for sym in main.symtab.static_block():
            if sym.is_function and os.path.dirname(sym.symtab.fullname()) == self.own_dir:
                self.own_funcs[sym.name.split("(")[0]] = sym
        with open(self.in_file, "w", encoding="utf-8", errors="surrogateescape") as f:
            f.write(self.input)
        for var in [k for k in os.environ if k.startswith("PICTURE_")] + ["LINES", "COLUMNS"]:
            gdb.execute("unset environment %s" % var)
        gdb.execute("set environment MALLOC_PERTURB_=%d" % (FILL ^ 0xFF))
        gdb.execute("set environment GLIBC_TUNABLES=glibc.malloc.tcache_count=0")
        gdb.execute("set cwd %s" % gdb_quote(self.cwd))
        args = " ".join(shell_quote(a) for a in self.argv)
        # starti: the program is loaded (addresses final) but not yet started
        gdb.execute("starti %s < %s > %s" % (args, shell_quote(self.in_file), shell_quote(self.out_file)),
                    to_string=True)
        for name, sym in self.own_funcs.items():
            Entry(self, name, "*%#x" % int(sym.value().address))
        gdb.execute("continue", to_string=True)  # to the first instruction of main
        Hook("malloc", lambda: self.on_alloc("malloc"))
        Hook("calloc", lambda: self.on_alloc("calloc"))
        Hook("realloc", lambda: self.on_alloc("realloc"))
        Hook("free", self.on_free)
        Hook("exit", self.on_exit)
        Hook("get_string", self.on_get_string)  # pending if never loaded
        visits = {}
        last = None
        while self.alive():
            frame = gdb.newest_frame()
            if not self.own_code(frame):
                gdb.execute("continue", to_string=True)
                continue
            fn = frame.function()
            sal = frame.find_sal()
            if fn is not None and int(frame.pc()) == int(fn.value().address):
                gdb.execute("next", to_string=True)  # past the prologue
                continue
            if sal.pc != int(frame.pc()):
                gdb.execute("next", to_string=True)
                continue
            name = frame.name()
            key = (name, sal.line)
            visits[key] = visits.get(key, 0) + 1
            if visits[key] > self.loop and self.lines_in_frame.get(name) \
                    and sal.line in self.lines_in_frame[name]:
                self.skip_loop(frame, sal.line)
                continue
            self.lines_in_frame.setdefault(name, []).append(sal.line)
            self.record(frame, last)
            last = {"function": name, "text": self.steps[-1]["text"]}
            gdb.execute("next", to_string=True)

    def alive(self):
        inf = gdb.selected_inferior()
        return inf is not None and inf.pid != 0 and inf.threads()

    def result(self):
        end = self.end or {"status": self.status, "left": []}
        if self.status is not None:
            end["status"] = self.status
        return {"program": os.path.basename(self.program), "argv": self.argv,
                "input": self.input, "steps": self.steps, "skipped": self.skipped,
                "end": end}


def shell_quote(s):
    return "'" + s.replace("'", "'\\''") + "'"


def gdb_quote(s):
    return re.sub(r"([\\\s'\"])", r"\\\1", s)


class Entry(gdb.Breakpoint):
    def __init__(self, tracer, name, location):
        super().__init__(location, internal=True)
        self.tracer, self.name_ = tracer, name

    def stop(self):
        self.tracer.on_entry(self.name_)
        return True


class Hook(gdb.Breakpoint):
    def __init__(self, location, action):
        super().__init__(location, internal=True)
        self.action = action

    def stop(self):
        self.action()
        return False


class Finish(gdb.FinishBreakpoint):
    def __init__(self, tracer, frame, name, why, **extra):
        super().__init__(frame, internal=True)
        self.tracer, self.name_, self.why, self.extra = tracer, name, why, extra

    def stop(self):
        rax = int(gdb.newest_frame().read_register("rax")) & 0xFFFFFFFFFFFFFFFF
        if self.why == "own":
            value = self.return_value
            self.extra = {"shown": value.format_string() if value is not None else None}
        self.tracer.returned(self.name_, self.why, rax, self.extra)
        return False

    def out_of_scope(self):
        pass


def main():
    tracer = Tracer()
    trace = None

    def on_exited(event):
        if hasattr(event, "exit_code"):
            tracer.status = event.exit_code

    gdb.events.exited.connect(on_exited)
    try:
        tracer.run()
        trace = tracer.result()
    except gdb.error as e:
        trace = {"program": os.path.basename(tracer.program), "argv": tracer.argv,
                 "input": tracer.input, "error": " ".join(str(e).split()),
                 "steps": tracer.steps, "skipped": tracer.skipped, "end": None}
    with open(tracer.out_path, "w", encoding="utf-8") as f:
        json.dump(trace, f)
    for name in (tracer.in_file, tracer.out_file):
        try:
            os.unlink(name)
        except OSError:
            pass
    try:
        os.rmdir(tracer.tmp)
    except OSError:
        pass


main()
