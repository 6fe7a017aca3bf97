"""The tracer on fresh traces: the collection's programs (and changed
copies of them) under valgrind and gdb, and learners' files in learner/
through `./show FILE --json`. No test looks at an absolute address, only
at relations (this pointer's target is that element, this byte is set).

Without gdb or valgrind it prints SKIPPED and exits 77.
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

from tests import suite
from tests.suite import AS_ME
from tests.suite import ROOT, after, lesson, running
from tools.drawing import marks, page, text as draw
from tools.running import lessons, trace

HERE = suite.HERE
# A whole trace of a program of the collection costs at most this many runs
# of it under memcheck alone, timed side by side (a loaded machine slows both)
RATIO = 6
PROGRAMS = [(name, lessons.load(name)["show"].get("input", "")) for name in lessons.names()]


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


def built(source, work):
    folder = os.path.join(work, os.path.basename(os.path.dirname(source)))
    os.mkdir(folder)
    binary = os.path.join(folder, os.path.splitext(os.path.basename(source))[0])
    compiler = "gcc" if source.endswith(".c") else "g++"
    subprocess.run([compiler, "-ggdb3", "-O0", "-o", binary, source], check=True)
    return binary


class Tracing(unittest.TestCase):
    traces, seconds, alone = {}, {}, {}

    @classmethod
    def setUpClass(cls):
        for name, text in PROGRAMS:
            default = lessons.load(name)["show"]
            with tempfile.TemporaryDirectory() as work:
                lessons.make_files(work, default.get("files"))
                start = time.monotonic()
                subprocess.run(["valgrind", "-q", "--vgdb=no",
                                os.path.join(ROOT, "build", "bin", name)]
                               + default.get("args", []), input=text.encode("latin-1"),
                               capture_output=True, cwd=work)
                cls.alone[name] = time.monotonic() - start
            start = time.monotonic()
            cls.traces[name] = lesson(name)
            cls.seconds[name] = time.monotonic() - start
        cls.work = tempfile.mkdtemp()
        for name, source in (("memory_165", "value_165/memory.cpp"),
                             ("memory_crash", "crash/memory.cpp"),
                             ("addresses_forever", "forever/addresses.cpp"),
                             ("six_calls", "six_calls/swap.c")):
            binary = built(os.path.join(HERE, "learner", source), cls.work)
            result, said = trace.trace(binary, [], b"", None, seconds=3)
            assert result is not None, said
            cls.traces[name] = result

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.work, ignore_errors=True)

    def test_every_trace_is_quick_and_ends(self):
        for name, _ in PROGRAMS:
            with self.subTest(program=name):
                self.assertLess(self.seconds[name], RATIO * self.alone[name])
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
        # at exit the list is lost: its head directly, the two nodes after it
        # through it, and each record's direct bytes add up to the summary's
        left = t["end"]["left"]
        for kind in ("definitely lost", "indirectly lost"):
            records = [r for r in left["records"] if r["kind"] == kind]
            self.assertEqual([sum(r["bytes"] - r["indirect"] for r in records),
                              sum(r["blocks"] for r in records)], left["summary"][kind])
        self.assertIn("48 (16 direct, 32 indirect) bytes in 1 blocks are definitely lost",
                      "\n".join(marks.left_words(t)))

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
        flat = {b["name"]: [n for n, _, _, _ in marks.members(t, b["type"])]
                for b in step["blocks"] if b.get("name") in ("u", "r")}
        self.assertEqual(flat, {"u": ["k", "i", "f"], "r": ["one.a", "two.b", "two.c"]})

    def test_a_byte_set_to_a_question_mark_is_no_unset_byte(self):
        t = learner("question/why.c")
        i = after(t, "r[0] = '?'")
        step = t["steps"][i]
        q = next(b for b in step["blocks"] if b.get("name") == "q")
        r = block_at(step, var(step, "r")["points_to"])
        self.assertEqual(q["bytes"][3], ord("?"))
        self.assertEqual((r["bytes"][0], r["bytes"][1:]), (ord("?"), [None] * 3))
        for utf8 in (True, False):
            with self.subTest(utf8=utf8):
                picture = "\n".join(draw.draw(t, i, utf8))
                self.assertIn('"why\\?\\0\\0"', picture)  # q as a string
                row = next(r for r in picture.split("\n") if "\\?" in r and "4040" not in r
                           and "\\0" not in r)  # the heap block's cells
                self.assertEqual([c.strip() for c in re.split(r"[│|]", row)][2:6],
                                 ["\\?", "?", "?", "?"])

    def test_a_rare_branch_is_drawn_and_passes_left_out_are_the_loops(self):
        t = learner("rare_branch/found.c")
        self.assertIn("found = i", " ".join(s["text"] for s in t["steps"][:after(t, "found = i")]))
        self.assertEqual({s["line"] for s in t["skipped"]}, {line_of(t, "for (int i")})
        self.assertTrue(all(s["passes"] > 0 for s in t["skipped"]))

    def test_passes_left_out_are_counted_at_their_own_loops_head(self):
        t = learner("nested/rows.c")  # 5 rows of 3: the cut comes in the inner loop
        for text, rest in (("for (int r", True), ("for (int k", False)):
            head = line_of(t, text)
            recorded = sum(1 for s in t["steps"] if s["line"] == head)
            cut = [s for s in t["skipped"] if s["line"] == head]
            with self.subTest(loop=text):
                self.assertEqual(recorded + sum(s["passes"] for s in cut), 5)
                self.assertEqual([s["rest"] for s in cut], [rest])
        picture = " ".join(r.strip() for r in draw.draw(t, t["skipped"][0]["before_step"]))
        self.assertIn("(the rest of the pass under way and 3 more passes of the loop at line "
                      "%d left out, with all they ran)" % line_of(t, "for (int r"), picture)

    def test_blocks_lost_in_passes_left_out_hold_what_their_line_made(self):
        t = learner("leak_loop/lost.c")
        self.assertTrue(t["skipped"])
        blocks = [b for b in t["steps"][-1]["blocks"] if b["kind"] == "heap"]
        self.assertEqual(sorted((b["type"], b["size"] // 4) for b in blocks if b["size"] > 3),
                         [("int", n) for n in range(1, len(blocks))])
        self.assertEqual([b["type"] for b in blocks if b["size"] == 3], ["char"])

    def test_what_goes_to_standard_error_is_shown_apart_from_the_output(self):
        t = learner("stderr/warn.c")
        end = len(t["steps"])
        self.assertEqual(marks.output(t, end), b"counting to 3\n1\n2\n3\n")
        self.assertEqual(marks.output(t, end, "stderr"), b"warning: 3 is small\ndone\n")
        i = after(t, "fprintf(stderr")
        for k, told in ((i - 1, None), (i, '"warning: 3 is small\\n"'),
                        (end, '"warning: 3 is small\\ndone\\n"')):
            rows = [r for r in draw.draw(t, k, True, 80) if r.startswith("on stderr:")]
            with self.subTest(step=k):
                self.assertEqual([r.split(None, 2)[2] for r in rows], [told] if told else [])

    def test_reading_a_subscript_never_runs_it(self):
        t = learner("side_effects/count.c")  # a[n++], a[next()]: as a plain run prints
        self.assertEqual(marks.output(t, len(t["steps"])), b"6 2 0 2 1\n")
        self.assertEqual(var(t["steps"][after(t, "a[next()]")], "n", 0)["value"], "2")

    def test_pointers_past_an_array_and_along_argv_make_no_block(self):
        t = learner("walk/walk.c", "one", "two")
        for step in t["steps"]:
            for b in step["blocks"]:  # no block is made up: each is a variable's or a string's
                if b["kind"] == "stack" and not b.get("name"):
                    self.assertIn(b["type"], ("char", "char *"), b)
        step = t["steps"][after(t, "sum += *p") + 1]  # the loop's test, p past the end
        last = t["steps"][-1]
        words = {v["name"]: marks.shown(t, last, v) for v in last["frames"][0]["vars"]}
        self.assertEqual(words["p"], "past the end of main scores")
        # local + 3 is past local's end, and is scores[0] too where scores starts there
        local, scores = (var(last, k, 0)["address"] for k in ("local", "scores"))
        self.assertEqual(words["lend"], "main scores[0], just past main local"
                         if int(local, 16) + 12 == int(scores, 16) else
                         "past the end of main local")  # never main lend
        first = t["steps"][after(t, "for (p = scores")]
        self.assertTrue(marks.shown(t, first, var(first, "p", 0)).startswith("main scores[0]"))
        self.assertEqual(words["arg"], "%s[3]" % words["argv"][:-3])  # one block, cell 3
        argv = {block_at(s, var(s, "argv")["points_to"])["address"] for s in t["steps"]
                if "points_to" in var(s, "argv")}
        self.assertEqual(len(argv), 1)
        self.assertIsNotNone(step)

    def test_a_block_of_no_whole_number_of_ints(self):
        t = learner("odd_block/ints.c")
        i = after(t, "x[0] = 1")
        rows = draw.draw(t, i, False, 100)
        cells = next(r for r in rows if "\\x01" in r)
        self.assertRegex(cells, r"\\x01 +\| +\\0 +\| +\\0 +\| +!! +\|$")
        self.assertIn("+3", "\n".join(rows))  # the byte past the end, by its offset
        self.assertIn("!! line 7 wrote past the end, at byte 3", "\n".join(rows))
        later = draw.draw(t, after(t, "y[1] = 3"), False, 100)
        x_cells = [r for r in later if "\\x01" in r][0]
        self.assertNotIn("!!", x_cells)  # cell [0] lies inside its block

    def test_a_static_lives_between_calls_and_sizeof_is_no_pointer(self):
        t = learner("statics/counter.c")
        seen = []
        for step in t["steps"]:
            count = next(v for v in step["globals"] if v["name"] == "counter's count")
            self.assertEqual(count["static"], "counter")
            seen.append(count["value"])
            self.assertNotIn("count", [v["name"] for f in step["frames"] for v in f["vars"]])
        self.assertEqual([v for k, v in enumerate(seen) if k == 0 or v != seen[k - 1]],
                         ["0", "1", "2", "3"])
        self.assertEqual({e["name"] for s in t["steps"] for e in s["exprs"]} & {"name - 1"},
                         set())

    def test_a_pointer_into_a_call_that_has_returned(self):
        t = learner("dangling_frame/local.c")
        step = next(s for s in t["steps"] if "printf" in s["text"])
        q = var(step, "q", 0)
        block = block_at(step, q["points_to"])
        self.assertTrue(block["ended"])
        self.assertIsNone(block["bytes"])
        self.assertIn("in a call that has ended", marks.shown(t, step, q))

    def test_overruns_of_stack_and_global_arrays_marked_at_their_line(self):
        t = learner("overrun_stack/arrays.c")
        found = [(t["steps"][i - 1]["line"], e["offset"], block_at(s, e["block"])["name"])
                 for i, s in enumerate(t["steps"]) for e in s["errors"]
                 if e.get("by") == "AddressSanitizer"]
        # a[4] in a pass the loop left out, then g[3]
        self.assertEqual([(o, n) for _, o, n in found], [(16, "a"), (12, "g")])
        # a frame's names as declared: the loop's i after main's a
        step = t["steps"][after(t, "a[i] = i")]
        self.assertEqual([v["name"] for v in step["frames"][-1]["vars"]], ["a", "i"])
        # a[4] is marked on the step after the passes left out, and says so
        i = t["skipped"][0]["before_step"]
        self.assertEqual([e["aux"][0].endswith("(in a pass left out)")
                          for e in t["steps"][i]["errors"]], [True])
        self.assertEqual(found[1][0], line_of(t, "g[3] = 1"))
        i = after(t, "g[3] = 1")
        self.assertIn("╳ line 11 wrote past the end, at [3]", "\n".join(draw.draw(t, i)))

    def test_what_a_run_by_hand_does_and_what_a_crash_wrote_into(self):
        t = learner("literal/hello.c")
        last = t["steps"][-1]
        self.assertEqual(last["signal"]["access"], "write")
        lit = [e for e in last["errors"] if e["kind"] == "ReadOnlyWrite"]
        self.assertEqual(block_at(last, lit[0]["block"])["kind"], "read-only")
        self.assertIn("line 8 wrote into A[0], a string literal in read-only memory",
                      marks.ending(t))
        t = learner("twice/free.c")
        self.assertEqual(t["end"]["status"], 0)
        self.assertIn("Run by hand, the program ends at line 8", " ".join(marks.left_words(t)))

    def test_pictures_once_wrong(self):
        rows = [  # program, the line about to run, a pointer, where it must point
            ("constptr.c", "int s = sum", "c", "A"),  # not A.x: a const struct point *
            ("grid_ptr.c", "*q = 60", "q", "main grid[1][2]"),
            ("array2d.c", "printf", "rowp", "main grid[2]"),  # an int (*)[4]: a whole row
            ("heap2d.c", "int *before", "m", "A[0]"),
            ("static_buf.c", "printf", "h", "history's hist[0]"),
            ("structptr.c", "*agep += 1", "agep", "A[1].age"),
            ("small_struct.c", "printf", "n", "A"),
        ]
        for program, at, name, where in rows:
            with self.subTest(program=program):
                t = learner("reviewed/" + program)
                i = next(k for k, s in enumerate(t["steps"]) if at in s["text"])
                step = t["steps"][i]
                v = next(v for v in step["frames"][0]["vars"] + step["globals"]
                         if v["name"] == name)
                self.assertEqual(marks.shown(t, step, v), where)
                self.assertTrue(draw.draw(t, i))
        # a row of a grid is one cell: a pointer into it says which element
        t = learner("reviewed/grid_ptr.c")
        step = t["steps"][after(t, "flat[4] = 50")]
        grid = next(b for b in step["blocks"] if b.get("name") == "grid")
        self.assertEqual(marks.pointed(t, step)[0][grid["address"]],
                         {0: ["flat (to [0])"], 1: ["q (to [2])"]})
        t = learner("reviewed/array2d.c")
        step = t["steps"][-1]
        grid = next(b for b in step["blocks"] if b.get("name") == "grid")
        self.assertEqual(marks.pointed(t, step)[0][grid["address"]],
                         {1: ["row1 (to [0])"], 2: ["rowp"]})
        t = learner("reviewed/misc_types.c")  # bit-fields, each its own bits
        block = next(b for b in t["steps"][after(t, "f.count = 9")]["blocks"]
                     if b.get("name") == "f")
        step = t["steps"][after(t, "f.count = 9")]
        self.assertEqual([marks.member_text(t, step, ft, block["bytes"], off, bits)
                          for _, ft, off, bits in marks.members(t, block["type"])],
                         ["0", "5", "9"])
        t = learner("reviewed/delnode.c")  # push returns its new node, called again at once
        said = [w for i in range(len(t["steps"])) for k, w in marks.remarks(t, i)
                if k == "returned" and w.startswith("returned  push")]
        self.assertEqual(len(said), 4)
        self.assertTrue(all(re.fullmatch(r"returned  push gave the address of [A-Z]", w)
                            for w in said), said)
        t = learner("reviewed/useafter.c")  # a function that returns a string: once a crash
        i = next(k for k, s in enumerate(t["steps"]) if "char *b = a" in s["text"])
        heap = block_at(t["steps"][i], var(t["steps"][i], "a", 0)["points_to"])
        self.assertEqual(heap["kind"], "heap")
        self.assertIn("returned  make gave the address of %s" % marks.letters(t)[heap["address"]],
                      draw.draw(t, i))

    def test_cpp_drawn_as_a_learner_writes_it(self):
        for program in ("strings", "vector", "refswap", "account", "owner", "throws", "nodes",
                        "person", "words", "array", "scores"):
            with self.subTest(program=program):
                t = learner("cpp/%s.cpp" % program)
                pictures = "\n".join(r for i in range(len(t["steps"]) + 1)
                                     for r in draw.draw(t, i, True, 100))
                self.assertNotRegex(pictures, r"\b_M_|\b__\w|@0x")  # the library's insides
                self.assertNotIn("basic_string", pictures.replace("(basic_string)", ""))
                self.assertNotIn("optimized out", pictures)  # a variable not in scope
                # none of them loses a block: cout's buffer is the C library's, as printf's
                self.assertEqual([b["allocated_by"] for s in t["steps"] for b in s["blocks"]
                                  if not (b["reached"] or b["freed"])], [])

    def test_cpp_strings_where_their_characters_are(self):
        t = learner("cpp/strings.cpp")
        step = next(s for s in t["steps"] if "std::cout" in s["text"])
        name, line = var(step, "name", 0), var(step, "line", 0)
        chars = int(name["shows"]["chars"]["address"], 16)
        self.assertTrue(0 <= chars - int(name["address"], 16) < name["size"])  # in the object
        self.assertEqual(bytes(name["shows"]["chars"]["bytes"]), b"hello!")
        block = block_at(step, line["shows"]["chars"]["address"])
        self.assertEqual(block["kind"], "heap")
        self.assertEqual(bytes(block["bytes"][:37]), b"a line too long for the object itself")
        self.assertEqual(marks.owners(t, step)[block["address"]][0], "line's characters")
        self.assertTrue(marks.shown(t, step, line).startswith(
            "\u2500\u25ba %s " % marks.letters(t)[block["address"]]))

    def test_cpp_vector_grows_into_a_new_block(self):
        t = learner("cpp/vector.cpp")
        step = next(s for s in t["steps"] if "std::cout" in s["text"])
        v = var(step, "v", 0)
        block = block_at(step, marks.storage(v))
        self.assertEqual((v["shows"]["count"], v["shows"]["capacity"]), (5, 8))
        self.assertEqual(ints(block)[:5], [7, 22, 33, 44, 55])  # set, and first = 7 wrote [0]
        self.assertEqual(block["size"], 8 * 4)
        self.assertEqual(marks.shown(t, step, v), "5 of 8 \u2500\u25ba %s"
                         % marks.letters(t)[block["address"]])
        first = var(step, "first", 0)
        self.assertEqual(first["points_to"], block["address"])
        picture = "\n".join(draw.draw(t, t["steps"].index(step), True, 100))
        self.assertEqual(picture.count("··"), 3 + 1)  # three spare cells, and the legend
        view = next(b for g in page.data(t)["steps"][t["steps"].index(step)]["groups"]
                    for b in g["blocks"] if b["id"] == "b " + block["address"])
        self.assertEqual([c["text"] for c in view["cells"]].count("··"), 3)
        self.assertEqual(view["notes"], ["·· not in use: room to grow"])
        freed = {b["address"] for s in t["steps"] for b in s["blocks"] if b["freed"]}
        self.assertGreaterEqual(len(freed), 2)  # each growth gives back the old block

    def test_cpp_references_and_classes(self):
        t = learner("cpp/refswap.cpp")
        step = t["steps"][after(t, "a = b")]
        a = var(step, "a")
        self.assertEqual(marks.shown(t, step, a), "another name for main x")
        self.assertIn("x int   2 ◄ r, a", "\n".join(draw.draw(t, after(t, "a = b"))))
        t = learner("cpp/account.cpp")
        names = {v["name"] for s in t["steps"] for f in s["frames"] for v in f["vars"]}
        self.assertFalse({n for n in names if n.startswith("__")})
        self.assertIn("this", names)
        said = [marks.error_words(e) for s in t["steps"] for e in s["errors"]]
        self.assertIn("line 13: the block was made with new[] at line 6 and given back with "
                      "delete: what new[] makes, delete[] gives back", said)
        made = {b["allocated_by"] for s in t["steps"] for b in s["blocks"] if b["kind"] == "heap"}
        self.assertEqual(made, {"Account::Account (new[])", "main (new)"})
        last = t["steps"][-1]  # after the destructors of main's objects
        self.assertEqual((last["function"], last["text"].strip()), ("main", "}"))
        t = learner("cpp/owner.cpp")
        step = next(s for s in t["steps"] if "printf" in s["text"])
        owned = marks.owners(t, step)
        self.assertEqual(sorted(w[0] for w in owned.values()), ["owned by p", "owned by s, t"])
        self.assertEqual(marks.shown(t, step, var(step, "s", 0)).split(" (")[1], "2 owners)")
        # make_shared's block: the owners' count (the library's), then the int
        at = marks.storage(var(step, "s", 0))
        block = block_at(step, at)
        kept = int(at, 16) - int(block["address"], 16)
        self.assertGreater(kept, 0)
        self.assertEqual(owned[block["address"]][2], kept)
        row = next(r for r in draw.draw(t, t["steps"].index(step)) if "\u2591\u2591" in r)
        self.assertEqual([c.strip() for c in row.split("\u2502")[2:-1]][:kept // 4 + 1],
                         ["\u2591\u2591"] * (kept // 4) + ["7"])
        view = next(b for g in page.data(t)["steps"][t["steps"].index(step)]["groups"]
                    for b in g["blocks"] if b["id"] == "b " + block["address"])
        self.assertEqual([c["text"] for c in view["cells"]][:kept // 4 + 1],
                         ["\u2591\u2591"] * (kept // 4) + ["7"])

    def test_an_array_new_made_is_its_elements(self):
        t = learner("cpp/boxes.cpp")  # Box has a destructor: new[] keeps a count before
        step = t["steps"][after(t, "second->id = 20")]
        boxes, second = var(step, "boxes", 0), var(step, "second", 0)
        block = block_at(step, boxes["points_to"])
        self.assertEqual((block["address"], block["size"], block["head"]),
                         (boxes["points_to"], 3 * 4, 8))
        name = marks.letters(t)[block["address"]]
        self.assertEqual([marks.shown(t, step, v) for v in (boxes, second)],
                         [name + "[0]", name + "[1]"])
        self.assertEqual(ints(block), [1, 20, 3])
        wrote = [(e["kind"], e["offset"]) for s in t["steps"] for e in s["errors"]]
        self.assertEqual(wrote, [("InvalidWrite", 12)])  # boxes[3], one past the last
        i = next(k for k, s in enumerate(t["steps"]) if s["errors"])
        self.assertIn("line 15 wrote past the end, at [3]", "\n".join(draw.draw(t, i)))

    def test_a_library_calls_overrun_is_told_from_its_first_byte_outside(self):
        t = learner("strcat/cat.c")  # strcat writes 7 bytes past greet; printf reads 7
        for text, did in (("strcat(", "wrote"), ('printf("%s', "read")):
            step = t["steps"][after(t, text)]
            e = next(e for e in step["errors"] if e["by"] == "AddressSanitizer")
            greet = block_at(step, e["block"])
            with self.subTest(line=text):
                self.assertEqual((greet["name"], e["offset"]), ("greet", 8))
                self.assertTrue(e["aux"][0].endswith(", from byte 8 on"), e["aux"])
                self.assertEqual(marks.wrongs(t, step, greet), [(
                    "line %d %s past the end, from [8] on" % (line_of(t, text), did), ["x"])])
                # guard, right after greet, took what strcat wrote past its end
                struck = [w for k, w in marks.remarks(t, after(t, text))
                          if w.startswith("guard changed")]
                self.assertEqual(len(struck), 1 if did == "wrote" else 0)

    def test_what_a_line_names_is_drawn_under_that_line(self):
        t = learner("swap_pointers/swap.c")  # swap1(&x, &y): no variables named &x, &y
        source = next(iter(t["sources"].values()))
        told = 0
        for i, step in enumerate(t["steps"]):
            rows = [r.split("\u2502")[0].rstrip() for r in draw.draw(t, i, True, 80)]
            for e in step["exprs"]:
                with self.subTest(step=i, expr=e["name"]):
                    self.assertIn(e["name"], source[e["line"] - 1])
                    k = next(k for k, r in enumerate(rows) if r.startswith("  %s " % e["name"]))
                    title = next(r for r in reversed(rows[:k])
                                 if r.startswith("  in ") or not r.startswith(" "))
                    self.assertEqual(title, "  in line %d:" % e["line"])
                    told += 1
        self.assertGreaterEqual(told, 2)

    def test_a_structs_string_member_by_what_it_holds(self):
        t = learner("cpp/person.cpp")
        step = next(s for s in t["steps"] if "printf" in s["text"])
        p, q = var(step, "p", 0), var(step, "q", 0)
        parts = {x["name"]: x for x in q["parts"]}
        chars = block_at(step, parts["name"]["shows"]["chars"]["address"])
        marks_block = block_at(step, parts["marks"]["shows"]["elements"][0]["address"])
        names = marks.letters(t)
        self.assertEqual(marks.shown(t, step, p).split(", age=")[0], '{name="Ada"')
        self.assertEqual(marks.shown(t, step, q),
                         '{name=\u2500\u25ba %s "Grace Brewste...", age=85, marks=1 of 1 '
                         '\u2500\u25ba %s}' % (names[chars["address"]],
                                                 names[marks_block["address"]]))
        owned = marks.owners(t, step)
        self.assertEqual(owned[chars["address"]][0], "q.name's characters")
        self.assertEqual(owned[marks_block["address"]][0], "q.marks's elements")
        view = page.data(t)["steps"][t["steps"].index(step)]
        members = [m for g in view["groups"] for b in g["blocks"] for m in b.get("members", [])]
        self.assertEqual([m["name"] for m in members], ["name", "age", "marks"] * 2)

    def test_a_vector_of_strings_by_what_each_holds(self):
        t = learner("cpp/words.cpp")
        i = next(k for k, s in enumerate(t["steps"]) if "std::cout" in s["text"])
        step = t["steps"][i]
        words, last = var(step, "words", 0), var(step, "last", 0)
        block = block_at(step, marks.storage(words))
        texts = [e["text"] for e in words["shows"]["elements"]]
        name = marks.letters(t)[block["address"]]
        self.assertEqual(marks.shown(t, step, last), "another name for %s[2]" % name)
        rows = [r.split("\u2502")[-1].strip() for r in draw.draw(t, i, True, 100)]
        start = rows.index("%d of std::string" % words["shows"]["capacity"])
        shown = [r for r in rows[start:] if r.startswith("[")]
        self.assertEqual(shown, ["[%d] %s" % (k, x) for k, x in enumerate(texts)] +
                         ["[%d] \u00b7\u00b7" % k for k in range(len(texts),
                                                              words["shows"]["capacity"])])
        view = next(b for g in page.data(t)["steps"][i]["groups"] for b in g["blocks"]
                    if b["id"] == "b " + block["address"])
        self.assertEqual([m["value"] for m in view["members"]][:len(texts)], texts)

    def test_a_pointer_to_a_function_is_that_function(self):
        t = learner("fptr/apply.c")
        code = {int(a, 16) for a in t["functions"]}
        self.assertEqual(set(t["functions"].values()), {"add", "mul", "apply", "main"})
        for step in t["steps"]:  # code is no block: nothing of it is drawn
            self.assertFalse([b for b in step["blocks"] for a in code
                              if int(b["address"], 16) <= a < int(b["address"], 16) + b["size"]])
        for text, name, words in (("int s = apply", "op", "function add"),
                                  ("int p = apply", "op", "function mul"),
                                  ("printf", "ops", "[function add, function mul]")):
            step = t["steps"][after(t, text) - 1]
            with self.subTest(line=text):
                self.assertEqual(marks.shown(t, step, var(step, name, 0)), words)

    def test_a_map_of_vectors_reaches_each_vectors_elements(self):
        t = learner("cpp/scores.cpp")
        step = next(s for s in t["steps"] if "std::cout" in s["text"])
        self.assertEqual([b for b in step["blocks"] if not b["reached"]], [])
        elements = var(step, "scores", 0)["shows"]["elements"]  # "amy", its vector, "bob", ...
        owned, names = marks.owners(t, step), marks.letters(t)
        for key, want in (('"amy"', [5, 8]), ('"bob"', [3])):
            vector = elements[[e["text"] for e in elements].index(key) + 1]
            block = block_at(step, vector["shows"]["elements"][0]["address"])
            node = block_at(step, vector["address"])
            with self.subTest(key=key):
                self.assertEqual((block["type"], ints(block)), ("int", want))
                self.assertEqual(owned[block["address"]][0], "scores[%s]'s elements" % key)
                self.assertEqual(marks.runtimes(t, step, node), "a node of scores: %s, %d of %d "
                                 "\u2500\u25ba %s" % (key, len(want), len(want),
                                                        names[block["address"]]))

    def test_a_std_array_is_the_array_it_holds(self):
        t = learner("cpp/array.cpp")
        step = t["steps"][-1]
        a, b, p = (var(step, n, 0) for n in ("a", "b", "p"))
        self.assertEqual([marks.shown(t, step, v) for v in (a, b, p)],
                         ["[1, 2, 30, 4]", "[99, 2, 3, 4]", "main a[2]"])
        block = next(x for x in step["blocks"] if x.get("name") == "a")
        self.assertEqual((block["type"], block["size"]), ("int", 16))
        self.assertEqual(ints(block), [1, 2, 30, 4])

    def test_a_call_returned_into_its_line_is_what_just_ran(self):
        t = learner("recursion/fact.c")
        call = line_of(t, "return n * fact")
        back = [i for i in range(1, len(t["steps"])) if t["steps"][i]["returned"] and
                len(t["steps"][i]["frames"]) < len(t["steps"][i - 1]["frames"])]
        self.assertEqual(len(back), 4)  # fact(1) into fact(2), ..., fact(4) into main
        for i in back:
            row = draw.draw(t, i)[1]
            want = call if t["steps"][i]["function"] == "fact" else line_of(t, "int f = fact")
            with self.subTest(step=i):
                self.assertEqual(row.split()[:3], ["just", "ran", str(want)])
                self.assertEqual(page.data(t)["steps"][i]["ran"], want)

    def test_what_c_leaves_undefined_is_said_at_the_end(self):
        t = learner("ub/overflow.c")  # int + 1 past INT_MAX; the unsigned wraps are defined
        said = "line %d: signed integer overflow: 2147483647 + 1 cannot be represented in " \
            "type 'int'" % line_of(t, "big + 1")
        self.assertEqual(t["undefined"], [said])
        self.assertIn("  " + said, marks.left_words(t))

    def test_a_list_and_a_map_by_their_nodes(self):
        t = learner("cpp/nodes.cpp")
        step = next(s for s in t["steps"] if "printf" in s["text"])
        l, ages, it = (var(step, n, 0) for n in ("l", "ages", "it"))
        self.assertEqual([marks.shown(t, step, v) for v in (l, ages, it)],
                         ["3 elements: 1, 2, 3", '2 elements: "ann": 27, "bob": 32',
                          "an iterator"])
        for v, per_node in ((l, 1), (ages, 2)):  # a map's node holds a key and its value
            texts = [e["text"] for e in v["shows"]["elements"]]
            nodes = [block_at(step, e["address"]) for e in v["shows"]["elements"]]
            with self.subTest(container=v["name"]):
                self.assertEqual([b["node"]["of"] for b in nodes], [v["name"]] * len(texts))
                self.assertEqual([h for b in nodes[::per_node] for h in b["node"]["holds"]],
                                 texts)
                self.assertTrue(all(b["reached"] and b["bytes"] is None for b in nodes))
        self.assertEqual([b for b in step["blocks"] if not b["reached"]], [])

    def test_what_a_throw_threw_is_the_runtimes(self):
        t = learner("cpp/throws.cpp")
        i = after(t, "catch (")
        step = t["steps"][i]
        e = var(step, "e", 0)
        block = block_at(step, e["points_to"])
        self.assertEqual(block["thrown"], line_of(t, "throw std::"))
        self.assertEqual(marks.shown(t, step, e),
                         "another name for " + marks.letters(t)[block["address"]])
        self.assertIn("the exception thrown at line %d" % block["thrown"],
                      "\n".join(draw.draw(t, i)))
        # its message is kept in the exception: no block of the program's
        self.assertEqual([b["allocated_by"] for s in t["steps"] for b in s["blocks"]
                          if "invalid_argument" in (b["allocated_by"] or "")], [])

    def test_what_is_set_reached_and_wrong_is_exact(self):
        t = learner("far_past/past.c")  # three bytes after a 5-byte block
        i = after(t, "p[8] = 'x'")
        e = t["steps"][i]["errors"][0]
        self.assertEqual((e["offset"], block_at(t["steps"][i], e["block"])["size"]), (8, 5))
        self.assertEqual(t["steps"][i]["repeats"], 0)  # a new error is no repeat
        self.assertEqual(marks.wrongs(t, t["steps"][i], block_at(t["steps"][i], e["block"])),
                         [("line 7 wrote past the end, at [8]", ["", "", "", "x"])])
        self.assertFalse(block_at(t["steps"][i], e["block"])["library"])  # main's own malloc
        t = learner("halfset/bits.c")
        step = next(s for s in t["steps"] if "never = NULL" in s["text"])
        f, n, never = (var(step, k, 0) for k in ("f", "n", "never"))
        self.assertIsNone(f["bytes"][0])  # a byte with some bits unset is not set
        self.assertFalse(n["set"])  # one byte of four set: no value
        self.assertEqual(marks.shown(t, step, n), "?")
        self.assertNotIn("points_to", never)  # garbage is followed nowhere
        fields = {name: marks.member_text(t, step, ft, f["bytes"], off, bits, f.get("partial"))
                  for name, ft, off, bits in marks.members(t, f["type"])}
        self.assertEqual(fields, {"on": "1", "rest": "?"})
        t = learner("names/names.c")
        step = next(s for s in t["steps"] if "printf" in s["text"])
        strings = sorted(bytes(b["bytes"]) for b in step["blocks"] if b["kind"] == "read-only")
        # the last one too, in an array of its own and in a struct's
        self.assertEqual(strings, [b"ann\0", b"bob\0", b"cy\0", b"dee\0", b"eve\0"])

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


if __name__ == "__main__":
    for tool in ("gdb", "valgrind"):
        if shutil.which(tool) is None:
            print("SKIPPED: %s is not installed, and the traces are made with it" % tool)
            sys.exit(suite.SKIP)
    suite.main()
