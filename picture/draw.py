"""Draw one step of a memory trace (see trace.py for its format) as text.

draw(trace, i, utf8) gives the lines of the picture of step i; i equal to
len(trace["steps"]) gives the closing picture (what is left at exit).
Nothing here knows gdb: the picture is a pure function of the trace.
"""

WIDTH = 80
LEFT = 38  # names: globals and frames
RIGHT = WIDTH - LEFT - 3  # memory: the blocks
PER_ROW = 9  # cells of a block per row

UTF8 = {"h": "─", "v": "│", "tl": "┌", "tr": "┐", "bl": "└", "br": "┘",
        "tt": "┬", "bt": "┴", "dh": "╌", "dv": "┆", "up": "▲", "dot": "●",
        "arrow": "─►", "back": "◄", "more": "…", "sep": "│"}
ASCII = {"h": "-", "v": "|", "tl": "+", "tr": "+", "bl": "+", "br": "+",
         "tt": "+", "bt": "+", "dh": " ", "dv": ":", "up": "^", "dot": "*",
         "arrow": "->", "back": "<", "more": "~", "sep": "|"}


def fit(text, width, more):
    """text cut to width columns, the cut marked."""
    text = text if isinstance(text, str) else str(text)
    return text if len(text) <= width else text[:max(width - 1, 0)] + more


def escape(text, utf8):
    out = []
    for ch in text:
        if ch == "\n":
            out.append("\\n")
        elif ch == "\t":
            out.append("\\t")
        elif ord(ch) < 32 or (not utf8 and ord(ch) > 126):
            out.append("\\x%02x" % (ord(ch) & 0xFF))
        else:
            out.append(ch)
    return "".join(out)


def tail(address):
    return address[-4:] if address else ""


def letters(trace, upto):
    """A letter per drawn block, stable over the whole trace."""
    names, n = {}, 0
    for step in trace["steps"][:upto + 1]:
        for b in step["blocks"]:
            if b["address"] not in names and not b.get("name"):
                names[b["address"]] = _letter(n)
                n += 1
    return names


def _letter(n):
    s = ""
    n += 1
    while n:
        n, r = divmod(n - 1, 26)
        s = chr(65 + r) + s
    return s


def block_of(blocks, address):
    p = int(address, 16)
    for b in blocks:
        start = int(b["address"], 16)
        if start <= p < start + max(b["size"], 1):
            return b, p - start
    return None, 0


def frame_name(step, index):
    if index is None:
        return "global"
    return step["frames"][index]["function"]


def target_label(step, var, names, g):
    """Where a pointer points, in words: 'A[2]', 'main x', 'NULL'."""
    if "points_to" not in var:
        return "?"
    if int(var["points_to"], 16) == 0:
        return "NULL"
    block, offset = block_of(step["blocks"], var["points_to"])
    if block is None:
        return g["arrow"] + " " + var["points_to"]
    if block.get("name"):
        where = frame_name(step, block["frame"])
        return g["arrow"] + " " + (where + " " if where != "global" else "") + block["name"]
    size = max(block["elem"]["size"], 1)
    if block["bytes"] is None:
        return "%s %s" % (g["arrow"], names[block["address"]])
    return "%s %s[%d]" % (g["arrow"], names[block["address"]], offset // size)


def element(block, k, utf8):
    """The text of element k of a block, '?' when not set."""
    size = max(block["elem"]["size"], 1)
    raw = block["bytes"][k * size:(k + 1) * size]
    if not raw or all(b is None for b in raw):
        return "?"
    if any(b is None for b in raw):
        raw = [b or 0 for b in raw]
    etype = block["elem"]["type"]
    if size == 1 and ("char" in etype or etype in ("BYTE", "uint8_t")):
        c = raw[0]
        if c == 0:
            return "\\0"
        if c == 10:
            return "\\n"
        if 32 <= c < 127:
            return chr(c)
        return "%02x" % c
    value = int.from_bytes(bytes(raw), "little")
    if "*" in etype:
        return "NULL" if value == 0 else "ptr"
    if size > 1 and "unsigned" not in etype and "size_t" not in etype and value >> (8 * size - 1):
        value -= 1 << (8 * size)
    return str(value) if size > 1 else "%02x" % value


def draw_block(step, block, names, pointers, g, utf8):
    """Rows (each at most RIGHT wide) of one block: label, cells, markers."""
    reached = block.get("reached", True)
    kind = block["kind"]
    head = "%s %s, %d byte%s" % (names[block["address"]], kind, block["size"],
                                 "" if block["size"] == 1 else "s")
    if block.get("allocated_by"):
        head += ", by " + block["allocated_by"]
    rows = [fit(head, RIGHT - 6, g["more"]).ljust(RIGHT - 5) + tail(block["address"])]
    if block.get("library"):
        rows.append("  a line of the prompt library")
    if not reached:
        rows.append("  - no name reaches it -")
    if block["bytes"] is None:
        rows.append("  [ a FILE: the C library's ]" if not utf8 else "  ┌ a FILE: the C library's ┐")
        rows += marker_rows([(2, ", ".join(pointers.get(0, [])))], g) if pointers.get(0) else []
        return rows
    size = max(block["elem"]["size"], 1)
    count = (len(block["bytes"]) + size - 1) // size
    items = [element(block, k, utf8) for k in range(count)]
    if block["elem"]["type"].endswith("*"):
        # an array of pointers: name the block each element points to
        items = []
        for k in range(count):
            raw = block["bytes"][k * 8:(k + 1) * 8]
            if any(b is None for b in raw):
                items.append("?")
                continue
            p = "0x%x" % int.from_bytes(bytes(raw), "little")
            if p == "0x0":
                items.append("NULL")
                continue
            t, off = block_of(step["blocks"], p)
            items.append((names.get(t["address"], "?") + ("[%d]" % off if off else "")) if t else "ptr")
    widest = max((len(x) for x in items), default=1)
    cell = max(3, widest + (1 if widest <= 2 else 2))
    per_row = max(1, min(PER_ROW, (RIGHT - 3) // (cell + 1)))
    v = g["v"] if reached else g["dv"]

    def line(n):  # dashed for a block no name reaches
        return g["h"] * n if reached else ((g["dh"] * n) if utf8 else ("- " * n)[:n])

    if size == 1 and len(items) > 2 * per_row and not block["elem"]["type"].endswith("*"):
        # a long string: its characters in one strip, not cell by cell
        text = "".join(x if len(x) == 1 else x if x in ("\\0", "\\n") else "?" for x in items)
        room = RIGHT - 6
        for start in range(0, len(text), room):
            rows.append("  " + v + text[start:start + room].ljust(min(room, len(text))) + v)
        marks = sorted((k, names) for k, names in pointers.items())
        rows += marker_rows([(3 + k % room, ", ".join(n)) for k, n in marks], g)
        return rows
    shown = items[:per_row * 5]
    for start in range(0, len(shown), per_row):
        part = shown[start:start + per_row]
        n = len(part)
        rows.append("  " + "".join(str(start + k).center(cell + 1) for k in range(n)).rstrip())
        rows.append("  " + g["tl"] + g["tt"].join([line(cell)] * n) + g["tr"])
        rows.append("  " + v + v.join(x.center(cell) for x in part) + v)
        rows.append("  " + g["bl"] + g["bt"].join([line(cell)] * n) + g["br"])
        marks = [(3 + (k - start) * (cell + 1) + cell // 2, ", ".join(pointers[k]))
                 for k in range(start, start + n) if k in pointers]
        rows += marker_rows(marks, g)
    if len(items) > len(shown):
        rows.append("  %s %d more" % (g["more"], len(items) - len(shown)))
    return rows


def marker_rows(marks, g):
    """▲ under each pointed-at cell, the pointers' names below it."""
    if not marks:
        return []
    line = [" "] * RIGHT
    for col, _ in marks:
        if col < RIGHT:
            line[col] = g["up"]
    rows = ["".join(line).rstrip()]
    fits = all(marks[k][0] + len(marks[k][1]) < marks[k + 1][0] for k in range(len(marks) - 1))
    if fits:
        line = [" "] * RIGHT
        for col, text in marks:
            for k, ch in enumerate(text[:RIGHT - col]):
                line[col + k] = ch
        return rows + ["".join(line).rstrip()]
    for k in range(len(marks) - 1, -1, -1):  # right to left, a stair
        line = [" "] * RIGHT
        for col, _ in marks[:k]:
            line[col] = g["v"]
        col, text = marks[k]
        for j, ch in enumerate(fit(text, RIGHT - col, g["more"])):
            line[col + j] = ch
        rows.append("".join(line).rstrip())
    return rows


def var_rows(step, variables, names, backrefs, g, width_name, width_type):
    rows = []
    for var in variables:
        if "points_to" in var or var["type"].rstrip().endswith("*") or var["type"] == "string":
            value = target_label(step, var, names, g) if var["set"] else "?"
        else:
            value = var["value"] if var["set"] else "?"
        back = backrefs.get(var.get("address"))
        if back:
            value += " " + g["back"] + " " + ", ".join(back)
        address = tail(var.get("address"))
        name = fit(var["name"], width_name, g["more"]).ljust(width_name)
        typ = fit(var["type"], width_type, g["more"]).ljust(width_type)
        room = LEFT - 2 - len(name) - 1 - len(typ) - 1 - len(address) - 1
        rows.append(("  %s %s %s" % (name, typ, fit(escape(value, True), room, g["more"])))
                    .ljust(LEFT - len(address)) + address)
    return rows


def draw(trace, i, utf8=True):
    """Lines of the picture of step i (or the closing picture)."""
    g = UTF8 if utf8 else ASCII
    steps = trace["steps"]
    if i >= len(steps):
        return closing(trace, g)
    step = steps[i]
    names = letters(trace, len(steps))
    out = ["%s %s step %d of %d" % (trace["program"], g["h"] * 2, i + 1, len(steps))]
    if i > 0:
        prev = steps[i - 1]
        out.append(fit("just ran  %4d  %s" % (prev["line"], prev["text"].strip()), WIDTH, g["more"]))
    else:
        out.append("just ran        (nothing yet: the program starts)")
    out.append(fit("runs next %4d  %s" % (step["line"], step["text"].strip()), WIDTH, g["more"]))
    for skip in trace.get("skipped", []):
        if skip["before_step"] == i:
            out.append("(%d more pass%s of line %d left out)" % (
                skip["passes"], "" if skip["passes"] == 1 else "es", skip["line"]))
    if step.get("returned"):
        r = step["returned"]
        value = r["value"]
        if value is not None and value.startswith("0x"):
            block, _ = block_of(step["blocks"], value) if value != "0x0" else (None, 0)
            value = "NULL" if value == "0x0" else (
                "the address of " + names.get(block["address"], "?") if block else value)
        out.append(fit("returned  %s gave %s" % (r["function"], value if value is not None
                                                  else "nothing (void)"), WIDTH, g["more"]))
    out.append("")

    # who points where: pointers per block cell, and into frames' variables
    pointers, backrefs = {}, {}
    sources = [("", v) for v in step["globals"]]
    for f in step["frames"]:
        sources += [(f["function"], v) for v in f["vars"]]
    sources += [("", e) for e in step["exprs"]]
    for owner, var in sources:
        if not var.get("set", True) or "points_to" not in var or var["points_to"] == "0x0":
            continue
        block, offset = block_of(step["blocks"], var["points_to"])
        if block is None:
            continue
        if block.get("name"):
            backrefs.setdefault(block["address"], []).append(
                (owner + " " if owner else "") + var["name"])
        else:
            k = offset // max(block["elem"]["size"], 1)
            pointers.setdefault(block["address"], {}).setdefault(k, []).append(var["name"])

    left = []
    width_name = min(10, max([len(v["name"]) for _, v in sources] + [1]))
    width_type = min(12, max([len(v["type"]) for _, v in sources] + [1]))
    if step["globals"]:
        left.append("globals")
        left += var_rows(step, step["globals"], names, backrefs, g, width_name, width_type)
    for n, f in enumerate(step["frames"]):
        running = n == len(step["frames"]) - 1
        left.append("%s  line %d%s" % (f["function"], f["line"], "  (running)" if running else ""))
        left += var_rows(step, f["vars"], names, backrefs, g, width_name, width_type)
        if running and step["exprs"]:
            left += var_rows(step, step["exprs"], names, backrefs, g, width_name, width_type)
        if not f["vars"] and not (running and step["exprs"]):
            left.append("  (no variables)")

    right = []
    # blocks some name reaches first, then those none reaches any more
    for block in sorted(step["blocks"], key=lambda b: not b.get("reached", True)):
        if block.get("name"):
            continue  # a variable of a frame or a global: drawn on the left
        if right:
            right.append("")
        right += draw_block(step, block, names, pointers.get(block["address"], {}), g, utf8)
    if not right:
        right = ["(no blocks reached)"]

    out.append("NAMES".ljust(LEFT) + " " + g["sep"] + " MEMORY")
    for k in range(max(len(left), len(right))):
        a = left[k] if k < len(left) else ""
        b = right[k] if k < len(right) else ""
        out.append((fit(a, LEFT, g["more"]).ljust(LEFT) + " " + g["sep"] + " " + fit(b, RIGHT, g["more"])).rstrip())
    out.append("")
    out += output_rows(step["output"], g)
    return out


def output_rows(text, g):
    shown = escape(text, g is UTF8)
    rows = []
    head = "output so far: "
    if not text:
        return [head + "(nothing)"]
    room = WIDTH - len(head) - 2
    chunks = [shown[k:k + room] for k in range(0, len(shown), room)][-3:]
    for n, chunk in enumerate(chunks):
        rows.append((head if n == 0 else " " * len(head)) + '"' + chunk + '"')
    return rows


def closing(trace, g):
    end = trace.get("end") or {"status": None, "left": []}
    out = ["%s %s at exit (status %s)" % (trace["program"], g["h"] * 2, end["status"]), ""]
    left = end["left"]
    groups = [
        ("definitely lost (no pointer to them is left)",
         [b for b in left if not b["library"] and not b.get("stream") and not b["reachable"]]),
        ("still reachable (a global still points to them)",
         [b for b in left if not b["library"] and not b.get("stream") and b["reachable"]]),
        ("the prompt library's lines (freed by it at exit)", [b for b in left if b["library"]]),
        ("open streams (the C library closes and frees them at exit)",
         [b for b in left if b.get("stream")]),
    ]
    for words, blocks in groups:
        total = sum(b["size"] for b in blocks)
        out.append("%s: %d byte%s in %d block%s" % (words, total, "" if total == 1 else "s",
                                                   len(blocks), "" if len(blocks) == 1 else "s"))
        for b in blocks:
            out.append("    %d byte%s, by %s, at %s" % (b["size"], "" if b["size"] == 1 else "s",
                                                     b["allocated_by"], tail(b["address"])))
    out.append("")
    if not any(blocks for _, blocks in groups[:2]):
        out.append("Nothing of the program's own is left: valgrind would report no leak.")
    else:
        out.append("valgrind's memcheck reports the first two lines the same way.")
    if trace["steps"]:
        out.append("")
        out += output_rows(trace["steps"][-1]["output"], g)
    return [fit(row, WIDTH, g["more"]) for row in out]
