"""Reads the ThreadSanitizer logs of tools/tsan_check.sh.

Fails (exit 1) on any report of an access made by the _tavo module's own code
(the top frame of either racing access in the module: its file, a source under
src/, a function of namespace tavo, or CPython header code inlined into it),
on any report that no entry of the suppressions file covers, and on
ThreadSanitizer's own fatal errors.

The suppressions file has ThreadSanitizer's own format (`type:pattern`, `#`
comments) and its matching: a pattern matches a frame's function, file or
module, `*` is any text, `^` and `$` anchor it, and otherwise it may match any
part. `race` entries are tried on every frame of both accesses and on the
location, `race_top` entries on the top frame of each access (with the
functions inlined at its instruction), the other types
on every frame of the report. A report with a frame of _tavo below the racing
accesses (the module called CPython, and the race is inside CPython) is
covered only by a `race_top` entry: one that names the CPython function that
made the racing access itself, never a caller that the module's own frames
could hide behind. A report where ThreadSanitizer lost the stack of one access
(its history ran out) is judged by the other access alone and counted in the
summary: the module's share in that one report cannot be ruled out, but a race
that recurs is reported again with both stacks (tools/tsan_check.sh has
ThreadSanitizer report each new pair of stacks, also at an address reported
before).
Usage: python tools/tsan_filter.py LOG_DIR SUPPRESSIONS_FILE
"""
import os
import re
import sys

from sanitizer_stacks import parse_frame, tavo_frame

REPORT_HEAD = re.compile(r"^WARNING: ThreadSanitizer: (.*?)(?: \(pid=\d+\))?$")
ACCESS = re.compile(r"^\s+(Previous )?(atomic )?(read|write)", re.IGNORECASE)
FATAL = re.compile(r"^(FATAL|ERROR): ThreadSanitizer")

TYPE_OF_TITLE = [
    ("lock-order-inversion", "deadlock"),
    ("thread leak", "thread"),
    ("mutex", "mutex"),
    ("signal", "signal"),
]
SHOWN = 12  # reports printed in full; the rest by their first frames


class Report:
    def __init__(self, title, lines, source):
        self.title, self.lines, self.source = title, lines, source
        self.type = next((t for key, t in TYPE_OF_TITLE if key in title), "race")
        self.sections = []  # (header, [(function, file, module)])
        self.pcs = {}  # section index -> the module+offset of each frame
        for line in lines[1:]:
            frame = parse_frame(line)
            if frame is not None:
                if self.sections:
                    self.sections[-1][1].append(frame)
                    self.pcs.setdefault(len(self.sections) - 1, []).append(frame.pc)
            elif line.strip() and not line.startswith("SUMMARY"):
                self.sections.append((line.strip(), []))

    def accesses(self):
        return [frames for header, frames in self.sections if ACCESS.match("  " + header)]

    def tops(self):
        """The top frame of each access, with the functions inlined at the same
        instruction (the symbolizer lists each as a frame of its own)."""
        out = []
        for k, (header, frames) in enumerate(self.sections):
            if frames and ACCESS.match("  " + header):
                pcs = self.pcs[k]
                out += [f for f, pc in zip(frames, pcs) if pc == pcs[0]]
        return out

    def all_frames(self):
        return [f for _, frames in self.sections for f in frames]

    def ours(self, root):
        """The frames of _tavo in the report, as (section, function, file)."""
        return [(header, f[0], f[1]) for header, frames in self.sections for f in frames if tavo_frame(f, root)]

    def own_accesses(self, root):
        """The racing accesses made by _tavo's own code (their top frame in it)."""
        return [(header, frames[0][0], frames[0][1]) for header, frames in self.sections
                if frames and ACCESS.match("  " + header) and tavo_frame(frames[0], root)]

    def lost_stack(self):
        """An access whose stack ThreadSanitizer could not restore."""
        return any(not frames for header, frames in self.sections if ACCESS.match("  " + header))

    def signature(self):
        tops = [" <- ".join(f[0] for f in frames[:3]) for frames in self.accesses()]
        return f"{self.title}: " + " | ".join(tops or [f[0] for f in self.all_frames()[:3]])

    def locations(self):
        return [h for h, _ in self.sections if h.startswith("Location is")]


def template_match(pattern, text):
    if not text or text == "<null>":
        return False
    regex = re.escape(pattern).replace(r"\*", ".*")
    if regex.startswith(r"\^"):
        regex = "^" + regex[2:]
    if regex.endswith(r"\$"):
        regex = regex[:-2] + "$"
    return re.search(regex, text) is not None


def load_suppressions(path):
    """Entries as (type, pattern, comment), the comment being the `#` line
    above the entry, or above the group of entries it begins."""
    entries, comment, after_entry = [], [], False
    with open(path) as fh:
        for raw in fh:
            line = raw.strip()
            if not line:
                comment, after_entry = [], False
            elif line.startswith("#"):
                if after_entry:
                    comment, after_entry = [], False
                comment.append(line.lstrip("# "))
            else:
                kind, _, pattern = line.partition(":")
                entries.append((kind.strip(), pattern.strip(), " ".join(comment)))
                after_entry = True
    return entries


def covered_by(report, entries, top_only=False):
    for entry in entries:
        kind, pattern, _ = entry
        if top_only and kind != "race_top":
            continue
        if kind == "race_top" and report.type == "race":
            candidates = report.tops()
        elif kind == report.type == "race":
            candidates = [f for frames in report.accesses() for f in frames]
            if any(template_match(pattern, loc) for loc in report.locations()):
                return entry
        elif kind == report.type:
            candidates = report.all_frames()
        else:
            continue
        if any(template_match(pattern, part) for frame in candidates for part in frame):
            return entry
    return None


def read_reports(log_dir):
    reports, fatal = [], []
    for name in sorted(os.listdir(log_dir)):
        with open(os.path.join(log_dir, name), errors="replace") as fh:
            lines = fh.read().splitlines()
        current = None
        for line in lines:
            m = REPORT_HEAD.match(line)
            if m:
                current = [line]
                title = m.group(1)
                continue
            if FATAL.match(line):
                fatal.append(f"{name}: {line}")
            if current is not None:
                current.append(line)
                if line.startswith("SUMMARY: ThreadSanitizer") or line.startswith("=================="):
                    reports.append(Report(title, current, name))
                    current = None
        if current is not None:
            reports.append(Report(title, current, name))
    return reports, fatal


def main(log_dir, supp_path):
    root = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
    entries = load_suppressions(supp_path)
    reports, fatal = read_reports(log_dir) if os.path.isdir(log_dir) else ([], [])
    ours, uncovered, used, through = [], [], {}, 0
    for report in reports:
        if report.own_accesses(root):
            ours.append(report)
            continue
        called_from_tavo = bool(report.ours(root))
        entry = covered_by(report, entries, top_only=called_from_tavo)
        if entry is None:
            uncovered.append(report)
        else:
            used.setdefault(entry, []).append(report)
            through += called_from_tavo
    processes = len({r.source for r in reports})
    print(f"ThreadSanitizer: {len(reports)} report(s) from {processes} process(es) "
          f"({len({r.signature() for r in reports})} distinct); "
          f"{sum(map(len, used.values()))} covered by suppressions ({through} of them inside CPython called by _tavo), "
          f"{len(ours)} of an access made by _tavo, {len(uncovered)} not covered; "
          f"{sum(r.lost_stack() for r in reports)} with an access whose stack was lost")
    for entry in entries:
        kind, pattern, comment = entry
        hits = used.get(entry, [])
        print(f"  {len(hits):5d}  {kind}:{pattern}  ({len({r.signature() for r in hits})} distinct)  # {comment}")
    failed = bool(ours or uncovered or fatal)
    for line in fatal:
        print(f"--- ThreadSanitizer failed: {line}", file=sys.stderr)
    for label, group in (("of an access made by _tavo", ours), ("that no suppression covers", uncovered)):
        seen = {}
        for report in group:
            seen.setdefault(report.signature(), []).append(report)
        for k, (sig, same) in enumerate(seen.items()):
            if k < SHOWN:
                print(f"--- a report {label} ({len(same)} like it; {same[0].source}):", file=sys.stderr)
                for header, function, path in same[0].ours(root)[:4]:
                    print(f"    _tavo frame in '{header}': {function} {path}", file=sys.stderr)
                print("\n".join(same[0].lines), file=sys.stderr)
            else:
                print(f"--- and {len(same)} more: {sig}", file=sys.stderr)
    if failed:
        print(f"ThreadSanitizer check failed (the reports: {log_dir})", file=sys.stderr)
    return 1 if failed else 0


if __name__ == "__main__":
    if len(sys.argv) != 3:
        sys.exit(__doc__)
    sys.exit(main(sys.argv[1], sys.argv[2]))
