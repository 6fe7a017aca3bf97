"""Draw one step of a memory trace (its format is in tools/tracer/trace.py)
as text.

draw(trace, i, utf8, width) gives the lines of the picture of step i, at
most width columns each; i equal to len(trace["steps"]) gives the closing
picture (what is left at exit). The first HEAD lines are the title and the
two source lines, which a pager keeps in view. Nothing here knows gdb: the
picture is a pure function of the trace.
"""

import re

from tools.drawing import marks

WIDTH = 80
HEAD = 3  # title, just ran, runs next
TWO_COLUMNS = 70  # narrower than this, memory goes below the names
STRIP_ROWS = 4  # rows of a long string shown before the rest is counted
CELL_ROWS = 5  # rows of cells shown before the rest is counted

UTF8 = {"spare": "··", "kept": "░░", "h": "─", "v": "│", "tl": "┌", "tr": "┐", "bl": "└",
        "br": "┘", "tt": "┬", "bt": "┴", "dh": "╌", "dv": "┆", "up": "▲", "arrow": "─►",
        "back": "◄", "more": "…", "sep": "│", "x": "╳"}
ASCII = {"spare": "..", "kept": "##", "h": "-", "v": "|", "tl": "+", "tr": "+", "bl": "+",
         "br": "+", "tt": "+", "bt": "+", "dh": " ", "dv": ":", "up": "^", "arrow": "->",
         "back": "<", "more": "~", "sep": "|", "x": "!!"}
# A mark is never what a cell can hold: a byte is one character or an escape
# that starts with a backslash, a number has digits, a pointer a block's letter.


def fit(text, width, more):
    """text cut to width columns, the cut marked."""
    return text if len(text) <= width else text[:max(width - 1, 0)] + more


def tail(address):
    return address[-4:] if address else ""


def block_rows(trace, step, block, pointers, g, width, owner=None):
    """Rows (each at most width wide) of one block: label, cells, markers."""
    names = marks.letters(trace)
    reached = block.get("reached", True)
    t = marks.type_of(trace, block["type"])
    head = marks.heading(step, names, block)
    by = head.find(", by ")
    if len(head) > width - 6 and by > 0:  # who made it, on a row of its own, whole
        rows = [fit(head[:by], width - 6, g["more"]).ljust(width - 5) + tail(block["address"]),
                fit("  " + head[by + 2:], width, g["more"])]
    else:
        rows = [fit(head, width - 6, g["more"]).ljust(width - 5) + tail(block["address"])]
    if marks.ahead(block):
        rows += wrap("  " + marks.ahead(block), width, "    ")
    if owner:  # where an object of the standard library keeps what it holds
        rows.append(fit("  " + owner[0], width, g["more"]))
    if block.get("library"):
        rows.append("  a line of the prompt library")
    if not reached and not block["freed"]:
        rows.append("  - no name reaches it -")
    solid = reached and not block["freed"] and not block.get("ended")
    v = g["v"] if solid else g["dv"]

    def line(n):  # dashed for a block no name reaches, or freed
        return g["h"] * n if solid else ((g["dh"] * n) if g is UTF8 else ("- " * n)[:n])

    def box(words):  # what a block is, in words, on as many rows as they take
        inner = [fit(r, width - 6, g["more"]) for r in wrap(words, width - 6, "")]
        n = max(len(r) for r in inner)
        return ["  " + g["tl"] + line(n + 2) + g["tr"]] + \
            ["  " + v + " " + r.ljust(n) + " " + v for r in inner] + \
            ["  " + g["bl"] + line(n + 2) + g["br"]]

    wrong = marks.wrongs(trace, step, block)
    gone = "freed: not the program's now" if block["freed"] else \
        "its call has ended: not the program's now" if block.get("ended") else None
    if gone:
        rows += box(gone)
        every = sorted({n for names_ in pointers.values() for n in names_})
        rows += marker_rows([(3, ", ".join(every))], g, width) if every else []
        return rows + [r for words, _ in wrong
                       for r in wrap("  %s %s" % (g["x"], words), width, "    ")]
    if block["bytes"] is None:  # a FILE, or what a throw threw
        rows += box(marks.runtimes(trace, step, block))
        every = sorted({n for names_ in pointers.values() for n in names_})
        return rows + (marker_rows([(3, ", ".join(every))], g, width) if every else [])
    if t["kind"] in ("struct", "union"):
        return rows + struct_rows(trace, step, block, pointers, g, width, owner) + [
            r for words, _ in wrong for r in wrap("  %s %s" % (g["x"], words), width, "    ")]
    items, tail_, rest, omitted = marks.cells(trace, step, block)
    size = max(t["size"], 1)
    odd = block["size"] % size != 0
    # an access past the end, which memcheck caught: the cells after the end
    # up to it, the ones it touched crossed out
    past = []
    for _, marked in wrong:
        past = [a or b for a, b in zip(marked + [""] * len(past), past + [""] * len(marked))]
    texts = items + tail_ + [g["x"] if m else "" for m in past]
    if owner and owner[1] is not None and not tail_:  # its spare capacity: not in use
        used = -(-owner[1] // size)
        texts[used:len(items)] = [g["spare"]] * max(len(items) - used, 0)
    kept = owner[2] // size if owner else 0
    texts[:kept] = [g["kept"]] * min(kept, len(items))
    # whole elements by index; bytes after the last whole one by offset (+N)
    labels = [str(k) for k in range(len(items))] + [
        "+%d" % k for k in range(len(items) * size, len(items) * size + len(tail_) +
                                 (len(past) if odd else 0))] + (
        [] if odd else [str(k) for k in range(len(items), len(items) + len(past))])
    widest = max((len(x) for x in texts + rest + labels), default=1)
    cell = max(3, widest + (1 if widest <= 2 else 2))
    per_row = max(1, min(16, (width - 3) // (cell + 1)))
    if t["kind"] in ("char", "uchar") and len(texts) > per_row:
        return rows + strip_rows(items, rest, omitted, pointers, v, g, width, past) + [
            r for words, _ in wrong for r in wrap("  %s %s" % (g["x"], words), width, "    ")]
    shown = texts[:per_row * CELL_ROWS]
    for start in range(0, len(shown), per_row):
        part = shown[start:start + per_row]
        n = len(part)
        rows.append("  " + "".join(labels[start + k].center(cell + 1) for k in range(n)).rstrip())
        rows.append("  " + g["tl"] + g["tt"].join([line(cell)] * n) + g["tr"])
        rows.append("  " + v + v.join(x.center(cell) for x in part) + v)
        rows.append("  " + g["bl"] + g["bt"].join([line(cell)] * n) + g["br"])
        at = [(3 + (k - start) * (cell + 1) + cell // 2, ", ".join(pointers[k]))
              for k in range(start, start + n) if k in pointers]
        rows += marker_rows(at, g, width)
    if g["spare"] in texts:
        rows.append(fit("  %s not in use: room to grow" % g["spare"], width, g["more"]))
    if kept:
        rows += wrap("  %s the library's: the owners' count" % g["kept"], width, "    ")
    rows += [r for words, _ in wrong for r in wrap("  %s %s" % (g["x"], words), width, "    ")]
    left = len(items) + len(tail_) - len(shown[:len(items) + len(tail_)])
    if left or omitted:
        hidden = max(len(items) - len(shown), 0) * size + \
            len(tail_) - len(shown[len(items):len(items) + len(tail_)])
        last = rest or (items + tail_)[max(len(shown), len(items) + len(tail_) - 4):]
        rows.append(fit("  %s %s more, the last: %s" % (
            g["more"], marks.plural(hidden + omitted + len(rest) * size, "byte"),
            " ".join(last)), width, g["more"]))
        beyond = sorted((k, n) for k, names_ in pointers.items() if k >= len(shown)
                        for n in names_)
        if beyond:  # pointers into cells the picture leaves out
            rows.append(fit("  %s %s" % (g["up"], ", ".join("%s at [%d]" % (n, k)
                                                           for k, n in beyond)),
                            width, g["more"]))
    return rows


def strip_rows(items, rest, omitted, pointers, v, g, width, past=()):
    """A long string: its characters in one strip, not cell by cell, each
    byte as itself or its escape, under a ruler of indices; past: the cells
    after its end an access reached, crossed out after the strip's end
    (inside it, a mark would read as characters)."""
    room = width - 6
    rows, row, cols, at, ruler = [], "", [], [], ""
    for k, x in enumerate(marks.unambiguous(items)):
        if len(row) + len(x) > room:
            rows.append(("  " + v + row + v, at, ruler))
            if len(rows) == STRIP_ROWS:
                break
            row, at, ruler = "", [], ""
        if k in pointers:
            at.append((3 + len(row), ", ".join(pointers[k])))
        if k % 5 == 0 and len(ruler) <= len(row):  # an index every fifth byte
            ruler = ruler.ljust(len(row)) + str(k) + " "
        row += x
        cols.append(k)
    else:
        rows.append(("  " + v + row + v + "".join(g["x"] if m else " " for m in past).rstrip(),
                     at, ruler))
    out = []
    for text, marked, numbers in rows:
        out.append(("   " + numbers).rstrip())
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


def struct_rows(trace, step, block, pointers, g, width, owner=None):
    """A block of structs: each member by name, one a row; a pointer member
    by where it points; a member past the end of a block too small for its
    struct, said so. The standard library's objects a container holds
    (std::strings in a vector) one a row, by what they hold."""
    t = marks.type_of(trace, block["type"])
    size = max(t["size"], 1)
    raw = block["bytes"]
    count = max((len(raw) + size - 1) // size, 1)
    rows = wrap("  " + ("a " if count == 1 else "%d of " % count) +
                marks.type_name(block["type"]) +
                (", but the block has %d of its %d bytes" % (block["size"] % size, size)
                 if block["size"] % size else ""), width, "    ")
    if t.get("library"):
        texts = (owner[3] if owner and owner[3] is not None else [])[:count]
        for k in range(min(count, CELL_ROWS * 4)):
            if k in pointers:
                rows.append(fit("  %s [%d]: %s" % (g["back"], k, ", ".join(pointers[k])), width,
                                g["more"]))
            rows.append(fit("  [%d] %s" % (k, texts[k] if k < len(texts) else
                                           g["spare"] if owner else "(its insides)"),
                            width, g["more"]))
        if owner and len(texts) < count:
            rows.append(fit("  %s not in use: room to grow" % g["spare"], width, g["more"]))
        return rows
    parts = marks.parts_of(step, block)
    for k in range(min(count, CELL_ROWS * 4)):
        if k in pointers:
            rows.append(fit("  %s %s%s" % (g["back"], "[%d]: " % k if count > 1 else "",
                                          ", ".join(pointers[k])), width, g["more"]))
        part = raw[k * size:(k + 1) * size]
        for name, ftype, off, bits in marks.members(trace, block["type"]):
            text = marks.member_text(trace, step, ftype, part, off, bits,
                                     block.get("partial"), k * size, parts)
            if marks.type_of(trace, ftype)["kind"] == "pointer" and text not in (
                    "NULL", "?", marks.PAST):
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
            for k, ch in enumerate(fit(text, max(width - col, 1), g["more"])):
                if col + k < width:
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


def type_parts(name):
    """A type's name as its base and what follows it: ('int', ' [5]'),
    ('struct node', ' *')."""
    base = name.rstrip("*& ")
    while base.endswith("]") and "[" in base:
        base = base[:base.rindex("[")].rstrip()
    return base, name[len(base):]


def fit_type(name, width, more):
    """A type's name cut to width, the cut in its base: the pointer, the
    reference and the array bounds stay whole ("struct no… *", "i… [20]")."""
    if len(name) <= width:
        return name
    # the tag's name says more than the word struct before it
    name = re.sub(r"\b(struct|union|enum) (?=\w)", "", name)
    if len(name) <= width:
        return name
    base, suffix = type_parts(name)
    if len(suffix) + 2 > width:
        return fit(name, width, more)
    return base[:width - len(suffix) - 1] + more + suffix


def var_rows(trace, step, variables, backrefs, g, width, wname, wtype):
    """One row a variable: name, type, value, the end of its address. Where
    the row is short, the type is cut first, then the address left out, and
    the value is cut last: where a pointer points is the point."""
    rows = []
    for var in variables:
        value = marks.shown(trace, step, var)
        back = backrefs.get(var.get("address"))
        if back:
            value += " " + g["back"] + " " + ", ".join(back)
        if "points_to" in var and value not in ("NULL", "?") and \
                marks.type_of(trace, var["type"])["kind"] == "pointer":
            value = g["arrow"] + " " + value
        elif marks.type_of(trace, var["type"])["kind"] == "reference" and var["set"]:
            value = g["arrow"] + " " + value
        address = tail(var.get("address"))
        kind = marks.type_name(var["type"])
        if var.get("static"):  # a function's static: it lives as long as a global
            value += " (static)"
        # a long name (a static's "counter's count") takes room from the type
        nw = min(max(len(var["name"]), wname), 20)
        name = fit(var["name"], nw, g["more"]).ljust(nw)
        tw = max(min(wtype, 5), wtype - (nw - wname))
        room = width - 2 - nw - 1 - tw - 1 - len(address) - 1
        if len(value) > room and address:
            room, address = room + len(address) + 1, ""
        typ = fit_type(kind, tw, g["more"]).ljust(tw)
        # what does not fit goes on below, under the value: the target stays whole
        lines = wrap(value, max(room, 8), "")
        lead = "  %s %s " % (name, typ)
        rows.append((lead + fit(lines[0], max(room, 1), g["more"])).ljust(width - len(address))
                    + address)
        more = lines[1:4]
        if len(lines) > 4:  # a long array's values: what is left out is said to be
            more[-1] = more[-1][:max(room, 8) - 2] + " " + g["more"]
        rows += [" " * len(lead) + fit(rest, max(room, 1), g["more"]) for rest in more]
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
    skip = marks.left_out_before(trace, i)
    if skip:
        out.append(fit("just ran        (passes of the loop at line %d, left out)" % skip["line"],
                       width, g["more"]))
    elif i > 0 and step.get("signal") and steps[i - 1]["line"] == step["line"]:
        out.append(fit("just ran        (line %d did not finish: a signal stopped it)" %
                       step["line"], width, g["more"]))
    elif i > 0:
        line, said = marks.ran(trace, i)
        out.append(fit("just ran  %4d  %s" % (line, said.strip()), width, g["more"]))
    else:
        out.append(fit("just ran        (nothing yet: the program starts)", width, g["more"]))
    word = "was running" if step.get("signal") else "runs next"
    out.append(fit("%-9s %4d  %s" % (word, step["line"], step["text"].strip()), width, g["more"]))
    for kind, words in marks.remarks(trace, i):
        out += wrap(words, width) if kind in ("error", "signal", "skipped") else \
            [fit(words, width, g["more"])]
    out.append("")

    pointers, backrefs = marks.pointed(trace, step)
    shown_names = marks.pointer_names(step)
    owned = marks.owners(trace, step)

    two = width >= TWO_COLUMNS
    left_w = max(30, (width - 3) * 38 // 77) if two else width
    right_w = width - left_w - 3 if two else width
    everyone = [v for _, v in shown_names]
    wname = min(10, max([len(v["name"]) for v in everyone] + [1]))
    wtype = min(12, max([len(marks.type_name(v["type"])) for v in everyone] + [1]))
    left = []
    if step["globals"]:
        left.append("globals")
        left += var_rows(trace, step, step["globals"], backrefs, g, left_w, wname, wtype)
    for n, f in enumerate(step["frames"]):
        running = n == len(step["frames"]) - 1
        left.append("%s  line %d%s" % (f["function"], f["line"], "  (running)" if running else ""))
        exprs = [e for e in step["exprs"] if e["frame"] == n]
        left += var_rows(trace, step, f["vars"], backrefs, g, left_w, wname, wtype)
        if not f["vars"]:
            left.append("  (no variables)")
        for line in dict.fromkeys(e.get("line") for e in exprs):
            # what a line names that is no variable: &x, &a[2], p + 1
            left.append(fit("  in line %s:" % line if line else "  in the line:", left_w,
                            g["more"]))
            left += var_rows(trace, step, [e for e in exprs if e.get("line") == line],
                             backrefs, g, left_w, wname, wtype)
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
        right += block_rows(trace, step, block, pointers.get(block["address"], {}), g, right_w,
                            owned.get(block["address"]))
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
    """The output so far: its last three rows, every byte as what it is;
    under it, what went to standard error, when anything did."""
    rows = []
    for head, stream in (("output so far: ", "output"), ("on stderr:     ", "stderr")):
        data = marks.output(trace, i, stream)
        if not data:
            if stream == "output":
                rows.append(head + "(nothing)")
            continue
        shown = marks.text(data, g is UTF8)
        room = max(width - len(head) - 2, 10)
        chunks = [shown[k:k + room] for k in range(0, len(shown), room)]
        more = [(head if n == 0 else " " * len(head)) + '"' + c + '"'
                for n, c in enumerate(chunks[-3:])]
        if len(chunks) > 3:
            more[0] = head + '"' + g["more"] + chunks[-3][1:] + '"'
        rows += more
        if pending and stream == "output":
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
