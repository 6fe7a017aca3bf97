"""The memory pictures: the drawing on recorded traces, the tracer on fresh
ones, and ./show as a command.

    python3 picture_test.py Drawing   no gdb needed (traces in traces/)
    python3 picture_test.py Tracing   traces the built programs, and the
                                      changed ones in learner/, under
                                      valgrind and gdb
    python3 picture_test.py Learner   ./show FILE on the learner's files in
                                      learner/, by relations
    python3 picture_test.py Command   ./show: its input, choices, pager,
                                      statuses and clean-up

Without gdb or valgrind, Tracing and Command print SKIPPED and exit 77. The
recorded traces are traces of `./show PROGRAM` (fileclone's cut to its last
four steps; memory_crash from learner/crash/memory.cpp). No test looks at an
absolute address, only at relations.
"""

import json
import os
import pty
import re
import select
import shutil
import signal
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(ROOT, "picture"))
sys.path.insert(1, os.path.join(ROOT, "checker"))
import draw  # noqa: E402
import lessons  # noqa: E402
import marks  # noqa: E402
import sandbox  # noqa: E402
import show  # noqa: E402
import suite  # noqa: E402

SKIP = 77
LIMIT = 3.0  # seconds per whole trace of a program of the collection


def recorded(name):
    with open(os.path.join(HERE, "traces", name + ".json"), encoding="utf-8") as f:
        return json.load(f)


def after(trace, text):
    """Index of the first step whose line just run contains text."""
    steps = trace["steps"]
    return next(i for i in range(1, len(steps)) if text in steps[i - 1]["text"])


def var(step, name, frame=-1):
    scope = step["globals"] if frame is None else step["frames"][frame]["vars"]
    return next(v for v in scope if v["name"] == name)


def block_at(step, address):
    block, _ = marks.block_of(step["blocks"], address)
    return block


def ints(block):
    """A block's ints, None for one not set."""
    raw = block["bytes"]
    return [None if None in raw[k:k + 4] else int.from_bytes(bytes(raw[k:k + 4]), "little",
                                                              signed=True)
            for k in range(0, len(raw), 4)]


def rows_of(lines, start):
    """The rows of the memory column from the row where text start begins."""
    right = [row.split("│ ", 1)[1] if "│ " in row else "" for row in lines]
    k = next(n for n, row in enumerate(right) if row.startswith(start))
    return right[k:]


def synthetic(block, pointers=()):
    """A trace of one step holding one block, pointed at by named pointers
    [(name, offset)]."""
    vars_ = [{"name": n, "type": "char *", "value": "", "address": "0x%x" % (0x100 + 8 * k),
              "size": 8, "set": True, "points_to": "0x%x" % (0x1000 + off)}
             for k, (n, off) in enumerate(pointers)]
    block = dict({"address": "0x1000", "kind": "heap", "name": None, "frame": None,
                  "allocated_by": "main", "library": False, "stream": False, "freed": False,
                  "reached": True}, **block)
    step = {"file": "t.c", "line": 2, "text": "  x = 1;", "function": "main",
            "frames": [{"function": "main", "line": 2, "vars": vars_}], "globals": [],
            "exprs": [], "blocks": [block], "hidden": {"blocks": 0, "bytes": 0},
            "returned": None, "errors": [], "repeats": 0, "output": "", "pending": 0}
    return {"program": "t", "argv": [], "input": "", "sources": {}, "steps": [step],
            "skipped": [], "end": None, "limit": None,
            "types": {"char": {"size": 1, "kind": "char"}, "int": {"size": 4, "kind": "int"},
                      "char *": {"size": 8, "kind": "pointer", "target": "char"}}}


class Drawing(unittest.TestCase):
    NAMES = ("copy", "swap", "memory", "ptrwalk", "try", "fileclone", "memory_crash")

    def test_every_picture_fits_and_ascii_stays_ascii(self):
        for name in self.NAMES:
            trace = recorded(name)
            for i in range(len(trace["steps"]) + 1):
                for utf8, width in ((True, 80), (False, 80), (True, 40)):
                    with self.subTest(trace=name, step=i, utf8=utf8, width=width):
                        lines = draw.draw(trace, i, utf8, width)
                        self.assertLessEqual(max(len(row) for row in lines), width)
                        if not utf8:
                            self.assertTrue(all(row.isascii() for row in lines))
                        if width < draw.TWO_COLUMNS:  # one column above the other
                            self.assertFalse(any("│ " in row and row.index("│ ") > 20
                                                 for row in lines[draw.HEAD:]))

    def test_head_is_title_line_just_run_and_line_next(self):
        trace = recorded("swap")
        for i in range(1, len(trace["steps"])):
            lines = draw.draw(trace, i)
            self.assertEqual(lines[0], "swap ── step %d of %d" % (i + 1, len(trace["steps"])))
            self.assertIn(lines[1][16:].rstrip("…"), trace["steps"][i - 1]["text"])
            self.assertTrue(lines[1].startswith("just ran  %4d" % trace["steps"][i - 1]["line"]))
            self.assertTrue(lines[2].startswith("runs next %4d" % trace["steps"][i]["line"]))

    def test_lessons_at_their_place(self):
        # (trace, the line just run, patterns the picture must hold)
        cases = [
            ("copy", "b = a", [r"^\s+a char \* ─► A\[0\]", r"^\s+b char \* ─► A\[0\]",
                               r"│\s+▲$", r"│\s+a, b$", "┆ w ┆"]),
            ("memory", "x[1] = 2", [r"│ 1 │ 2 │ \? │"]),
            ("memory", "x[2] = 3", [r"│ 1 │ 2 │ 3 │"]),
            ("swap", "*x = map", [r"x\s+int\s+2 ◄ swap1 x", r"y\s+int\s+1 ◄ swap1 y",
                                  r"x\s+int \* ─► main x"]),
            ("ptrwalk", "moki + 2", [r"moki \+ 2\s+const char \* ─► A\[2\]"]),
            ("try", "get_words(text)", [r"main text, get_words text"]),
            ("fileclone", "fclose(dst)", [r"dst\s+FILE \*\s+─► F, freed",
                                          r"src\s+FILE \*\s+─► E ",
                                          r"┆ freed: not the program's now ┆",
                                          r"│ a FILE: the C library's own │"]),
        ]
        for name, line, patterns in cases:
            trace = recorded(name)
            text = "\n".join(draw.draw(trace, after(trace, line)))
            for pattern in patterns:
                with self.subTest(trace=name, after=line, pattern=pattern):
                    self.assertRegex(text, re.compile(pattern, re.M))

    def test_no_name_reaches_only_the_lost_block(self):
        trace = recorded("copy")
        lines = draw.draw(trace, after(trace, "b = a"))
        a = rows_of(lines, "A heap")
        b = rows_of(lines, "B heap")
        self.assertEqual(b[1:3], ["  a line of the prompt library", "  - no name reaches it -"])
        self.assertNotIn("  - no name reaches it -", a[:a.index("")])
        self.assertIn("┌───┬", a[3])  # solid
        self.assertIn("┌╌╌╌┬", b[4])  # dashed

    def test_arrow_stands_under_the_cell_pointed_at(self):
        trace = recorded("ptrwalk")
        lines = draw.draw(trace, after(trace, "moki + 2"))
        cells = next(row for row in lines if "│ m │ o │ k │" in row)
        marks_row = lines[lines.index(cells) + 2]
        right = cells.index("│ m")
        columns = [k - right for k, ch in enumerate(marks_row) if ch == "▲"]
        self.assertEqual([cells[right + c] for c in columns], ["m", "k", "i"])

    def test_cells(self):
        # bytes of a char block, what its cells must read, in order
        rows = [
            ([104, 0, 9, 10, 0xA5, None, 7, 0x5C], ["h", "\\0", "\\t", "\\n", "\\xa5", "?", "\\a",
                                                    "\\\\"]),
        ]
        for raw, want in rows:
            trace = synthetic({"size": len(raw), "type": "char", "bytes": raw})
            lines = draw.draw(trace, 0, True, 120)
            row = next(r for r in lines if r.count("│") > 4)
            self.assertEqual([c.strip() for c in row.split("│")[2:-1]], want)

    def test_cell_indices_go_on_in_the_second_row(self):
        raw = [b for k in range(12) for b in (k, 0, 0, 0)]
        trace = synthetic({"size": 48, "type": "int", "bytes": raw})
        lines = draw.draw(trace, 0)
        index_rows = [r.split("│ ", 1)[1].split() for r in lines if re.search(r"│\s+0\s+1\s", r)
                      or re.search(r"│\s+9\s+10\s", r)]
        self.assertEqual(index_rows, [[str(k) for k in range(9)], ["9", "10", "11"]])

    def test_labels_never_overwrite_each_other(self):
        trace = synthetic({"size": 4, "type": "int", "bytes": [1, 0, 0, 0]},
                          [("first_pointer", 0), ("second_pointer", 0)])
        text = "\n".join(draw.draw(trace, 0))
        self.assertIn("first_pointer, second_pointer", text)
        raw = [b for k in range(3) for b in (k, 0, 0, 0)]
        trace = synthetic({"size": 12, "type": "int", "bytes": raw},
                          [("first_pointer", 0), ("second_pointer", 4)])
        text = "\n".join(draw.draw(trace, 0))
        self.assertRegex(text, r"│\s+first_pointer\n")
        self.assertRegex(text, r"second_pointer\n")

    def test_what_is_left_out_of_a_block_is_said(self):
        raw = [ord("x")] * 4096 + [ord("y")] * 15 + [0]
        trace = synthetic({"size": 10001, "type": "char", "bytes": raw, "omitted": 10001 - 4112},
                          [("text", 0)])
        lines = draw.draw(trace, 0, True, 80)
        strip = [r.split("│ ", 1)[1] for r in lines if "│   │" in r]
        shown = sum(r.count("x") for r in strip)
        end = lines.index(next(r for r in lines if "more, the last 16:" in r))
        self.assertIn("… %s bytes more, the last 16:" % "{:,}".format(10001 - shown), lines[end])
        self.assertIn("│yyyyyyyyyyyyyyy\\0│", lines[end + 1])

    def test_output_shows_each_byte_as_it_is(self):
        for utf8, want in ((True, 'output so far: "blåbær\\xff\\t\\n"'),
                           (False, 'output so far: "bl\\xc3\\xa5b\\xc3\\xa6r\\xff\\t\\n"')):
            trace = synthetic({"size": 1, "type": "char", "bytes": [0]})
            trace["steps"][0]["output"] = "blåbær\xff\t\n".encode().decode("latin-1")
            trace["steps"][0]["output"] = "bl\xc3\xa5b\xc3\xa6r\xff\t\n"
            self.assertEqual(draw.draw(trace, 0, utf8)[-1], want)

    def test_crash_is_drawn_as_a_crash(self):
        trace = recorded("memory_crash")
        last = draw.draw(trace, len(trace["steps"]) - 1)
        self.assertTrue(last[2].startswith("was running"))
        self.assertIn("*(int *)nullptr = 4;", last[2])
        self.assertIn("ended by signal 11, a segmentation fault: it wrote to address 0x0", last)
        closing = draw.draw(trace, len(trace["steps"]))
        self.assertEqual(closing[:2], ["memory_crash ── at the end", "Ended by signal 11, a "
                                       "segmentation fault: it wrote to address 0x0 at line 10."])
        self.assertIn("The last 6 bytes in stdout's buffer were never written.", closing)

    def test_unset_values_past_the_end_and_what_is_printed_at_exit(self):
        t = recorded("swap")
        row = next(r for r in draw.draw(t, 0, True) if r.startswith("  x "))
        self.assertEqual(row.split()[2], "?")  # x before its first store
        t = synthetic({"size": 5, "type": "char", "bytes": list(b"hello")}, [("b", 0)])
        t["steps"][0]["errors"] = [{"kind": "InvalidWrite", "what": "Invalid write of size 1",
                                    "aux": [], "line": 19, "block": "0x1000", "offset": 5}]
        lines = draw.draw(t, 0, True)
        cells = next(r for r in lines if "│ h │" in r)
        self.assertTrue(cells.rstrip().endswith("│ o │ ╳ │"), cells)
        self.assertIn("╳ line 19 wrote past the end, at [5]", "\n".join(lines))
        # in ASCII too the mark is no byte a cell could hold (an "x" would be)
        for bytes_, mark in ((b"hello", "| o | !!|"), (b"x" * 20, "|" + "x" * 20 + "|!!")):
            with self.subTest(bytes=bytes_):
                t["steps"][0]["blocks"][0].update(bytes=list(bytes_), size=len(bytes_))
                t["steps"][0]["errors"][0]["offset"] = len(bytes_)
                lines = draw.draw(t, 0, False, 100)
                self.assertTrue(any(r.rstrip().endswith(mark) for r in lines), lines)
                self.assertIn("!! line 19 wrote past the end, at [%d]" % len(bytes_),
                              "\n".join(lines))
        t["steps"][0]["calls_left_out"] = 9950
        self.assertIn("(9,950 calls left out)", "\n".join(draw.draw(t, 0, True)))
        t["end"] = {"status": 0, "signal": None, "output": "bye\n",
                    "left": {"records": [], "summary": {}, "words": []}}
        self.assertIn('output so far: "bye\\n"', draw.draw(t, 1, True))

    def test_closing_picture_in_valgrinds_words(self):
        rows = [("memory", ["  definitely lost: 12 bytes in 1 blocks",
                            "  still reachable: 0 bytes in 0 blocks"]),
                ("copy", ["  All heap blocks were freed -- no leaks are possible"])]
        for name, want in rows:
            trace = recorded(name)
            lines = draw.draw(trace, len(trace["steps"]))
            self.assertEqual(lines[:2], ["%s ── at the end" % name, "Exit status 0."])
            for row in want:
                self.assertIn(row, lines)


# program, input: the runs ./show draws by default
PROGRAMS = [(name, lessons.load(name)["show"].get("input", "")) for name in lessons.names()]


def built(source, work):
    folder = os.path.join(work, os.path.basename(os.path.dirname(source)))
    os.mkdir(folder)
    binary = os.path.join(folder, os.path.splitext(os.path.basename(source))[0])
    compiler = "gcc" if source.endswith(".c") else "g++"
    subprocess.run([compiler, "-ggdb3", "-O0", "-o", binary, source], check=True)
    return binary


def lesson(name, text=None, **kw):
    default = lessons.load(name)["show"]
    text = default.get("input", "") if text is None else text
    result, said = show.trace(os.path.join(ROOT, "build", "bin", name), default.get("args", []),
                              text.encode("latin-1"), None,
                              setup=lambda f: lessons.make_files(f, default.get("files")), **kw)
    assert result is not None and not result.get("error"), said
    return result


class Tracing(unittest.TestCase):
    traces, seconds = {}, {}

    @classmethod
    def setUpClass(cls):
        for name, text in PROGRAMS:
            start = time.monotonic()
            cls.traces[name] = lesson(name)
            cls.seconds[name] = time.monotonic() - start
        cls.work = tempfile.mkdtemp()
        for name, source in (("memory_165", "value_165/memory.cpp"),
                             ("memory_crash", "crash/memory.cpp"),
                             ("addresses_forever", "forever/addresses.cpp"),
                             ("six_calls", "six_calls/swap.c")):
            binary = built(os.path.join(HERE, "learner", source), cls.work)
            result, said = show.trace(binary, [], b"", None, seconds=3)
            assert result is not None, said
            cls.traces[name] = result

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_every_trace_is_quick_and_ends(self):
        for name, _ in PROGRAMS:
            with self.subTest(program=name):
                self.assertLess(self.seconds[name], LIMIT)
                self.assertEqual(self.traces[name]["end"]["status"], 0)
                self.assertIsNone(self.traces[name]["limit"])

    def test_left_at_exit_is_valgrinds(self):
        for name, text in PROGRAMS:
            with self.subTest(program=name), tempfile.TemporaryDirectory() as work:
                default = lessons.load(name)["show"]
                lessons.make_files(work, default.get("files"))
                done = subprocess.run(["valgrind", "--leak-check=full", "--show-leak-kinds=all",
                                       "--vgdb=no", os.path.join(ROOT, "build", "bin", name)]
                                      + default.get("args", []), input=text.encode("latin-1"),
                                      capture_output=True, cwd=work)
                done.stderr = done.stderr.decode()
                want = {}
                for kind in ("definitely lost", "still reachable"):
                    m = re.search(kind + r": ([\d,]+) bytes in ([\d,]+) blocks", done.stderr)
                    want[kind] = [int(x.replace(",", "")) for x in m.groups()] if m else [0, 0]
                got = self.traces[name]["end"]["left"]["summary"]
                self.assertEqual({k: got.get(k, [0, 0]) for k in want}, want)

    def test_copy_b_becomes_a_second_name_and_world_is_lost(self):
        t = self.traces["copy"]
        i = after(t, "b = a")
        before, now = t["steps"][i - 1], t["steps"][i]
        first, second = (var(before, n, None)["points_to"] for n in ("a", "b"))
        self.assertNotEqual(first, second)
        self.assertEqual(var(now, "b", None)["points_to"], first)
        self.assertTrue(block_at(before, second)["reached"])
        for step in t["steps"][i:]:
            self.assertTrue(block_at(step, first)["reached"])
            self.assertFalse(block_at(step, second)["reached"])

    def test_each_frame_is_at_its_own_line(self):
        t = self.traces["swap"]
        for step in t["steps"]:
            if step["function"] == "swap1":
                self.assertEqual([f["line"] for f in step["frames"]], [15, step["line"]])

    def test_swap_by_value_and_through_pointers(self):
        t = self.traces["swap"]
        for fn in ("swap", "swap1"):
            steps = [s for s in t["steps"] if s["function"] == fn]
            for name in ("x", "y"):
                with self.subTest(function=fn, var=name):
                    own = {var(s, name)["value"] for s in steps}
                    mains = {var(s, name, 0)["value"] for s in steps}
                    if fn == "swap":  # its copies change, main's do not
                        self.assertGreater(len(own), 1)
                        self.assertEqual(len(mains), 1)
                    else:
                        self.assertEqual(var(steps[0], name)["points_to"],
                                         var(steps[0], name, 0)["address"])

    def test_an_expression_belongs_to_the_frame_that_wrote_it(self):
        t = self.traces["swap"]
        step = t["steps"][after(t, "swap1(&x, &y)")]
        self.assertEqual(step["function"], "swap1")
        self.assertEqual({(e["name"], e["frame"]) for e in step["exprs"]}, {("&x", 0), ("&y", 0)})
        self.assertEqual(next(e for e in step["exprs"] if e["name"] == "&x")["points_to"],
                         var(step, "x", 0)["address"])

    def test_memory_fills_one_int_at_a_time(self):
        t = self.traces["memory"]
        seen = [ints(s["blocks"][0]) for s in t["steps"] if s["blocks"]]
        stages = [v for k, v in enumerate(seen) if k == 0 or v != seen[k - 1]]
        self.assertEqual(stages, [[None] * 3, [1, None, None], [1, 2, None], [1, 2, 3]])

    def test_a_byte_holding_0xa5_is_set(self):
        t = self.traces["memory_165"]
        filled = [ints(s["blocks"][0]) for s in t["steps"] if s["blocks"]
                  and not s["blocks"][0]["freed"]]
        self.assertIn([1, 165, 3], filled)
        t = lesson("get", "-1515870811\n")  # the bytes a5 a5 a5 a5
        step = t["steps"][after(t, "scanf")]
        self.assertTrue(var(step, "n")["set"])
        self.assertEqual(var(step, "n")["value"], "-1515870811")
        t = lesson("dupstr", "blåbær\n".encode().decode("latin-1"))
        step = t["steps"][-1]
        self.assertEqual(bytes(block_at(step, var(step, "b", None)["points_to"])["bytes"]),
                         "blåbær\0".encode())

    def test_freed_blocks_are_freed_and_their_pointers_say_so(self):
        t = self.traces["memory_165"]
        i = after(t, "free(x)")
        block = block_at(t["steps"][i], var(t["steps"][i], "x")["points_to"])
        self.assertTrue(block["freed"])
        self.assertIsNone(block["bytes"])
        self.assertFalse(any(b["freed"] for s in t["steps"][:i] for b in s["blocks"]))
        t = self.traces["fileclone"]
        i = after(t, "fclose(dst)")
        step = t["steps"][i]
        self.assertTrue(block_at(step, var(step, "dst")["points_to"])["freed"])
        self.assertFalse(block_at(step, var(step, "src")["points_to"])["freed"])
        self.assertEqual(marks.target(step, t, var(step, "dst"))[-7:], ", freed")

    def test_a_crash_ends_the_trace_at_the_line_that_faulted(self):
        t = self.traces["memory_crash"]
        last = t["steps"][-1]
        self.assertEqual(last["text"].strip(), "*(int *)nullptr = 4;")
        self.assertEqual(last["signal"], t["end"]["signal"])
        self.assertEqual(t["end"]["signal"], {"name": "SIGSEGV", "number": 11, "address": "0x0",
                                              "access": "write"})
        self.assertIsNone(t["end"]["status"])
        self.assertEqual([e["kind"] for e in last["errors"]], ["InvalidWrite"])
        self.assertEqual(last["pending"], len("filled"))

    def test_a_loop_that_never_ends_is_stopped_by_the_time_limit(self):
        t = self.traces["addresses_forever"]
        self.assertEqual(t["limit"]["kind"], "time")
        self.assertIsNone(t["end"])
        self.assertEqual(t["skipped"][0]["line"], t["limit"]["line"])

    def test_calls_in_a_row_are_no_loop(self):
        # six calls of swap1, each frame where the one before stood: none is cut
        t = self.traces["six_calls"]
        self.assertEqual(t["skipped"], [])
        firsts = [i for i, s in enumerate(t["steps"]) if s["text"].strip() == "int map = *y;"]
        self.assertEqual(len(firsts), 6)
        self.assertEqual(len({var(t["steps"][i], "x")["address"] for i in firsts}), 1)

    def test_ptrwalk_one_literal_for_every_expression(self):
        t = self.traces["ptrwalk"]
        for step in t["steps"]:
            literal = block_at(step, var(step, "moki")["points_to"]) if var(step, "moki")["set"] \
                else None
            for e in step["exprs"]:
                self.assertIs(block_at(step, e["points_to"]), literal)
                self.assertEqual([b["kind"] for b in step["blocks"]].count("read-only"), 1)
        step = t["steps"][after(t, "moki + 2")]
        literal = block_at(step, var(step, "moki")["points_to"])
        self.assertEqual((literal["kind"], literal["size"]), ("read-only", 7))
        self.assertEqual(bytes(literal["bytes"]), b"mokica\0")

    def test_returned_only_after_the_line_that_allocates(self):
        rows = [("memory", {"malloc": ["malloc"]}),
                ("dupstr", {"get_string": ["get_string"], "malloc": ["malloc"]}),
                ("copy", {"get_string": ["get_string"]})]
        for name, by_call in rows:
            t = self.traces[name]
            for i in range(1, len(t["steps"])):
                just_ran = t["steps"][i - 1]["text"]
                r = t["steps"][i]["returned"]
                calls = [c for c in by_call if c + "(" in just_ran]
                with self.subTest(program=name, after=just_ran):
                    self.assertEqual([r["function"]] if r else [], calls)

    def test_output_so_far_holds_what_waits_in_the_buffer(self):
        t = self.traces["swap"]
        step = after(t, 'printf("x=%i,y=%i\\n", x, y)')
        self.assertEqual(marks.output(t, step), b"x=1,y=2\n")
        self.assertEqual(t["steps"][step]["pending"], 8)  # stdout is a file: nothing written

    def test_a_loop_is_cut_after_four_passes_and_the_rest_counted(self):
        for empty in (3, 9):
            t = lesson("dupstr", "\n" * empty + "hello\n")
            heads = sum(1 for s in t["steps"] if s["line"] == 16)
            left_out = sum(s["passes"] for s in t["skipped"])
            with self.subTest(empty=empty):
                self.assertEqual(heads, min(empty + 1, 4))
                self.assertEqual(heads + left_out, empty + 1)  # each get_string call once


# Where no sandbox can be had, the files of learner/ are the suite's own, and
# run as the user; those that reach out are skipped.
AS_ME = ["--as-me"] if sandbox.how()["kind"] is None else []


def learner(source, *args, env=None):
    """The trace ./show draws of a learner's file in learner/."""
    done = subprocess.run([os.path.join(ROOT, "show"), os.path.join(HERE, "learner", source),
                           "--json"] + AS_ME + list(args), capture_output=True, env=env)
    assert done.returncode in (0, 1), done.stderr.decode()
    return json.loads(done.stdout)


def errors(trace):
    """(kind, line just run, line valgrind names, block, offset) of each error, by step."""
    steps = trace["steps"]
    return [(e["kind"], steps[i - 1]["line"], e["line"], e["block"], e["offset"])
            for i, step in enumerate(steps) for e in step["errors"]]


def line_of(trace, text):
    return next(s["line"] for s in trace["steps"] if text in s["text"])


class Learner(unittest.TestCase):
    """./show FILE: a learner's own file, built, sandboxed and traced."""

    def test_errors_on_the_line_that_made_them(self):
        rows = [  # file, ./show's arguments, [(kind, line text, byte offset into the block)]
            ("use_after_free/memory.c", [], [("InvalidRead", "int y = x[1]", 4),
                                             ("InvalidWrite", "x[2] = 3", 8)]),
            ("short_malloc/dupstr.c", ["--case", "hello gives hello twice"],
             [("InvalidWrite", "strcpy(b, a)", 5), ("InvalidRead", 'printf("%s\\n", b)', 5)]),
            ("one_short/dupchars.c", ["--input", "hi\\n"],
             [("UninitCondition", 'printf("%s\\n", b)', None)]),
            ("realloc/grow.c", [], [("InvalidFree", "again", 0)]),
        ]
        for source, args, want in rows:
            with self.subTest(source=source):
                t = learner(source, *args)
                got = [(kind, just, offset) for kind, just, line, _, offset in errors(t)]
                self.assertEqual(got, [(k, line_of(t, text), off) for k, text, off in want])
                self.assertTrue(all(just == line for _, just, line, _, _ in errors(t)))
                self.assertEqual(t["end"]["status"], 0)

    def test_a_freed_block_and_its_dangling_pointers(self):
        t = learner("use_after_free/memory.c")
        i = after(t, "free(x)")
        step = t["steps"][i]
        x = var(step, "x")
        self.assertTrue(block_at(step, x["points_to"])["freed"])
        self.assertEqual(marks.target(step, t, x)[-7:], ", freed")
        self.assertEqual({e[3] for e in errors(t)}, {x["points_to"]})
        self.assertIn("x (dangling)", "\n".join(draw.draw(t, i + 1, True)))

    def test_realloc_that_moves_a_union_and_pointers_into_nothing(self):
        t = learner("realloc/grow.c")
        step = t["steps"][after(t, "int *far")]
        a, old, far = (var(step, n) for n in ("a", "old", "far"))
        self.assertNotEqual(a["points_to"], old["points_to"])
        self.assertTrue(block_at(step, old["points_to"])["freed"])
        self.assertEqual(block_at(step, a["points_to"])["size"], 4000)
        self.assertEqual(ints(block_at(step, a["points_to"]))[:2], [7, None])
        self.assertIn("into no block", marks.target(step, t, far))
        moved = t["steps"][after(t, "c = realloc")]
        old = [b for b in moved["blocks"] if b["size"] == 4]
        self.assertEqual([(b["freed"], b["reached"]) for b in old], [(True, False)])
        s = next(b for b in step["blocks"] if b.get("name") == "s")
        self.assertEqual((s["kind"], s["type"]), ("stack", "struct shape"))
        rows = draw.struct_rows(t, step, s, {}, draw.UTF8, 60)
        self.assertEqual([r.split() for r in rows[1:]],
                         [["corner.x", "1"], ["corner.y", "2"], ["tag.number", "97"],
                          ["tag.bytes", '"a\\0\\0\\0"']])

    def test_a_list_is_reached_node_by_node(self):
        t = learner("list/list.c")
        step = t["steps"][after(t, "head = n") + 10]
        self.assertEqual(t["end"]["status"], 0)
        seen, p = [], var(step, "head")["points_to"]
        while p is not None:
            node = block_at(step, p)
            self.assertEqual((node["type"], node["freed"]), ("struct node", False))
            seen.append(ints(node)[0])
            raw = node["bytes"][8:16]
            p = None if raw == [0] * 8 else "0x%x" % int.from_bytes(bytes(raw), "little")
        self.assertEqual(seen, [1, 2, 3])

    def test_a_stack_array_has_its_unset_bytes_unset(self):
        t = learner("stack_array/name.c")
        step = t["steps"][after(t, "char *p")]
        name = next(b for b in step["blocks"] if b.get("name") == "name")
        self.assertEqual((name["kind"], name["type"], name["size"]), ("stack", "char", 8))
        self.assertEqual(name["bytes"], [ord("b"), ord("o"), ord("b"), 0, None, None, None, None])
        self.assertEqual(int(var(step, "p")["points_to"], 16) - int(name["address"], 16), 3)
        # the last bytes of a long array: the variable's and its block's are one
        step = t["steps"][after(t, "big[9999]")]
        big = next(b for b in step["blocks"] if b.get("name") == "big")
        self.assertEqual(var(step, "big")["bytes"][-2:], [None, ord("z")])
        self.assertEqual(big["bytes"][-2:], [None, ord("z")])

    def test_it_never_writes_where_the_learner_is(self):
        if AS_ME:
            self.skipTest("no sandbox here: the program would run as us")
        with tempfile.TemporaryDirectory() as home, tempfile.TemporaryDirectory() as here:
            victim = os.path.join(home, "victim")
            with open(victim, "w") as f:
                f.write("mine")
            env = dict(os.environ, HOME=home, VICTIM=victim)
            done = subprocess.run([os.path.join(ROOT, "show"), os.path.join(
                HERE, "learner", "writes_outside", "contactsave.c"), "--input", "ann\\n1\\n"],
                cwd=here, env=env, capture_output=True)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(os.listdir(here), [])
            self.assertEqual(sorted(os.listdir(home)), [".cache", "victim"])
            with open(victim) as f:
                self.assertEqual(f.read(), "mine")


    def test_where_no_sandbox_can_be_had_as_a_login_shell_starts_it(self):
        # USER and LOGNAME set, as every login shell sets them: valgrind and
        # vgdb must agree on the names of the pipes between them
        with tempfile.TemporaryDirectory() as work:
            env = dict(os.environ, USER="ann", LOGNAME="ann",
                       PATH=suite.without(os.path.join(work, "bin"), "bwrap"))
            for program in ("dupstr", os.path.join(HERE, "learner", "good", "dupstr.c")):
                with self.subTest(program=program):
                    done = subprocess.run(
                        [os.path.join(ROOT, "show"), program, "--json"] +
                        (["--as-me"] if os.geteuid() != 0 else []), capture_output=True,
                        env=env)
                    self.assertEqual(done.returncode, 0, done.stderr)
                    t = json.loads(done.stdout)
                    self.assertEqual(t["end"]["status"], 0)
                    self.assertEqual(marks.output(t, len(t["steps"])), b"a: a: hello\nhello\n")

    def test_pointers_into_members_and_lines_that_take_no_address(self):
        t = learner("members/pair.c")
        step = t["steps"][after(t, "free(h)")]
        words = {v["name"]: marks.shown(t, step, v) for v in step["frames"][0]["vars"]}
        self.assertEqual((words["pa"], words["pb"], words["hb"]),
                         ("main p.a", "main p.b[1]", "A.b[1], freed"))
        exprs = {e["name"] for s in t["steps"] for e in s["exprs"]}
        self.assertEqual(exprs & {"&y", "&mask", "&h", "&p", "pb - 4"}, set())
        self.assertIn("&p.a", "".join(s["text"] for s in t["steps"]))
        flat = {b["name"]: [n for n, _, _ in marks.members(t, b["type"])]
                for b in step["blocks"] if b.get("name") in ("u", "r")}
        self.assertEqual(flat, {"u": ["k", "i", "f"], "r": ["one.a", "two.b", "two.c"]})

    def test_nothing_it_starts_outlives_it_or_reaches_out(self):
        if AS_ME:
            self.skipTest("no sandbox here: the program would run as us")
        source = os.path.join(HERE, "learner", "escape", "escape.c")
        outside = subprocess.Popen(["sleep", "60"])  # a process of ours, outside its run
        try:
            for args in ([], ["kill"]):
                with self.subTest(args=args):
                    subprocess.run([os.path.join(ROOT, "show"), source] + args,
                                   capture_output=True)
                    time.sleep(0.5)
                    self.assertEqual(running("escape"), [])
                    self.assertIsNone(outside.poll())
        finally:
            outside.kill()
            outside.wait()


def running(name):
    """The processes, not ended, whose command line holds name."""
    found = []
    for pid in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open("/proc/%s/cmdline" % pid, "rb") as f:
                line = f.read()
            with open("/proc/%s/stat" % pid) as f:
                state = f.read().rsplit(")", 1)[1].split()[0]
        except OSError:
            continue
        if name.encode() in line and state != "Z" and int(pid) != os.getpid():
            found.append(line.replace(b"\0", b" ").decode(errors="replace"))
    return found


class Command(unittest.TestCase):
    def show(self, *args, **kw):
        return subprocess.run([os.path.join(ROOT, "show")] + list(args), capture_output=True,
                              **kw)

    def test_input_escapes_type_the_bytes_they_name(self):
        rows = [("a\\n", b"a\n"), ("ab\\0cd\\n", b"ab\0cd\n"), ("\\xa5\\xFF", b"\xa5\xff"),
                ("\\x41B", b"AB"), ("\\x4", b"\x04"), ("\\x", b"\\x"), ("end\\", b"end\\"),
                ("\\t\\\\", b"\t\\"), ("å", "å".encode())]
        for text, want in rows:
            with self.subTest(text=text):
                self.assertEqual(show.unescape(text), want)

    def test_at_after_and_the_closing_picture(self):
        t = recorded("swap")
        both = {"at": ["x = map"], "after": []}
        self.assertEqual([t["steps"][i]["text"].strip() for i in show.chosen(t, both)],
                         ["x = map;", "*x = map;"])
        later = {"at": [], "after": ["x = map"]}
        self.assertEqual([t["steps"][i - 1]["text"].strip() for i in show.chosen(t, later)],
                         ["x = map;", "*x = map;"])
        every = show.chosen(t, {"at": [], "after": []})
        self.assertEqual(every, list(range(len(t["steps"]) + 1)))

    def test_statuses_and_one_sentence_failures(self):
        rows = [  # arguments, status, what stderr says
            (["nosuch"], 2, "show: no program named 'nosuch'"),
            (["swap", "--steps", "x"], 2, "show: --steps needs a number"),
            (["swap", "--at"], 2, "show: --at needs a value"),
            (["swap"], 0, ""),
            (["dupstr", "--input", "ab\\0cd\\n"], 0, ""),
            (["dupstr", "--input", "\\n\\n\\n\\n\\n\\n", "--steps", "5"], 1,
             "show: 5 steps recorded, the limit (--steps) at line 16 of main"),
        ]
        for args, status, said in rows:
            with self.subTest(args=args):
                done = self.show(*args)
                self.assertEqual(done.returncode, status, done.stderr)
                err = done.stderr.decode()
                self.assertTrue(err.startswith(said), err)
                self.assertLessEqual(err.count("\n"), 1, err)
        with open("/dev/full", "w") as full:
            done = subprocess.run([os.path.join(ROOT, "show"), "swap"], stdout=full,
                                  stderr=subprocess.PIPE)
        self.assertEqual((done.returncode, done.stderr.decode()),
                         (1, "show: the pictures could not be written: No space left on device\n"))

    def test_a_named_path_is_the_users_own(self):
        with tempfile.TemporaryDirectory() as work:
            with open(os.path.join(work, "src.bin"), "wb") as f:
                f.write(b"\xa5bc")
            done = self.show("fileclone", "--json", "src.bin", "dst.bin", cwd=work)
            self.assertEqual(done.returncode, 0, done.stderr)
            self.assertEqual(json.loads(done.stdout)["end"]["status"], 0)
            with open(os.path.join(work, "dst.bin"), "rb") as f:
                self.assertEqual(f.read(), b"\xa5bc")

    def test_pager(self):
        # keys, then what the title of the screen shown last must be
        rows = [([], "step 1 of 11"), (["\r"], "step 2 of 11"), (["b"], "step 1 of 11"),
                (["\r", " ", "b"], "step 2 of 11"), (["\x1b[C", "\x1b[C", "\x1b[D"], "step 2 of 11")]
        for keys, title in rows:
            with self.subTest(keys=keys):
                screen = self.page(["copy"], keys, rows=24, cols=80)
                titles = re.findall(r"copy ── (step \d+ of \d+|at the end)", screen)
                self.assertEqual(titles[-1], title)

    def test_pager_offers_only_the_keys_that_do_something(self):
        rows = [  # arguments, keys, what the hint must say and must not
            (["copy"], [], "Enter: forward  q: quit", "b: back"),
            (["copy"], ["\r"], "Enter: forward  b: back  q: quit", None),
            (["swap", "--at", "swap1(&x, &y)"], [], "Enter or q: quit", "b: back"),
        ]
        for args, keys, said, unsaid in rows:
            with self.subTest(args=args, keys=keys):
                screen = self.page(args, keys, rows=24, cols=80).split("\x1b[H\x1b[2J")
                last = screen[-1]
                self.assertIn(said, last)
                if unsaid:
                    self.assertNotIn(unsaid, last)

    def test_the_tour_keeps_its_lesson_above_the_picture(self):
        screen = self.page(["copy"], ["\r"], rows=24, cols=80, program="tour",
                           env={"TOUR_BIN": os.path.join(ROOT, "build", "bin")},
                           ready=b"next program")
        self.assertNotIn("\x1b[2J", screen)  # nothing is cleared away
        lesson = screen.index("== copy ==")
        self.assertLess(lesson, screen.index("$ "))  # the command, and its output
        self.assertLess(screen.index("Hello\nHello"), screen.index("copy ── step"))
        self.assertIn("(Enter: on to the next program)", screen)

    def test_pager_keeps_the_head_in_view(self):
        screen = self.page(["fileclone", "--at", "fclose(src)"], ["\x1b[B"] * 5, rows=12, cols=80)
        last = screen.split("\x1b[H\x1b[2J")[-1].rstrip("\n").split("\n")
        self.assertEqual(len(last), 12)
        self.assertTrue(last[0].startswith("fileclone ── step"))
        self.assertTrue(last[1].startswith("just ran"))
        self.assertTrue(last[2].startswith("runs next"))
        self.assertIn("above", last[-1])

    def page(self, args, keys, rows, cols, program="show", env=None, ready=b"quit"):
        """The screens ./show (or program) writes on a terminal of rows x
        cols, given keys once it has written ready."""
        pid, fd = pty.fork()
        if pid == 0:
            os.environ.update(LINES=str(rows), COLUMNS=str(cols), LANG="C.UTF-8", **(env or {}))
            os.execv(os.path.join(ROOT, program), [os.path.join(ROOT, program)] + args)
        import fcntl
        import struct
        import termios
        fcntl.ioctl(fd, termios.TIOCSWINSZ, struct.pack("HHHH", rows, cols, 0, 0))
        out = b""

        def drain(seconds):
            nonlocal out
            end = time.monotonic() + seconds
            while time.monotonic() < end:
                ready, _, _ = select.select([fd], [], [], 0.1)
                if ready:
                    try:
                        out += os.read(fd, 65536)
                    except OSError:
                        return
        deadline = time.monotonic() + 30
        while ready not in out and time.monotonic() < deadline:
            drain(0.2)
        for k in keys:
            os.write(fd, k.encode())
            drain(0.2)
        os.write(fd, b"q")
        drain(0.5)
        os.waitpid(pid, 0)
        os.close(fd)
        return out.decode("utf-8", "replace").replace("\r\n", "\n")

    def test_a_stop_leaves_no_process_and_no_file(self):
        with tempfile.TemporaryDirectory() as tmp:
            p = subprocess.Popen([os.path.join(ROOT, "show"), "dupstr", "--input",
                                  "\\n" * 30000], stdout=subprocess.DEVNULL,
                                 stderr=subprocess.PIPE, env=dict(os.environ, TMPDIR=tmp))
            time.sleep(4)
            p.send_signal(signal.SIGTERM)
            err = p.communicate(timeout=30)[1].decode()
            self.assertEqual(p.returncode, 128 + signal.SIGTERM, err)
            self.assertNotIn("Traceback", err)
            time.sleep(1)
            mine = subprocess.run(["ps", "-eo", "stat,args"], capture_output=True,
                                  text=True).stdout
            alive = [row for row in mine.split("\n") if tmp in row and not row.startswith("Z")]
            self.assertEqual(alive, [])
            self.assertEqual(os.listdir(tmp), [])


if __name__ == "__main__":
    if {"Tracing", "Learner", "Command"} & set(sys.argv[1:]):
        for tool in ("gdb", "valgrind"):
            if shutil.which(tool) is None:
                print("SKIPPED: %s is not installed, and the traces are made with it" % tool)
                sys.exit(SKIP)
    suite.main()
