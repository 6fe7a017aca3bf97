"""What the drawings of a trace share (its format is in
tools/tracer/trace.py): the letters of blocks, the words for where a
pointer points, values read from bytes, escapes, and the words for errors
and for how a run ended. Pure functions of the trace; nothing here knows
gdb or how a picture is laid out."""

import re
import string
import struct

SIGNALS = {
    "SIGSEGV": "a segmentation fault", "SIGBUS": "a bus error",
    "SIGFPE": "an arithmetic error (a division by zero?)",
    "SIGILL": "an illegal instruction", "SIGABRT": "an abort (abort, or a failed assert)",
    "SIGXFSZ": "a file grown past the size limit", "SIGXCPU": "the CPU time limit",
    "SIGKILL": "a kill", "SIGTERM": "a request to stop", "SIGPIPE": "a closed pipe",
    "SIGTRAP": "a trap",
}
NUMBERS = {"SIGSEGV": 11, "SIGBUS": 7, "SIGFPE": 8, "SIGILL": 4, "SIGABRT": 6, "SIGXFSZ": 25,
           "SIGXCPU": 24, "SIGKILL": 9, "SIGTERM": 15, "SIGPIPE": 13, "SIGTRAP": 5}
ESCAPES = {0: "\\0", 7: "\\a", 8: "\\b", 9: "\\t", 10: "\\n", 11: "\\v", 12: "\\f", 13: "\\r",
           92: "\\\\"}


def letter(n):
    s = ""
    n += 1
    while n:
        n, r = divmod(n - 1, 26)
        s = chr(65 + r) + s
    return s


def letters(trace):
    """A letter for every block that is no variable, the same over the whole
    trace, in the order the blocks first appear."""
    if "_letters" not in trace:
        names = {}
        for step in trace["steps"]:
            for b in step["blocks"]:
                if b["address"] not in names and not b.get("name"):
                    names[b["address"]] = letter(len(names))
        trace["_letters"] = names
    return trace["_letters"]


def block_of(blocks, address):
    """(block, offset) of the block holding address, or (None, 0)."""
    p = int(address, 16)
    for b in blocks:
        start = int(b["address"], 16)
        if start <= p < start + max(b["size"], 1):
            return b, p - start
    return None, 0


def type_of(trace, name):
    return trace["types"].get(name) or {"kind": "char", "size": 1}


def plural(n, word):
    return "%s %s%s" % ("{:,}".format(n), word, "" if n == 1 else "s")


def cells(trace, step, block):
    """The text of each whole element of a block; of the bytes after the
    last whole one, when its size is no whole number of elements (malloc(6)
    for ints); of the last elements, when the trace left bytes out after
    the first ones; and how many it left out. (items, tail, rest, omitted)"""
    t = type_of(trace, block["type"])
    size = max(t["size"], 1)
    raw = block["bytes"]
    omitted = block.get("omitted", 0)
    head = raw if not omitted else raw[:len(raw) - 16]
    items = [value(trace, step, block["type"], head[k:k + size])
             for k in range(0, len(head) - size + 1, size)]
    tail = [held(b) for b in head[len(items) * size:]] if not omitted else []
    rest = [value(trace, step, block["type"], raw[len(head) + k:len(head) + k + size])
            for k in range(0, len(raw) - len(head) - size + 1, size)] if omitted else []
    return items, tail, rest, omitted


def members(trace, tname, prefix="", offset=0, depth=0):
    """(name, type, offset, bits) of each member of a struct or union, a
    nested one's members as corner.x (a union's all at the offset they
    share); bits: [first bit, bit count] of a bit-field, else None."""
    for f in type_of(trace, tname)["fields"]:
        name, off = prefix + f["name"], offset + f["offset"]
        t = type_of(trace, f["type"])
        if t["kind"] in ("struct", "union") and depth < 4 and not t.get("library"):
            # an unnamed member's members are the struct's own: x.i, not x..i
            yield from members(trace, f["type"], name + "." if f["name"] else prefix, off,
                               depth + 1)
        else:
            yield name, f["type"], off, f.get("bits")


def member_text(trace, step, ftype, raw, off, bits, partial=None, base=0, parts=None):
    """The text of a member whose value starts at off of the bytes raw: its
    bits for a bit-field, and what lies past the bytes of its block said so
    (a block too small for its struct). partial: the bytes memcheck knows
    only some bits of ({index from base: [byte, mask of its bits not set]}):
    a bit-field whose own bits are all set has a value. parts: what the
    printers said of the members that are the standard library's objects."""
    t = type_of(trace, ftype)
    size = max(t["size"], 1)
    if off >= len(raw) or (bits is None and off + size > len(raw)):
        return PAST
    if t.get("library"):  # a std::string member: what it holds, never its insides
        part = next((p for p in parts or [] if p["offset"] == off), None)
        if part is None:
            return "(a %s)" % type_name(ftype)
        return library_words(trace, step, part, True)
    if bits is None:
        return value(trace, step, ftype, raw[off:off + size])
    first, count = bits
    n, unset = 0, 0
    for k, b in enumerate(raw[off:off + (first + count + 7) // 8]):
        if b is None:
            b, mask = (partial or {}).get(str(base + off + k), [0, 0xFF])
        else:
            mask = 0
        n |= b << 8 * k
        unset |= mask << 8 * k
    field = ((1 << count) - 1) << first
    if unset & field:
        return UNSET
    n = (n & field) >> first
    if t["kind"] in ("int", "enum") and n >= 1 << (count - 1):
        n -= 1 << count
    return str(n)


def parts_of(step, block):
    """The parts of the struct variable a block is: its members that are
    the standard library's objects, as their printers say; or None."""
    if not block.get("name"):
        return None
    scope = step["globals"] if block["frame"] is None else \
        step["frames"][block["frame"]]["vars"]
    var = next((v for v in scope if v["name"] == block["name"]), None)
    return var.get("parts") if var else None


def pointer_names(step):
    """Who points where: (name shown, var) for every pointer of the step; a
    name two functions share is given with its function."""
    owned = [("", v) for v in step["globals"]]
    for f in step["frames"]:
        owned += [(f["function"], v) for v in f["vars"]]
    owned += [(step["frames"][e["frame"]]["function"], e) for e in step["exprs"]]
    for fn, v in list(owned):  # a struct's std::string member: where its characters are
        owned += [(fn, dict(p, name=v["name"] + "." + p["name"], set=True))
                  for p in v.get("parts", [])]
        elements = (v.get("shows") or {}).get("elements", [])
        for k, e in enumerate(elements):  # a map's vector, a list's string: where it keeps them
            if e.get("shows"):
                key = elements[k - 1]["text"] if v["shows"].get("hint") == "map" and k % 2 else \
                    None
                owned.append((fn, dict(e, name=v["name"] + ("[%s]" % key if key else e["name"]),
                                       size=0, set=True)))
    count = {}
    for _, v in owned:
        count[v["name"]] = count.get(v["name"], 0) + 1
    return [((fn + " " if fn and count[v["name"]] > 1 else "") + v["name"], v) for fn, v in owned]


def pointed(trace, step):
    """Who points at what: {block address: {element: [names]}} for blocks
    drawn cell by cell, and {variable address: [names]} for a pointer at a
    variable drawn as itself."""
    pointers, backrefs = {}, {}
    for shown_name, var in pointer_names(step):
        if storage(var):  # an object of the standard library: where it keeps what it holds
            var = dict(var, points_to=storage(var), type=None, set=True)
        if not var.get("set", True) or "points_to" not in var or var["points_to"] == "0x0":
            continue
        if var["name"].startswith("&") and var.get("frame") is not None:
            continue  # &x says no more than x itself
        block, offset = block_of(step["blocks"], var["points_to"])
        if block is None:
            continue
        if not drawn(trace, block):  # a variable drawn as itself, unless p is past an array
            if not past_end(trace, step, int(var["points_to"], 16)):
                backrefs.setdefault(block["address"], []).append(shown_name)
            continue
        k = cell(trace, block, offset)
        size = elem_size(trace, block)
        want = type_of(trace, var.get("type")).get("target")
        part = inner = None
        if block["bytes"] is not None:  # not a box of words: a node, a FILE
            part = member_at(trace, block["type"], offset - k * size, want)
            inner = subscripts(trace, block["type"], offset - k * size, want)
        said = []
        if inner:  # into a cell that is an array itself: grid[1][2] under grid[1]
            said.append("to " + inner)
        if part:  # a pointer to a member, not to the struct it is in
            said.append("to ." + part[0])
        if block["freed"] or block.get("ended"):  # no cells: which one it held
            said.append("dangling" + (", at [%d]" % k if k else ""))
        pointers.setdefault(block["address"], {}).setdefault(k, []).append(
            shown_name + (" (%s)" % "; ".join(said) if said else ""))
    return pointers, backrefs


def cell(trace, block, offset):
    """The cell of a block that holds the byte at offset: its element, or
    for the bytes after the last whole element, one cell a byte."""
    size = elem_size(trace, block)
    whole = block["size"] // size
    return offset // size if offset < whole * size else whole + offset - whole * size


def drawn(trace, block):
    """Whether a block is drawn in memory: a variable of one value is drawn
    as itself among the names (a struct of the program's own also member
    by member; a library's, a std::string say, only as itself)."""
    t = type_of(trace, block["type"])
    return not block.get("name") or block["size"] > elem_size(trace, block) or \
        t["kind"] in ("struct", "union") and t.get("file") in trace.get("sources", {})


def heading(step, names, block):
    """'A heap, 6 bytes, by get_string'."""
    words = "%s %s, %s" % (label(step, names, block), block["kind"], plural(block["size"], "byte"))
    return words + (", by " + type_name(block["allocated_by"]) if block.get("allocated_by") else "")


def access_size(err):
    """The bytes an access of memcheck's error touched ("Invalid write of size 4")."""
    m = re.search(r"of size (\d+)", err.get("what", ""))
    return int(m.group(1)) if m else 1


def wrongs(trace, step, block):
    """The invalid reads and writes of the line just run into a block:
    (sentence, the cells after its end, "x" for each the access touched and
    "" for each it jumped over). The cells are elements, or bytes for a
    block that is no whole number of elements."""
    size = elem_size(trace, block)
    odd = block["size"] % size != 0
    out = []
    for e in step.get("errors", []):
        if e.get("block") != block["address"] or e.get("offset") is None:
            continue
        if e["kind"] == "ReadOnlyWrite":
            out.append(("line %s wrote into %s: read-only memory" % (
                e["line"], place(trace, step, block, e["offset"])), []))
        if e["kind"] not in ("InvalidRead", "InvalidWrite"):
            continue
        did = "wrote" if e["kind"] == "InvalidWrite" else "read"
        off, n = e["offset"], access_size(e)
        if block["freed"]:
            out.append(("line %s %s %s after the free" % (e["line"], did, place(
                trace, step, block, off)), []))
        elif off + n > block["size"] and not block.get("omitted"):
            end = block["size"]
            if odd:  # byte by byte after the last byte
                past = ["x" if k >= off else "" for k in range(end, off + n)]
                at = "at byte %d" % max(off, end)
            else:  # element by element after the last element
                past = ["x" if k * size + size > off else ""
                        for k in range(end // size, (off + n - 1) // size + 1)]
                at = "at [%d]" % (max(off, end) // size)
            if "of size" not in e.get("what", ""):  # a C library call's: how far, not known
                at = at.replace("at ", "from ") + " on"
            out.append(("line %s %s past the end, %s" % (e["line"], did, at), past))
    return out


def ahead(block):
    """What lies before the elements of an array new[] made, or None."""
    if not block.get("head"):
        return None
    return "new[] keeps their count in the %d bytes before them" % block["head"]


def runtimes(trace, step, block):
    """What a block drawn with no bytes is: a FILE, an exception, or a node
    of a list, a map or a set, by what it holds."""
    if block.get("node"):
        start = int(block["address"], 16)
        held = [element_words(trace, step, e) for _, v in pointer_names(step)
                if v["name"] == block["node"]["of"]
                for e in (v.get("shows") or {}).get("elements", [])
                if e.get("address") and 0 <= int(e["address"], 16) - start < block["size"]]
        return "a node of %s: %s" % (block["node"]["of"],
                                     ", ".join(held or block["node"]["holds"]))
    if block.get("thrown") is not None:
        return "the exception thrown at line %s" % block["thrown"]
    return "a FILE: the C library's own"


def place(trace, step, block, offset):
    """Where in a block an offset lies, in words: 'C[2]', 'C.next',
    'C[1].next'."""
    size = elem_size(trace, block)
    k = offset // size
    name = label(step, letters(trace), block)
    part = member_at(trace, block["type"], offset - k * size, None)
    one = block["size"] <= size
    return name + ("" if one and part else "[%d]" % k) + ("." + part[0] if part else "")


def target(step, trace, var):
    """Where a pointer var points, in words: 'NULL', 'A[2]', 'main x',
    'A[0], freed', 'past the end of A', 'into no block', and where one
    array ends and the next starts (p = scores), both: 'main scores[0],
    just past main local'."""
    if "points_to" not in var:
        return "?"
    p = int(var["points_to"], 16)
    if p == 0:
        return "NULL"
    whole = type_of(trace, var.get("type"))
    if type_of(trace, whole.get("target"))["kind"] == "func":  # code: by the function's name
        name = trace.get("functions", {}).get(var["points_to"])
        return "function %s" % name if name else "code at %s" % var["points_to"]
    names = letters(trace)
    end = past_end(trace, step, p)
    block, offset = block_of(step["blocks"], var["points_to"])
    if end is not None and (block is None or not drawn(trace, block)):
        return "past the end of %s" % label(step, names, end)  # before whatever lies there
    if block is None:
        return "into no block (%s)" % var["points_to"]
    just = ", just past %s" % label(step, names, end) if end is not None else ""
    size = elem_size(trace, block)
    index = offset // size
    one = block["size"] <= size
    part = member_at(trace, block["type"], offset - index * size, whole.get("target"))
    inside = "." + part[0] if part else ""  # a pointer to a member: main p.b[1]
    inner = subscripts(trace, block["type"], offset - index * size,
                       whole.get("target"))  # grid[1][2]
    if block.get("name"):
        return label(step, names, block) + ("" if one else "[%d]" % index) + inner + inside + \
            just
    name = names[block["address"]]
    freed = ", freed" if block["freed"] else \
        ", in a call that has ended" if block.get("ended") else ""
    if block["bytes"] is None and not (block["freed"] or block.get("ended")) or \
            block["stream"]:
        return name + freed
    if one and type_of(trace, block["type"])["kind"] in ("struct", "union"):
        return name + inside + freed + just  # a block of one struct
    if offset >= block["size"] // size * size:  # after the last whole element
        return "%s, byte %d%s" % (name, offset, freed)
    return "%s[%d]%s%s%s%s" % (name, index, inner, inside, freed, just)


def past_end(trace, step, p):
    """The array or heap block of the step that ends right where p points,
    or None: a pointer one past the last element is past the end of that
    array, whatever lies after it."""
    for b in step["blocks"]:
        # an array variable or a heap block: strings found in the stack or
        # read-only data lie one after another (argv's), each a block
        if b["size"] and int(b["address"], 16) + b["size"] == p and \
                (b["kind"] == "heap" or b.get("name") and b["size"] > elem_size(trace, b)):
            return b
    return None


def member_at(trace, tname, offset, want):
    """The member of a struct or union type at offset, in words and by its
    own offset (('b[1]', 4), ('corner.x', 0)), or None for the whole of it:
    at offset 0, a pointer to the struct's own type (want) or to no type
    known points at the whole."""
    if type_of(trace, tname)["kind"] not in ("struct", "union") or \
            type_of(trace, tname).get("library") or \
            offset == 0 and (want is None or plain(want) == plain(tname)):
        return None  # (a std::string is one whole, whatever its insides)
    for name, ftype, off, _ in members(trace, tname):
        t = type_of(trace, ftype)
        if off <= offset < off + max(t["size"], 1):
            if t["kind"] == "array":
                k = (offset - off) // max(type_of(trace, t["target"])["size"], 1)
                return "%s[%d]" % (name, k), off
            return name, off
    return None


def plain(tname):
    """A type's name without its qualifiers: a const struct point * points
    at a struct point."""
    return re.sub(r"\b(const|volatile)\s+", "", tname or "").strip()


def subscripts(trace, tname, offset, want):
    """The indices, after an element's own, of the byte at offset in an
    element of array type ("[2]" in grid[1][2]), or "": down to an array
    of the type a pointer points at (want), which is the whole of it (an
    int (*)[4] at grid[1] points at no int)."""
    out = ""
    t = type_of(trace, tname)
    while t["kind"] == "array" and plain(tname) != plain(want):
        size = max(type_of(trace, t["target"])["size"], 1)
        out += "[%d]" % (offset // size)
        offset %= size
        tname = t["target"]
        t = type_of(trace, tname)
    return out


def label(step, names, block):
    """A block's name: its letter, or for a variable's block the variable,
    with its function: 'A', 'main name', 'total'."""
    if not block.get("name"):
        return names[block["address"]]
    if block["frame"] is None:
        return block["name"]
    return step["frames"][block["frame"]]["function"] + " " + block["name"]


def elem_size(trace, block):
    """The size of one element of a block (an array variable's block holds
    its elements' type)."""
    return max(type_of(trace, block["type"])["size"], 1)


UNSET = "?"  # a byte memcheck knows is not set; a set "?" is drawn as C's \?
PAST = "(past the block's end)"  # a member a block too small for its struct lacks


def byte(b):
    """One byte of output: itself when printable ASCII, else C's escape."""
    if b in ESCAPES:
        return ESCAPES[b]
    if 32 <= b < 127:
        return chr(b)
    return "\\x%02x" % b


def unambiguous(pieces):
    """Bytes' texts that run on into one another as C reads them: an escape
    reads on while digits follow, so \0 before a digit is \000 and \x17
    before a hex digit its octal \027 (neither reads more than three)."""
    out = list(pieces)
    for k in range(len(out) - 1):
        after = out[k + 1][:1]
        if out[k] == "\\0" and after in "01234567" and after:
            out[k] = "\\000"
        elif out[k].startswith("\\x") and after and after in string.hexdigits:
            out[k] = "\\%03o" % int(out[k][2:], 16)
    return out


def held(b):
    """One byte of memory (None: not set): as byte() draws it, but "?",
    which stands for a byte not set, as C's own escape for it, \?."""
    if b is None:
        return UNSET
    return "\\?" if b == 63 else byte(b)


def value(trace, step, tname, raw, parts=None):
    """The text of a value of type tname held in raw (a list of bytes, None
    for a byte not set): '?' when not set. parts: a struct's members that
    are the standard library's objects, as their printers say."""
    t = type_of(trace, tname)
    kind = t["kind"]
    if not raw or all(b is None for b in raw):
        return "?"
    def one(tname, text):  # a pointer's ", freed" in a list would read as one more item
        if type_of(trace, tname)["kind"] == "pointer" and ", " in text:
            return text.replace(", ", " (", 1) + ")"
        return text
    if kind in ("struct", "union"):
        return "{" + ", ".join("%s=%s" % (f["name"], one(f["type"], member_text(
            trace, step, f["type"], raw, f["offset"], f.get("bits"), parts=parts)))
            for f in t["fields"]) + "}"
    if kind == "array":
        inner = type_of(trace, t["target"])
        size = max(inner["size"], 1)
        if inner["kind"] in ("char", "uchar"):
            return '"' + "".join(unambiguous([held(b) for b in raw])) + '"'
        return "[" + ", ".join(one(t["target"], value(trace, step, t["target"], raw[k:k + size]))
                               for k in range(0, len(raw), size)) + "]"
    if None in raw:
        return "?"
    data = bytes(raw)
    if kind in ("char", "uchar"):
        return held(data[0])
    if kind == "bool":
        return "true" if any(data) else "false"
    if kind == "float" and len(data) == 8:
        return repr(struct.unpack("<d", data)[0])
    if kind == "float" and len(data) == 4:  # the fewest digits that give this float back
        x = struct.unpack("<f", data)[0]
        return next(t for t in ("%%.%dg" % n % x for n in range(1, 10))
                    if struct.pack("<f", float(t)) == data)
    n = int.from_bytes(data, "little", signed=kind in ("int", "enum"))
    if kind == "enum":
        return t["values"].get(str(n), str(n))
    if kind == "pointer":
        return "NULL" if n == 0 else pointer(trace, step, n, tname)
    return str(n)


def pointer(trace, step, p, tname=None):
    return target(step, trace, {"points_to": "0x%x" % p, "type": tname})


def shown(trace, step, var):
    """The text of a var's value: its target for a pointer, '?' when not set;
    a reference as another name; an object of the standard library as its
    printer says what it holds."""
    kind = type_of(trace, var["type"])["kind"]
    if kind == "reference":
        if not var["set"]:
            return "(not bound to a variable yet)"
        return "another name for " + target(step, trace, var)
    if var.get("shows"):
        return library_words(trace, step, var)
    if not var["set"] and var.get("bytes") is None:
        return "?"
    if "points_to" in var or type_of(trace, var["type"])["kind"] == "pointer":
        return target(step, trace, var) if var["set"] else "?"
    if var.get("bytes") is not None:
        return value(trace, step, var["type"], var["bytes"], var.get("parts"))
    if type_of(trace, var["type"])["kind"] in ("char", "uchar"):
        number = var["value"].split(" ")[0]  # gdb's "97 'a'", with octal escapes
        if number.lstrip("-").isdigit():
            return "%s '%s'" % (number, held(int(number) & 0xFF))
    return var["value"]


def storage(var):
    """Where an object of the standard library keeps what it holds outside
    itself (a long string's characters, a vector's elements, a smart
    pointer's target), as a hex address, or None."""
    shows = var.get("shows") or {}
    if shows.get("pointer") and shows["pointer"] != "0x0":
        return shows["pointer"]
    if shows.get("nodes"):  # in no one block: a node each
        return None
    if shows.get("chars") and not shows.get("inside"):
        return shows["chars"]["address"]
    first = (shows.get("elements") or [{}])[0].get("address")
    if first and var.get("address"):
        inside = 0 <= int(first, 16) - int(var["address"], 16) < var["size"]
        return None if inside else first
    return None


def element_words(trace, step, e):
    """An element of a container: its text, or what it holds where it is
    the library's own (a map's vector: 2 of 2 ─► B)."""
    return library_words(trace, step, dict(e, size=0), True) if e.get("shows") else e["text"]


def library_words(trace, step, var, brief=False):
    """What an object of the standard library holds, in a learner's words:
    a string's characters and where they are, a container's size against
    its capacity and its block, a smart pointer's target and owners; brief:
    of a string, only its characters and where they are."""
    shows = var["shows"]
    at = storage(var)
    block = block_of(step["blocks"], at)[0] if at else None
    to = " \u2500\u25ba " + label(step, letters(trace), block) if block else ""
    if shows.get("chars"):
        chars = shows["chars"]
        text = "".join(unambiguous([held(b) for b in chars["bytes"]]))
        if block is not None:  # its block shows them all
            text = text if len(text) <= 16 else text[:13] + "..."
        quoted = '"%s"' % text
        if brief:  # a member among others: what it holds, and where
            return (to.strip() + " " + quoted).strip()
        if shows.get("inside"):
            return "%s, %s (in the object itself, room for %d)" % (
                quoted, plural(chars["length"], "char"), shows["room"] - 1)
        return "%s %s, %s" % (to.strip(), quoted, plural(chars["length"], "char"))
    if "pointer" in shows:
        if shows["pointer"] == "0x0":
            return "NULL"
        owners = " (%s)" % plural(shows["owners"], "owner") if shows.get("owners") else ""
        return (to.strip() or "\u2500\u25ba " + shows["pointer"]) + owners
    count = shows["count"] if shows["count"] is not None else len(shows["elements"])
    if shows.get("capacity") is not None:
        return "%d of %d%s" % (count, shows["capacity"], to)
    if not shows["elements"] and "iterator" in (var.get("type") or ""):
        return "an iterator"  # where to, its printer does not say (what it reads may be freed)
    texts = [element_words(trace, step, e) for e in shows["elements"]]
    if shows.get("hint") == "map":  # a key, then its value
        texts = ["%s: %s" % (k, v) for k, v in zip(texts[::2], texts[1::2])]
    items = ", ".join(texts[:6])
    return "%s%s" % (plural(count, "element") + (": " + items if items else ""),
                     "..." if count > 6 else "")


def owners(trace, step):
    """{block address: (who owns it, in words; the bytes of it in use, or
    None; the bytes at its start that are the library's own; the texts of
    the elements it holds, or None)}: the blocks
    where objects of the standard library keep what they hold (the rest of
    a block is spare capacity, not in use; a block make_shared made begins
    with the library's count of the owners, the target after it)."""
    out = {}
    for name, var in pointer_names(step):
        at = storage(var)
        block = block_of(step["blocks"], at)[0] if at else None
        if block is None:
            continue
        shows = var["shows"]
        if shows.get("chars"):
            out[block["address"]] = ("%s's characters" % name, shows["chars"]["length"] + 1, 0,
                                     None)
        elif "pointer" in shows:
            before = out.get(block["address"], ("owned by",))[0]
            kept = int(at, 16) - int(block["address"], 16) if shows.get("owners") else 0
            out[block["address"]] = ("%s%s %s" % (before, "," if before != "owned by" else "",
                                                  name), None, kept, None)
        else:
            size = type_of(trace, shows.get("type"))["size"] if shows.get("type") else 1
            count = shows["count"] if shows["count"] is not None else len(shows["elements"])
            out[block["address"]] = ("%s's elements" % name, count * max(size, 1), 0,
                                     [e["text"] for e in shows["elements"]])
    return out


def type_name(name):
    """A type's name as a learner writes it: std::string, std::vector<int>,
    not the library's own spelling with its defaults."""
    name = name.replace("std::__cxx11::", "std::")
    name = re.sub(r"std::basic_string<char, std::char_traits<char>, std::allocator<char> >",
                  "std::string", name)
    for _ in range(3):  # the allocator and the deleter every container takes by default
        name = re.sub(r", std::(allocator|default_delete|less|hash|equal_to)<([^<>]|<[^<>]*>)*> ?>",
                      ">", name)
    return re.sub(r"\* const$", "*", name.replace(" >", ">"))  # this


def text(data, utf8):
    """Bytes of input or output as they would read: printable text as
    itself (UTF-8 where the terminal speaks it), each other byte as C's
    escape, so every byte shows as what it is."""
    out = []
    k = 0
    while k < len(data):
        b = data[k]
        if b >= 0x80 and utf8:
            n = 2 if b >> 5 == 6 else 3 if b >> 4 == 14 else 4 if b >> 3 == 30 else 0
            try:
                ch = data[k:k + n].decode("utf-8") if n else None
            except UnicodeDecodeError:
                ch = None
            if ch and ch.isprintable():
                out.append(ch)
                k += n
                continue
        out.append(byte(b) if b != 92 else "\\\\")
        k += 1
    return "".join(unambiguous(out))


def output(trace, i, stream="output"):
    """What the program printed up to step i, as bytes (i past the last
    step: all of it, to its end); on standard error with stream "stderr"."""
    text = "".join(s.get(stream, "") for s in trace["steps"][:i + 1])
    if i >= len(trace["steps"]) and trace.get("end"):
        text += trace["end"].get(stream, "")
    return text.encode("latin-1")


def signal_words(sig, trace=None, step=None):
    """How a signal ended the program; with the step it struck in, what the
    faulting access reached: a string literal written, say."""
    number = sig.get("number") or NUMBERS.get(sig["name"], "?")
    words = "ended by signal %s, %s" % (number, SIGNALS.get(sig["name"], sig["name"]))
    into = [e for e in (step or {}).get("errors", []) if e["kind"] == "ReadOnlyWrite"]
    if into:
        block, offset = block_of(step["blocks"], into[0]["block"])
        if block is not None:
            return words + ": line %s wrote into %s, %s in read-only memory" % (
                into[0]["line"], place(trace, step, block, into[0]["offset"]),
                "a string literal" if type_of(trace, block["type"])["kind"] in ("char", "uchar")
                else "data")
    if sig.get("address"):
        did = {"write": "it wrote to", "read": "it read from"}.get(sig.get("access"), "at")
        words += ": %s address %s" % (did, sig["address"])
    return words


def limit_words(limit):
    where = " at line %d of %s" % (limit["line"], limit["function"]) if limit.get("line") else ""
    if limit["kind"] == "time":
        return "still running after %g s, the time limit (--seconds)%s: stopped there" % (
            limit["seconds"], where)
    if limit["kind"] == "steps":
        return "%d steps recorded, the limit (--steps)%s: stopped there" % (limit["steps"], where)
    return "gdb lost the program%s: %s" % (where, limit.get("words", ""))


def ending(trace):
    """One sentence: how the run ended."""
    if trace.get("limit"):
        return limit_words(trace["limit"])
    end = trace.get("end")
    if end is None:
        return "the trace ends before the program did"
    if end["signal"]:
        steps = trace["steps"]
        at = " at line %d" % steps[-1]["line"] if steps and steps[-1].get("signal") else ""
        last = steps[-1] if steps and steps[-1].get("signal") else None
        return signal_words(end["signal"], trace, last) + ("" if last and any(
            e["kind"] == "ReadOnlyWrite" for e in last["errors"]) else at)
    return "exit status %s" % end["status"]


def ran(trace, i):
    """(line, text) of what ran before step i: the line of the step before;
    but where a call has returned into the running frame, the line that
    made the call, which has now run to its end too (return n * f(n - 1);
    not the } of the call that returned)."""
    step, prev = trace["steps"][i], trace["steps"][i - 1]
    d = len(step["frames"]) - 1
    if d < len(prev["frames"]) - 1 and prev["frames"][d]["function"] == step["function"] and \
            not step.get("calls_left_out") and not prev.get("calls_left_out"):
        line = prev["frames"][d]["line"]
        lines = trace["sources"].get(step["file"], [])
        if 0 < line <= len(lines):
            return line, lines[line - 1]
    return prev["line"], prev["text"]


def struck(trace, i, err):
    """What a write past the end of an array changed beside it: a variable
    right after it, not named in the line, whose value the line changed."""
    steps = trace["steps"]
    step, prev = steps[i], steps[i - 1] if i else None
    block = next((b for b in step["blocks"] if b["address"] == err.get("block")), None)
    if prev is None or err["kind"] != "InvalidWrite" or not block or not block.get("name"):
        return []
    line, text = ran(trace, i)
    end = int(block["address"], 16) + block["size"]
    f = block["frame"]
    if f is None:
        now, before = step["globals"], prev["globals"]
    elif f < len(prev["frames"]) and prev["frames"][f]["function"] == step["frames"][f]["function"]:
        now, before = step["frames"][f]["vars"], prev["frames"][f]["vars"]
    else:
        return []
    out = []
    for v in now:
        old = next((o for o in before if o["name"] == v["name"] and
                    o["address"] == v["address"]), None)
        if v["address"] and old and end <= int(v["address"], 16) < end + 64 and \
                not re.search(r"\b%s\b" % re.escape(v["name"]), text) and \
                (old.get("value"), old.get("bytes")) != (v.get("value"), v.get("bytes")):
            out.append("%s changed, though line %d does not name it: it lies right after %s, "
                       "and what was written past its end landed in it" % (
                           v["name"], line, label(step, letters(trace), block)))
    return out


def remarks(trace, i):
    """What is said of step i under its two source lines, in order:
    (kind, sentence), kind "skipped", "returned", "error", "repeats" or
    "signal"."""
    step = trace["steps"][i]
    out = []
    for skip in trace.get("skipped", []):
        if skip["before_step"] == i:
            passes = plural(skip["passes"], "more pass").replace("passs", "passes")
            if skip.get("rest"):
                passes = "the rest of the pass under way" + (
                    " and " + passes if skip["passes"] else "")
            out.append(("skipped", "(%s of the loop at line %d left out, with all %s ran)"
                        % (passes, skip["line"], "it" if passes.startswith("1 ")
                           or passes.endswith("under way") else "they")))
    if step.get("returned"):
        r = step["returned"]
        value = r["value"]
        # an address, as gdb gives it: alone, or with the string there (0x... "hey")
        address = value.split()[0] if value else ""
        if re.fullmatch(r"0x[0-9a-f]+", address):
            block, _ = block_of(step["blocks"], address) if address != "0x0" else (None, 0)
            if block and block["kind"] == "stack" and \
                    r["function"] in [f["function"] for f in step["frames"]]:
                block = None  # its ended call's place: a new call of it may stand there now
            value = "NULL" if address == "0x0" else (
                "the address of " + label(step, letters(trace), block) if block else value)
        out.append(("returned", "returned  %s gave %s" % (
            r["function"], value if value is not None else "nothing (void)")))
    for err in step.get("errors", []):
        if err.get("by") == "AddressSanitizer":  # what memcheck cannot see: in its words
            out.append(("error", "AddressSanitizer: " + err["aux"][0]))
            out += [("error", words) for words in struck(trace, i, err)]
        elif err["kind"] != "ReadOnlyWrite":  # the signal's words tell that one
            out.append(("error", "memcheck: " + error_words(err)))
    if step.get("repeats"):
        # memcheck tells each place once: say which error it was, when the
        # line just run made one before
        ran = trace["steps"][i - 1]["line"] if i else None
        before = [e for s in trace["steps"][:i] for e in s["errors"] if e.get("line") == ran]
        out.append(("repeats", "memcheck: %s again%s" % (
            plural(step["repeats"], "error"), ", as line %d made before: %s" % (
                ran, error_words(before[-1]).split(": ", 1)[-1].split(". ")[0])
            if before else "")))
    if step.get("signal"):
        out.append(("signal", signal_words(step["signal"], trace, step)))
    return out


def left_out_before(trace, i):
    """The loop passes left out right before step i, or None: the line
    just run is one of theirs, not the step before's."""
    return next((s for s in trace.get("skipped", []) if s["before_step"] == i), None)


def unseen(step):
    """What a step leaves out, in words: (the calls of a deep recursion,
    the heap blocks no name reaches beyond those drawn, the bytes still in
    stdout's buffer), each None when there are none."""
    hidden = step.get("hidden") or {}
    pending = step.get("pending", 0)
    return ("(%s left out)" % plural(step["calls_left_out"], "call")
            if step.get("calls_left_out") else None,
            "and %s more that no name reaches (%s)" % (
                plural(hidden["blocks"], "heap block"), plural(hidden["bytes"], "byte"))
            if hidden.get("blocks") else None,
            "(the last %s still wait%s in stdout's buffer)" % (
                plural(pending, "byte"), "s" if pending == 1 else "") if pending else None)


def left_words(trace):
    """What is left at exit, in valgrind's own words: rows of text ("" a
    blank between parts)."""
    end = trace.get("end")
    steps = trace["steps"]
    if end is None:
        return ["It did not end, so nothing is known of what it leaves."] + undefined(trace) + \
            plainly(trace)
    left = end["left"]
    out = ["valgrind's leak check at exit:"]
    out += ["  " + words for words in left["words"]]
    for kind in ("definitely lost", "indirectly lost", "possibly lost", "still reachable"):
        if kind in left["summary"]:
            size, count = left["summary"][kind]
            out.append("  %s: %s bytes in %s blocks" % (kind, "{:,}".format(size),
                                                        "{:,}".format(count)))
    for r in left["records"]:
        where = " at " + r["where"] if r["where"] else ""
        size = "{:,}".format(r["bytes"])
        if r.get("indirect"):  # the blocks only these point to are counted in too
            size += " (%s direct, %s indirect)" % ("{:,}".format(r["bytes"] - r["indirect"]),
                                                  "{:,}".format(r["indirect"]))
        out.append("  %s bytes in %s blocks are %s, allocated by %s%s" % (
            size, "{:,}".format(r["blocks"]), r["kind"], r["allocated_by"], where))
    if left["records"]:
        out += ["", "(definitely lost: no pointer to them is left; indirectly lost: only "
                "blocks that are lost point to them, as the nodes of a lost list; still "
                "reachable: a global, or a block one reaches, still points to them)"]
    if end["signal"] and steps and steps[-1].get("pending"):
        out += ["", "The last %s in stdout's buffer were never written." % plural(
            steps[-1]["pending"], "byte")]
    return out + undefined(trace) + plainly(trace)


def undefined(trace):
    """What the sanitizers found undefined, in a run of their own (a signed
    overflow): rows of text, a blank row first, or none. Said by its line,
    not on a step: which pass of a loop it was in, they do not tell."""
    found = trace.get("undefined") or []
    if not found:
        return []
    return ["", "UndefinedBehaviorSanitizer, in a run of its own, found what C leaves "
            "undefined:"] + ["  " + w for w in found]


def plainly(trace):
    """What a run by hand would do that this one, under valgrind, did not:
    rows of text, a blank row first, or none."""
    steps = trace["steps"]
    twice = next((e for s in steps for e in s["errors"] if e["kind"] == "InvalidFree" and
                  any("free'd" in a for a in e["aux"])), None)
    if twice is not None:
        return ["", "Run by hand, the program ends at line %s: the C library finds the block "
                "freed twice and stops it by signal 6, an abort (free(): double free "
                "detected). valgrind keeps it going so that the rest can be seen." % (
                    twice["line"])]
    limit = trace.get("limit") or {}
    if limit.get("kind") in ("time", "steps") and steps:
        frames = steps[-1]["frames"]
        deep = len(frames) + steps[-1].get("calls_left_out", 0)
        names = {f["function"] for f in frames[-10:]}
        if deep >= 20 and len(names) == 1:
            return ["", "It was %s deep when it was stopped, %s calling itself again and "
                    "again: a recursion that never ends. Run by hand, it fills its stack and "
                    "ends by signal 11, a segmentation fault." % (plural(deep, "call"),
                                                                  names.pop())]
    return []


def error_words(err):
    """memcheck's sentences for one error, with the line it happened at."""
    where = "line %d: " % err["line"] if err.get("line") else ""
    if err["kind"] == "MismatchedFree" and err.get("allocator"):
        # new[] and delete, malloc and delete, new and free: in words
        made = {"operator new[]": "new[]", "operator new": "new"}.get(
            re.sub(r"\(.*", "", err["allocator"]), err["allocator"])
        gone = {"operator delete[]": "delete[]", "operator delete": "delete"}.get(
            re.sub(r"\(.*", "", err.get("called") or "?"), err.get("called") or "?")
        right = {"new[]": "delete[]", "new": "delete", "malloc": "free",
                 "calloc": "free", "realloc": "free"}.get(made, "?")
        return "%sthe block was made with %s%s and given back with %s: what %s makes, %s " \
            "gives back" % (where, made, " at line %d" % err["made"] if err.get("made") else "",
                            gone, made, right)
    return where + err["what"] + "".join(
        ". " + a for a in err["aux"] if a.startswith("Address"))
