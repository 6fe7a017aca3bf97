"""The heap's book, as valgrind's memcheck keeps it: which bytes are set,
which blocks are live and who allocated them, which were freed, the errors
memcheck found, and what is left at exit. Read through the monitor commands
of valgrind's gdbserver and the XML file memcheck writes its errors to."""

import os
import re
import xml.etree.ElementTree as ET

import gdb

from tools.running import memcheck
from tools.running.memcheck import STREAMS, block_of, number, plain_name
from tools.tracer.values import MAX_BYTES, byte_list, cut, hexa, partial, read

PID = re.compile(r"^==\d+== ?")
RECORD = re.compile(r"([\d,]+) (?:\(([\d,]+) direct, ([\d,]+) indirect\) )?bytes in ([\d,]+) "
                    r"blocks are (definitely lost|indirectly lost|possibly lost|still reachable) "
                    r"in loss record ([\d,]+) of ([\d,]+)")
FRAME = re.compile(r"^\s*(?:at|by) 0x([0-9A-Fa-f]+): (.*?)(?: \((?:in )?([^()]*)\))?$")
BLOCK = re.compile(r"^\s*0x([0-9A-Fa-f]+)\[(\d+)\]")
SUMMARY = re.compile(r"^\s*(definitely lost|indirectly lost|possibly lost|still reachable|"
                     r"suppressed): ([\d,]+) bytes in ([\d,]+) blocks")
# what a standard exception keeps its message in (runtime_error's) is the
# exception's, which is the C++ runtime's: not a block of the program's
EXCEPTION = re.compile(r"(_error|exception|out_of_range|invalid_argument)$")
ALLOCATORS = ("malloc", "calloc", "realloc", "reallocarray", "aligned_alloc", "memalign",
              "posix_memalign", "valloc")
UNREACHED = 8  # blocks no name reaches drawn at most; the rest are counted
CHECK_EVERY = 4  # the heap is listed again at least this often, calls or not


def monitor(command):
    text = gdb.execute("monitor " + command, to_string=True)
    return [PID.sub("", row) for row in text.split("\n")]


def vbits(address, size):
    """Per byte: True when memcheck knows it set, False when none of its bits
    is, the mask of its bits not set when only some are (a bit-field's
    byte), None when the program may not touch it."""
    flags = []
    if size <= 0:
        return flags
    for row in monitor("get_vbits %#x %d" % (address, size)):
        if row.startswith("Address") or not row.strip():
            continue
        for group in row.split():
            flags += [None if group[k:k + 2] == "__" else True if group[k:k + 2] == "00"
                      else False if group[k:k + 2] == "ff" else int(group[k:k + 2], 16)
                      for k in range(0, len(group), 2)]
    return (flags + [True] * size)[:size]


def records(rows):
    """Loss records of leak_check or block_list output: kind, bytes, blocks,
    the allocation stack and (block_list) the blocks' addresses and sizes."""
    out = []
    for row in rows:
        m = RECORD.search(row)
        if m:
            out.append({"kind": m.group(5), "bytes": number(m.group(1)),
                        "indirect": number(m.group(3)) if m.group(3) else 0,
                        "blocks": number(m.group(4)), "number": number(m.group(6)),
                        "of": number(m.group(7)), "stack": [], "addresses": []})
            continue
        if not out:
            continue
        f = FRAME.match(row)
        if f and not out[-1]["addresses"]:
            out[-1]["stack"].append({"ip": int(f.group(1), 16), "fn": f.group(2),
                                     "where": f.group(3) or ""})
            continue
        b = BLOCK.match(row)
        if b:
            out[-1]["addresses"].append((int(b.group(1), 16), int(b.group(2))))
    return out


class Book:
    def __init__(self, xml_path, own_files, program):
        self.xml_path, self.xml_at, self.xml_text = xml_path, 0, ""
        self.own_files = own_files  # base names of the program's own sources
        self.program = os.path.realpath(program)
        self.live = {}  # address -> (size, site key)
        self.sites = {}  # allocation stack -> what allocated it
        self.given = set()  # sites some name has reached a block of
        self.freed = {}  # address -> freed block worth drawing
        self.elem = {}  # heap address -> the type it was first reached as
        self.typed = {}  # site -> the type its first block reached was reached as
        # heap address -> bytes new[] keeps before an array of objects with a
        # destructor (how many, for delete[]); the program sees what follows
        self.heads = {}
        self.shown = set()  # heap addresses drawn in the step before
        self.found = 0  # errors memcheck counted, repeats included
        self.calls = {}  # return address -> name of the function called there
        self.since = CHECK_EVERY
        self.listed = []  # loss records of the last listing
        self.born = []  # (address, function called) of blocks new since the listing before
        self.live_before = False
        self.unlisted = {}  # site -> live blocks of a big record not listed one by one
        self.arrays = {}  # start -> (size, kind) of arrays of pointers found outside any
        #                  variable (argv): found again as one, wherever a pointer is in them

    # ----- who allocated a block --------------------------------------------
    def called_from(self, ip):
        """Name of the function the call instruction at ip calls (memcheck
        gives a return address less one, inside the call)."""
        if ip not in self.calls:
            name = None
            code = read(ip - 4, 5)
            if code and code[0] == 0xE8:
                after = ip + 1
                target = (after + int.from_bytes(code[1:], "little", signed=True)) & (2 ** 64 - 1)
                try:
                    found = gdb.execute("info symbol %#x" % target, to_string=True)
                    if " in section " in found:
                        name = plain_name(found.split(" in section ")[0].split(" + ")[0])
                except gdb.error:
                    pass
            self.calls[ip] = name
        return self.calls[ip]

    def site(self, stack):
        key = tuple((f["fn"], f["where"]) for f in stack)
        if key not in self.sites:
            info = {"by": "?", "called": None, "own": False, "library": False,
                    "stream": False, "line": None}
            for k, f in enumerate(stack):
                where = f["where"].rsplit(":", 1)
                if where[0] in self.own_files:
                    called = self.called_from(f["ip"]) or plain_name(stack[k - 1]["fn"] if k else "?")
                    info["called"] = called
                    if called in ALLOCATORS or called.startswith(("_Zn", "operator new")):
                        info["by"], info["own"] = plain_name(f["fn"]), True
                        if called.startswith(("_Zna", "operator new[]")):
                            info["by"] += " (new[])"
                        elif called.startswith(("_Zn", "operator new")):
                            info["by"] += " (new)"
                    elif plain_name(called) == "cxa_allocate_exception":
                        # what throw throws: the C++ runtime's, until a catch ends
                        info["by"], info["thrown"] = plain_name(f["fn"]) + " (throw)", True
                    elif called.startswith("std::") and \
                            plain_name(stack[0]["fn"]).startswith(("_Zn", "operator new")) \
                            and not EXCEPTION.search(called.split("(")[0]):
                        # the standard library, at the program's asking: a string
                        # or a vector growing (by operator new; the C library's
                        # own buffer for cout is malloc's, as printf's is)
                        method = re.sub(r"<.*>", "", called).split("(")[0].split("::")[-1]
                        info["by"], info["own"] = "%s (%s)" % (plain_name(f["fn"]), method), True
                    else:
                        info["by"] = called
                    info["library"] = called == "get_string"
                    info["stream"] = called in STREAMS
                    info["line"] = int(where[1]) if len(where) > 1 and where[1].isdigit() else None
                    break
            self.sites[key] = info
        return key

    # ----- the live blocks -------------------------------------------------
    def refresh(self, made_calls, step):
        """Lists the live heap blocks again when the line just run may have
        changed them (it called something, or a while has passed); a block
        drawn before that is gone now was freed by that line."""
        self.since += 1
        self.born = []
        if not made_calls and self.since < CHECK_EVERY and self.listed:
            return
        self.since = 0
        self.listed = records(monitor("leak_check full reachable any"))
        small = [r["number"] for r in self.listed if r["blocks"] <= 64]
        rows = []
        for lo, hi in spans(small):
            rows += monitor("block_list %d..%d" % (lo, hi))
        for r in self.listed:
            if r["blocks"] > 64:  # a loop's many blocks: enough of them to draw
                rows += monitor("block_list %d limited %d" % (r["number"], 2 * UNREACHED))
        live = {}
        for r in records(rows):
            key = self.site(r["stack"])
            for address, size in r["addresses"]:
                live[address] = (size, key)
        self.unlisted = {}
        for r in self.listed:
            if r["blocks"] > 64:
                key = self.site(r["stack"])
                self.unlisted[key] = self.unlisted.get(key, 0) + r["blocks"] - 2 * UNREACHED
        for a, (size, key) in self.live.items():
            if a not in live and a in self.shown:
                self.freed[a] = {"size": size, "site": key, "step": step}
        for a in live:
            self.freed.pop(a, None)  # the allocator gave the address out again
            if a not in self.live:
                self.elem.pop(a, None)  # a new block, whatever the old one held
                self.heads.pop(a, None)
        self.born = [(a, self.sites[key]["called"]) for a, (size, key) in live.items()
                     if a not in self.live and key is not None and self.live_before]
        self.live, self.live_before = live, True

    def heap_block(self, p):
        """(start, size, freed) of the live or remembered freed block holding p,
        or ending right at p; None when there is none."""
        for start, (size, _) in self.live.items():
            if start <= p < start + max(size, 1) or p == start + size:
                return start, size, False
        for start, rec in self.freed.items():
            if start <= p < start + max(rec["size"], 1):
                return start, rec["size"], True
        return None

    def location(self, p):
        """Memcheck's own description of an address, for one no block holds."""
        for row in monitor("v.info location %#x" % p):
            place = block_of(row)
            if place:
                size = number(re.search(r"of size ([\d,]+)", row).group(1))
                return {"start": place[0], "size": size, "freed": "free'd" in row}
        return None

    # ----- errors ------------------------------------------------------------
    def errors(self):
        """Memcheck's errors since the last call: the new ones in its own words
        and the count of repeats of errors it reported before."""
        row = " ".join(monitor("v.info n_errs_found"))
        m = re.search(r"n_errs_found (\d+)", row)
        found = int(m.group(1)) if m else self.found
        if found == self.found:
            return [], 0
        new = self.read_xml()
        repeats = max(found - self.found - len(new), 0)
        self.found = found
        return new, repeats

    def read_xml(self):
        try:
            with open(self.xml_path, "rb") as f:
                f.seek(self.xml_at)
                data = f.read()
        except OSError:
            return []
        self.xml_at += len(data)
        chunks, self.xml_text = memcheck.split(self.xml_text + data.decode("utf-8", "replace"))
        out = []
        for chunk in chunks:
            try:
                out.append(memcheck.error(chunk, self.own_files))
            except ET.ParseError:
                continue
        return [e for e in out if not e["kind"].startswith("Leak_")]

    def fatal(self):
        """The fatal signal memcheck tells at the end: {address, event}, or None."""
        try:
            with open(self.xml_path, encoding="utf-8", errors="replace") as f:
                text = f.read()
        except OSError:
            return None
        m = re.search(r"<fatal_signal>(.*?)</fatal_signal>", text, re.S)
        if not m:
            return None
        return {"address": (re.search(r"<siaddr>(0x[0-9a-fA-F]+)</siaddr>", m.group(1)) or
                            re.search("()", "")).group(1) or None,
                "event": (re.search(r"<event>(.*?)</event>", m.group(1)) or
                          re.search("()", "")).group(1) or None}

    # ----- at exit -----------------------------------------------------------
    def left(self):
        """What memcheck finds still allocated at exit, in its own words."""
        rows = monitor("leak_check full reachable any")
        out = {"records": [], "summary": {}, "words": []}
        for r in records(rows):
            info = self.sites[self.site(r["stack"])]
            where = next((f["where"] for f in r["stack"]
                          if f["where"].rsplit(":", 1)[0] in self.own_files), None)
            out["records"].append({"kind": r["kind"], "bytes": r["bytes"], "blocks": r["blocks"],
                                   "indirect": r["indirect"], "allocated_by": info["by"],
                                   "where": where})
        for row in rows:
            m = SUMMARY.match(row)
            if m:
                out["summary"][m.group(1)] = [number(m.group(2)), number(m.group(3))]
            elif "no leaks are possible" in row:
                out["words"].append(row.strip())
        return out

    # ----- the blocks of one step ----------------------------------------------
    def blocks(self, types, roots, named, regions, step, live_low=0, errs=()):
        """Every block a root reaches, directly or through the pointers of the
        blocks it reaches; then the program's blocks no name reaches, and the
        freed blocks a name still points into or that the line just freed.

        roots: [(address held, target type[, True for a variable's own
        address])]; named: the program's variables
        as (start, size, name, frame index, type); regions: the process's
        mappings as (lo, hi, kind) with kind "stack", "heap", "global" or
        "read-only"; step: the index of the step being recorded; live_low:
        the lowest address of the stack the running call still uses; errs:
        the blocks the line just run erred in, drawn even when freed."""
        found = {}
        todo = list(roots)
        while todo:
            p, target, *itself = todo.pop(0)
            if p == 0:
                continue
            info = self.where(p, target, types, named, regions, live_low, bool(itself))
            if info is None or info["address"] in found:
                continue
            block = self.make(info, types)
            found[info["address"]] = block
            if block["bytes"] is None:
                continue
            esize = types.table[block["type"]]["size"] or 1
            inner = types.pointers(block["type"])
            for k in range(len(block["bytes"]) // esize if inner else 0):
                for off, t in inner:
                    raw = block["bytes"][k * esize + off:k * esize + off + 8]
                    if len(raw) == 8 and None not in raw:
                        todo.append((int.from_bytes(bytes(raw), "little"), t))
        unreached = [(a, size) for a, (size, key) in sorted(self.live.items())
                     if a not in found and key is not None
                     and (self.sites[key]["own"] or key in self.given)]
        for a, size in unreached[:UNREACHED]:
            found[a] = self.make({"address": a, "size": size, "kind": "heap"}, types)
            found[a]["reached"] = False
        more = sum(n for key, n in self.unlisted.items()
                   if self.sites[key]["own"] or key in self.given)
        hidden = {"blocks": len(unreached) - len(unreached[:UNREACHED]) + more,
                  "bytes": sum(size for _, size in unreached[UNREACHED:])}
        erred = {int(b, 16) for b in errs}
        for a, rec in self.freed.items():
            # freed by the line just run, or read or written by it after the free
            if a not in found and (rec["step"] == step or a in erred):
                found[a] = self.make({"address": a, "size": rec["size"], "kind": "heap",
                                      "freed": True}, types)
                found[a]["reached"] = False
        self.shown = {a for a, b in found.items() if b["kind"] == "heap" and not b["freed"]}
        heap = sorted((b for b in found.values() if b["kind"] == "heap"),
                      key=lambda b: int(b["address"], 16))
        return [b for b in found.values() if b["kind"] != "heap"] + heap, hidden

    def where(self, p, target, types, named, regions, live_low, itself=False):
        held = self.heap_block(p)
        region = next((r for r in regions if r[0] <= p < r[1]), None)
        if held is None and region is not None and region[2] == "heap":
            # a block of a loop's many not listed one by one, one freed
            # before it could be seen, or none at all
            place = self.location(p)
            if place is None:
                return None
            if place["freed"]:
                self.freed.setdefault(place["start"], {"size": place["size"], "site": None,
                                                       "step": None})
            else:
                self.live[place["start"]] = (place["size"], None)
            held = (place["start"], place["size"], place["freed"])
        if held is not None:
            start, size, freed = held
            if target is not None and types.table[target]["kind"] not in ("other", "func") \
                    and types.table[target]["size"] > 0:
                if start not in self.elem and not freed and start < p:
                    self.count_ahead(start, size, p - start, types.table[target]["size"])
                self.elem.setdefault(start, target)
                if not freed and self.live[start][1] is not None:
                    self.typed.setdefault(self.live[start][1], target)
            if not freed:
                self.given.add(self.live[start][1])
            return {"address": start, "size": size, "kind": "heap", "freed": freed}
        for start, size, name, frame, t in named:
            if p == start + size and types.table[t]["kind"] == "array" and not itself:
                return None  # one past an array's end: the drawings say so, no block
        for start, size, name, frame, t in named:
            if start <= p < start + max(size, 1):
                # an array is drawn as its elements; any other variable as itself
                if types.table[t]["kind"] == "array":
                    t = types.table[t]["target"]
                return {"address": start, "size": size, "kind": "global" if frame is None
                        else "stack", "name": name, "frame": frame, "type": t}
        if region is None:  # (a variable may lie in stack not mapped yet: a big array)
            return None
        lo, hi, kind = region
        tinfo = types.table.get(target) if target else None
        tsize = max(tinfo["size"], 1) if tinfo else 1
        if kind == "stack" and p < live_low:
            # below the running call's variables: the frame of a call that has returned
            return {"address": p, "size": tsize, "kind": "stack", "ended": True,
                    "type": target}
        for start, (size, was) in self.arrays.items():
            if start <= p < start + size and was == kind:
                return {"address": start, "size": size, "kind": kind, "type": target}
        if tinfo and tinfo["kind"] == "pointer":
            n = 0  # an array of pointers ending with a null one (argv)
            while n < 64:
                word = read(p + 8 * n, 8)
                n += 1
                if word is None or word == bytes(8):
                    break
            # kept: a pointer walking along it later stays in this one
            self.arrays[p] = (8 * n, kind)
            return {"address": p, "size": 8 * n, "kind": kind, "type": target}
        if tsize == 1:
            # characters: back to the string's first one, on to its zero byte
            start = p
            while start > lo and p - start < 256:
                prev = read(start - 1, 1)
                if prev is None or not 32 <= prev[0] < 127:
                    break
                start -= 1
            end = p
            while end < hi and end - p < MAX_BYTES:
                c = read(end, 1)
                end += 1
                if c is None or c == b"\0":
                    break
            return {"address": start, "size": end - start, "kind": kind, "type": target or "char"}
        return {"address": p, "size": tsize, "kind": kind, "type": target}

    def count_ahead(self, start, size, ahead, each):
        """Notes the count new[] keeps before an array of objects, where the
        first pointer to reach a block it made points past it, at a whole
        number of elements, and it holds their number."""
        key = self.live.get(start, (0, None))[1]
        if key is None or not self.sites[key]["by"].endswith("(new[])") or ahead not in (8, 16):
            return
        count = read(start, 8)
        if count and int.from_bytes(count, "little") * each == size - ahead:
            self.heads[start] = ahead

    def from_heads(self, errors):
        """Memcheck's errors in blocks new[] keeps a count in, placed from
        where the elements start, as the blocks are drawn."""
        for e in errors:
            head = self.heads.get(int(e["block"], 16)) if e.get("block") else None
            if head:
                e["block"], e["offset"] = hexa(int(e["block"], 16) + head), e["offset"] - head
        return errors

    def make(self, info, types):
        start, kind = info["address"], info["kind"]
        head = self.heads.get(start, 0) if kind == "heap" else 0
        # of an array new[] keeps a count before, the elements it gave the program
        a, size = start + head, info["size"] - head
        block = {"address": hexa(a), "size": size, "kind": kind, "name": info.get("name"),
                 "frame": info.get("frame"), "allocated_by": None, "library": False,
                 "stream": False, "freed": bool(info.get("freed")), "reached": True}
        if head:
            block["head"] = head
        if info.get("ended"):
            block["ended"] = True
        etype = info.get("type") or "char"
        if kind == "heap":
            key = self.live[start][1] if start in self.live else \
                self.freed.get(start, {}).get("site")
            # a block no name reached yet (made in passes of a loop left out,
            # and lost there) holds what the blocks of its line were reached as
            etype = self.elem.get(start) or self.typed.get(key, "char")
            site = self.sites.get(key)
            if site:
                block["allocated_by"] = site["by"]
                block["library"] = site["library"]
                block["stream"] = site["stream"]
                if site.get("thrown"):
                    block["thrown"] = site["line"]
        if "char" not in types.table:
            types.add(gdb.lookup_type("char"))
        block["type"] = etype if etype in types.table else "char"
        if block["stream"] or types.table[block["type"]].get("name") == "FILE" \
                or block["type"] in ("FILE", "struct _IO_FILE"):
            block["stream"] = True
        if block["freed"] or block["stream"] or block.get("ended") or block.get("thrown"):
            block["bytes"] = None
            return block
        known = flags(a, size, kind)
        block["bytes"] = byte_list(a, size, known)
        if partial(a, size, known):
            block["partial"] = partial(a, size, known)
        if size > sum(n for _, n in cut(size)):
            block["omitted"] = size - sum(n for _, n in cut(size))
        return block


def flags(address, size, kind):
    """Set or not per recorded byte; what is not the program's to write
    (read-only data, code) is always set."""
    if kind == "read-only":
        return None
    out = []
    for off, length in cut(size):
        out += [False if x is None else x for x in vbits(address + off, length)]
    return out


def makes(called):
    """Whether a call of this function gives the block it makes (malloc,
    get_string, fopen, new), not one that makes a block as it goes
    (push_back)."""
    return called is not None and (called in ALLOCATORS or called in STREAMS or called in (
        "get_string", "strdup", "strndup") or called.startswith(("_Zn", "operator new")))


def spans(numbers):
    """Runs of consecutive numbers as (first, last)."""
    out = []
    for n in sorted(numbers):
        if out and out[-1][1] == n - 1:
            out[-1][1] = n
        else:
            out.append([n, n])
    return [tuple(s) for s in out]


def regions(pid, sp):
    """The program's mappings as (lo, hi, kind). Under valgrind the stack is
    the anonymous mapping that holds the stack pointer, not "[stack]" (that
    one is valgrind's own), and the heap is in anonymous writable mappings."""
    out = []
    with open("/proc/%d/maps" % pid) as f:
        for row in f:
            parts = row.split()
            lo, hi = (int(x, 16) for x in parts[0].split("-"))
            perms, path = parts[1], parts[5] if len(parts) > 5 else ""
            if path.startswith("[") or "valgrind" in path or "r" not in perms:
                continue
            if lo <= sp < hi:
                kind = "stack"
            elif "w" not in perms:
                kind = "read-only"
            elif path == "":
                kind = "heap"
            else:
                kind = "global"
            out.append((lo, hi, kind))
    return out
