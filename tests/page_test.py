"""The pages of ./show --html in a real browser: Debian's Chromium, headless,
driven by Selenium.

    /usr/bin/python3 page_test.py [SHOTS]

Debian's python3-selenium is importable from Debian's own /usr/bin/python3
(CTest runs this with it). Without it, Chromium or its driver this prints
SKIPPED with the reason and exits 77. SHOTS is the folder the screenshots
of two steps are written to (default: a temporary folder, named).
"""

import copy
import json
import os
import shutil
import subprocess
import sys
import tempfile
import time
import unittest

from tests import suite
from tests.suite import HERE, after
from tools import ROOT
from tools.drawing import marks, page
from tests.drawing_test import synthetic

SKIP = 77
SHOTS = sys.argv.pop(1) if len(sys.argv) > 1 and not sys.argv[1].startswith("-") else None


def missing():
    """Why the browser tests cannot run here, or None."""
    try:
        import selenium  # noqa: F401
    except ImportError:
        return "%s cannot import selenium (Debian's python3-selenium is for /usr/bin/python3)" \
            % sys.executable
    for tool in ("chromium", "chromedriver"):
        if shutil.which(tool) is None:
            return "%s is not installed (setup/install test installs it)" % tool
    for tool in ("gdb", "valgrind"):
        if shutil.which(tool) is None:
            return "%s is not installed, and the traces are made with it" % tool
    return None


def browser(width=1280, height=800):
    from selenium import webdriver
    from selenium.webdriver.chrome.service import Service

    options = webdriver.ChromeOptions()
    options.binary_location = shutil.which("chromium")
    for arg in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-dev-shm-usage",
                "--window-size=%d,%d" % (width, height)):
        options.add_argument(arg)
    options.set_capability("goog:loggingPrefs", {"browser": "ALL"})
    return webdriver.Chrome(service=Service(shutil.which("chromedriver")), options=options)


def shown(program, folder, *args):
    """A page ./show writes, and the trace it is drawn from."""
    path = os.path.join(folder, os.path.splitext(os.path.basename(program))[0] + ".html")
    for flag, out in (("--html", path), ("--json", None)):
        done = subprocess.run([os.path.join(ROOT, "show"), program, flag] + ([out] if out else [])
                              + suite.AS_ME + list(args), capture_output=True)
        assert done.returncode == 0, done.stderr.decode()
    return path, json.loads(done.stdout)


# the end point of an arrow, and a box, in the page's own coordinates
END = """const p = arguments[0], m = p.getScreenCTM();
const q = p.getPointAtLength(p.getTotalLength());
return [q.x * m.a + q.y * m.c + m.e, q.x * m.b + q.y * m.d + m.f];"""
BOX = "const r = arguments[0].getBoundingClientRect(); return [r.left, r.top, r.right, r.bottom];"


class Page(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.work = tempfile.mkdtemp()
        cls.shots = SHOTS or cls.work
        os.makedirs(cls.shots, exist_ok=True)
        cls.copy, cls.copy_trace = shown("copy", cls.work)
        cls.swap, cls.swap_trace = shown("swap", cls.work)
        cls.ptrwalk, cls.ptrwalk_trace = shown("ptrwalk", cls.work)
        cls.freed, cls.freed_trace = shown(
            os.path.join(HERE, "learner", "use_after_free", "memory.c"), cls.work)
        cls.warn, cls.warn_trace = shown(os.path.join(HERE, "learner", "stderr", "warn.c"),
                                         cls.work)
        cls.throws, cls.throws_trace = shown(
            os.path.join(HERE, "learner", "cpp", "throws.cpp"), cls.work)
        cls.b = browser()

    @classmethod
    def tearDownClass(cls):
        cls.b.quit()
        shutil.rmtree(cls.work, ignore_errors=True)
        print("screenshots in %s" % cls.shots, file=sys.stderr)

    def open(self, path, step=None):
        self.b.get("file://" + path + ("#%d" % step if step else ""))
        if step:  # a page already open moves on its hash alone
            self.b.execute_script("window.dispatchEvent(new HashChangeEvent('hashchange'))")

    def ends_in(self, arrow, target):
        x, y = self.b.execute_script(END, arrow)
        left, top, right, bottom = self.b.execute_script(BOX, target)
        return left <= x <= right and top <= y <= bottom

    def arrow(self, source):
        from selenium.webdriver.common.by import By

        found = self.b.find_elements(By.CSS_SELECTOR, 'path.a[data-from="%s"]' % source)
        self.assertEqual(len(found), 1, source)
        return found[0]

    def element(self, id_):
        from selenium.webdriver.common.by import By

        return self.b.find_element(By.CSS_SELECTOR, '[data-id="%s"]' % id_)

    def test_opens_offline_with_nothing_from_outside_and_no_error(self):
        self.open(self.copy)
        self.assertEqual(self.b.execute_script(
            "return performance.getEntriesByType('resource').length"), 0)
        with open(self.copy, encoding="utf-8") as f:
            text = f.read()
        for outside in ("http://", "https://", "//fonts", "<link", "src="):
            self.assertNotIn(outside, text.replace('"http://www.w3.org/2000/svg"', ""))
        errors = [e for e in self.b.get_log("browser") if e["level"] in ("SEVERE", "WARNING")]
        self.assertEqual(errors, [])

    def test_text_that_looks_like_markup_stays_text(self):
        from selenium.webdriver.common.by import By

        odd = copy.deepcopy(self.copy_trace)
        tricky = "// <!-- </script><b>x</b> -->"
        odd["sources"]["copy.cpp"][0] = tricky
        odd["input"] = "<!--</script>\n"
        path = os.path.join(self.work, "odd.html")
        with open(path, "w", encoding="utf-8") as f:
            f.write(page.page(odd))
        self.open(path)
        self.assertEqual(self.b.get_log("browser"), [])
        self.assertEqual(self.b.find_element(By.ID, "line-1").text[1:].strip(), tricky)
        self.assertEqual(self.b.find_elements(By.CSS_SELECTOR, "#code b"), [])
        self.assertIn("<!--</script>", self.b.find_element(By.ID, "typed").text)
        # the output's escapes as the terminal's: one that digits follow reads on in C
        odd["steps"][0]["output"] = "12\x0030 \x17F \xa5b \x17g\n"
        path = os.path.join(self.work, "escapes.html")
        with open(path, "w", encoding="utf-8") as f:
            f.write(page.page(odd))
        self.open(path)
        self.assertEqual(self.b.find_element(By.ID, "output").text,
                         "\u201c12\\00030 \\027F \\245b \\x17g\\n\u201d")

    def test_an_expression_ends_on_its_cell_and_a_change_is_marked(self):
        steps = self.ptrwalk_trace["steps"]
        k = next(k for k, s in enumerate(steps) if any(e["name"] == "moki + 2" for e in s["exprs"]))
        moki = next(v for v in steps[k]["frames"][0]["vars"] if v["name"] == "moki")
        self.open(self.ptrwalk, k + 1)
        from selenium.webdriver.common.by import By

        arrows = [a for a in self.b.find_elements(By.CSS_SELECTOR, "path.a")
                  if a.get_attribute("data-to") == "c %s 2" % moki["points_to"]]
        self.assertEqual(len(arrows), 1)
        self.assertTrue(self.ends_in(arrows[0], self.element("c %s 2" % moki["points_to"])))
        # copy after b = a: b's value has changed, a's has not
        steps = self.copy_trace["steps"]
        i = next(n for n in range(1, len(steps)) if steps[n - 1]["text"].strip() == "b = a;")
        a, b = steps[i]["globals"]
        self.open(self.copy, i + 1)
        self.assertIn("changed", self.element("v " + b["address"]).get_attribute("class"))
        self.assertNotIn("changed", self.element("v " + a["address"]).get_attribute("class"))

    def test_cells_and_arrows_as_a_trace_says(self):
        t = synthetic({"size": 12, "type": "int", "bytes": [1, 0, 0, 0] + [None] * 8},
                      [("p", 8)])
        t["types"]["int *"] = {"size": 8, "kind": "pointer", "target": "int"}
        t["steps"][0]["frames"][0]["vars"][0]["type"] = "int *"
        step = t["steps"][0]
        self.assertEqual(page.dest(t, step, 0x1008, "int"), "c 0x1000 2")  # an element, not a byte
        t["steps"][0]["errors"] = [{"kind": "InvalidWrite", "what": "Invalid write of size 4",
                                    "aux": [], "line": 2, "block": "0x1000", "offset": 12}]
        t["steps"].insert(0, dict(step, blocks=[], errors=[]))  # the block is new in step 2
        views = page.data(t)["steps"]
        cells = views[1]["groups"][0]["blocks"][0]["cells"]
        # a fresh cell holding a value is a change; one not set yet is none
        self.assertEqual([c.get("changed") for c in cells[:3]], [True, False, False])
        self.assertEqual([c["text"] for c in cells], ["1", "?", "?", "\u2573"])  # past its end
        self.assertTrue(cells[3].get("past"))
        self.assertTrue(page.POLICY.startswith("default-src 'none';"))

    def test_the_count_and_the_output_of_every_step(self):
        from selenium.webdriver.common.by import By

        steps = self.copy_trace["steps"]
        for k in range(len(steps)):
            self.open(self.copy, k + 1)
            self.assertEqual(self.b.find_element(By.ID, "count").text,
                             "step %d of %d" % (k + 1, len(steps)))
            out = marks.text(marks.output(self.copy_trace, k), True)
            self.assertEqual(self.b.find_element(By.ID, "output").text,
                             "\u201c%s\u201d" % out if out else "(nothing)")

    def test_what_went_to_standard_error_only_where_something_did(self):
        from selenium.webdriver.common.by import By

        for k in range(len(self.warn_trace["steps"]) + 1):
            self.open(self.warn, k + 1)
            told = marks.text(marks.output(self.warn_trace, k, "stderr"), True)
            with self.subTest(step=k):
                row = self.b.find_element(By.ID, "stderr-row")
                self.assertEqual(row.is_displayed(), bool(told))
                if told:
                    self.assertEqual(self.b.find_element(By.ID, "stderr").text,
                                     "\u201c%s\u201d" % told)

    def test_a_name_on_what_was_thrown_is_no_dangling_one_and_its_value_has_room(self):
        from selenium.webdriver.common.by import By

        i = after(self.throws_trace, "catch (")
        self.open(self.throws, i + 1)
        block = self.throws_trace["steps"][i]["blocks"][0]
        box = self.element("b " + block["address"]).find_element(By.XPATH, "..")
        self.assertEqual([e.get_attribute("class") for e in
                          box.find_elements(By.XPATH, "./div[contains(., '\u25b2')]")],
                         ["names"])
        value = next(v for v in self.b.find_elements(By.CSS_SELECTOR, ".val")
                     if v.text.startswith("another name"))
        em = float(value.value_of_css_property("font-size")[:-2])
        self.assertGreaterEqual(value.size["width"], 7.9 * em)
        self.assertEqual(value.text.split(), ["another", "name", "for", "A"])  # no word broken

    def test_two_names_for_one_line_meet_on_one_cell(self):
        steps = self.copy_trace["steps"]
        k = next(k for k, s in enumerate(steps) if len(s["globals"]) == 2 and
                 s["globals"][0].get("points_to") not in (None, "0x0") and
                 s["globals"][0]["points_to"] == s["globals"][1].get("points_to"))
        a, b = steps[k]["globals"]
        self.open(self.copy, k + 1)
        cell = self.element("c %s 0" % a["points_to"])
        self.assertTrue(self.ends_in(self.arrow("v " + a["address"]), cell))
        self.assertTrue(self.ends_in(self.arrow("v " + b["address"]), cell))
        # and the lesson's moment, with its shot
        i = next(n for n in range(1, len(steps)) if "toupper" in steps[n - 1]["text"])
        self.open(self.copy, i + 1)
        self.assertTrue(self.ends_in(self.arrow("v " + b["address"]),
                                     self.element("c %s 0" % a["points_to"])))
        self.b.save_screenshot(os.path.join(self.shots, "copy-step-%d.png" % (i + 1)))

    def test_arrow_keys_slider_and_hash_move_between_steps(self):
        from selenium.webdriver.common.by import By
        from selenium.webdriver.common.keys import Keys

        n = len(self.copy_trace["steps"])
        self.open(self.copy, 3)
        title = lambda: self.b.find_element(By.ID, "title").text  # noqa: E731
        self.assertIn("step 3 of %d" % n, title())
        body = self.b.find_element(By.TAG_NAME, "body")
        body.send_keys(Keys.ARROW_RIGHT)
        self.assertIn("step 4 of", title())
        self.assertTrue(self.b.current_url.endswith("#4"))
        body.send_keys(Keys.ARROW_LEFT, Keys.ARROW_LEFT)
        self.assertIn("step 2 of", title())
        slider = self.b.find_element(By.ID, "slider")
        slider.send_keys(Keys.ARROW_RIGHT)  # the slider's own keys move it by one
        self.assertIn("step 3 of", title())
        body.send_keys(Keys.END)
        self.assertIn("at the end", title())
        self.assertIn("valgrind's leak check at exit",
                      self.b.find_element(By.ID, "memory").text)
        forward = self.b.find_element(By.ID, "forward")
        self.open(self.copy, 1)
        forward.send_keys(Keys.ENTER)  # a button, from the keyboard
        self.assertIn("step 2 of", title())

    def test_swap1s_pointers_end_on_mains_x_and_y(self):
        steps = self.swap_trace["steps"]
        k = next(k for k, s in enumerate(steps) if s["function"] == "swap1")
        main = {v["name"]: v for v in steps[k]["frames"][0]["vars"]}
        mine = {v["name"]: v for v in steps[k]["frames"][-1]["vars"]}
        self.open(self.swap, k + 1)
        for name in ("x", "y"):
            with self.subTest(name=name):
                self.assertEqual(mine[name]["points_to"], main[name]["address"])
                self.assertTrue(self.ends_in(self.arrow("v " + mine[name]["address"]),
                                             self.element("v " + main[name]["address"])))
        # &x and &y, which swap1's call names, under that line, not among main's variables
        from selenium.webdriver.common.by import By

        exprs = [e for e in steps[k]["exprs"] if e["frame"] == 0]
        self.assertTrue(exprs)
        rows = [r.text.split("\n")[0] for r in self.b.find_elements(
            By.CSS_SELECTOR, "#board .names, #board .var")]
        title = rows.index("in line %d:" % exprs[0]["line"])
        self.assertEqual([r.split()[0] for r in rows[title + 1:title + 1 + len(exprs)]],
                         [e["name"] for e in exprs])

    def test_a_use_after_free_shows_its_error_on_its_line(self):
        from selenium.webdriver.common.by import By

        steps = self.freed_trace["steps"]
        i = next(n for n in range(1, len(steps)) if "x[2] = 3" in steps[n - 1]["text"])
        self.open(self.freed, i + 1)
        lines = self.b.find_element(By.ID, "lines").text
        self.assertIn("memcheck: line 12: Invalid write of size 4", lines)
        ran = self.b.find_element(By.CSS_SELECTOR, "#code .ran")
        self.assertEqual(ran.get_attribute("id"), "line-12")
        memory = self.b.find_element(By.ID, "memory").text
        self.assertIn("freed: not the program's now", memory)
        self.assertIn("line 12 wrote A[2] after the free", memory)
        x = self.arrow("v " + steps[i]["frames"][0]["vars"][0]["address"])
        self.assertIn("dangling", x.get_attribute("class"))
        self.b.save_screenshot(os.path.join(self.shots, "use_after_free-step-%d.png" % (i + 1)))

    def test_fits_a_phone_and_redraws_the_arrows_on_resize(self):
        steps = self.copy_trace["steps"]
        i = next(n for n in range(1, len(steps)) if "toupper" in steps[n - 1]["text"])
        a = steps[i]["globals"][0]
        self.open(self.copy, i + 1)
        try:
            self.b.set_window_size(390, 844)
            time.sleep(0.2)  # the resize event
            width = self.b.execute_script("return document.documentElement.scrollWidth")
            self.assertLessEqual(width, 390)
            self.assertTrue(self.ends_in(self.arrow("v " + a["address"]),
                                         self.element("c %s 0" % a["points_to"])))
        finally:
            self.b.set_window_size(1280, 800)

    def test_the_tours_pages_and_their_index(self):
        from selenium.webdriver.common.by import By

        folder = os.path.join(self.work, "tour")
        done = subprocess.run([os.path.join(ROOT, "tour"), "--html", folder, "swap", "copy"],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stderr)
        self.assertIn("open file://%s/index.html" % folder, done.stderr)
        self.assertEqual(sorted(os.listdir(folder)), ["copy.html", "index.html", "swap.html"])
        self.open(os.path.join(folder, "index.html"))
        links = self.b.find_elements(By.CSS_SELECTOR, "li a")
        self.assertEqual([a.text for a in links], ["copy", "swap"])  # the tour's order
        links[0].click()
        steps = self.copy_trace["steps"]
        i = next(n for n in range(1, len(steps)) if "toupper" in steps[n - 1]["text"])
        self.assertTrue(self.b.current_url.endswith("copy.html#%d" % (i + 1)))
        self.assertIn("step %d of" % (i + 1), self.b.find_element(By.ID, "title").text)

    def test_a_thousand_steps_open_within_a_second_and_step_within_50_ms(self):
        many = copy.deepcopy(self.copy_trace)
        many["steps"] = (many["steps"] * 91)[:1000]
        path = os.path.join(self.work, "many.html")
        with open(path, "w", encoding="utf-8") as f:
            f.write(page.page(many))
        self.b.get("file://" + path)
        opened = self.b.execute_script(
            "return performance.getEntriesByType('navigation')[0].loadEventEnd")
        step = self.b.execute_script(
            "const t = performance.now(); for (let k = 0; k < 100; k++) render(k * 9);"
            "document.body.offsetHeight; return (performance.now() - t) / 100;")
        print("1,000 steps: opened in %.0f ms, %.1f ms a step, %d bytes (%d a step)" % (
            opened, step, os.path.getsize(path), os.path.getsize(path) // 1000),
            file=sys.stderr)
        self.assertLess(opened, 1000)
        self.assertLess(step, 50)

    def test_the_size_grows_linearly_with_the_steps(self):
        sizes = []
        for n in (0, 500, 1000):
            many = copy.deepcopy(self.copy_trace)
            many["steps"] = (many["steps"] * 91)[:max(n, 1)]
            sizes.append(len(page.page(many).encode("utf-8")))
        first, second = sizes[1] - sizes[0], sizes[2] - sizes[1]
        self.assertLess(abs(second - first) / first, 0.05)


if __name__ == "__main__":
    why = missing()
    if why:
        print("SKIPPED: " + why)
        sys.exit(SKIP)
    suite.main()
