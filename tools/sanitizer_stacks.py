"""Stack frames of the sanitizers' reports, read once for tools/lsan_filter.py and
tools/tsan_filter.py.

A frame line is `#N [0xADDR in ]FUNCTION [FILE[:LINE[:COL]]] [(MODULE[+0xOFFSET])]`:
AddressSanitizer and LeakSanitizer write the address and `in`, ThreadSanitizer
does not; the function may hold spaces ("f() const", template arguments), the
file and the module do not; an unknown file is `<null>`.
"""
import os
import re

FRAME = re.compile(r"^\s+#\d+ (.*?)\s*$")
ADDRESS = re.compile(r"^0x[0-9a-f]+ (?:in )?")
MODULE = re.compile(r"(?:^| )\(([^()\s]*?)(\+0x[0-9a-f]+)?\)$")
PATH = re.compile(r"^(<null>|[^()<>\s]*(/|\.[ch]p*|:\d+)[^()<>\s]*)$")


class Frame(tuple):
    """(function, file, module); .pc is the module and offset (`module+0x1f2e`)."""

    def __new__(cls, function, path, module, pc):
        frame = super().__new__(cls, (function, path, module))
        frame.pc = pc
        return frame


def parse_frame(line):
    """The frame of a report line, or None for a line that is not a frame."""
    m = FRAME.match(line)
    if not m:
        return None
    rest = ADDRESS.sub("", m.group(1), count=1)
    module = offset = ""
    mm = MODULE.search(rest)
    if mm:
        module, offset = mm.group(1), mm.group(2) or ""
        rest = rest[:mm.start()]
    function, _, path = rest.rpartition(" ")
    if not PATH.match(path):  # no file: the whole of it is the function
        function, path = rest, ""
    return Frame(function, path, module, module + offset)


def read_frames(lines, i):
    """The frames that start at lines[i], and the index of the first line after them."""
    frames = []
    while i < len(lines):
        frame = parse_frame(lines[i])
        if frame is None:
            break
        frames.append(frame)
        i += 1
    return frames, i


def tavo_frame(frame, root):
    """A frame of _tavo's own code: its module, a source under src/, a function of
    namespace tavo, or its entry point."""
    function, path, module = frame
    return (os.path.basename(module).startswith("_tavo.") or path.startswith(os.path.join(root, "src") + os.sep)
            or function.startswith("tavo::") or function == "PyInit__tavo")
