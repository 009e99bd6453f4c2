"""The conversion cores as the column kernels call them: no Python objects, every row of a column
appended to one buffer, one number scratch for all rows, each row right against an unreadable page
(after it or before it), two threads converting the same column at once (cores/column_driver.cpp, built here, under
AddressSanitizer when the compiler has it). Each row must equal the per-element function's result.
The per-element tests cover the conversions themselves; these cover what only a column reaches."""
import pathlib
import shutil
import struct
import subprocess

import pytest
from hypothesis import given, settings, strategies as st

from _tavo import parse, sanitize_vulgar_string, uncamel, underscore_to_camelcase
from models import number_format as number_format_model
from tavo import parse as parse_with_mark

HERE = pathlib.Path(__file__).resolve().parent
SRC = HERE.parent / "src"
CORES = ["numparse/number.cpp", "numparse/number_format.cpp", "numparse/to_double.cpp", "text/convert_case.cpp",
         "text/convert_vulgar.cpp"]

pytestmark = pytest.mark.skipif(not (SRC / CORES[0]).is_file() or not shutil.which("g++"),
                                reason="needs the sources and g++")


@pytest.fixture(scope="module")
def driver(tmp_path_factory):
    exe = tmp_path_factory.mktemp("cores") / "column_driver"
    sources = [str(HERE / "cores" / "column_driver.cpp")] + [str(SRC / c) for c in CORES]
    base = ["g++", "-std=c++20", "-O1", "-I", str(SRC), "-pthread", "-o", str(exe)] + sources
    for extra in (["-fsanitize=address,undefined", "-fno-sanitize-recover=undefined"], []):
        built = subprocess.run(base + extra, capture_output=True, text=True, timeout=300)
        if built.returncode == 0:
            return exe
    pytest.fail(built.stderr)


def run_column(driver, rows, threads=2, placement="end"):
    data = b"".join(op.encode() + struct.pack("<I", len(b)) + b for op, b in
                    ((op, text.encode("utf-8")) for op, text in rows))
    out = subprocess.run([str(driver), str(threads), placement], input=data, capture_output=True, timeout=300)
    assert out.returncode == 0, (out.returncode, out.stderr.decode(errors="replace")[-3000:])
    results, pos = [], 0
    while pos < len(out.stdout):
        (n,) = struct.unpack_from("<I", out.stdout, pos)
        results.append(out.stdout[pos + 4:pos + 4 + n].decode("utf-8", "replace"))
        pos += 4 + n
    assert len(results) == len(rows)
    return results


def bits(x):
    return "%016x" % struct.unpack("<Q", struct.pack("<d", x))[0]


def expected(op, text):
    if op == "u":
        return uncamel(text)
    if op == "c":
        return underscore_to_camelcase(text)
    if op == "v":
        out = sanitize_vulgar_string(text)
        return "=" if out == text else out
    if op == "d":
        return bits(float(text))
    if op == "f":  # the evidence for the decimal mark: neither, point, comma, either
        return "e%d" % [None, ".", ",", "either"].index(number_format_model.evidence(text))
    v = parse(text) if op == "p" else parse_with_mark(text, decimal=",")
    if v is None:
        return {"n"}  # or a big_int past the interpreter's digit limit
    if isinstance(v, float):
        return "r" + bits(v)
    return {"i%d" % v, "b%d" % v}


def check(rows, results):
    for (op, text), got in zip(rows, results):
        want = expected(op, text)
        if op in "pP" and got[0] == "b" and want == {"n"}:
            continue  # the caller compares the digit count with the limit
        assert got in want if isinstance(want, set) else got == want, (op, text)


IDENTIFIERS = ["getHTTPResponseCode", "", "x", "ÜberGrößeXML", "ΟδόςΑθηνών", "_private_name", "___", "a" * 70,
               "ﬃCase", "Ǆungla", "tcp2Server" * 40, "__dunder__", "ŉ_ǰ_ΐ"] + [
    "".join("abCD_e1Fg"[(i * i + k) % 9] for i in range(k)) for k in range(1, 40)]  # every short length
FIGURES = ["1", "", "abc", "USD (1,234.50)", "-9223372036854775808", "9223372036854775808", "1" * 400,
           "x" * 300 + "12.5", "0." + "0" * 330 + "1", "9" * 309 + ".5", "(" + "7" * 150 + ")", "١٢٣"]
COMMA_FIGURES = ["1.234,56", "(1.234,50) EUR", "x" * 300 + "12,5", "0," + "0" * 330 + "1", "1.2" * 100 + ",5",
                 "9" * 309 + ",5", "1,2,3", "," * 40]
FRACTIONS = ["4¾ cups", "no fraction here", "café", "1 ½ and ⅞", "9" * 25 + "½", "٣½", "x\u00a0\u00bd"]
# every evidence, at and around 16 bytes (the masks' reading) and beyond
MARKS = ["1.234,56", "1,234.5", "1.234.567", "12,5", "1.250", ".5", ",500", "1 234", "1'234,5", "1\u202f234,5",
         "3.14159", "1,2345", "x" * 10 + "1.250", "x" * 11 + "1.25", "x" * 12 + "1,5", "1" * 15 + ",5", "12,5.", "v2. 12,5", "1,2.3,4"]
DIGITS = ["1", "0.1", "1" * 3000, "0." + "0" * 400 + "24703282292062327208828439643411068618252990130716238221279284125",
          "1" + "0" * 308 + ".5", "123456789012345678901234567890.5", "." + "3" * 5000]


@pytest.mark.parametrize("threads, placement", [(1, "end"), (2, "end"), (2, "start")])
def test_catalogue_column(driver, threads, placement):
    rows = ([(op, t) for op in "uc" for t in IDENTIFIERS] + [(op, t) for op in "pP" for t in FIGURES + COMMA_FIGURES]
            + [("v", t) for t in FRACTIONS] + [("d", t) for t in DIGITS]
            + [("f", t) for t in FIGURES + COMMA_FIGURES + MARKS])
    check(rows, run_column(driver, rows, threads, placement))


@settings(max_examples=60, deadline=None)
@given(st.lists(st.tuples(st.sampled_from("ucvpPf"),
                          st.one_of(st.text(max_size=80), st.text(alphabet="aBzZ09_ \u00bd", max_size=40),
                                    st.text(alphabet="0123456789.,()- ", max_size=60),
                                    st.text(alphabet="0123456789.,' x", max_size=18))),
                max_size=60))
def test_any_column(driver, rows):
    rows = [(op, t) for op, t in rows if not any("\ud800" <= ch <= "\udfff" for ch in t)]
    check(rows, run_column(driver, rows))
    # each row with readable bytes after it: a short row is read 16 bytes at a time
    check(rows, run_column(driver, rows, 1, "start"))
