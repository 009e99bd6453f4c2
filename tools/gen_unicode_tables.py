#!/usr/bin/env python3
"""Generates the Unicode tables of the text transforms.

Usage: gen_unicode_tables.py UCD_DIR [-o OUTPUT]

UCD_DIR holds one folder per Unicode version, as published by the Unicode
Consortium:

  17.0.0/UnicodeData.txt, SpecialCasing.txt, DerivedCoreProperties.txt
      the Uppercase and Lowercase properties and the full case mappings
      (the simple mappings of UnicodeData, overridden by the unconditional
      lines of SpecialCasing);
  16.0.0/DerivedGeneralCategory.txt, UnicodeData.txt, PropList.txt
      the decimal digits (general category Nd, with their values from field 6
      of UnicodeData) and the White_Space property.

The output (default: src/text/unicode_tables.inc) is C++ meant to be included
by src/text/unicode_tables.hpp, which declares the record types. Case data is a
two-stage table: a block index, then de-duplicated blocks of entries (a record
number plus the Uppercase, Lowercase and "has a mapping" bits), then the
de-duplicated records of mappings; digits and white space are sorted ranges.

Only the files above are read: the interpreter's own Unicode data is older and
is never consulted.
"""
from __future__ import annotations

import argparse
import os
import sys

CASE_VERSION = "17.0.0"
DIGIT_VERSION = "16.0.0"
MAX_CODE_POINT = 0x10FFFF

# Keep in step with unicode_tables.hpp. A record holds the two mappings; its
# flags say which of them is a sequence reference rather than a delta.
FLAG_LOWER_SEQUENCE = 1
FLAG_UPPER_SEQUENCE = 2
# A block entry is a record number plus these bits.
RECORD_BITS = 12
ENTRY_UPPERCASE = 1 << 12
ENTRY_LOWERCASE = 1 << 13
ENTRY_LOWER_MAPPED = 1 << 14  # the lowercase mapping is not the code point itself
ENTRY_UPPER_MAPPED = 1 << 15


def data_lines(path):
    """Yields the fields of each data line (comments and blank lines dropped)."""
    with open(path, encoding="utf-8") as f:
        for line in f:
            line = line.split("#", 1)[0].strip()
            if line:
                yield [field.strip() for field in line.split(";")]


def code_range(text):
    if ".." in text:
        a, b = text.split("..")
        return int(a, 16), int(b, 16)
    c = int(text, 16)
    return c, c


def read_property(path, wanted):
    """The set of code points that have property value `wanted` in a file of
    the form "range ; value"."""
    found = set()
    for fields in data_lines(path):
        if fields[1] == wanted:
            a, b = code_range(fields[0])
            found.update(range(a, b + 1))
    if not found:
        raise SystemExit(f"{path}: no code point has {wanted}")
    return found


def read_unicode_data(path):
    """Maps each listed code point to its fields (range lines expanded)."""
    rows = {}
    first = None
    for fields in data_lines(path):
        if len(fields) != 15:
            raise SystemExit(f"{path}: unexpected line {';'.join(fields)}")
        cp = int(fields[0], 16)
        name = fields[1]
        if name.endswith(", First>"):
            first = cp
            continue
        if name.endswith(", Last>"):
            for c in range(first, cp + 1):
                rows[c] = fields
            first = None
            continue
        rows[cp] = fields
    return rows


def read_case_data(folder):
    """Full lower mappings, full upper mappings (dicts of tuples of code points,
    for the code points the files list), and the Uppercase and
    Lowercase sets."""
    rows = read_unicode_data(os.path.join(folder, "UnicodeData.txt"))
    lower = {}
    upper = {}
    for cp, fields in rows.items():
        if fields[12]:
            upper[cp] = (int(fields[12], 16),)
        if fields[13]:
            lower[cp] = (int(fields[13], 16),)
    for fields in data_lines(os.path.join(folder, "SpecialCasing.txt")):
        # code; lower; title; upper; [conditions;]  (a trailing ';' leaves one empty field)
        conditions = fields[4] if len(fields) > 4 else ""
        if conditions:
            continue
        cp = int(fields[0], 16)
        lower[cp] = tuple(int(x, 16) for x in fields[1].split())
        upper[cp] = tuple(int(x, 16) for x in fields[3].split())
    props = os.path.join(folder, "DerivedCoreProperties.txt")
    uppercase = read_property(props, "Uppercase")
    lowercase = read_property(props, "Lowercase")
    for table in (lower, upper):
        for cp, seq in table.items():
            if not 1 <= len(seq) <= 3:
                raise SystemExit(f"mapping of U+{cp:04X} has {len(seq)} code points")
    return lower, upper, uppercase, lowercase


def read_digit_data(folder):
    """Nd code points with their decimal values, and the White_Space set."""
    nd = read_property(os.path.join(folder, "DerivedGeneralCategory.txt"), "Nd")
    rows = read_unicode_data(os.path.join(folder, "UnicodeData.txt"))
    digits = {}
    for cp in sorted(nd):
        fields = rows.get(cp)
        if fields is None or fields[2] != "Nd" or not fields[6]:
            raise SystemExit(f"U+{cp:04X} is Nd without a decimal digit value")
        digits[cp] = int(fields[6])
    white = read_property(os.path.join(folder, "PropList.txt"), "White_Space")
    return digits, white


# --- case table ------------------------------------------------------------------


def case_records(lower, upper, uppercase, lowercase):
    """Returns (block entry per code point, records, sequences). Record 0 is the
    identity: both mappings map the code point to itself."""
    sequences = []  # flat list of code points
    sequence_at = {}

    def sequence_ref(seq):
        if seq not in sequence_at:
            sequence_at[seq] = (len(sequences) << 2) | len(seq)
            sequences.extend(seq)
        return sequence_at[seq]

    def field(cp, seq, sequence_flag):
        if len(seq) == 1:
            return seq[0] - cp, 0
        return sequence_ref(seq), sequence_flag

    records = [(0, 0, 0)]
    record_at = {(0, 0, 0): 0}
    per_cp = [0] * (MAX_CODE_POINT + 1)
    for cp in range(MAX_CODE_POINT + 1):
        lo = lower.get(cp, (cp,))
        up = upper.get(cp, (cp,))
        lo_field, lo_flag = field(cp, lo, FLAG_LOWER_SEQUENCE)
        up_field, up_flag = field(cp, up, FLAG_UPPER_SEQUENCE)
        rec = (lo_field, up_field, lo_flag | up_flag)
        n = record_at.get(rec)
        if n is None:
            n = record_at[rec] = len(records)
            records.append(rec)
        entry = n
        if cp in uppercase:
            entry |= ENTRY_UPPERCASE
        if cp in lowercase:
            entry |= ENTRY_LOWERCASE
        if lo != (cp,):
            entry |= ENTRY_LOWER_MAPPED
        if up != (cp,):
            entry |= ENTRY_UPPER_MAPPED
        per_cp[cp] = entry
    if len(records) > 1 << RECORD_BITS:
        raise SystemExit("too many case records for the block entry")
    return per_cp, records, sequences


def int_type(values):
    lo, hi = min(values), max(values)
    if lo >= 0:
        for bits in (8, 16, 32):
            if hi < (1 << bits):
                return f"std::uint{bits}_t", bits // 8
    raise SystemExit("value out of range")


def split_blocks(per_cp, limit, shift):
    size = 1 << shift
    blocks = []
    block_at = {}
    index = []
    for start in range(0, limit, size):
        block = tuple(per_cp[start:start + size])
        n = block_at.get(block)
        if n is None:
            n = block_at[block] = len(blocks)
            blocks.append(block)
        index.append(n)
    return index, blocks


def best_split(per_cp):
    """The block size giving the smallest two tables; code points from the
    returned limit on all have entry 0."""
    last = max(cp for cp, r in enumerate(per_cp) if r != 0)
    best = None
    for shift in range(4, 11):
        limit = ((last >> shift) + 1) << shift
        index, blocks = split_blocks(per_cp, limit, shift)
        _, index_width = int_type(index)
        _, entry_width = int_type([r for b in blocks for r in b])
        size = len(index) * index_width + len(blocks) * (1 << shift) * entry_width
        if best is None or size < best[0]:
            best = (size, shift, limit, index, blocks)
    return best[1:]


# --- output ------------------------------------------------------------------------


def c_array(decl, values, per_line=16, fmt=str):
    out = [f"{decl} = {{"]
    for i in range(0, len(values), per_line):
        out.append("    " + ", ".join(fmt(v) for v in values[i:i + per_line]) + ",")
    out.append("};")
    return "\n".join(out)


def ranges_of(cps):
    out = []
    for cp in sorted(cps):
        if out and out[-1][1] == cp - 1:
            out[-1][1] = cp
        else:
            out.append([cp, cp])
    return out


def digit_ranges(digits):
    """Runs of consecutive code points whose values also go up by one."""
    out = []
    for cp in sorted(digits):
        v = digits[cp]
        if out and out[-1][1] == cp - 1 and digits[cp - 1] == v - 1:
            out[-1][1] = cp
        else:
            out.append([cp, cp, v])
    return out


def hexcp(cp):
    return f"0x{cp:04X}"


def generate(ucd_dir):
    lower, upper, uppercase, lowercase = read_case_data(os.path.join(ucd_dir, CASE_VERSION))
    digits, white = read_digit_data(os.path.join(ucd_dir, DIGIT_VERSION))

    per_cp, records, sequences = case_records(lower, upper, uppercase, lowercase)
    shift, limit, index, blocks = best_split(per_cp)
    index_type, _ = int_type(index)
    entry_type, _ = int_type([r for b in blocks for r in b])

    # The ASCII rule of the case conversions: below these code points only the
    # ASCII letters have mappings. Checked here so a new Unicode version cannot
    # silently break it.
    for cp in range(0xC0):
        expect = (cp + 32,) if 0x41 <= cp <= 0x5A else (cp,)
        if lower.get(cp, (cp,)) != expect:
            raise SystemExit(f"U+{cp:04X} breaks the ASCII lowercase rule")
    for cp in range(0xB5):
        expect = (cp - 32,) if 0x61 <= cp <= 0x7A else (cp,)
        if upper.get(cp, (cp,)) != expect:
            raise SystemExit(f"U+{cp:04X} breaks the ASCII uppercase rule")
    for cp in range(0x80):
        is_upper = 0x41 <= cp <= 0x5A
        is_lower = 0x61 <= cp <= 0x7A
        if (cp in uppercase) != is_upper or (cp in lowercase) != is_lower:
            raise SystemExit(f"U+{cp:04X} breaks the ASCII case properties")

    out = []
    out.append("// Generated by tools/gen_unicode_tables.py from UCD "
               f"{CASE_VERSION} / {DIGIT_VERSION}; do not edit.")
    out.append(f"// Case properties and mappings: Unicode {CASE_VERSION}."
               f" Decimal digits and White_Space: Unicode {DIGIT_VERSION}.")
    out.append("// Included by unicode_tables.hpp inside namespace tavo::ucd.")
    out.append("")
    out.append(f"inline constexpr unsigned case_block_shift = {shift};")
    out.append(f"inline constexpr char32_t case_table_limit = {hexcp(limit)};")
    out.append("")
    out.append(c_array(f"inline constexpr {index_type} case_block_index[{len(index)}]", index))
    out.append("")
    flat = [r for b in blocks for r in b]
    out.append(c_array(f"inline constexpr {entry_type} case_block_entries[{len(flat)}]", flat))
    out.append("")
    out.append(c_array(
        f"inline constexpr case_record case_records[{len(records)}]",
        records, per_line=4, fmt=lambda r: "{%d, %d, %d}" % r))
    out.append("")
    out.append(c_array(f"inline constexpr char32_t case_sequences[{len(sequences)}]",
                       sequences, per_line=8, fmt=hexcp))
    out.append("")
    dr = digit_ranges(digits)
    out.append(c_array(f"inline constexpr digit_range decimal_digits[{len(dr)}]", dr,
                       per_line=4, fmt=lambda r: "{%s, %s, %d}" % (hexcp(r[0]), hexcp(r[1]), r[2])))
    out.append("")
    wr = ranges_of(white)
    out.append(c_array(f"inline constexpr code_range white_space[{len(wr)}]", wr,
                       per_line=4, fmt=lambda r: "{%s, %s}" % (hexcp(r[0]), hexcp(r[1]))))
    out.append("")
    return "\n".join(out)


def main(argv=None):
    here = os.path.dirname(os.path.abspath(__file__))
    parser = argparse.ArgumentParser(description=__doc__.split("\n\n")[0])
    parser.add_argument("ucd_dir", help="folder holding 17.0.0/ and 16.0.0/")
    parser.add_argument("-o", "--output",
                        default=os.path.join(here, "..", "src", "text", "unicode_tables.inc"))
    args = parser.parse_args(argv)
    text = generate(args.ucd_dir)
    with open(args.output, "w", encoding="utf-8", newline="\n") as f:
        f.write(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
