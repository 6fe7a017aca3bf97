"""Trace one program's memory, line by line, from inside gdb, the program
running under valgrind's memcheck, so that what is set, allocated, freed
or wrong is what memcheck itself knows.

show starts the program under valgrind's gdbserver, waiting before its
first instruction, then gdb in batch mode with this file. Everything comes
through the environment:

    PICTURE_PROGRAM  the program file (symbols and line tables)
    PICTURE_VGDB     how gdb reaches valgrind: "vgdb --pid=N --vgdb-prefix=P"
    PICTURE_PID      valgrind's process id (its mappings are read from /proc)
    PICTURE_OUTPUT   the file the program's standard output goes to
    PICTURE_INPUT    the file its standard input comes from
    PICTURE_XML      the file memcheck writes its errors to (--xml-file)
    PICTURE_ARGS     JSON list of the program's arguments
    PICTURE_OUT      where the trace is written
    PICTURE_LOOP     times one line of a frame is recorded before the loop
                     around it is cut (default 4: a loop's head is reached
                     once more than its body, so up to 3 passes show whole)
    PICTURE_STEPS    steps recorded at most (default 2000)
    PICTURE_SECONDS  seconds of tracing at most (default 20)

Nothing here draws. The trace (one JSON object) is the contract with the
drawings. Bytes of input and output are strings of code points 0 to 255,
one per byte; addresses are hex strings.

  program   the program's file name
  argv      the arguments after the program's name
  input     its standard input
  sources   {file name: [its lines]} for each of the program's own sources
  types     {type name: layout} for every type a var or block names:
            {size, kind: "int" | "uint" | "char" | "uchar" | "bool" | "float"
            | "enum" | "pointer" | "array" | "struct" | "union" | "func" |
            "other", target (pointer, array: the type pointed to or held),
            count (array), fields (struct, union: [{name, offset, type,
            bits: [first bit, bit count] for a bit-field}]), file (struct,
            union: the base name of the source that declares it, or null),
            values (enum: {value: name})}
  steps     one per line of the program's own code reached, in order:
    file, line, text   the line ABOUT TO RUN and its source text
    function  the running function
    frames    from main down to the running one: {function, line, vars}
              (line: where that frame is); at most 48, main and the
              newest calls
    calls_left_out  present when a recursion is deeper: the calls between
              main and the newest left out
    globals   the program's own file-scope variables: [var]
    exprs     pointers written in the line that just ran or the one about
              to run (`&name`, `&name[N]`, `name + N`, `name - N`), shaped
              like vars with address null and frame: the index of the frame
              whose line wrote them
    blocks    [block]: every block a var, global or expr reaches, directly
              or through pointers inside reached blocks, every array
              variable, and every variable of a struct or union type the
              program declares; the program's heap
              blocks no name reaches (at most 8); blocks freed by the line
              just run; freed blocks a name still points into
    hidden    {blocks, bytes}: more of the program's heap blocks that no
              name reaches, left out of blocks
    returned  null, or {function, value}: a function of the program that
              returned since the step before (value as gdb prints it, null
              for void), or an allocation the line just run was given
              ({function: "malloc", "get_string", ..., value: hex address})
    output    what the program printed since the step before
    pending   how many bytes at the end of the output so far are still in
              stdout's buffer, not yet written
    errors    memcheck's errors in the line just run (or in loop passes
              left out before this step), new ones in memcheck's words:
              [{kind (memcheck's: "InvalidWrite", "InvalidRead",
              "UninitCondition", "UninitValue", "InvalidFree", ...), what
              (its sentence), aux (its further sentences), file, line,
              function (where in the program's code it happened), block
              (hex address of the block it concerns, or null), offset (of
              the address from that block's start)}]
    repeats   how many more errors memcheck counted in that time, repeats
              of ones reported before (memcheck tells each place once)
    signal    only on a last step where a signal ended the program: {number,
              name, address (the faulting one, for SIGSEGV, SIGBUS, SIGILL,
              SIGFPE), access: "write" | "read" | null}; line is the line
              it was running
  skipped   loop passes left out: [{function, line, passes, before_step}]:
            `passes` visits of `line` (the loop's head) were not recorded;
            before_step is the index of the first step recorded after them
  end       null when the trace was cut short; else {status (exit status,
            null when a signal ended it), signal (as in a step, or null),
            left: memcheck's leak check at exit: {records: [{kind
            ("definitely lost", "indirectly lost", "possibly lost", "still
            reachable"), bytes, blocks, allocated_by, where ("file:line" in
            the program, or null)}], summary: {kind: [bytes, blocks]},
            words: [its sentence when nothing is left]}, output: what it
            printed after the last step, latin-1 (what stdout's buffer held
            at exit, or a line that ran no step of its own)}
  limit     null, or what cut the trace short: {kind: "time" | "steps",
            seconds or steps (the limit), function, line (where the program
            was)}
  error     present only when the program could not be traced: one sentence

  var   {name, type, value (as gdb prints it; null for an array, struct or
         union), address, size, set (false while memcheck knows any of its
         bytes unset), points_to (pointers that are set: the address held),
         bytes (arrays, structs, unions: as in a block), omitted}
  block {address, size, kind: "heap" | "read-only" | "stack" | "global",
         name, frame (stack and global blocks of a variable: its name, and
         for the stack the index of its frame; an array variable is always
         such a block, of its elements' type, and a struct or union
         variable one of its own type), allocated_by (heap: the
         program's function that called malloc itself, or the library
         function it called, "get_string", "fopen"), library (a line of the
         prompt library), stream (a FILE), freed (heap: freed; no bytes),
         reached (false: no name reaches it), type (what it holds, as the
         first pointer to reach it says; "char" when unknown), bytes (the
         first 4096, then the last 16 when longer, null for each byte
         memcheck knows unset; null for a freed block or a FILE), omitted
         (bytes left out between the two, when any)}
"""

import json
import os
import re
import signal
import threading
import time

import gdb

import heap
import values
from values import hexa

SIGNAL_ADDRESS = ("SIGSEGV", "SIGBUS")
MAX_FRAMES = 48  # frames of a step recorded: main and the newest calls
EXPR = re.compile(r"&\s*[A-Za-z_]\w*\s*\[\s*\d+\s*\]|&\s*[A-Za-z_]\w*|"
                  r"(?<![\w)\].>])[A-Za-z_]\w*\s*[-+]\s*\d+\b")


class Limit(Exception):
    pass


class Tracer:
    def __init__(self):
        env = os.environ
        self.program = env["PICTURE_PROGRAM"]
        self.argv = json.loads(env.get("PICTURE_ARGS") or "[]")
        self.pid = int(env["PICTURE_PID"])
        self.out_path = env["PICTURE_OUT"]
        self.output_path = env["PICTURE_OUTPUT"]
        self.loop = int(env.get("PICTURE_LOOP") or 4)
        self.max_steps = int(env.get("PICTURE_STEPS") or 2000)
        self.seconds = float(env.get("PICTURE_SECONDS") or 20)
        with open(env["PICTURE_INPUT"], "rb") as f:
            self.input = f.read().decode("latin-1")
        self.types = values.Types()
        self.steps, self.skipped = [], []
        self.end = self.limit = None
        self.own_dir = None
        self.own_files = set()
        self.sources = {}
        self.entries = {}  # pc -> line of each line-table entry of the program
        self.line_stops = []  # a breakpoint at each of them
        self.at = {}  # frame base -> (line, pc) where it last stopped
        self.visits = {}  # (frame base, line) -> times recorded
        self.lines = {}  # frame base -> lines recorded, in order
        self.outs = {}  # frame base -> where that call returns
        self.returning = None  # {function, value} of a function that returned
        self.made_calls = {}  # (function, line) -> whether its code calls anything
        self.last_calls = True  # whether the line just run called anything
        self.global_syms = None
        self.printed = 0  # bytes of output already in a step
        self.stop_signal = None
        self.exit_code = None
        self.fatal = None  # the signal that is ending the program
        self.gone = False  # the program has ended
        self.deadline = None

    # ----- gdb plumbing -------------------------------------------------
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

    def base(self, frame):
        """What tells one call of a function from another: its frame pointer."""
        try:
            return int(frame.read_register("rbp"))
        except gdb.error:
            return 0

    def resume(self):
        self.stop_signal = None
        gdb.execute("continue", to_string=True)
        if time.monotonic() > self.deadline:
            raise Limit("time")

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

    def calls(self, frame, line):
        """Whether the machine code of a line calls anything."""
        key = (frame.name(), line)
        if key not in self.made_calls:
            pcs = sorted(self.entries)
            found = False
            for pc in pcs:
                if self.entries[pc] == line:
                    stop = next((p for p in pcs if p > pc), pc + 64)
                    for insn in frame.architecture().disassemble(pc, stop - 1):
                        found |= insn["asm"].startswith("call")
            self.made_calls[key] = found
        return self.made_calls[key]

    # ----- one step -------------------------------------------------------
    def record(self, frame, signal_info=None):
        stack = self.own_stack(frame)
        # a deep recursion: main and the newest calls
        left_out = max(len(stack) - MAX_FRAMES, 0)
        stack = stack[:1] + stack[1 + left_out:]
        sp = int(gdb.newest_frame().read_register("rsp"))
        regions = heap.regions(self.pid, sp)
        frames, named, roots = [], [], []
        # globals first: a block two pointers reach is drawn as the type of
        # the one declared first
        globals_ = self.globals(frame, roots, named)
        for index, f in enumerate(stack):
            pairs = values.frame_symbols(f)
            known = frame_vbits(pairs)
            vars_ = []
            for sym, value in pairs:
                address = int(value.address) if value.address is not None else None
                var = values.describe(self.types, sym.name, value, address, known)
                vars_.append(var)
                self.root(var, roots, named, index)
            frames.append({"function": f.name(), "line": f.find_sal().line, "vars": vars_})
        exprs = self.exprs(stack, roots)
        prev = self.steps[-1] if self.steps else None
        made = self.last_calls or signal_info is not None or prev is None \
            or prev["function"] != frame.name()
        self.book.refresh(made, len(self.steps))
        blocks, hidden = self.book.blocks(self.types, roots, named, regions, len(self.steps))
        errors, repeats = self.book.errors()
        sal = frame.find_sal()
        step = {"file": os.path.basename(sal.symtab.filename), "line": sal.line,
                "text": self.text_of(frame), "function": frame.name(), "frames": frames,
                "globals": globals_, "exprs": exprs, "blocks": blocks, "hidden": hidden,
                "returned": self.returned(blocks), "errors": errors, "repeats": repeats}
        step.update(self.output())
        if left_out:
            step["calls_left_out"] = left_out
        if signal_info is not None:
            step["signal"] = signal_info
        self.steps.append(step)

    def root(self, var, roots, named, frame):
        """A variable as a place pointers may point into, and the pointers it holds."""
        if var["address"] is not None:
            named.append((int(var["address"], 16), var["size"], var["name"], frame, var["type"]))
        kind = self.types.table[var["type"]]["kind"]
        if "points_to" in var:
            roots.append((int(var["points_to"], 16), self.types.table[var["type"]]["target"]))
        elif kind == "array" and var["address"] is not None:  # drawn cell by cell
            roots.append((int(var["address"], 16), self.types.table[var["type"]]["target"]))
        elif kind in ("struct", "union") and var["address"] is not None and \
                self.types.table[var["type"]]["file"] in self.own_files:
            # the program's own structs member by member; a library's (struct stat) stays a value
            roots.append((int(var["address"], 16), var["type"]))
        if var.get("bytes") is not None:
            for off, target in self.types.pointers(var["type"]):
                raw = var["bytes"][off:off + 8]
                if len(raw) == 8 and None not in raw:
                    roots.append((int.from_bytes(bytes(raw), "little"), target))

    def globals(self, frame, roots, named):
        if self.global_syms is None:
            self.global_syms = []
            block = frame.block()
            for b in (block.global_block, block.static_block):
                for sym in b:
                    if sym.is_variable and sym.symtab is not None and \
                            os.path.dirname(sym.symtab.fullname()) == self.own_dir:
                        self.global_syms.append(sym)
        pairs = []
        for sym in self.global_syms:
            try:
                pairs.append((sym, sym.value()))
            except gdb.error:
                continue
        known = frame_vbits(pairs)
        out = []
        for sym, value in pairs:
            var = values.describe(self.types, sym.name, value, int(value.address), known)
            out.append(var)
            self.root(var, roots, named, None)
        return out

    def exprs(self, stack, roots):
        """Pointers written in the line just run (in the frame that ran it,
        while it is still there) and in the line about to run."""
        out, seen = [], set()
        owners = [(len(stack) - 1, self.text_of(stack[-1]))]
        if self.steps:
            prev = self.steps[-1]
            depth = len(prev["frames"]) - 1
            if depth < len(stack) and stack[depth].name() == prev["function"]:
                owners.append((depth, prev["text"]))
        for index, text in owners:
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
                            "size": t.sizeof, "set": True, "points_to": hexa(p), "frame": index})
                roots.append((p, self.types.table[tname]["target"]))
        gdb.newest_frame().select()
        return out

    def returned(self, blocks):
        if self.returning is not None:
            value, self.returning = self.returning, None
            return value
        drawn = {int(b["address"], 16) for b in blocks if not b["freed"]}
        new = [(a, called) for a, called in self.book.born if a in drawn]
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
        return {"output": new.decode("latin-1"), "pending": len(pending)}

    # ----- loops ------------------------------------------------------------
    def skip_loop(self, frame, line):
        """Runs the rest of a loop unrecorded: to the first line of the
        function that no pass reached, or out of the function. Passes are
        counted at the loop's head."""
        base = self.base(frame)
        seen = self.lines[base]
        body = set(seen[seen.index(line):])  # every line a pass has reached so far
        head = int(frame.pc())
        fn = function_block(frame)
        pcs = {pc for pc, ln in self.entries.items() if fn.start <= pc < fn.end and ln not in body}
        stops = [Same(self, "*%#x" % pc, base)
                 for pc in sorted(side_by_side(pcs | {head}) - {head})]
        counter = Counter(self, "*%#x" % head, base)
        for b in self.line_stops:
            b.enabled = False
        try:
            self.resume()
        finally:
            for b in stops + [counter]:
                b.delete()
            for b in self.line_stops:
                b.enabled = True
            self.skipped.append({"function": frame.name() if frame.is_valid() else "?",
                                 "line": line, "passes": counter.passes,
                                 "before_step": len(self.steps)})
            self.at.pop(base, None)
            self.last_calls = True  # the passes left out called what they called

    # ----- the run ------------------------------------------------------------
    def run(self):
        # breakpoints stay in while the program stops: gdb would otherwise take
        # every one of them out and put it back at each stop, a packet each
        for cmd in ("set pagination off", "set confirm off", "set width 0",
                    "set print pretty off", "set breakpoint always-inserted on"):
            gdb.execute(cmd)
        gdb.execute("file %s" % gdb_quote(self.program), to_string=True)
        main = gdb.lookup_global_symbol("main")
        if main is None or main.symtab is None:
            raise gdb.GdbError("no debug information for main in %s" % self.program)
        self.own_dir = os.path.dirname(main.symtab.fullname())
        # connected first: where the program was loaded is known from then on
        gdb.execute("target remote | %s" % os.environ["PICTURE_VGDB"], to_string=True)
        functions = []
        for block in (main.symtab.global_block(), main.symtab.static_block()):
            for sym in block:
                # not the compiler's own functions that set up C++ globals
                if sym.is_function and sym.symtab is not None and \
                        os.path.dirname(sym.symtab.fullname()) == self.own_dir and \
                        not sym.name.startswith(("_GLOBAL__sub_I", "__static_initialization")):
                    functions.append(sym)
                    self.own_files.add(os.path.basename(sym.symtab.filename))
                    self.source(sym.symtab.fullname())
        self.entries = line_entries(functions)
        self.calls_begun = set()  # frame bases of calls begun since they were last seen
        self.starts = [Begins(self, "*%#x" % int(sym.value().address)) for sym in functions]
        self.line_stops = [gdb.Breakpoint("*%#x" % pc, internal=True)
                           for pc in sorted(side_by_side(set(self.entries)))]
        self.book = heap.Book(os.environ["PICTURE_XML"], self.own_files, self.program)
        self.deadline = time.monotonic() + self.seconds
        # a program that runs on in code of no line of its own is stopped too
        timer = threading.Timer(self.seconds, lambda: os.kill(os.getpid(), signal.SIGINT))
        timer.daemon = True
        timer.start()
        try:
            self.resume()  # to main's first line
            self.walk()
        except Limit as e:
            self.stopped(str(e))
        except KeyboardInterrupt:
            self.stopped("time")
        finally:
            timer.cancel()

    def walk(self):
        """From stop to stop: each time the program reaches a line of its own,
        other than further along the line it was running, a step."""
        while not self.gone:
            frame = gdb.newest_frame()
            if self.at_exit(frame):
                self.finish()
                return
            if self.stop_signal not in (None, "SIGTRAP", "SIGINT"):
                self.crashed(frame)
                return
            pc = int(frame.pc())
            if pc not in self.entries or not self.own(frame):
                self.resume()
                continue
            line = self.entries[pc]
            base = self.base(frame)
            if base in self.calls_begun:  # a new call, though its frame stands where one stood
                self.calls_begun.discard(base)
                self.at.pop(base, None)
                self.lines[base] = []
                self.visits = {k: v for k, v in self.visits.items() if k[0] != base}
            last = self.at.get(base)
            self.at[base] = (line, pc)
            if last is not None and last[0] == line and pc > last[1]:
                self.resume()  # further along the same line
                continue
            key = (base, line)
            self.visits[key] = self.visits.get(key, 0) + 1
            seen = self.lines.setdefault(base, [])
            if self.visits[key] > self.loop and line in seen:
                self.skip_loop(frame, line)
                continue
            if len(self.steps) >= self.max_steps:
                raise Limit("steps")
            seen.append(line)
            if base not in self.outs and frame.name() != "main":
                self.outs[base] = Out(self, frame)
            self.record(frame)
            self.last_calls = self.calls(frame, line)
            self.resume()

    def at_exit(self, frame):
        """valgrind stops once more when the program has ended: in its own
        freeres after a normal exit, or where a fatal signal left it."""
        if self.fatal is not None:
            return True
        try:
            return (frame.name() or "").startswith("_vgnU_freeres")
        except gdb.error:
            return False

    def finish(self):
        self.end = {"status": None, "signal": self.fatal, "left": self.book.left()}
        try:
            gdb.execute("continue", to_string=True)
        except gdb.error:
            pass
        if self.fatal is None:
            self.end["status"] = self.exit_code
        self.gone = True
        self.end["output"] = self.output()["output"]

    def crashed(self, frame):
        """A signal is about to end the program: the step where it stopped it."""
        info = {"name": self.stop_signal, "number": None, "address": None, "access": None}
        try:
            info["number"] = int(gdb.parse_and_eval("$_siginfo")["si_signo"])
        except gdb.error:
            pass
        stack = self.own_stack(frame)
        if stack:
            self.record(stack[-1], info)
            # valgrind's gdbserver gives no faulting address: memcheck's error
            # about the access that faulted names it
            for e in self.steps[-1]["errors"]:
                m = re.match(r"Address (0x[0-9a-fA-F]+)", e["aux"][0] if e["aux"] else "")
                if e["kind"] in ("InvalidWrite", "InvalidRead") and m and \
                        self.stop_signal in SIGNAL_ADDRESS:
                    info["address"] = m.group(1)
                    info["access"] = "write" if e["kind"] == "InvalidWrite" else "read"
        self.fatal = info
        self.resume()  # valgrind ends it, and stops once more at exit
        self.finish()

    def stopped(self, kind):
        """A limit was reached: where the program was then."""
        self.limit = {"kind": kind, "function": None, "line": None}
        try:
            stack = self.own_stack(gdb.newest_frame())
            if stack:
                self.limit["function"] = stack[-1].name()
                self.limit["line"] = stack[-1].find_sal().line
        except (gdb.error, RuntimeError):
            pass
        if kind == "time":
            self.limit["seconds"] = self.seconds
        else:
            self.limit["steps"] = self.max_steps

    def result(self):
        return {"program": os.path.basename(self.program), "argv": self.argv,
                "input": self.input, "sources": self.sources, "types": self.types.table,
                "steps": self.steps, "skipped": self.skipped, "end": self.end,
                "limit": self.limit}


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
        read = lambda a, n: flags[a - lo:a - lo + n]  # noqa: E731
    return lambda a, n: [f for off, k in values.cut(n) for f in read(a + off, k)]


def line_entries(functions):
    """pc -> line of every line-table entry in the program's functions, from
    past each one's prologue on (before it, its frame is not made yet)."""
    out = {}
    for sym in functions:
        probe = gdb.Breakpoint(source=sym.symtab.filename, function=sym.name.split("(")[0],
                               internal=True)
        starts = [int(loc.address) for loc in probe.locations]
        probe.delete()
        block = function_block_at(int(sym.value().address))
        if block is None:
            continue
        first = min((a for a in starts if block.start <= a < block.end), default=block.start)
        for e in sym.symtab.linetable():
            if first <= e.pc < block.end and e.line > 0:
                out[e.pc] = e.line
    return out


def function_block_at(pc):
    block = gdb.block_for_pc(pc)
    while block is not None and block.function is None:
        block = block.superblock
    return block


def function_block(frame):
    return function_block_at(int(frame.pc()))


def side_by_side(pcs):
    """pcs without any that stands right before another: gdb takes a stop
    right after a breakpoint for that breakpoint's own trap and moves the pc
    back onto it, so no two breakpoints may stand side by side."""
    return {pc for pc in pcs if pc + 1 not in pcs}


def gdb_quote(s):
    return re.sub(r"([\\\s'\"])", r"\\\1", s)


class Begins(gdb.Breakpoint):
    """The first instruction of a function of the program: a call begins,
    and its frame pointer will be the stack pointer less the 8 bytes the
    old one is pushed in. Notes it without stopping."""

    def __init__(self, tracer, location):
        super().__init__(location, internal=True)
        self.tracer = tracer

    def stop(self):
        self.tracer.calls_begun.add(int(gdb.newest_frame().read_register("rsp")) - 8)
        return False


class Same(gdb.Breakpoint):
    """Stops only in the call of its function that it was set for."""

    def __init__(self, tracer, location, base):
        super().__init__(location, internal=True)
        self.tracer, self.at = tracer, base

    def stop(self):
        return self.tracer.base(gdb.newest_frame()) == self.at


class Counter(Same):
    """Counts the passes of a loop's head without stopping; stops when the
    time is up."""

    def __init__(self, tracer, location, base):
        super().__init__(tracer, location, base)
        self.passes = 1  # the one it stands at

    def stop(self):
        if super().stop():
            self.passes += 1
        return time.monotonic() > self.tracer.deadline


class Out(gdb.FinishBreakpoint):
    """Where a call of one of the program's functions returns: takes the
    value it returned, without stopping."""

    def __init__(self, tracer, frame):
        super().__init__(frame, internal=True)
        self.tracer = tracer
        self.function = frame.name()
        self.base = tracer.base(frame)

    def stop(self):
        value = self.return_value
        self.tracer.returning = {
            "function": self.function,
            "value": value.format_string(symbols=False) if value is not None else None}
        self.tracer.outs.pop(self.base, None)
        return False

    def out_of_scope(self):
        self.tracer.outs.pop(self.base, None)


def main():
    tracer = Tracer()

    def on_stop(event):
        if isinstance(event, gdb.SignalEvent):
            tracer.stop_signal = event.stop_signal

    def on_exit(event):
        tracer.gone = True
        if hasattr(event, "exit_code"):
            tracer.exit_code = event.exit_code

    gdb.events.stop.connect(on_stop)
    gdb.events.exited.connect(on_exit)
    try:
        tracer.run()
        trace = tracer.result()
    except gdb.error as e:
        trace = tracer.result()
        if not tracer.steps:
            trace["error"] = " ".join(str(e).split())
        elif trace["end"] is None and trace["limit"] is None:
            trace["limit"] = {"kind": "gdb", "words": " ".join(str(e).split())}
    with open(tracer.out_path, "w", encoding="utf-8") as f:
        json.dump(trace, f)


main()
