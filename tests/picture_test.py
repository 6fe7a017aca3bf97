"""The memory pictures: drawing on recorded traces, lessons on fresh ones.

    python3 picture_test.py Drawing   no gdb needed (traces in traces/)
    python3 picture_test.py Lessons   traces the built programs under gdb;
                                      prints SKIPPED and exits 77 without gdb

The recorded traces are `./show PROGRAM --json`, cut down to the steps the
tests read. No test looks at an absolute address, only at relations.
"""

import json
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
ROOT = os.path.dirname(HERE)
sys.dont_write_bytecode = True  # no __pycache__ in the source tree
sys.path.insert(0, os.path.join(ROOT, "picture"))
import draw  # noqa: E402

SKIP = 77
LIMIT = 3.0  # seconds per whole trace, gdb's start included (2-core machine)


def recorded(name):
    with open(os.path.join(HERE, "traces", name + ".json"), encoding="utf-8") as f:
        return json.load(f)


def after(trace, text):
    """Index of the first step whose line just run contains text."""
    steps = trace["steps"]
    return next(i for i in range(1, len(steps)) if text in steps[i - 1]["text"])


class Drawing(unittest.TestCase):
    NAMES = ("copy", "swap", "memory", "ptrwalk")

    def test_every_picture_fits_and_ascii_stays_ascii(self):
        for name in self.NAMES:
            trace = recorded(name)
            for i in range(len(trace["steps"]) + 1):
                for utf8 in (True, False):
                    with self.subTest(trace=name, step=i, utf8=utf8):
                        lines = draw.draw(trace, i, utf8)
                        self.assertTrue(lines)
                        self.assertLessEqual(max(len(row) for row in lines), 80)
                        if not utf8:
                            self.assertTrue(all(row.isascii() for row in lines))

    def test_lessons_show(self):
        # (trace, the line just run, what the picture must hold)
        cases = [
            ("copy", "b = a", [r"^\s+a char \* ─► A\[0\]", r"^\s+b char \* ─► A\[0\]",
                               r"│\s+▲$", r"│\s+a, b$", r"- no name reaches it -", "┆ w ┆"]),
            ("memory", "x[1] = 2", [r"│ 1 │ 2 │ \? │"]),
            ("memory", "x[2] = 3", [r"│ 1 │ 2 │ 3 │"]),
            ("swap", "*x = map", [r"x\s+int\s+2 ◄ swap1 x", r"y\s+int\s+1 ◄ swap1 y",
                                  r"x\s+int \* ─► main x"]),
            ("ptrwalk", "moki + 2", [r"moki \+ 2\s+const char \* ─► A\[2\]"]),
        ]
        for name, line, patterns in cases:
            trace = recorded(name)
            text = "\n".join(draw.draw(trace, after(trace, line), True))
            for pattern in patterns:
                with self.subTest(trace=name, after=line, pattern=pattern):
                    self.assertRegex(text, re.compile(pattern, re.M))

    def test_arrow_stands_under_the_cell_pointed_at(self):
        trace = recorded("ptrwalk")
        lines = draw.draw(trace, after(trace, "moki + 2"), True)
        cells = next(row for row in lines if "│ m │ o │ k │" in row)
        marks = lines[lines.index(cells) + 2]
        right = cells.index("│ m")  # the block's own columns start here
        columns = [k - right for k, ch in enumerate(marks) if ch == "▲"]
        # under "m", "k" and "i": moki, moki + 2 (just run), moki + 3 (next)
        self.assertEqual(columns, [2, 10, 14])
        self.assertEqual([cells[right + c] for c in columns], ["m", "k", "i"])

    def test_closing_picture_in_valgrinds_words(self):
        lines = draw.draw(recorded("memory"), len(recorded("memory")["steps"]), True)
        self.assertIn("definitely lost (no pointer to them is left): 12 bytes in 1 block", lines)
        self.assertIn("still reachable (a global still points to them): 0 bytes in 0 blocks",
                      lines)


# program, input, valgrind's (definitely lost, still reachable) as (bytes, blocks)
PROGRAMS = [
    ("dupstr", "\nhello\n"), ("dupchars", "hi\n"), ("copy", "hello\nworld\n"),
    ("compare", "apple\navocado\n"), ("try", "hello  world\n"), ("swap", ""),
    ("addresses", ""), ("ptrwalk", ""), ("get", "0x1F\n"), ("memory", ""),
    ("fileclone", ""), ("contactlog", "office\n123\n"), ("contactsave", "home\n789\n"),
]


def ints(block):
    """A block's ints, None for one not set yet."""
    raw = block["bytes"]
    return [None if all(b is None for b in raw[k:k + 4])
            else int.from_bytes(bytes(b or 0 for b in raw[k:k + 4]), "little", signed=True)
            for k in range(0, len(raw), 4)]


def var(step, name, frame=-1):
    scope = step["globals"] if frame is None else step["frames"][frame]["vars"]
    return next(v for v in scope if v["name"] == name)


def block_at(step, address):
    p = int(address, 16)
    return next(b for b in step["blocks"]
                if int(b["address"], 16) <= p < int(b["address"], 16) + b["size"])


class Lessons(unittest.TestCase):
    traces, seconds = {}, {}

    @classmethod
    def setUpClass(cls):
        for name, text in PROGRAMS:
            start = time.monotonic()
            done = subprocess.run([os.path.join(ROOT, "show"), name, "--json", "--input",
                                   text.replace("\\", "\\\\").replace("\n", "\\n")],
                                  capture_output=True, text=True)
            cls.seconds[name] = time.monotonic() - start
            assert done.returncode == 0, done.stderr
            cls.traces[name] = json.loads(done.stdout)

    def test_every_trace_is_quick_and_ends(self):
        # wall time of ./show --json: gdb's start, the run and the JSON
        for name, _ in PROGRAMS:
            with self.subTest(program=name):
                self.assertLess(self.seconds[name], LIMIT)
                self.assertEqual(self.traces[name]["end"]["status"], 0)

    def test_copy_b_becomes_a_second_name(self):
        t = self.traces["copy"]
        i = after(t, "b = a")
        before, now = t["steps"][i - 1], t["steps"][i]
        self.assertNotEqual(var(before, "a", None)["points_to"], var(before, "b", None)["points_to"])
        self.assertEqual(var(now, "a", None)["points_to"], var(now, "b", None)["points_to"])
        second = var(before, "b", None)["points_to"]
        for step in t["steps"][i:]:
            self.assertFalse(block_at(step, second)["reached"])

    def test_swap_by_value_and_through_pointers(self):
        t = self.traces["swap"]
        for fn in ("swap", "swap1"):
            steps = [s for s in t["steps"] if s["function"] == fn]
            for name in ("x", "y"):
                with self.subTest(function=fn, var=name):
                    own = {var(s, name)["value"] for s in steps}
                    mains = {var(s, name, 0)["value"] for s in steps}
                    self.assertNotEqual(var(steps[0], name)["address"],
                                        var(steps[0], name, 0)["address"])
                    if fn == "swap":  # its copies change, main's do not
                        self.assertGreater(len(own), 1)
                        self.assertEqual(len(mains), 1)
                    else:
                        self.assertEqual(own, {var(steps[0], name, 0)["address"]})
                        self.assertEqual(var(steps[0], name)["points_to"],
                                         var(steps[0], name, 0)["address"])

    def test_memory_fills_one_int_at_a_time(self):
        t = self.traces["memory"]
        seen = [ints(s["blocks"][0]) for s in t["steps"] if s["blocks"]]
        stages = [v for k, v in enumerate(seen) if k == 0 or v != seen[k - 1]]
        self.assertEqual(stages, [[None] * 3, [1, None, None], [1, 2, None], [1, 2, 3]])

    def test_ptrwalk_literal_and_moki_plus_2(self):
        t = self.traces["ptrwalk"]
        step = t["steps"][after(t, "moki + 2")]
        expr = next(e for e in step["exprs"] if e["name"] == "moki + 2")
        literal = block_at(step, var(step, "moki")["points_to"])
        self.assertEqual((literal["kind"], literal["size"]), ("read-only", 7))
        self.assertEqual(bytes(literal["bytes"]), b"mokica\0")
        self.assertEqual(int(expr["points_to"], 16) - int(literal["address"], 16), 2)

    def test_dupstr_copy_is_a_block_of_its_own(self):
        step = self.traces["dupstr"]["steps"][-1]
        line, copy = (block_at(step, var(step, n, None)["points_to"]) for n in ("a", "b"))
        self.assertNotEqual(line["address"], copy["address"])
        self.assertEqual((copy["kind"], copy["size"], copy["allocated_by"]),
                         ("heap", len("hello") + 1, "main"))
        self.assertEqual(bytes(copy["bytes"]), b"hello\0")

    def test_get_n_is_not_set_before_scanf(self):
        t = self.traces["get"]
        i = next(k for k, s in enumerate(t["steps"]) if "scanf" in s["text"])
        self.assertFalse(var(t["steps"][i], "n")["set"])
        self.assertTrue(var(t["steps"][i + 1], "n")["set"])
        self.assertEqual(var(t["steps"][i + 1], "n")["value"], "31")

    def test_left_at_exit_agrees_with_valgrind(self):
        if shutil.which("valgrind") is None:
            self.skipTest("valgrind is not installed")
        for name, text in PROGRAMS:
            with self.subTest(program=name), tempfile.TemporaryDirectory() as work:
                args = []
                if name == "fileclone":
                    with open(os.path.join(work, "picture.bin"), "wb") as f:
                        f.write(bytes(range(256)))
                    args = ["picture.bin", "copy.bin"]
                done = subprocess.run(["valgrind", "--leak-check=full", "--show-leak-kinds=all",
                                       os.path.join(ROOT, "build", "bin", name)] + args,
                                      input=text, capture_output=True, text=True, cwd=work)
                want = {}
                for kind in ("definitely lost", "still reachable"):
                    m = re.search(kind + r": ([\d,]+) bytes in ([\d,]+) blocks", done.stderr)
                    want[kind] = tuple(int(x.replace(",", "")) for x in m.groups()) if m else (0, 0)
                left = [b for b in self.traces[name]["end"]["left"]
                        if not b["library"] and not b["stream"]]
                got = {kind: (sum(b["size"] for b in left if b["reachable"] == reach),
                              sum(1 for b in left if b["reachable"] == reach))
                       for kind, reach in (("definitely lost", False), ("still reachable", True))}
                self.assertEqual(got, want)


if __name__ == "__main__":
    if "Lessons" in sys.argv[1:]:
        if shutil.which("gdb") is None:
            print("SKIPPED: gdb is not installed, and the traces are made with it")
            sys.exit(SKIP)
        probe = subprocess.run([os.path.join(ROOT, "show"), "addresses", "--json"],
                               capture_output=True, text=True)
        if probe.returncode == 3:
            print("SKIPPED: " + probe.stderr.strip())
            sys.exit(SKIP)
    unittest.main()
