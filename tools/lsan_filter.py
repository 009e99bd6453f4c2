"""Reads the AddressSanitizer/LeakSanitizer logs of a sanitizer run.

Fails (exit 1) on any sanitizer error and on any leak whose allocation stack
passes through the _tavo module; leaks that only the interpreter's own frames
allocated are counted and summarised, not failed.
Usage: python tools/lsan_filter.py LOG_DIR
"""
import os
import re
import sys

LEAK_HEAD = re.compile(r"^(Direct|Indirect) leak of (\d+) byte\(s\) in (\d+) object\(s\) allocated from:")
FRAME = re.compile(r"^\s+#\d+ ")
ERROR_HEAD = re.compile(r"^==\d+==ERROR: (AddressSanitizer|LeakSanitizer|UndefinedBehaviorSanitizer)")


def ours(frames):
    return any("_tavo" in f or "tavo::" in f for f in frames)


def leak_blocks(lines):
    i = 0
    while i < len(lines):
        m = LEAK_HEAD.match(lines[i])
        if not m:
            i += 1
            continue
        frames = []
        i += 1
        while i < len(lines) and FRAME.match(lines[i]):
            frames.append(lines[i].rstrip())
            i += 1
        yield m.group(1), int(m.group(2)), int(m.group(3)), frames


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
        for kind, nbytes, nobjs, frames in leak_blocks(lines):
            if ours(frames):
                ours_reported += 1
                failed = True
                print(f"--- {kind} leak of {nbytes} byte(s) in {nobjs} object(s) through _tavo ({name}):",
                      file=sys.stderr)
                print("\n".join(frames), file=sys.stderr)
            else:
                foreign_bytes += nbytes
                foreign_objects += nobjs
    print(f"sanitizer logs: {len(files)} file(s); leaks through _tavo: {ours_reported}; "
          f"interpreter-only leaks ignored: {foreign_bytes} byte(s) in {foreign_objects} object(s)")
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1]))
