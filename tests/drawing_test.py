"""The text drawing on recorded traces (traces/, made by `./show PROGRAM
--json`; fileclone's cut to its last four steps, memory_crash from
learner/crash/memory.cpp) and on small traces made here: no gdb needed.
No test looks at an absolute address, only at relations."""

import re
import unittest

from tests import suite
from tests.suite import after, recorded
from tools.drawing import marks, text as draw


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
            # the line before; after a call returns, the line that called it, finished now
            back = len(trace["steps"][i]["frames"]) < len(trace["steps"][i - 1]["frames"])
            ran = trace["steps"][i - 1]["line"] if not back else \
                trace["steps"][i - 1]["frames"][len(trace["steps"][i]["frames"]) - 1]["line"]
            self.assertTrue(lines[1].startswith("just ran  %4d" % ran))
            self.assertIn(lines[1][16:].rstrip("…"), trace["sources"]["swap.cpp"][ran - 1])
            self.assertTrue(lines[2].startswith("runs next %4d" % trace["steps"][i]["line"]))
            if back:
                self.assertIn("swap", lines[1][16:])

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

    def test_names_under_neighbouring_cells_never_run_together(self):
        for n in range(1, 7):  # the names as long as a cell, one shorter, one longer
            with self.subTest(length=n):
                trace = synthetic({"size": 12, "type": "int", "bytes": [0] * 12},
                                  [("a" * n, 0), ("b" * n, 4)])
                words = " ".join(r.split("│ ", 1)[1] for r in draw.draw(trace, 0)
                                 if "│ " in r).split()  # the memory column's
                self.assertIn("a" * n, words)
                self.assertIn("b" * n, words)

    def test_what_is_left_out_of_a_block_is_counted_in_bytes(self):
        raw = [b for k in range(2000) for b in (1000 + k).to_bytes(4, "little")]
        lines = draw.draw(synthetic({"size": 8000, "type": "int", "bytes": raw}), 0)
        end = next(k for k, r in enumerate(lines) if "more, the last" in r)
        cells = [v for r in lines[:end] if "│ " in r and "bytes" not in r
                 for v in re.findall(r"\d+", r.split("│ ", 1)[1]) if int(v) >= 1000]
        self.assertIn("… %s bytes more" % "{:,}".format(8000 - 4 * len(cells)), lines[end])

    def test_a_write_past_the_end_marks_only_what_lies_past_it(self):
        rows = [  # block size, offset, bytes written, words, a mark per cell past the end
            (5, 7, 1, "at byte 7", ["", "", "x"]),  # no whole number of ints: bytes
            (5, 3, 4, "at byte 5", ["x", "x"]),  # straddling the end
            (12, 12, 4, "at [3]", ["x"]),
            (12, 20, 4, "at [5]", ["", "", "x"]),
        ]
        for size, offset, n, at, past in rows:
            with self.subTest(size=size, offset=offset):
                trace = synthetic({"size": size, "type": "int", "bytes": [1] * size})
                step = trace["steps"][0]
                step["errors"] = [{"kind": "InvalidWrite", "what": "Invalid write of size %d" % n,
                                   "line": 3, "block": "0x1000", "offset": offset, "aux": []}]
                self.assertEqual(marks.wrongs(trace, step, step["blocks"][0]),
                                 [("line 3 wrote past the end, " + at, past)])

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
        # an escape reads on while digits follow, as C reads it: \xa5 before b is
        # its octal \245, \0 before a digit \000
        for utf8, want in ((True, 'output so far: "blåbær\\xff\\t\\n"'),
                           (False, 'output so far: "bl\\xc3\\245b\\xc3\\xa6r\\xff\\t\\n"')):
            trace = synthetic({"size": 1, "type": "char", "bytes": [0]})
            trace["steps"][0]["output"] = "blåbær\xff\t\n".encode().decode("latin-1")
            trace["steps"][0]["output"] = "bl\xc3\xa5b\xc3\xa6r\xff\t\n"
            self.assertEqual(draw.draw(trace, 0, utf8)[-1], want)
        rows = [(b"12\x0030", '"12\\00030"'), (b"\x00\x00", '"\\0\\0"'), (b"\x008", '"\\08"'),
                (b"\x17g", '"\\x17g"'), (b"\x17F", '"\\027F"')]
        for data, want in rows:
            with self.subTest(data=data):
                trace["steps"][0]["output"] = data.decode("latin-1")
                self.assertEqual(draw.draw(trace, 0, False)[-1], "output so far: " + want)
                raw = {"size": len(data), "kind": "array", "target": "char", "count": len(data)}
                trace["types"]["char [%d]" % len(data)] = raw
                self.assertEqual(marks.value(trace, trace["steps"][0], "char [%d]" % len(data),
                                             list(data)), want)

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
                for width in (80, 40):  # a narrow column wraps the sentence, never cuts it
                    told = " ".join(r.split("|")[-1].strip() for r in
                                    draw.draw(t, 0, False, width)[draw.HEAD:])
                    self.assertIn("line 19 wrote past the end, at [%d]" % len(bytes_), told)
        for passes, rest, words in (
                (3, True, "the rest of the pass under way and 3 more passes of the loop at "
                 "line 2 left out, with all they ran"),
                (0, True, "the rest of the pass under way of the loop at line 2 left out, "
                 "with all it ran"),
                (1, False, "1 more pass of the loop at line 2 left out, with all it ran")):
            with self.subTest(passes=passes, rest=rest):
                t["skipped"] = [{"function": "main", "line": 2, "passes": passes, "rest": rest,
                                 "before_step": 0}]
                self.assertEqual(marks.remarks(t, 0)[0], ("skipped", "(%s)" % words))
        t["skipped"] = []
        t["steps"][0]["calls_left_out"] = 9950
        self.assertIn("(9,950 calls left out)", "\n".join(draw.draw(t, 0, True)))
        t["end"] = {"status": 0, "signal": None, "output": "bye\n",
                    "left": {"records": [], "summary": {}, "words": []}}
        self.assertIn('output so far: "bye\\n"', draw.draw(t, 1, True))

    def test_a_freed_target_in_a_list_reads_as_one_item(self):
        t = synthetic({"type": "char", "size": 4, "bytes": None, "freed": True})
        t["types"]["char *[3]"] = {"size": 24, "kind": "array", "target": "char *", "count": 3}
        var = {"name": "copies", "type": "char *[3]", "value": "", "address": "0x200",
               "size": 24, "set": True,
               "bytes": list((0x1000).to_bytes(8, "little")) + [0] * 8 +
               list((0x1002).to_bytes(8, "little"))}
        self.assertEqual(marks.shown(t, t["steps"][0], var), "[A[0] (freed), NULL, A[2] (freed)]")

    def test_who_made_a_block_is_said_whole(self):
        t = synthetic({"type": "char", "size": 5, "bytes": list(b"hello"),
                       "allocated_by": "make_room (push_back)"})
        for width in (80, 40, 120):
            right = [r.split("\u2502")[-1].strip() for r in draw.draw(t, 0, True, width)]
            with self.subTest(width=width):
                self.assertTrue(any(r.startswith("A heap, 5 bytes") and r.endswith("1000")
                                    for r in right), right)
                self.assertIn("by make_room (push_back)", " ".join(right))

    def test_a_long_arrays_values_say_more_follow(self):
        t = synthetic({"type": "char", "size": 4, "bytes": list(b"abc\0")})
        t["types"]["int [40]"] = {"size": 160, "kind": "array", "target": "int", "count": 40}
        t["steps"][0]["frames"][0]["vars"].append(
            {"name": "a", "type": "int [40]", "value": "", "address": "0x200", "size": 160,
             "set": True, "bytes": [b for k in range(1, 41) for b in k.to_bytes(4, "little")]})
        for utf8, more in ((True, "…"), (False, "~")):
            lines = draw.draw(t, 0, utf8, 80)
            start = next(k for k, r in enumerate(lines) if r.startswith("  a "))
            rows = [r.split("│" if utf8 else "|")[0].rstrip() for r in lines[start:start + 4]]
            with self.subTest(utf8=utf8):
                self.assertTrue(rows[-1].endswith(" " + more), rows)
                self.assertNotIn(", 40", " ".join(rows))  # the last values are not there

    def test_no_value_a_byte_can_hold_looks_like_a_mark(self):
        t = synthetic({"size": 4, "type": "char", "bytes": [ord("w"), ord("?"), None, 0]},
                      [("q", 0)])
        for utf8 in (True, False):
            row = next(r for r in draw.draw(t, 0, utf8) if "w" in r and ("│" in r or "|" in r)
                       and "q" not in r.split("w")[0][-3:])
            cells = [c.strip() for c in re.split(r"[│|]", row)[2:6]]
            self.assertEqual(cells, ["w", "\\?", "?", "\\0"])  # a set '?' is C's \?
        t = synthetic({"size": 8, "type": "int", "bytes": [1, 0, 0, 0, 7, None, 0, 0]})
        self.assertEqual(marks.cells(t, t["steps"][0], t["steps"][0]["blocks"][0])[0],
                         ["1", "?"])  # one byte of the int not set: no value

    def test_a_pointer_one_past_a_block_is_past_its_end(self):
        t = synthetic({"size": 5, "type": "char", "bytes": list(b"hello")},
                      [("p", 0), ("end", 5)])
        step = t["steps"][0]
        words = {v["name"]: marks.shown(t, step, v) for v in step["frames"][0]["vars"]}
        self.assertEqual(words, {"p": "A[0]", "end": "past the end of A"})

    def test_words_of_an_ending_and_of_what_is_left(self):
        sig = {"name": "SIGSEGV", "number": 11, "address": "0x0", "access": "write"}
        self.assertEqual(marks.signal_words(sig),
                         "ended by signal 11, a segmentation fault: it wrote to address 0x0")
        self.assertIn("it read from", marks.signal_words(dict(sig, access="read")))
        t = recorded("memory")
        self.assertIn("indirectly lost: only blocks that are lost point to them",
                      " ".join(marks.left_words(t)))

    def test_a_type_cut_keeps_its_pointer_and_its_bounds(self):
        # the word struct goes first: the tag's name says which
        rows = [("struct node *", 13, "struct node *"), ("struct node *", 12, "node *"),
                ("struct person [3]", 11, "person [3]"), ("struct an_account *", 10,
                                                          "an_acco… *"),
                ("const struct node *", 12, "const node *"), ("char **", 7, "char **"),
                ("unsigned long [40]", 10, "unsi… [40]")]
        for name, width, cut in rows:
            with self.subTest(name=name, width=width):
                self.assertEqual(draw.fit_type(name, width, "…"), cut)

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


if __name__ == "__main__":
    suite.main()
