"""What valgrind's memcheck says, read from the XML it writes (--xml=yes):
each error in its own words, where in the program's own sources it
happened, the block it concerns, and the blocks it finds lost at exit."""

import re
import xml.etree.ElementTree as ET

PLACE = re.compile(r"Address (0x[0-9a-fA-F]+) is ([\d,]+) bytes (inside|after|before) a block "
                   r"of size ([\d,]+) (alloc'd|free'd)")
LOST = ("Leak_DefinitelyLost", "Leak_IndirectlyLost")


def number(text):
    return int(text.replace(",", ""))


def plain_name(name):
    """The public name of a C library function from a symbol's name."""
    name = (name or "?").split("@")[0].split("(")[0].strip()
    for prefix in ("__GI_", "__libc_", "_IO_new_", "__isoc99_", "__isoc23_", "_IO_", "__"):
        if name.startswith(prefix) and len(name) > len(prefix):
            name = name[len(prefix):]
    return name


def block_of(text):
    """(block start, offset) from memcheck's "Address 0x.. is N bytes after
    a block of size S alloc'd", or None."""
    m = PLACE.search(text)
    if not m:
        return None
    p, offset, size = int(m.group(1), 16), number(m.group(2)), number(m.group(4))
    start = p - offset if m.group(3) == "inside" else (
        p - offset - size if m.group(3) == "after" else p + offset)
    return start, p - start


def split(text):
    """The complete <error> elements at the start of text, and the rest."""
    chunks = []
    while True:
        start = text.find("<error>")
        end = text.find("</error>", start)
        if start < 0 or end < 0:
            return chunks, text
        chunks.append(text[start:end + len("</error>")])
        text = text[end + len("</error>"):]


def error(chunk, own_files):
    """One error: {kind, what, aux, file, line, function, block, offset, lost}:
    file, line and function where the program's own code made it (the
    innermost frame in one of own_files); lost: [bytes, blocks] for a leak."""
    node = ET.fromstring(chunk)
    what = node.findtext("what") or node.findtext("xwhat/text") or ""
    err = {"kind": node.findtext("kind") or "", "what": what,
           "aux": [a.text or "" for a in node.findall("auxwhat")], "file": None,
           "line": None, "function": None, "block": None, "offset": None}
    if node.find("xwhat/leakedbytes") is not None:
        err["lost"] = [int(node.findtext("xwhat/leakedbytes")),
                       int(node.findtext("xwhat/leakedblocks"))]
    stacks = node.findall("stack")
    for frame in stacks[0].findall("frame") if stacks else []:
        if frame.findtext("file") in own_files:
            err["file"] = frame.findtext("file")
            err["line"] = int(frame.findtext("line") or 0) or None
            err["function"] = plain_name(frame.findtext("fn"))
            break
    for aux in err["aux"]:
        place = block_of(aux)
        if place:
            err["block"], err["offset"] = "0x%x" % place[0], place[1]
            break
    return err


def read(text, own_files):
    """Every error of a whole XML file: (errors, leaks)."""
    chunks, _ = split(text)
    found = []
    for chunk in chunks:
        try:
            found.append(error(chunk, own_files))
        except ET.ParseError:
            continue
    return ([e for e in found if not e["kind"].startswith("Leak_")],
            [e for e in found if e["kind"] in LOST])


def words(err):
    """memcheck's sentences for one error, with where it happened."""
    where = "%s:%d: " % (err["file"], err["line"]) if err.get("line") else ""
    return where + err["what"] + "".join(
        ". " + a for a in err["aux"] if a.startswith("Address"))
