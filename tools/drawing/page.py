"""Draw a memory trace (its format is in tools/tracer/trace.py) as one
HTML page.

page(trace, start) gives the text of a page that holds everything it needs
(style, script, and what each step draws, as JSON): it opens from file://
with no network. Each step's picture is worked out here, from the trace,
with the words the text drawing uses (marks.py); the page's script only
lays it out, draws an arrow from each pointer to the cell it holds, and
steps. index(entries) gives the page that links the lessons' pages.
Nothing here knows gdb: both are pure functions of their arguments.
"""

import html
import json
import re

from tools.drawing import marks

CELLS = 128  # cells of one block drawn before the rest is counted
GROUPS = (("stack", "stack"), ("global", "globals"), ("read-only", "read-only data"),
          ("heap", "heap"))


def dest(trace, step, p, want=None):
    """The id of what the address p (of a pointer to type want) points at:
    a cell ('c ADDRESS K'), a struct's member ('m ADDRESS OFFSET'), a block
    as a whole ('b ADDRESS'), a variable drawn as itself ('v ADDRESS'), or
    None."""
    if p == 0 or marks.past_end(trace, step, p):  # past the end: no cell holds it
        return None
    block, offset = marks.block_of(step["blocks"], "0x%x" % p)
    if block is None:
        return None
    if not marks.drawn(trace, block):
        return "v " + block["address"]
    if block["freed"] or block["bytes"] is None:
        return "b " + block["address"]
    size = marks.elem_size(trace, block)
    k, inner = divmod(offset, size)
    if marks.type_of(trace, block["type"])["kind"] in ("struct", "union"):
        part = marks.member_at(trace, block["type"], inner, want)
        if part is None and k == 0:
            return "b " + block["address"]
        return "m %s %d" % (block["address"], k * size + (part[1] if part else 0))
    return "c %s %d" % (block["address"], k)


def pointer_at(raw):
    """The address held in 8 recorded bytes, or None when one is not set."""
    if len(raw) != 8 or None in raw:
        return None
    return int.from_bytes(bytes(raw), "little")


def changed(seen, key, text):
    """Whether what key shows differs from the step before (seen: the step
    before's texts, then this step's); a fresh cell not set yet is no change."""
    before, now = seen
    now[key] = text
    return before is not None and before.get(key) != text and not (key not in before
                                                                    and text == "?")


def var_view(trace, step, var, backrefs, seen):
    value = marks.shown(trace, step, var)
    if var.get("static"):  # a function's static: it lives as long as a global
        value += " (static)"
    if backrefs.get(var.get("address")):
        value += " \u25c4 " + ", ".join(backrefs[var["address"]])
    to = None
    # &x, where x stands among the names, needs no arrow of its own
    if marks.storage(var):  # an object of the standard library: to what it holds
        to = dest(trace, step, int(marks.storage(var), 16))
    elif var.get("set", True) and "points_to" in var and \
            not (re.fullmatch(r"&\w+", var["name"]) and var.get("frame") is not None):
        to = dest(trace, step, int(var["points_to"], 16),
                  marks.type_of(trace, var["type"]).get("target"))
    key = "v " + var["address"] if var.get("address") else None
    return {"id": key, "name": var["name"], "type": marks.type_name(var["type"]), "value": value,
            "at": (var.get("address") or "")[-4:], "to": to,
            "changed": changed(seen, key or "e " + var["name"], value)}


def block_view(trace, step, block, names, pointers, seen, owner=None):
    """One block: its heading, and its cells or members (each with where it
    points, for a pointer) or a box saying what it is."""
    t = marks.type_of(trace, block["type"])
    wrong = marks.wrongs(trace, step, block)
    out = {"id": "b " + block["address"], "head": marks.heading(step, names, block),
           "at": block["address"][-4:], "kind": block["kind"],
           "freed": block["freed"] or bool(block.get("ended")),
           "lost": not block.get("reached", True), "library": bool(block.get("library")),
           "wrong": [words for words, _ in wrong], "owner": owner[0] if owner else None,
           "ahead": marks.ahead(block),
           "names": sorted({n for ns in pointers.values() for n in ns})}
    if block["freed"]:
        out["box"] = "freed: not the program's now"
        return out
    if block.get("ended"):
        out["box"] = "its call has ended: not the program's now"
        return out
    if block["bytes"] is None:
        out["box"] = marks.runtimes(trace, step, block)
        return out
    size = marks.elem_size(trace, block)
    pointer = t["kind"] == "pointer"
    if t["kind"] in ("struct", "union") and t.get("library"):
        # what a container holds (std::strings in a vector), one a row, as its printer says
        count = max((len(block["bytes"]) + size - 1) // size, 1)
        texts = owner[3] if owner and owner[3] is not None else []
        out["members"] = [{"id": "m %s %d" % (block["address"], k * size), "name": "[%d]" % k,
                           "value": texts[k] if k < len(texts) else
                           "\u00b7\u00b7" if owner else "(its insides)", "to": None,
                           "changed": False} for k in range(min(count, CELLS // 8))]
        out["type"] = marks.type_name(block["type"])
        return out
    if t["kind"] in ("struct", "union"):
        rows = []
        count = max((len(block["bytes"]) + size - 1) // size, 1)
        for k in range(min(count, CELLS // 8)):
            part = block["bytes"][k * size:(k + 1) * size]
            for name, ftype, off, bits in marks.members(trace, block["type"]):
                ft = marks.type_of(trace, ftype)
                raw = part[off:off + ft["size"]]
                p = pointer_at(raw) if ft["kind"] == "pointer" and not bits else None
                key = "m %s %d" % (block["address"], k * size + off)
                text = marks.member_text(trace, step, ftype, part, off, bits,
                                         block.get("partial"), k * size,
                                         marks.parts_of(step, block))
                rows.append({"id": key, "name": ("[%d]." % k if count > 1 else "") + name,
                             "value": text, "to": dest(trace, step, p) if p else None,
                             "changed": changed(seen, key, text)})
        out["members"] = rows
        out["type"] = block["type"]
        return out
    items, tail, rest, omitted = marks.cells(trace, step, block)
    odd = block["size"] % size != 0
    past = []
    for _, marked in wrong:
        past = [a or b for a, b in zip(marked + [""] * len(past), past + [""] * len(marked))]
    cells = []
    for k, text in enumerate((items + tail)[:CELLS]):
        p = pointer_at(block["bytes"][k * size:k * size + 8]) if pointer and k < len(items) \
            else None
        label = str(k) if k < len(items) else "+%d" % (len(items) * size + k - len(items))
        raw = block["bytes"][k * size:(k + 1) * size] if k < len(items) else \
            block["bytes"][len(items) * size + k - len(items):][:1]
        cells.append({"text": text, "k": label, "to": dest(trace, step, p) if p else None,
                      "names": pointers.get(k, []), "unset": None in raw,
                      "changed": changed(seen, "c %s %d" % (block["address"], k), text)})
    notes = []
    if owner and owner[1] is not None and not tail:  # its spare capacity: not in use
        for c in cells[-(-owner[1] // size):len(items)]:
            c.update(text="\u00b7\u00b7", spare=True)
            notes = ["\u00b7\u00b7 not in use: room to grow"]
    if owner and owner[2]:  # make_shared's block: the owners' count, then the target
        for c in cells[:owner[2] // size]:
            c.update(text="\u2591\u2591", spare=True)
        notes.append("\u2591\u2591 the library's: the owners' count")
    out["notes"] = notes
    if len(items) + len(tail) <= CELLS:
        start = block["size"] if odd else len(items)
        cells += [{"text": "\u2573" if m else "", "k": ("+%d" if odd else "%d") % (start + j),
                   "past": True, "names": []} for j, m in enumerate(past)]
    out["cells"] = cells
    shown = min(len(items) + len(tail), CELLS)
    left = max(len(items) - shown, 0) * size + len(tail) - max(shown - len(items), 0) + \
        omitted + len(rest) * size
    if left > 0:
        out["more"] = "\u2026 %s more%s" % (marks.plural(left, "byte"),
                                             ", the last: " + " ".join(rest) if rest else "")
    return out


def step_view(trace, i, seen):
    """What step i draws, as plain data for the page's script."""
    steps = trace["steps"]
    step = steps[i]
    names = marks.letters(trace)
    pointers, backrefs = marks.pointed(trace, step)
    owned = marks.owners(trace, step)
    frames = []
    for n, f in enumerate(step["frames"]):
        exprs = [e for e in step["exprs"] if e["frame"] == n]
        frames.append({"title": "%s  line %d" % (f["function"], f["line"]),
                       "vars": [var_view(trace, step, v, backrefs, seen) for v in f["vars"]],
                       "exprs": [["in line %s:" % line if line else "in the line:"] +
                                 [var_view(trace, step, v, backrefs, seen) for v in exprs
                                  if v.get("line") == line]
                                 for line in dict.fromkeys(v.get("line") for v in exprs)]})
    groups = []
    for kind, title in GROUPS:
        blocks = [block_view(trace, step, b, names, pointers.get(b["address"], {}), seen,
                             owned.get(b["address"]))
                  for b in step["blocks"] if b["kind"] == kind and marks.drawn(trace, b)]
        # what no name reaches, and what is freed, last
        blocks.sort(key=lambda b: b["lost"] or b["freed"])
        if blocks:
            groups.append({"title": title, "blocks": blocks})
    calls, hidden, pending = marks.unseen(step)
    skip = marks.left_out_before(trace, i)
    ran, said = marks.ran(trace, i) if i and not skip else (None, None)
    return {"file": step["file"], "line": step["line"], "text": step["text"].strip(),
            "ran": ran, "ran_text": said.strip() if said is not None else
            "(passes of the loop at line %d, left out)" % skip["line"] if skip else None,
            "signal": bool(step.get("signal")),
            "remarks": [[kind, words] for kind, words in marks.remarks(trace, i)],
            "globals": [var_view(trace, step, v, backrefs, seen) for v in step["globals"]],
            "frames": frames, "groups": groups,
            "calls_left_out": calls, "hidden": hidden,
            "output": step["output"], "stderr": step.get("stderr", ""), "pending": pending}


def data(trace):
    views, before = [], None
    for i in range(len(trace["steps"])):
        now = {}
        views.append(step_view(trace, i, (before, now)))
        before = now
    return {"program": trace["program"], "argv": trace.get("argv", []),
            "typed": marks.text(trace["input"].encode("latin-1"), True),
            "sources": trace["sources"],
            "steps": views,
            "ending": marks.ending(trace), "left": marks.left_words(trace),
            "end_output": (trace.get("end") or {}).get("output", ""),
            "end_stderr": (trace.get("end") or {}).get("stderr", "")}


def embed(value):
    """JSON that may stand inside a script element: no "<" in it ends the
    element or opens a comment there (JSON has "<" only inside strings)."""
    return json.dumps(value, separators=(",", ":")).replace("<", "\\u003c")


# Nothing may come from outside the file: no request leaves it.
POLICY = ("default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'; "
          "img-src data:")


def page(trace, start=0):
    """The page of a trace, opening at step start (0-based) unless its
    address names another (#8 is step 8)."""
    title = "%s: memory, step by step" % trace["program"]
    return TEMPLATE.format(policy=POLICY, title=html.escape(title), style=STYLE,
                           data=embed(data(trace)), start=int(start), script=SCRIPT)


def index(entries):
    """The page that links the lessons' pages: entries of (program, page's
    file name, the lesson's sentence, step to open at, 1-based)."""
    rows = "\n".join(
        '<li><a href="%s#%d">%s</a>: %s</li>' % (html.escape(path, quote=True), step,
                                                 html.escape(name), html.escape(point))
        for name, path, point, step in entries)
    return INDEX.format(policy=POLICY, style=STYLE, rows=rows)


INDEX = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="{policy}">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>The lessons: memory, step by step</title>
<style>{style}</style></head>
<body class="index"><h1>The lessons: memory, step by step</h1>
<p>Each page steps through one program's memory, at the moment of its lesson.</p>
<ol>
{rows}
</ol></body></html>
"""

TEMPLATE = """<!DOCTYPE html>
<html lang="en"><head><meta charset="utf-8">
<meta http-equiv="Content-Security-Policy" content="{policy}">
<meta name="viewport" content="width=device-width, initial-scale=1">
<title>{title}</title>
<style>{style}</style></head>
<body>
<header>
<h1 id="title"></h1>
<nav aria-label="steps">
<button id="first" title="first step (Home)">&#x25C0;&#x25C0;</button>
<button id="back" title="back (left arrow)">&#x25C0; back</button>
<input id="slider" type="range" min="1" value="1" aria-label="step">
<button id="forward" title="forward (right arrow)">forward &#x25B6;</button>
<button id="last" title="the end (End)">&#x25B6;&#x25B6;</button>
<span id="count" aria-live="polite"></span>
</nav>
<div id="lines"></div>
</header>
<main id="board">
<section id="code" aria-label="source"><pre id="source"></pre></section>
<section id="names" aria-label="names"></section>
<section id="memory" aria-label="memory"></section>
<svg id="arrows" width="1" height="1" aria-hidden="true"><defs>
<marker id="head" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" markerHeight="7"
 orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z"></path></marker>
<marker id="bad" viewBox="0 0 10 10" refX="9" refY="5" markerWidth="7" markerHeight="7"
 orient="auto-start-reverse"><path d="M0,0 L10,5 L0,10 z"></path></marker></defs></svg>
</main>
<section id="io" aria-label="input and output">
<div><b>typed</b> <code id="typed"></code></div>
<div><b>output so far</b> <code id="output"></code> <span id="pending"></span></div>
<div id="stderr-row" hidden><b>on stderr</b> <code id="stderr"></code></div>
</section>
<script type="application/json" id="trace">{data}</script>
<script>const START = {start};
{script}</script>
</body></html>
"""

STYLE = """
:root { --ink: #1d1d1f; --soft: #6e6e73; --line: #c7c7cc; --paper: #fff; --mark: #fff3b0;
  --next: #dcebff; --bad: #b3261e; --arrow: #1f5fbf; --changed: #ffe08a;
  font: 15px/1.4 system-ui, sans-serif; color: var(--ink); background: var(--paper); }
body { margin: 0; }
body.index { margin: 1.5em; max-width: 50em; }
header { position: sticky; top: 0; background: var(--paper); border-bottom: 1px solid var(--line);
  padding: .4em .8em; z-index: 3; }
h1 { font-size: 1.1em; margin: .2em 0; }
nav { display: flex; flex-wrap: wrap; gap: .4em; align-items: center; }
nav input { flex: 1 1 10em; min-width: 6em; }
button { font: inherit; padding: .2em .6em; }
:focus-visible { outline: 3px solid var(--arrow); outline-offset: 1px; }
#lines { font-family: ui-monospace, monospace; font-size: .9em; margin-top: .3em; }
#lines .error, #lines .signal { color: var(--bad); }
#board { position: relative; display: grid; gap: 1em 3em; padding: .8em;
  grid-template-columns: minmax(0, 1.4fr) minmax(0, 1fr) minmax(0, 1.3fr); }
#code { position: relative; max-height: calc(100vh - 9em); overflow: auto; }
#code pre { margin: 0; font: .85em/1.5 ui-monospace, monospace; overflow-x: auto; }
#code .l { display: block; white-space: pre-wrap; overflow-wrap: anywhere; padding-left: 3.8em;
  text-indent: -3.8em; }
#code .n { color: var(--soft); display: inline-block; width: 3em; text-align: right;
  margin-right: .8em; }
#code .ran { background: var(--mark); }
#code .next { background: var(--next); }
#code .ran::after { content: "  \\2190 just ran"; color: var(--soft); }
#code .next::after { content: "  \\2190 runs next"; color: var(--soft); }
#code .ran.next::after { content: "  \\2190 ran, runs again"; }
h2 { font-size: .95em; margin: .6em 0 .3em; }
h2.running::after { content: " (running)"; color: var(--arrow); }
.var { display: grid; grid-template-columns: auto minmax(0, max-content) auto minmax(8em, 1fr);
  gap: 0 .6em; align-items: baseline; font-family: ui-monospace, monospace; font-size: .9em;
  padding: .15em .3em; }
.var .t, .at { color: var(--soft); }
.var .t { overflow-wrap: anywhere; }
.val { border: 1px solid var(--line); padding: 0 .3em; min-width: 2em; overflow-wrap: anywhere; }
.block { margin: 0 0 1em; }
.block .head { font-size: .85em; }
.block .head .at { float: right; }
.cells { display: flex; flex-wrap: wrap; font-family: ui-monospace, monospace; }
.cell { min-width: 2.2em; text-align: center; margin: 0 -1px 1.6em 0; position: relative; }
.cell .k { display: block; font-size: .7em; color: var(--soft); }
.cell .x { display: block; border: 1px solid var(--ink); padding: .1em .2em; min-height: 1.4em; }
.cell .x.unset { color: var(--soft); }
.spare .x { border-style: dotted; color: var(--soft); }
.cell .who { position: absolute; left: 0; right: 0; top: 100%; font-size: .7em;
  color: var(--arrow); white-space: nowrap; overflow: visible; }
.past .x { color: var(--bad); border-color: var(--bad); border-style: dashed; }
.lost .x, .lost .box, .lost .member { border-style: dashed; border-color: var(--soft); }
.lost .head::after { content: " \\2014 no name reaches it"; color: var(--bad); }
.box { border: 1px dashed var(--soft); padding: .3em .6em; display: inline-block;
  font-size: .85em; }
.freed .box { color: var(--bad); }
.members { display: inline-block; min-width: 60%; }
.member { display: grid; grid-template-columns: 8em 1fr; border: 1px solid var(--ink);
  margin-top: -1px; font-family: ui-monospace, monospace; font-size: .9em; }
.member span { padding: .1em .4em; }
.member .mn { color: var(--soft); }
.wrong, .dangling { color: var(--bad); font-size: .85em; }
.changed { background: var(--changed); }
.names { font-size: .8em; color: var(--arrow); }
#arrows { position: absolute; left: 0; top: 0; pointer-events: none; overflow: visible; }
#arrows path.a { fill: none; stroke: var(--arrow); stroke-width: 1.6; opacity: .85; }
#arrows path.a.dangling { stroke: var(--bad); stroke-dasharray: 5 3; }
#head path { fill: var(--arrow); }
#bad path { fill: var(--bad); }
#io { padding: .4em .8em 2em; font-size: .9em; }
#io code { white-space: pre-wrap; word-break: break-all; background: #f2f2f7; padding: 0 .3em; }
.end p { font-family: ui-monospace, monospace; font-size: .9em; white-space: pre-wrap;
  margin: .1em 0; }
@media (max-width: 900px) {
  #board { grid-template-columns: minmax(0, 1fr) minmax(0, 1fr); }
  #code { grid-column: 1 / -1; max-height: 16em; }
}
@media (max-width: 600px) {
  #board { grid-template-columns: minmax(0, 1fr); gap: .8em; padding: .5em .5em .5em 1.5em; }
  :root { font-size: 14px; }
}
"""

SCRIPT = r"""
"use strict";
const T = JSON.parse(document.getElementById("trace").textContent);
const N = T.steps.length;  // pictures 1..N, and N + 1: the end
const $ = (id) => document.getElementById(id);
const el = (tag, cls, text) => {
  const e = document.createElement(tag);
  if (cls) e.className = cls;
  if (text !== undefined) e.textContent = text;
  return e;
};
let at = 0, shownSource = null;

function outputUpTo(i, stream = "output") {
  let s = "";
  for (let k = 0; k <= Math.min(i, N - 1); k++) s += T.steps[k][stream] || "";
  return i >= N ? s + (T["end_" + stream] || "") : s;
}

function escaped(s) {  // each byte as itself or C's escape, as the terminal shows it
  const names = {0: "\\0", 7: "\\a", 8: "\\b", 9: "\\t", 10: "\\n", 11: "\\v", 12: "\\f",
                 13: "\\r", 92: "\\\\"};
  let out = "";
  [...s].forEach((ch, k) => {
    const c = ch.charCodeAt(0), next = s[k + 1] || "";
    // an escape reads on while digits follow: \000 before a digit, octal before a hex one
    out += c === 0 && /[0-7]/.test(next) ? "\\000" : names[c] !== undefined ? names[c] :
      (c >= 32 && c < 127) ? ch : /[0-9a-fA-F]/.test(next) ?
      "\\" + c.toString(8).padStart(3, "0") : "\\x" + c.toString(16).padStart(2, "0");
  });
  return out;
}

function source(file) {
  if (shownSource === file) return;
  shownSource = file;
  const pre = $("source");
  pre.textContent = "";
  (T.sources[file] || []).forEach((text, k) => {
    const row = el("span", "l");
    row.id = "line-" + (k + 1);
    row.append(el("span", "n", String(k + 1)), document.createTextNode(text));
    pre.append(row);
  });
}

function varRow(v) {
  const row = el("div", "var");
  const val = el("span", "val", v.value);
  if (v.id) val.dataset.id = v.id;
  if (v.to) val.dataset.to = v.to;
  if (v.value.endsWith(", freed")) val.dataset.dangling = "1";
  if (v.changed) val.classList.add("changed");
  row.append(el("span", "n", v.name), el("span", "t", v.type), el("span", "at", v.at), val);
  return row;
}

function blockBox(b) {
  // an arrow to the block as a whole ends on its box or its members
  const box = el("div", "block " + (b.freed ? "freed " : "") + (b.lost ? "lost" : ""));
  const head = el("div", "head", b.head);
  head.append(el("span", "at", b.at));
  box.append(head);
  if (b.library) box.append(el("div", "names", "a line of the prompt library"));
  if (b.ahead) box.append(el("div", "names", b.ahead));
  if (b.owner) box.append(el("div", "names", b.owner));
  if (b.box) {
    const words = el("div", "box", b.box);
    words.dataset.id = b.id;
    box.append(words);
    if (b.names.length)
      box.append(el("div", b.freed ? "dangling" : "names", "\u25b2 " + b.names.join(", ")));
  }
  if (b.members) {
    box.append(el("div", "names", "a " + b.type + (b.names.length ? "  \u25c4 " +
      b.names.join(", ") : "")));
    const rows = el("div", "members");
    rows.dataset.id = b.id;
    box.append(rows);
    for (const m of b.members) {
      const row = el("div", "member");
      const val = el("span", "mv", m.value);
      val.dataset.id = m.id;
      if (m.to) val.dataset.to = m.to;
      if (m.changed) val.classList.add("changed");
      row.append(el("span", "mn", m.name), val);
      rows.append(row);
    }
  }
  if (b.cells) {
    const strip = el("div", "cells");
    b.cells.forEach((c, k) => {
      const cell = el("div", "cell" + (c.past ? " past" : "") + (c.spare ? " spare" : ""));
      const x = el("span", "x", c.text);
      x.dataset.id = "c " + b.id.slice(2) + " " + k;
      if (c.to) x.dataset.to = c.to;
      if (c.changed) x.classList.add("changed");
      if (c.unset) x.classList.add("unset");
      // the index under the cell: an arrow comes in from above
      cell.append(x, el("span", "k", c.k));
      if (c.names.length) cell.append(el("span", "who", "\u25b2 " + c.names.join(", ")));
      strip.append(cell);
    });
    box.append(strip);
  }
  if (b.more) box.append(el("div", "names", b.more));
  for (const n of b.notes || []) box.append(el("div", "names", n));
  for (const w of b.wrong) box.append(el("div", "wrong", "\u2573 " + w));
  return box;
}

function lines(s, i) {
  const div = $("lines");
  div.textContent = "";
  if (i >= N) {
    div.append(el("div", "", "at the end: " + T.ending));
    return;
  }
  div.append(el("div", "", s.ran === null ? "just ran   " + (s.ran_text ||
    "(nothing yet: the program starts)") : "just ran   " + s.ran + "  " + s.ran_text));
  div.append(el("div", "", (s.signal ? "was running " : "runs next  ") + s.line + "  " + s.text));
  for (const [kind, words] of s.remarks) div.append(el("div", kind, words));
}

function render(i) {
  at = Math.max(0, Math.min(i, N));
  const s = T.steps[Math.min(at, N - 1)];
  $("title").textContent = T.program + (at < N ? " \u2014 step " + (at + 1) + " of " + N :
    " \u2014 at the end");
  $("count").textContent = at < N ? "step " + (at + 1) + " of " + N : "the end";
  $("slider").value = at + 1;
  lines(s, at);
  source(s.file);
  for (const e of document.querySelectorAll("#code .ran, #code .next"))
    e.classList.remove("ran", "next");
  if (at < N) {
    if (s.ran !== null) $("line-" + s.ran) && $("line-" + s.ran).classList.add("ran");
    const next = $("line-" + s.line);
    if (next) {  // the line about to run stays in the source's view
      next.classList.add("next");
      const code = $("code");
      if (next.offsetTop < code.scrollTop ||
          next.offsetTop + next.offsetHeight > code.scrollTop + code.clientHeight)
        code.scrollTop = next.offsetTop - code.clientHeight / 2;
    }
  }
  const names = $("names"), memory = $("memory");
  names.textContent = "";
  memory.textContent = "";
  if (at >= N) {
    const end = el("div", "end");
    for (const row of T.left) end.append(el("p", "", row));
    memory.append(end);
  } else {
    if (s.globals.length) {
      names.append(el("h2", "", "globals"));
      for (const v of s.globals) names.append(varRow(v));
    }
    s.frames.forEach((f, k) => {
      names.append(el("h2", k === s.frames.length - 1 ? "running" : "", f.title));
      if (!f.vars.length) names.append(el("div", "names", "(no variables)"));
      for (const v of f.vars) names.append(varRow(v));
      for (const [title, ...named] of f.exprs) {  // what a line names that is no variable
        names.append(el("div", "names", title));
        for (const v of named) names.append(varRow(v));
      }
      if (k === 0 && s.calls_left_out) names.append(el("div", "names", s.calls_left_out));
    });
    for (const g of s.groups) {
      memory.append(el("h2", "", g.title));
      for (const b of g.blocks) memory.append(blockBox(b));
    }
    if (s.hidden) memory.append(el("div", "names", s.hidden));
    if (!s.groups.length) memory.append(el("div", "names", "(no blocks reached)"));
  }
  $("typed").textContent = T.typed ? "\u201c" + T.typed + "\u201d" : "(nothing)";
  const out = outputUpTo(at);
  $("output").textContent = out ? "\u201c" + escaped(out) + "\u201d" : "(nothing)";
  $("pending").textContent = at < N && s.pending ? s.pending : "";
  const told = outputUpTo(at, "stderr");
  $("stderr-row").hidden = !told;
  $("stderr").textContent = told ? "\u201c" + escaped(told) + "\u201d" : "";
  arrows();
  if (location.hash !== "#" + (at + 1)) history.replaceState(null, "", "#" + (at + 1));
}

function arrows() {
  const svg = $("arrows"), board = $("board");
  for (const p of svg.querySelectorAll("path.a")) p.remove();
  const origin = board.getBoundingClientRect();
  const targets = new Map();
  for (const e of board.querySelectorAll("[data-id]")) targets.set(e.dataset.id, e);
  for (const from of board.querySelectorAll("[data-to]")) {
    const to = targets.get(from.dataset.to);
    if (!to) continue;
    const a = from.getBoundingClientRect(), b = to.getBoundingClientRect();
    const x1 = a.right - origin.left, y1 = a.top + a.height / 2 - origin.top;
    let x2, y2, d;
    if (b.left > a.right - 4) {  // to the right: in at the cell's top
      x2 = b.left + b.width / 2 - origin.left;
      y2 = b.top + Math.min(4, b.height / 3) - origin.top;
      const mx = (x1 + x2) / 2;
      d = `M${x1},${y1} C${mx},${y1} ${x2},${y2 - 30} ${x2},${y2}`;
    } else {  // to a name on the left or below: round by the left margin, from the row's start
      const sx = (from.closest(".var, .member") || from).getBoundingClientRect().left - origin.left;
      x2 = b.left + Math.min(6, b.width / 3) - origin.left;
      y2 = b.top + b.height / 2 - origin.top;
      const out = Math.max(Math.min(sx, x2) - 40, 2);
      d = `M${sx},${y1} C${out},${y1} ${out},${y2} ${x2},${y2}`;
    }
    const p = document.createElementNS("http://www.w3.org/2000/svg", "path");
    p.setAttribute("d", d);
    p.setAttribute("class", "a" + (from.dataset.dangling ? " dangling" : ""));
    p.setAttribute("marker-end", from.dataset.dangling ? "url(#bad)" : "url(#head)");
    p.dataset.from = from.dataset.id || "";
    p.dataset.to = from.dataset.to;
    svg.append(p);
  }
}

function fromHash() {
  const n = parseInt(location.hash.slice(1), 10);
  return Number.isFinite(n) ? n - 1 : null;
}

$("slider").max = N + 1;
$("slider").addEventListener("input", (e) => render(e.target.valueAsNumber - 1));
$("back").addEventListener("click", () => render(at - 1));
$("forward").addEventListener("click", () => render(at + 1));
$("first").addEventListener("click", () => render(0));
$("last").addEventListener("click", () => render(N));
document.addEventListener("keydown", (e) => {
  if (e.target === $("slider") || e.altKey || e.ctrlKey || e.metaKey) return;
  const go = {ArrowRight: at + 1, ArrowLeft: at - 1, Home: 0, End: N}[e.key];
  if (go === undefined) return;
  e.preventDefault();
  render(go);
});
window.addEventListener("hashchange", () => {
  const n = fromHash();
  if (n !== null && n !== at) render(n);
});
window.addEventListener("resize", arrows);
if (window.ResizeObserver) new ResizeObserver(arrows).observe($("board"));
render(fromHash() ?? START);
"""
