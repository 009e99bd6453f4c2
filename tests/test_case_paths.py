"""The vector paths of uncamel and underscore_to_camelcase (src/shared/cpu_paths.hpp,
src/text/case_vectors.hpp) against the per-element model: rows of every length up to 80
ending at an unreadable page, and text over every byte class the conversions tell apart,
per column and per element. The process runs the widest path of its CPU; the last test
runs this file again in a child for each path pinned by TAVO_CPU."""
import os
import subprocess
import sys

import pytest
from hypothesis import given, settings, strategies as st

import _tavo
import arrow_kit as ak
from arrow_kit import Chunk
from models import text as model

columns = ak.kernels()
FUNCTIONS = {"uncamel": model.uncamel, "underscore_to_camelcase": model.underscore_to_camelcase}
PATHS = ["baseline", "ssse3", "avx2", "avx512"]  # narrowest first

# The classes the conversions tell apart, and the bytes at the edges of their ranges
# ('@' and '[' around the capitals, '`' and '{' around the small letters, '/' and ':'
# around the digits, '^' and '`' around the underscore), and text outside ASCII: cased
# and uncased, of two, three and four bytes.
ASCII_CLASSES = "AMZaqz059_ @[`{/:^\x00\x7f"
BYTE_CLASSES = ASCII_CLASSES + "\u00c9\u00e9\u00df\u03a3\u20ac\U00010400"
# Short texts of one- and two-byte code points take vector steps of their own: capitals and
# small letters of two bytes, uncased ones, and those whose mapping is longer or leaves two
# bytes (ß, İ, ı, ŉ, ſ, Ⱥ), or is a title case (ǅ).
TWO_BYTE_CLASSES = "AZaz09_ \u00c9\u00e9\u00df\u0130\u0131\u01c5\u00b5\u00ff\u0178\u0149\u023a\u017f\u03a3\u03c3\u03c2\u0414\u0434\u00d7"
PATTERNS = ["aB", "ABc", "a_", "_A", "9X", "Ab_Cd__ef_GH1i", "getHTTPResponseCode_x9Y__z", "__", "A", "a\u00c9_\u03c3\u03a3b"]


def text_of(pattern, n):
    return (pattern * (n // len(pattern) + 1))[:n]


def expected(function, values):
    cd = model.case_data()
    return [None if v is None else FUNCTIONS[function](v, cd) for v in values]


# Every row is converted with room after it but the last ones, which end right before an
# unreadable page: a row read past its end (or its buffer's) stops the process.
@pytest.mark.parametrize("fmt", ["u", "vu"])
@pytest.mark.parametrize("function", list(FUNCTIONS))
def test_rows_of_every_length_end_at_a_guarded_page(fmt, function):
    for pattern in PATTERNS:
        every = [text_of(pattern, n) for n in range(81)]
        want_every = expected(function, every)
        for last in range(81):
            values = every + [text_of(pattern[1:] + pattern[:1], last)]
            src, producer = ak.source(fmt, [Chunk.strings(values, fmt)], guard_data=True)
            got = ak.read_stream(getattr(columns, function)(src))[1]
            assert got == [want_every + expected(function, values[-1:])], (pattern, last)
            assert producer.all_released_once()


# ASCII rows take the vector paths, short rows of two-byte code points theirs, the others
# the code point walk: all are drawn
texts = st.one_of(*(st.text(alphabet=st.sampled_from(a), max_size=80)
                    for a in (ASCII_CLASSES, BYTE_CLASSES, TWO_BYTE_CLASSES)))


@given(st.lists(st.one_of(st.none(), texts), max_size=30), st.sampled_from(["u", "U", "vu"]))
@settings(max_examples=300, deadline=None)
def test_column_rows_over_every_byte_class(values, fmt):
    for function in FUNCTIONS:
        src, _ = ak.source(fmt, [Chunk.strings(values, fmt)], guard_data=True)
        assert ak.read_stream(getattr(columns, function)(src))[1] == [expected(function, values)]


# Per element, texts past the short path (32 bytes) run the block walks, and short texts
# of two-byte code points are read from a copy.
@given(st.one_of(*(st.text(alphabet=st.sampled_from(a), min_size=20, max_size=400)
                   for a in (ASCII_CLASSES, BYTE_CLASSES)),
                 st.text(alphabet=st.sampled_from(TWO_BYTE_CLASSES), min_size=1, max_size=40)),
       st.sampled_from(PATTERNS), st.integers(0, 300))
@settings(max_examples=300, deadline=None)
def test_per_element_text_over_every_byte_class(text, pattern, repeat):
    for value in (text, text_of(pattern, repeat) + text, text_of(pattern, repeat)):
        for function in FUNCTIONS:
            assert getattr(_tavo, function)(value) == expected(function, [value])[0]


def cpu_path(env=None):
    """The path that tavo._native takes in a child with the environment `env`."""
    code = "try:\n    from tavo import _native\nexcept ImportError:\n    import _native\nprint(_native._cpu_path)"
    proc = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, env=env, timeout=120)
    assert proc.returncode == 0, proc.stderr[-2000:]
    return proc.stdout.strip()


def run_pinned(path, test_file):
    """Runs `test_file` but its pinned tests in a child with TAVO_CPU=path, after checking
    that the child takes that path, or its CPU's widest when that is narrower."""
    here = os.path.dirname(os.path.abspath(__file__))
    env = dict(os.environ, TAVO_CPU=path, PYTHONPATH=os.pathsep.join(p for p in [here, *sys.path] if p))
    widest = cpu_path(dict(os.environ, PYTHONPATH=env["PYTHONPATH"]))
    # never above what the CPU has: an x86-64 CPU without AVX-512 runs its own widest
    assert cpu_path(env) == PATHS[min(PATHS.index(path), PATHS.index(widest))]
    proc = subprocess.run([sys.executable, "-m", "pytest", "-q", "-p", "no:cacheprovider", "-p", "no:xdist",
                           os.path.abspath(test_file), "-k", "not pinned"],
                          capture_output=True, text=True, env=env, cwd=here, timeout=600)
    assert proc.returncode == 0, proc.stdout[-4000:] + proc.stderr[-2000:]


@pytest.mark.skipif("TAVO_CPU" in os.environ, reason="runs in the children it starts, one per path")
@pytest.mark.parametrize("path", PATHS)
def test_each_path_pinned_matches_the_model(path):
    run_pinned(path, __file__)
