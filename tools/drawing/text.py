"""Draw one step of a memory trace (its format is in tools/tracer/trace.py)
as text.

draw(trace, i, utf8, width) gives the lines of the picture of step i, at
most width columns each; i equal to len(trace["steps"]) gives the closing
picture (what is left at exit). The first HEAD lines are the title and the
two source lines, which a pager keeps in view. Nothing here knows gdb: the
picture is a pure function of the trace.
"""

from tools.drawing import marks

WIDTH = 80
HEAD = 3  # title, just ran, runs next
TWO_COLUMNS = 70  # narrower than this, memory goes below the names
STRIP_ROWS = 4  # rows of a long string shown before the rest is counted
CELL_ROWS = 5  # rows of cells shown before the rest is counted

UTF8 = {"h": "─", "v": "│", "tl": "┌", "tr": "┐", "bl": "└", "br": "┘",
        "tt": "┬", "bt": "┴", "dh": "╌", "dv": "┆", "up": "▲", "arrow": "─►",
        "back": "◄", "more": "…", "sep": "│", "x": "╳"}
ASCII = {"h": "-", "v": "|", "tl": "+", "tr": "+", "bl": "+", "br": "+",
         "tt": "+", "bt": "+", "dh": " ", "dv": ":", "up": "^", "arrow": "->",
         "back": "<", "more": "~", "sep": "|", "x": "!!"}
# A mark is never what a cell can hold: a byte is one character or an escape
# that starts with a backslash, a number has digits, a pointer a block's letter.


def fit(text, width, more):
    """text cut to width columns, the cut marked."""
    return text if len(text) <= width else text[:max(width - 1, 0)] + more


def tail(address):
    return address[-4:] if address else ""


def block_rows(trace, step, block, pointers, g, width):
    """Rows (each at most width wide) of one block: label, cells, markers."""
    names = marks.letters(trace)
    reached = block.get("reached", True)
    t = marks.type_of(trace, block["type"])
    head = marks.heading(step, names, block)
    rows = [fit(head, width - 6, g["more"]).ljust(width - 5) + tail(block["address"])]
    if block.get("library"):
        rows.append("  a line of the prompt library")
    if not reached and not block["freed"]:
        rows.append("  - no name reaches it -")
    solid = reached and not block["freed"]
    v = g["v"] if solid else g["dv"]

    def line(n):  # dashed for a block no name reaches, or freed
        return g["h"] * n if solid else ((g["dh"] * n) if g is UTF8 else ("- " * n)[:n])

    def box(words):
        inner = fit(words, width - 6, g["more"])
        return ["  " + g["tl"] + line(len(inner) + 2) + g["tr"],
                "  " + v + " " + inner + " " + v,
                "  " + g["bl"] + line(len(inner) + 2) + g["br"]]

    wrong = marks.wrongs(trace, step, block)
    if block["freed"]:
        rows += box("freed: not the program's now")
        every = sorted({n for names_ in pointers.values() for n in names_})
        rows += marker_rows([(3, ", ".join(every))], g, width) if every else []
        return rows + [fit("  %s %s" % (g["x"], words), width, g["more"]) for words, _ in wrong]
    if block["bytes"] is None:  # a FILE
        rows += box("a FILE: the C library's own")
        every = sorted({n for names_ in pointers.values() for n in names_})
        return rows + (marker_rows([(3, ", ".join(every))], g, width) if every else [])
    items, rest, omitted = marks.cells(trace, step, block)
    if t["kind"] in ("struct", "union"):
        return rows + struct_rows(trace, step, block, pointers, g, width)
    # an access past the end, which memcheck caught: its cells, crossed out
    beyond = max([k for _, k in wrong], default=len(items) - 1) - len(items) + 1
    beyond = max(beyond, 0)
    widest = max((len(x) for x in items + rest + [g["x"]] * min(beyond, 1)), default=1)
    cell = max(3, widest + (1 if widest <= 2 else 2))
    per_row = max(1, min(16, (width - 3) // (cell + 1)))
    if t["kind"] in ("char", "uchar") and len(items) + beyond > per_row:
        return rows + strip_rows(items, rest, omitted, pointers, v, g, width, beyond) + [
            fit("  %s %s" % (g["x"], words), width, g["more"]) for words, _ in wrong]
    items += [g["x"]] * beyond
    shown = items[:per_row * CELL_ROWS]
    for start in range(0, len(shown), per_row):
        part = shown[start:start + per_row]
        n = len(part)
        rows.append("  " + "".join(str(start + k).center(cell + 1) for k in range(n)).rstrip())
        rows.append("  " + g["tl"] + g["tt"].join([line(cell)] * n) + g["tr"])
        rows.append("  " + v + v.join(x.center(cell) for x in part) + v)
        rows.append("  " + g["bl"] + g["bt"].join([line(cell)] * n) + g["br"])
        at = [(3 + (k - start) * (cell + 1) + cell // 2, ", ".join(pointers[k]))
              for k in range(start, start + n) if k in pointers]
        rows += marker_rows(at, g, width)
    rows += [fit("  %s %s" % (g["x"], words), width, g["more"]) for words, _ in wrong]
    left = len(items) - len(shown)
    if left or omitted:
        rows.append(fit("  %s %s more%s" % (
            g["more"], marks.plural(left * max(t["size"], 1) + omitted + len(rest) * max(t["size"], 1),
                              "byte"), ", the last: " + " ".join(rest) if rest else ""),
            width, g["more"]))
    return rows


def strip_rows(items, rest, omitted, pointers, v, g, width, beyond=0):
    """A long string: its characters in one strip, not cell by cell, each
    byte as itself or its escape; beyond: accesses past its end, marked
    after the strip's end (inside it, a mark would read as characters)."""
    room = width - 6
    rows, row, cols, at = [], "", [], []
    for k, x in enumerate(items):
        if len(row) + len(x) > room:
            rows.append(("  " + v + row + v, at))
            if len(rows) == STRIP_ROWS:
                break
            row, at = "", []
        if k in pointers:
            at.append((3 + len(row), ", ".join(pointers[k])))
        row += x
        cols.append(k)
    else:
        rows.append(("  " + v + row + v + g["x"] * beyond, at))
    out = []
    for text, marked in rows:
        out.append(text)
        out += marker_rows(marked, g, width)
    left = len(items) - len(cols) + omitted
    if left:
        out.append(fit("  %s %s more%s" % (g["more"], marks.plural(left + len(rest), "byte"),
                                           ", the last %d:" % len(rest) if rest else ""),
                       width, g["more"]))
        if rest:
            out.append(fit("  " + v + "".join(rest) + v, width, g["more"]))
    return out


def struct_rows(trace, step, block, pointers, g, width):
    """A block of structs: each member by name, one a row; a pointer member
    by where it points."""
    t = marks.type_of(trace, block["type"])
    size = max(t["size"], 1)
    raw = block["bytes"]
    count = len(raw) // size
    rows = ["  " + ("a " if count == 1 else "%d of " % count) + block["type"]]
    for k in range(min(count, CELL_ROWS * 4)):
        if k in pointers:
            rows.append(fit("  %s %s%s" % (g["back"], "[%d]: " % k if count > 1 else "",
                                          ", ".join(pointers[k])), width, g["more"]))
        part = raw[k * size:(k + 1) * size]
        for name, ftype, off in marks.members(trace, block["type"]):
            text = marks.value(trace, step, ftype, part[off:off + marks.type_of(trace, ftype)["size"]])
            if marks.type_of(trace, ftype)["kind"] == "pointer" and text not in ("NULL", "?"):
                text = g["arrow"] + " " + text
            label = ("[%d]." % k if count > 1 else "  ") + name
            rows.append(fit("  %-10s %s" % (label, text), width, g["more"]))
    return rows


def marker_rows(at, g, width):
    """▲ under each pointed-at cell, the pointers' names below it."""
    if not at:
        return []
    row = [" "] * width
    for col, _ in at:
        if col < width:
            row[col] = g["up"]
    rows = ["".join(row).rstrip()]
    fits = all(at[k][0] + len(at[k][1]) < at[k + 1][0] for k in range(len(at) - 1))
    if fits:
        row = [" "] * width
        for col, text in at:
            for k, ch in enumerate(text[:max(width - col, 0)]):
                row[col + k] = ch
        return rows + ["".join(row).rstrip()]
    for k in range(len(at) - 1, -1, -1):  # right to left, a stair
        row = [" "] * width
        for col, _ in at[:k]:
            if col < width:
                row[col] = g["v"]
        col, text = at[k]
        for j, ch in enumerate(fit(text, max(width - col, 1), g["more"])):
            if col + j < width:
                row[col + j] = ch
        rows.append("".join(row).rstrip())
    return rows


def var_rows(trace, step, variables, backrefs, g, width, wname, wtype):
    rows = []
    for var in variables:
        value = marks.shown(trace, step, var)
        back = backrefs.get(var.get("address"))
        if back:
            value += " " + g["back"] + " " + ", ".join(back)
        if "points_to" in var and value not in ("NULL", "?"):
            value = g["arrow"] + " " + value
        address = tail(var.get("address"))
        name = fit(var["name"], wname, g["more"]).ljust(wname)
        typ = fit(var["type"], wtype, g["more"]).ljust(wtype)
        room = width - 2 - len(name) - 1 - len(typ) - 1 - len(address) - 1
        rows.append(("  %s %s %s" % (name, typ, fit(value, max(room, 1), g["more"])))
                    .ljust(width - len(address)) + address)
    return rows


def draw(trace, i, utf8=True, width=WIDTH):
    """Lines of the picture of step i (or the closing picture)."""
    g = UTF8 if utf8 else ASCII
    steps = trace["steps"]
    width = max(width, 30)
    if i >= len(steps):
        return closing(trace, g, width)
    step = steps[i]
    calls, hidden, pending = marks.unseen(step)
    title = "%s %s step %d of %d" % (trace["program"], g["h"] * 2, i + 1, len(steps))
    out = [fit(title, width, g["more"])]
    if i > 0:
        prev = steps[i - 1]
        out.append(fit("just ran  %4d  %s" % (prev["line"], prev["text"].strip()), width,
                       g["more"]))
    else:
        out.append(fit("just ran        (nothing yet: the program starts)", width, g["more"]))
    word = "was running" if step.get("signal") else "runs next"
    out.append(fit("%-9s %4d  %s" % (word, step["line"], step["text"].strip()), width, g["more"]))
    for kind, words in marks.remarks(trace, i):
        out += wrap(words, width) if kind in ("error", "signal") else [fit(words, width, g["more"])]
    out.append("")

    pointers, backrefs = marks.pointed(trace, step)
    shown_names = marks.pointer_names(step)

    two = width >= TWO_COLUMNS
    left_w = max(30, (width - 3) * 38 // 77) if two else width
    right_w = width - left_w - 3 if two else width
    everyone = [v for _, v in shown_names]
    wname = min(10, max([len(v["name"]) for v in everyone] + [1]))
    wtype = min(12, max([len(v["type"]) for v in everyone] + [1]))
    left = []
    if step["globals"]:
        left.append("globals")
        left += var_rows(trace, step, step["globals"], backrefs, g, left_w, wname, wtype)
    for n, f in enumerate(step["frames"]):
        running = n == len(step["frames"]) - 1
        left.append("%s  line %d%s" % (f["function"], f["line"], "  (running)" if running else ""))
        exprs = [e for e in step["exprs"] if e["frame"] == n]
        left += var_rows(trace, step, f["vars"] + exprs, backrefs, g, left_w, wname, wtype)
        if not f["vars"] and not exprs:
            left.append("  (no variables)")
        if n == 0 and calls:
            left.append(calls)

    right = []
    # the heap first (the lessons are about it), then the rest; what no
    # name reaches, and what is freed, last
    order = sorted(step["blocks"], key=lambda b: (not b.get("reached", True) or b["freed"],
                                                   b["kind"] != "heap"))
    for block in order:
        if not marks.drawn(trace, block):
            continue
        if right:
            right.append("")
        right += block_rows(trace, step, block, pointers.get(block["address"], {}), g, right_w)
    if hidden:
        right += ["", fit(hidden, right_w, g["more"])]
    if not right:
        right = ["(no blocks reached)"]

    if two:
        out.append("NAMES".ljust(left_w) + " " + g["sep"] + " MEMORY")
        for k in range(max(len(left), len(right))):
            a = left[k] if k < len(left) else ""
            b = right[k] if k < len(right) else ""
            out.append((fit(a, left_w, g["more"]).ljust(left_w) + " " + g["sep"] + " "
                        + fit(b, right_w, g["more"])).rstrip())
    else:
        out += ["NAMES"] + [fit(a, width, g["more"]) for a in left]
        out += ["", "MEMORY"] + [fit(b, width, g["more"]) for b in right]
    out.append("")
    out += output_rows(trace, i, g, width, pending)
    return out


def wrap(text, width, indent="  "):
    """text in rows of at most width columns, broken at blanks."""
    lead = text[:len(text) - len(text.lstrip(" "))]
    rows, row = [], lead
    for word in text.lstrip(" ").split(" "):
        if row.strip() and len(row) + 1 + len(word) > width:
            rows.append(row)
            row = indent + word
        else:
            row = row + " " + word if row.strip() else row + word
    rows.append(row)
    return [r[:width] for r in rows]


def output_rows(trace, i, g, width, pending=None):
    """The output so far: its last three rows, every byte as what it is."""
    head = "output so far: "
    data = marks.output(trace, i)
    if not data:
        return [head + "(nothing)"]
    shown = marks.text(data, g is UTF8)
    room = max(width - len(head) - 2, 10)
    chunks = [shown[k:k + room] for k in range(0, len(shown), room)]
    rows = [(head if n == 0 else " " * len(head)) + '"' + c + '"'
            for n, c in enumerate(chunks[-3:])]
    if len(chunks) > 3:
        rows[0] = head + '"' + g["more"] + chunks[-3][1:] + '"'
    if pending:
        rows.append(fit("  " + pending, width, g["more"]))
    return rows


def closing(trace, g, width):
    """What is left when the program has ended, in valgrind's own words."""
    steps = trace["steps"]
    out = [fit("%s %s at the end" % (trace["program"], g["h"] * 2), width, g["more"])]
    words = marks.ending(trace)
    out += wrap(words[0].upper() + words[1:].rstrip(".") + ".", width) + [""]
    for words in marks.left_words(trace):
        out += wrap(words, width, "    " if words.startswith(" ") else "") if words else [""]
    if steps:
        out.append("")
        out += output_rows(trace, len(steps), g, width)
    return [fit(row, width, g["more"]) for row in out]
