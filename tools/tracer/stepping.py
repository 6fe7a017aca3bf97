"""Stepping the program from one line of its own to the next, under
valgrind's gdbserver: breakpoints at every line and at every function's
start, loops cut after a few passes, the time and step limits, signals,
and the end; at each stop the Record (record.py) takes the step."""

import os
import re
import signal
import threading
import time

import gdb

from tools.tracer import heap
from tools.tracer.record import Record
from tools.tracer.values import hexa

SIGNAL_ADDRESS = ("SIGSEGV", "SIGBUS")


class Limit(Exception):
    pass


class Tracer:
    def __init__(self, program, pid, output_path, stderr_path, loop=4, max_steps=2000,
                 seconds=20.0):
        self.program = program
        self.loop = loop
        self.max_steps = max_steps
        self.seconds = seconds
        self.rec = Record(pid, output_path, stderr_path)
        self.skipped = []
        self.end = self.limit = None
        self.entries = {}  # pc -> line of each line-table entry of the program
        self.line_stops = []  # a breakpoint at each of them
        self.at = {}  # frame base -> (line, pc) where it last stopped
        self.visits = {}  # (frame base, line) -> times recorded
        self.lines = {}  # frame base -> lines recorded, in order
        self.began = {}  # (frame base, line) -> where its last recorded visit began
        self.outs = {}  # frame base -> where that call returns
        self.made_calls = {}  # (function, line) -> whether its code calls anything
        self.closing = None  # a call returned into a closing brace: its line
        self.stop_signal = None
        self.exit_code = None
        self.fatal = None  # the signal that is ending the program
        self.gone = False  # the program has ended
        self.deadline = None

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

    # ----- loops ------------------------------------------------------------
    def skip_loop(self, frame, line):
        """Runs the rest of a loop unrecorded: to the first line of the
        function that no pass reached, or out of the function. Passes are
        counted at the loop's first line, where each began; standing
        elsewhere (in an inner loop), the pass under way is cut short."""
        base = self.base(frame)
        seen = self.lines[base]
        body = set(seen[seen.index(line):])  # every line a pass has reached so far
        first = min(body)  # the loop's first line
        rest = line != first
        head = self.began[(base, first)] if rest else int(frame.pc())
        fn = function_block(frame)
        pcs = {pc for pc, ln in self.entries.items() if fn.start <= pc < fn.end and ln not in body}
        stops = [Same(self, "*%#x" % pc, base)
                 for pc in sorted(side_by_side(pcs | {head}) - {head})]
        counter = Counter(self, "*%#x" % head, base, 0 if rest else 1)
        for b in self.line_stops:
            b.enabled = False
        name = frame.name()
        lines = self.rec.source(frame.find_sal().symtab.fullname())
        tested = re.match(r"\s*(for|while)\b", lines[first - 1] if first <= len(lines)
                          else "")  # a loop whose test is at its head (no do-while)
        try:
            self.resume()
        finally:
            for b in stops + [counter]:
                b.delete()
            for b in self.line_stops:
                b.enabled = True
            passes = counter.passes
            try:
                now = self.entries.get(int(gdb.newest_frame().pc()))
            except gdb.error:  # the program has ended
                now = None
            if tested and passes > 0 and now is not None and not first <= now <= max(body):
                passes -= 1  # it left by its head: the last visit there was no pass
            self.at.pop(base, None)
            if passes > 0 or rest:  # else its last test failed: nothing was left out
                self.skipped.append({"function": name, "line": first, "passes": passes,
                                     "rest": rest, "before_step": len(self.rec.steps)})
                self.rec.last_calls = True  # the passes left out called what they called
                self.rec.skipped = True

    # ----- the run ------------------------------------------------------------
    def run(self, vgdb, xml):
        """Traces the program that vgdb (a command) reaches, whose memcheck
        writes its errors to the file xml, to its end or a limit."""
        # breakpoints stay in while the program stops: gdb would otherwise take
        # every one of them out and put it back at each stop, a packet each
        for cmd in ("set pagination off", "set confirm off", "set width 0",
                    "set print pretty off", "set breakpoint always-inserted on",
                    # reading a value never runs the program's code
                    "set may-call-functions off",
                    # valgrind's gdbserver answers slowly on a loaded machine (two
                    # traces at once): gdb's 2 s put its answers out of step
                    "set remotetimeout 60",
                    # the libraries are this machine's own: read here, with what gdb
                    # loads for them (libstdc++'s printers), not sent by the target
                    "set sysroot /"):
            gdb.execute(cmd)
        gdb.execute("file %s" % gdb_quote(self.program), to_string=True)
        main = gdb.lookup_global_symbol("main")
        if main is None or main.symtab is None:
            raise gdb.GdbError("no debug information for main in %s" % self.program)
        self.rec.own_dir = os.path.dirname(main.symtab.fullname())
        # connected first: where the program was loaded is known from then on
        gdb.execute("target remote | %s" % vgdb, to_string=True)
        functions = []
        for block in (main.symtab.global_block(), main.symtab.static_block()):
            for sym in block:
                # not the compiler's own functions that set up C++ globals
                if sym.is_function and sym.symtab is not None and \
                        os.path.dirname(sym.symtab.fullname()) == self.rec.own_dir and \
                        not sym.name.startswith(("_GLOBAL__sub_I", "__static_initialization")):
                    functions.append(sym)
                    self.rec.own_files.add(os.path.basename(sym.symtab.filename))
                    self.rec.source(sym.symtab.fullname())
        self.entries = line_entries(functions)
        # where each function starts: a pointer to one is drawn by its name
        self.rec.functions = {hexa(int(sym.value().address)): sym.name for sym in functions}
        self.rec.statics = statics(self.entries)
        self.calls_begun = set()  # frame bases of calls begun since they were last seen
        self.starts = [Begins(self, "*" + at) for at in self.rec.functions]
        self.line_stops = [gdb.Breakpoint("*%#x" % pc, internal=True)
                           for pc in sorted(side_by_side(set(self.entries)))]
        self.rec.book = heap.Book(xml, self.rec.own_files, self.program)
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
            closing, self.closing = self.closing, None
            if closing is not None and self.rec.own(frame):
                if len(self.rec.steps) >= self.max_steps:
                    raise Limit("steps")
                self.rec.record(frame)  # a closing brace, its destructors run
                self.rec.skipped = False
                self.rec.last_calls = True
                self.resume()
                continue
            if pc not in self.entries or not self.rec.own(frame):
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
            seen = self.lines.setdefault(base, [])
            if line not in seen and any(v > 1 for k, v in self.visits.items() if k[0] == base):
                # a line no pass reached before (the rare branch of an if): the
                # passes from here on are worth seeing again
                self.visits = {k: v for k, v in self.visits.items() if k[0] != base}
            self.visits[key] = self.visits.get(key, 0) + 1
            if self.visits[key] > self.loop and line in seen:
                self.skip_loop(frame, line)
                continue
            if len(self.rec.steps) >= self.max_steps:
                raise Limit("steps")
            seen.append(line)
            self.began[key] = pc
            if base not in self.outs and frame.name() != "main":
                self.outs[base] = Out(self, frame)
            self.rec.record(frame)
            self.rec.skipped = False
            self.rec.last_calls = self.calls(frame, line)
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
        self.end = {"status": None, "signal": self.fatal, "left": self.rec.book.left()}
        try:
            gdb.execute("continue", to_string=True)
        except gdb.error:
            pass
        if self.fatal is None:
            self.end["status"] = self.exit_code
        elif self.fatal["address"] is None:
            self.fault()
        self.gone = True
        out = self.rec.output()
        self.end["output"] = out["output"]
        if out.get("stderr"):
            self.end["stderr"] = out["stderr"]

    def fault(self):
        """Where a fatal signal struck, as memcheck tells it once the program
        has ended, when no error of its own named the address: a write into
        read-only memory (a string literal) is marked on its block."""
        said = self.rec.book.fatal()
        if not said or not said.get("address"):
            return
        self.fatal.update(address=said["address"], event=said.get("event"))
        step = self.rec.steps[-1] if self.rec.steps else None
        if step is None or not step.get("signal"):
            return
        step["signal"].update(self.fatal)
        p = int(said["address"], 16)
        for b in step["blocks"]:
            start = int(b["address"], 16)
            if b["kind"] == "read-only" and start <= p < start + max(b["size"], 1) and \
                    "permissions" in (said.get("event") or ""):
                # read-only memory faults only when written
                self.fatal["access"] = step["signal"]["access"] = "write"
                step["errors"].append({
                    "kind": "ReadOnlyWrite", "what": "Write into read-only memory", "aux": [],
                    "file": step["file"], "line": step["line"], "function": step["function"],
                    "block": b["address"], "offset": p - start})

    def crashed(self, frame):
        """A signal is about to end the program: the step where it stopped it."""
        info = {"name": self.stop_signal, "number": None, "address": None, "access": None}
        try:
            info["number"] = int(gdb.parse_and_eval("$_siginfo")["si_signo"])
        except gdb.error:
            pass
        stack = self.rec.own_stack(frame)
        if stack:
            self.rec.record(stack[-1], info)
            # valgrind's gdbserver gives no faulting address: memcheck's error
            # about the access that faulted names it
            for e in self.rec.steps[-1]["errors"]:
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
            stack = self.rec.own_stack(gdb.newest_frame())
            if stack:
                self.limit["function"] = stack[-1].name()
                self.limit["line"] = stack[-1].find_sal().line
        except (gdb.error, RuntimeError):
            pass
        if kind == "time":
            self.limit["seconds"] = self.seconds
        else:
            self.limit["steps"] = self.max_steps


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


def statics(pcs):
    """(function, symbol) of every static variable declared in the
    functions whose lines are at pcs, in any of their scopes."""
    out, seen = [], set()
    for pc in sorted(pcs):
        block = gdb.block_for_pc(pc)
        while block is not None and not (block.is_global or block.is_static):
            for sym in block:
                if sym.is_variable and sym.addr_class == gdb.SYMBOL_LOC_STATIC and \
                        (block.start, sym.name) not in seen:
                    seen.add((block.start, sym.name))
                    out.append((function_block_at(pc).function.name, sym))
            block = block.superblock
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

    def __init__(self, tracer, location, base, passes):
        super().__init__(tracer, location, base)
        self.passes = passes  # 1: the one it stands at

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
        self.tracer.rec.returning = {
            "function": self.function,
            "value": value.format_string(symbols=False) if value is not None else None}
        self.tracer.outs.pop(self.base, None)
        # back in a closing brace (the destructors it runs): a step, after them
        frame = gdb.newest_frame()
        if self.tracer.rec.own(frame) and self.tracer.rec.text_of(frame).strip() == "}":
            self.tracer.closing = frame.find_sal().line
            return True
        return False

    def out_of_scope(self):
        self.tracer.outs.pop(self.base, None)
