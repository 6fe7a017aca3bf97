"""The pictures on a terminal: its character set, its keys, and a pager
that keeps each picture's head in view."""

import os
import select
import shutil
import sys
import termios
import tty

from tools.drawing import text


def speaks_utf8():
    # Python itself turns a "C" locale into C.UTF-8 in os.environ (PEP 538):
    # the environment this process was started with says what the user set.
    try:
        with open("/proc/self/environ", "rb") as f:
            rows = f.read().decode("utf-8", "replace").split("\0")
        env = dict(row.split("=", 1) for row in rows if "=" in row)
    except OSError:
        env = os.environ
    for var in ("LC_ALL", "LC_CTYPE", "LANG"):
        value = env.get(var)
        if value:
            return "utf-8" in value.lower() or "utf8" in value.lower()
    return False


def read_key(fd):
    """One key from the terminal: a character, or 'up', 'down', 'left', 'right'."""
    key = os.read(fd, 1)
    if key == b"\x1b":
        more = b""
        while len(more) < 2 and select.select([fd], [], [], 0.05)[0]:
            more += os.read(fd, 1)
        return {b"[A": "up", b"[B": "down", b"[C": "right", b"[D": "left",
                b"OA": "up", b"OB": "down", b"OC": "right", b"OD": "left"}.get(more, "esc")
    return key.decode("latin-1")


def page(result, indices, utf8):
    fd = sys.stdin.fileno()
    saved = termios.tcgetattr(fd)
    k, top = 0, 0
    try:
        tty.setcbreak(fd)
        while True:
            cols, rows = shutil.get_terminal_size()
            lines = text.draw(result, indices[k], utf8, width=cols)
            head = text.HEAD  # the title and its two source lines stay on screen
            room = max(rows - 1 - head, 1)
            body = lines[head:]
            top = max(0, min(top, len(body) - room))
            shown = lines[:head] + body[top:top + room]
            more = []
            if top > 0:
                more.append("%d above" % top)
            if top + room < len(body):
                more.append("%d below" % (len(body) - top - room))
            keys = (["Enter: forward"] if k + 1 < len(indices) else []) + \
                (["b: back"] if k > 0 else []) + \
                ["q: quit" if k + 1 < len(indices) else "Enter or q: quit"]
            hint = "  ".join(keys) + ("  up/down: scroll (%s)" % ", ".join(more) if more else "")
            sys.stdout.write("\033[H\033[2J" + "\n".join(row[:cols] for row in shown) + "\n"
                             + hint[:cols - 1])
            sys.stdout.flush()
            key = read_key(fd)
            if key in ("q", "Q", "\x04", "esc"):
                break
            if key in ("up", "k"):
                top -= 1
            elif key in ("down", "j"):
                top += 1
            elif key in ("b", "B", "left"):
                if k > 0:
                    k, top = k - 1, 0
            elif key in ("\r", "\n", " ", "right"):
                if k + 1 >= len(indices):
                    break
                k, top = k + 1, 0
    finally:
        termios.tcsetattr(fd, termios.TCSADRAIN, saved)
        sys.stdout.write("\n")
