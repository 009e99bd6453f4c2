"""Reads the AddressSanitizer/LeakSanitizer logs of a sanitizer run.

Fails (exit 1) on any sanitizer error and on any leak whose allocation stack
passes through the _tavo module; leaks that only the interpreter's own frames
allocated are counted and summarised, not failed.
Usage: python tools/lsan_filter.py LOG_DIR
"""
import os
import re
import sys

from sanitizer_stacks import read_frames, tavo_frame

LEAK_HEAD = re.compile(r"^(Direct|Indirect) leak of (\d+) byte\(s\) in (\d+) object\(s\) allocated from:")
ERROR_HEAD = re.compile(r"^==\d+==ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)")
ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))


def leak_blocks(lines):
    i = 0
    while i < len(lines):
        m = LEAK_HEAD.match(lines[i])
        if not m:
            i += 1
            continue
        start = i + 1
        frames, i = read_frames(lines, start)
        yield m.group(1), int(m.group(2)), int(m.group(3)), frames, lines[start:i]


def main(log_dir):
    failed = False
    foreign_bytes = foreign_objects = 0
    ours_reported = 0
    files = sorted(os.listdir(log_dir)) if os.path.isdir(log_dir) else []
    for name in files:
        path = os.path.join(log_dir, name)
        with open(path, errors="replace") as fh:
            text = fh.read()
        lines = text.splitlines()
        for line in lines:
            m = ERROR_HEAD.match(line)
            if m and "detected memory leaks" not in line:
                print(f"--- sanitizer error in {name}:\n{text}", file=sys.stderr)
                failed = True
                break
        for kind, nbytes, nobjs, frames, text in leak_blocks(lines):
            if any(tavo_frame(f, ROOT) for f in frames):
                ours_reported += 1
                failed = True
                print(f"--- {kind} leak of {nbytes} byte(s) in {nobjs} object(s) through _tavo ({name}):",
                      file=sys.stderr)
                print("\n".join(text), file=sys.stderr)
            else:
                foreign_bytes += nbytes
                foreign_objects += nobjs
    print(f"sanitizer logs: {len(files)} file(s); leaks through _tavo: {ours_reported}; "
          f"interpreter-only leaks ignored: {foreign_bytes} byte(s) in {foreign_objects} object(s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
