"""Trace one program's memory, line by line, from inside gdb, the program
running under valgrind's memcheck, so that what is set, allocated, freed
or wrong is what memcheck itself knows. Stepping is stepping.py's, what a
stop records record.py's; this file runs them and writes the trace.

tools/running/trace.py starts the program under valgrind's gdbserver,
waiting before its first instruction, then gdb in batch mode running
main() here. Everything comes through the environment:

    PICTURE_PROGRAM  the program file (symbols and line tables)
    PICTURE_VGDB     how gdb reaches valgrind: "vgdb --pid=N --vgdb-prefix=P"
    PICTURE_PID      valgrind's process id (its mappings are read from /proc)
    PICTURE_OUTPUT   the file the program's standard output goes to
    PICTURE_STDERR   and the file its standard error goes to
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
  functions {address: name} of the program's own functions (a pointer
            to one is drawn by its name)
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
    globals   the program's own file-scope variables, then the static
              variables of its functions (named "counter's count", with
              static: the function): [var]
    exprs     pointers written in the line that just ran or the one about
              to run (`&name`, `&name[N]`, `name + N`, `name - N`), shaped
              like vars with address null, frame: the index of the frame
              whose line wrote them, and line: that line
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
    stderr    present when the program wrote to standard error since the
              step before: what it wrote (unbuffered: nothing waits)
    errors    memcheck's errors in the line just run (or in loop passes
              left out before this step), new ones in memcheck's words:
              [{kind (memcheck's: "InvalidWrite", "InvalidRead",
              "UninitCondition", "UninitValue", "InvalidFree", ...), what
              (its sentence), aux (its further sentences), file, line,
              function (where in the program's code it happened), block
              (hex address of the block it concerns, or null), offset (of
              the address from that block's start); by: "AddressSanitizer"
              for an overrun of an array of the stack or the globals, which
              memcheck cannot see and the learner's file built with the
              sanitizers found (aux then holds its words); kind
              "ReadOnlyWrite" for the write into read-only memory that a
              signal ended}]
    repeats   how many more errors memcheck counted in that time, repeats
              of ones reported before (memcheck tells each place once)
    signal    only on a last step where a signal ended the program: {number,
              name, address (the faulting one, for SIGSEGV, SIGBUS, SIGILL,
              SIGFPE), access: "write" | "read" | null, event: memcheck's
              words for it}; line is the line it was running
    outside   present when a subscript in the line about to run lies
              outside its array: [{name, index}]
  skipped   loop passes left out: [{function, line, passes, rest,
            before_step}]: `passes` passes of the loop whose first line is
            `line` began unrecorded; rest: the pass under way was cut
            short too (the cut came in an inner loop); before_step is the
            index of the first step recorded after them
  end       null when the trace was cut short; else {status (exit status,
            null when a signal ended it), signal (as in a step, or null),
            left: memcheck's leak check at exit: {records: [{kind
            ("definitely lost", "indirectly lost", "possibly lost", "still
            reachable"), bytes, blocks, indirect (of bytes, those of the
            blocks only these point to, as memcheck counts them in),
            allocated_by, where ("file:line" in the program, or null)}],
            summary: {kind: [bytes, blocks]},
            words: [its sentence when nothing is left]}, output: what it
            printed after the last step, latin-1 (what stdout's buffer held
            at exit, or a line that ran no step of its own), stderr (as a
            step's)}
  undefined (written by tools/running/trace.py, from a run of the program
            built with the sanitizers) UndefinedBehaviorSanitizer's
            findings, in words: ["line 6: signed integer overflow: ..."]
  limit     null, or what cut the trace short: {kind: "time" | "steps",
            seconds or steps (the limit), function, line (where the program
            was)}
  error     present only when the program could not be traced: one sentence

  var   {name, type, value (as gdb prints it; null for an array, struct or
         union), address, size, static (a function's static: the function),
         set (false while memcheck knows any of its bytes unset), points_to
         (pointers that are set: the address held), bytes (arrays, structs,
         unions: as in a block), omitted, shows (an object of the standard
         library: what its printer says it holds, tracer/values.py's
         printed()), parts (a struct of the program's: [{name, offset,
         type, address, size, shows}] of its members that are objects of
         the standard library)}
  block {address, size, kind: "heap" | "read-only" | "stack" | "global",
         name, frame (stack and global blocks of a variable: its name, and
         for the stack the index of its frame; an array variable is always
         such a block, of its elements' type, and a struct or union
         variable one of its own type), allocated_by (heap: the
         program's function that called malloc itself, or the library
         function it called, "get_string", "fopen"), library (a line of the
         prompt library), head (of an array of objects new[] made,
         the bytes before the elements where it keeps their count: the
         block drawn is the elements, which memcheck's errors are placed
         in too), stream (a FILE), thrown (what a C++ throw
         threw, the runtime's: the line of the throw; no bytes), freed
         (heap: freed; no bytes),
         ended (stack: in the frame of a call that has returned; no bytes),
         node (a list's, a map's or a set's node: {of: the container's
         name, holds: the texts of what it holds}; no bytes),
         reached (false: no name reaches it), type (what it holds, as the
         first pointer to reach it says; "char" when unknown), bytes (the
         first 4096, then the last 16 when longer, null for each byte
         memcheck knows unset; null for a freed block, a FILE or what
         was thrown), omitted
         (bytes left out between the two, when any)}
"""

import json
import os

import gdb

from tools.tracer.stepping import Tracer


def main():
    env = os.environ
    tracer = Tracer(env["PICTURE_PROGRAM"], int(env["PICTURE_PID"]), env["PICTURE_OUTPUT"],
                    env["PICTURE_STDERR"],
                    int(env.get("PICTURE_LOOP") or 4), int(env.get("PICTURE_STEPS") or 2000),
                    float(env.get("PICTURE_SECONDS") or 20))

    def on_stop(event):
        if isinstance(event, gdb.SignalEvent):
            tracer.stop_signal = event.stop_signal

    def on_exit(event):
        tracer.gone = True
        if hasattr(event, "exit_code"):
            tracer.exit_code = event.exit_code

    gdb.events.stop.connect(on_stop)
    gdb.events.exited.connect(on_exit)
    error = None
    try:
        tracer.run(env["PICTURE_VGDB"], env["PICTURE_XML"])
    except gdb.error as e:
        error = " ".join(str(e).split())
    with open(env["PICTURE_INPUT"], "rb") as f:
        typed = f.read().decode("latin-1")
    rec = tracer.rec
    trace = {"program": os.path.basename(tracer.program),
             "argv": json.loads(env.get("PICTURE_ARGS") or "[]"), "input": typed,
             "sources": rec.sources, "types": rec.types.table, "functions": rec.functions,
             "steps": rec.steps,
             "skipped": tracer.skipped, "end": tracer.end, "limit": tracer.limit}
    if error and not rec.steps:
        trace["error"] = error
    elif error and trace["end"] is None and trace["limit"] is None:
        trace["limit"] = {"kind": "gdb", "words": error}
    with open(env["PICTURE_OUT"], "w", encoding="utf-8") as f:
        json.dump(trace, f)
