"""Reading the program's values through gdb: variables, and the layout of
their types, as the trace records them (the format is in trace.py)."""

import re

import gdb

MAX_BYTES = 4096  # bytes of one block or variable recorded from its start
TAIL = 16  # and from its end, when it is longer than MAX_BYTES + TAIL


def hexa(n):
    return "0x%x" % n


def read(address, size):
    try:
        return bytes(gdb.selected_inferior().read_memory(address, size))
    except gdb.MemoryError:
        return None


def cut(size):
    """The ranges (offset, length) of a size-byte object that are recorded."""
    if size <= MAX_BYTES + TAIL:
        return [(0, size)]
    return [(0, MAX_BYTES), (size - TAIL, TAIL)]


class Types:
    """The layout of every type the trace names, by its name as written."""

    def __init__(self):
        self.table = {}

    def add(self, t):
        name = str(t)
        s = t.strip_typedefs()
        if "{...}" in name and s.code in (gdb.TYPE_CODE_STRUCT, gdb.TYPE_CODE_UNION):
            # an unnamed struct or union: named by its members, as two of
            # them are both "struct {...}"
            name = name.replace("{...}", "{%s}" % "; ".join(
                "%s %s" % (f.type, f.name or "") for f in s.fields()))
        if name in self.table:
            return name
        entry = {"size": t.sizeof}
        self.table[name] = entry  # before the members: a struct may point to itself
        code = s.code
        if code == gdb.TYPE_CODE_PTR:
            target = s.target()
            entry["kind"] = "pointer"
            entry["target"] = self.add(target)
        elif code in (gdb.TYPE_CODE_REF, gdb.TYPE_CODE_RVALUE_REF):
            entry["kind"] = "reference"
            entry["target"] = self.add(s.target())
        elif code == gdb.TYPE_CODE_ARRAY:
            lo, hi = s.range()
            entry["kind"] = "array"
            entry["target"] = self.add(s.target())
            entry["count"] = max(hi - lo + 1, 0)
        elif code == gdb.TYPE_CODE_STRUCT and name.startswith("std::") and \
                [f.type.strip_typedefs().code for f in s.fields() if not f.is_base_class and
                 hasattr(f, "bitpos")] == [gdb.TYPE_CODE_ARRAY] and \
                s.fields()[0].type.sizeof == s.sizeof:
            # a std::array is the array it holds, and drawn as one
            inner = s.fields()[0].type.strip_typedefs()
            lo, hi = inner.range()
            entry.update(kind="array", target=self.add(inner.target()), count=max(hi - lo + 1, 0))
        elif code in (gdb.TYPE_CODE_STRUCT, gdb.TYPE_CODE_UNION):
            entry["kind"] = "struct" if code == gdb.TYPE_CODE_STRUCT else "union"
            entry["file"] = declared_in(t)
            if name.startswith("std::"):  # drawn by what its printer says, not member by member
                entry["library"] = True
            entry["fields"] = []
            for f in s.fields():
                if f.artificial or not hasattr(f, "bitpos"):
                    continue
                field = {"name": f.name or "", "offset": f.bitpos // 8, "type": self.add(f.type)}
                if f.bitsize:
                    field["bits"] = [f.bitpos % 8, f.bitsize]
                entry["fields"].append(field)
        elif code == gdb.TYPE_CODE_ENUM:
            entry["kind"] = "enum"
            entry["values"] = {str(f.enumval): f.name for f in s.fields()}
        elif code == gdb.TYPE_CODE_BOOL:
            entry["kind"] = "bool"
        elif code == gdb.TYPE_CODE_FLT:
            entry["kind"] = "float"
        elif code in (gdb.TYPE_CODE_INT, gdb.TYPE_CODE_CHAR):
            plain = str(s.unqualified())
            signed = s.is_signed
            if s.sizeof == 1 and "char" in plain or plain in ("int8_t", "uint8_t"):
                entry["kind"] = "char" if signed else "uchar"
            else:
                entry["kind"] = "int" if signed else "uint"
        elif code == gdb.TYPE_CODE_FUNC:
            entry["kind"] = "func"
        else:
            entry["kind"] = "other"
        return name

    def pointers(self, name, base=0, depth=0):
        """(offset, target type name) of every pointer inside one value of a type."""
        entry = self.table.get(name)
        if entry is None or depth > 8:
            return []
        kind = entry["kind"]
        if kind == "pointer":  # (a pointer to a function points at code, no block)
            return [] if self.table[entry["target"]]["kind"] == "func" else \
                [(base, entry["target"])]
        if kind == "array":
            size = self.table[entry["target"]]["size"] or 1
            inner = self.pointers(entry["target"], 0, depth + 1)
            if not inner:
                return []
            count = min(entry["count"], MAX_BYTES // size)
            return [(base + k * size + off, t) for k in range(count) for off, t in inner]
        if kind in ("struct", "union"):
            return [p for f in entry["fields"]
                    for p in self.pointers(f["type"], base + f["offset"], depth + 1)]
        return []


def declared_in(t):
    """The base name of the source file that declares a struct or union
    type (by its tag, or by the typedef that names it), or None."""
    for name, domain in ((t.strip_typedefs().tag, gdb.SYMBOL_STRUCT_DOMAIN),
                         (t.name, gdb.SYMBOL_VAR_DOMAIN)):
        if not name:
            continue
        try:
            sym = gdb.lookup_symbol(name, domain=domain)[0]
        except (gdb.error, RuntimeError):
            sym = None
        if sym is not None and sym.symtab is not None:
            return sym.symtab.filename.rsplit("/", 1)[-1]
    return None


def aggregate(types, name):
    return types.table[name]["kind"] in ("array", "struct", "union")


def describe(types, name, value, address, defined):
    """A trace var from a gdb value; defined(address, size) gives the vbits
    of its recorded bytes (the ranges cut gives)."""
    t = value.type
    size = t.sizeof
    tname = types.add(t)
    kind = types.table[tname]["kind"]
    var = {"name": name, "type": tname, "address": hexa(address) if address is not None else None,
           "size": size}
    known = defined(address, size) if address is not None else None
    var["set"] = known is None or all(k is True for k in known)
    if kind == "reference":  # another name: the variable it is bound to
        try:
            target = value.referenced_value()
            bound = int(target.address) if target.address is not None else 0
        except (gdb.error, RuntimeError):
            bound = 0
        var["value"] = target.format_string(symbols=False, max_elements=16) if bound else None
        var["points_to"] = hexa(bound)
        var["set"] = bound != 0
        var["address"] = None  # gdb gives the referent's, not where the reference is kept
        return var
    # an object not made yet (no byte of it set) is no object to ask its printer of
    made = known is None or any(k is True or isinstance(k, int) and k is not False
                                for k in known)
    shows = printed(types, value, address, defined) \
        if kind in ("struct", "union", "other") and made else None
    if shows is not None:
        var["shows"] = shows
    elif kind == "struct" and made and address is not None:
        parts = library_parts(types, value, tname, address, defined)
        if parts:
            var["parts"] = parts
    if aggregate(types, tname) and address is not None:
        var["value"] = None
        var["bytes"] = byte_list(address, size, known)
        if partial(address, size, known):
            var["partial"] = partial(address, size, known)
        if size > MAX_BYTES + TAIL:
            var["omitted"] = size - MAX_BYTES - TAIL
        return var
    try:
        var["value"] = value.format_string(symbols=False, max_elements=16)
    except gdb.error:
        var["value"] = "?"
    if kind == "pointer" and var["set"]:
        try:
            var["points_to"] = hexa(int(value) & 0xFFFFFFFFFFFFFFFF)
        except gdb.error:
            pass
    return var


def byte_list(address, size, known):
    """The recorded bytes of an object, None for a byte not set; known says
    per recorded byte (the ranges cut gives, in order) whether it is set,
    or is None when all are."""
    out, k = [], 0
    for off, length in cut(size):
        raw = read(address + off, length) or bytes(length)
        flags = known[k:k + length] if known is not None else [True] * length
        k += length
        out += [b if ok is True else None for b, ok in zip(raw, flags)]
    return out


def partial(address, size, known):
    """The bytes of an object that memcheck knows only some bits of (a
    bit-field's): {index: [the byte, the mask of its bits not set]}."""
    out, k = {}, 0
    for off, length in cut(size):
        for j, ok in enumerate((known or [])[k:k + length]):
            if ok is not True and ok is not False and ok is not None:
                raw = read(address + off + j, 1)
                out[str(k + j)] = [raw[0] if raw else 0, ok]
        k += length
    return out


def frame_symbols(frame):
    """The variables and arguments in scope at the frame's line, outer scopes
    first; a name an inner scope declares again is the inner one; what the
    compiler made (__in_chrg, and the like) and statics are left out."""
    try:
        block = frame.block()
    except RuntimeError:
        return []
    chain = []
    while block is not None:
        chain.append(block)
        if block.function is not None:
            break
        block = block.superblock
    out, seen = [], set()
    for block in chain:  # the innermost scope first: its names hide the outer ones'
        found = []
        for sym in block:
            if not (sym.is_variable or sym.is_argument) or sym.name in seen or \
                    sym.name.startswith("__") or \
                    sym.addr_class == gdb.SYMBOL_LOC_STATIC or \
                    sym.addr_class == gdb.SYMBOL_LOC_OPTIMIZED_OUT:
                # statics are globals' kin; a constructor's loop variable is
                # also listed, with no place, in scopes it is not in
                continue
            seen.add(sym.name)
            try:
                found.append((sym, sym.value(frame)))
            except (gdb.error, RuntimeError):
                continue
        out = found + out
    return out


def library_parts(types, value, tname, address, defined, prefix="", depth=0):
    """What the printers say of the standard library's objects among a
    struct's members (a std::string name): [{name, offset, shows}], a
    member of a member as a.b."""
    out = []
    for f in types.table[tname]["fields"]:
        t = types.table[f["type"]]
        if t["kind"] != "struct" or depth > 3:
            continue
        try:
            member = value[f["name"]] if f["name"] else None
        except (gdb.error, RuntimeError):
            member = None
        if member is None:
            continue
        name, at = prefix + f["name"], address + f["offset"]
        if t.get("library"):
            shows = printed(types, member, at, defined)
            if shows is not None:
                out.append({"name": name, "offset": f["offset"], "type": f["type"],
                            "address": hexa(at), "size": t["size"], "shows": shows})
        else:
            out += [dict(p, offset=p["offset"] + f["offset"])
                    for p in library_parts(types, member, f["type"], at, defined, name + ".",
                                           depth + 1)]
    return out


def printed(types, value, address, defined, depth=0):
    """What the standard library's own printer for gdb (libstdc++'s, which
    gdb loads with it) says a value holds, or None: {text: its summary,
    hint, elements: [{name, text, address}] (the first 64), type (of the
    first: what it holds), count, capacity
    (what the summary says of them), chars: {address, length, bytes} (a
    string's characters: where they are and, memcheck's, which are set),
    inside (they lie in the object itself), room (bytes from them to the
    object's end, when inside), pointer (a smart pointer's target), owners
    (a shared pointer's use count), nodes (its elements lie outside it but
    in no one block: a list's, a map's, each in a node of its own)}. No
    layout of the library is read here: where a string's characters or a
    vector's elements lie is the printer's."""
    try:
        pp = gdb.default_visualizer(value)
    except (gdb.error, RuntimeError, TypeError):
        return None
    if pp is None:
        return None
    out = {"hint": None, "text": None, "elements": [], "count": None}
    try:
        out["hint"] = pp.display_hint() if hasattr(pp, "display_hint") else None
        said = pp.to_string() if hasattr(pp, "to_string") else None
        if hasattr(said, "address") and hasattr(said, "length") and hasattr(said, "type"):
            # a lazy string: where the characters are, and how many
            start, length = int(said.address), said.length
            if length < 0:  # a C string: to its zero byte
                length = len((read(start, 4096) or b"").split(b"\0")[0])
            out["chars"] = {"address": hexa(start), "length": length,
                            "bytes": byte_list(start, min(length, 256),
                                               defined(start, min(length, 256)))}
            if address is not None and address <= start < address + value.type.sizeof:
                out["inside"] = True
                out["room"] = address + value.type.sizeof - start
            out["text"] = None
        elif isinstance(said, gdb.Value):
            out["text"] = said.format_string(symbols=False)
        elif said is not None:
            out["text"] = str(said)
        children = pp.children() if hasattr(pp, "children") else []
        n = 0
        for child in children:
            cname, cvalue = child
            n += 1
            if len(out["elements"]) >= 64:
                break  # a big container's count is its summary's
            if not isinstance(cvalue, gdb.Value):
                cvalue = gdb.Value(cvalue)
            element = {"name": cname, "text": cvalue.format_string(symbols=False,
                                                                   max_elements=8)}
            if not out["elements"]:
                out["type"] = types.add(cvalue.type)  # what it holds
            if cvalue.address is not None:
                element["address"] = hexa(int(cvalue.address))
                if depth == 0 and len(out["elements"]) < 16:
                    # an element that is itself the library's (a map's vector):
                    # what it holds, and where
                    inner = printed(types, cvalue, int(cvalue.address), defined, 1)
                    if inner is not None:
                        element["shows"] = inner
                        element["type"] = types.add(cvalue.type)
            if cvalue.type.strip_typedefs().code == gdb.TYPE_CODE_PTR and cname == "get()":
                out["pointer"] = hexa(int(cvalue) & 0xFFFFFFFFFFFFFFFF)
            out["elements"].append(element)
        out["count"] = n
    except (gdb.error, RuntimeError, ValueError, TypeError, AttributeError):
        return None
    if out["hint"] == "map":  # a key and its value, one child each
        out["count"] = n // 2
    text = out["text"] or ""
    for key, words in (("count", r"length (\d+)"), ("capacity", r"capacity (\d+)"),
                       ("owners", r"use count (\d+)"), ("count", r"with (\d+) elements?")):
        m = re.search(words, text)
        if m:
            out[key] = int(m.group(1))
    first = out["elements"][0].get("address") if out["elements"] else None
    if first and out.get("capacity") is None and "pointer" not in out and address is not None \
            and not address <= int(first, 16) < address + value.type.sizeof:
        out["nodes"] = True
    return out
