"""The README as written: its >>> examples run as doctests, its code blocks run as they stand."""
import doctest
import importlib.util
import pathlib
import re
import sys

import pytest

import _tavo

README = pathlib.Path(__file__).resolve().parent.parent / "README.md"
TEXT = README.read_text(encoding="utf-8") if README.exists() else ""
# fenced ```python blocks are programs; the >>> examples sit in ```pycon blocks
BLOCKS = re.findall(r"^```python\n(.*?)^```", TEXT, re.S | re.M)

pytestmark = pytest.mark.skipif(not TEXT, reason="README.md is not beside the tests")


@pytest.mark.thread_unsafe(reason="the README's examples print and share one namespace")
def test_readme_examples():
    result = doctest.testfile(str(README), module_relative=False, encoding="utf-8", report=True)
    assert result.failed == 0, f"{result.failed} README example(s) failed; see the captured output"
    # a fence or prompt broken by an edit would silently drop examples
    assert result.attempted >= 50


@pytest.mark.thread_unsafe(reason="the docstring examples print and share one namespace")
def test_docstring_examples():
    result = doctest.testmod(_tavo, report=True)
    assert result.failed == 0, f"{result.failed} docstring example(s) failed; see the captured output"
    # the nine docstrings hold sixteen examples between them
    assert result.attempted == 16


def imports(code):
    return {m for m in re.findall(r"^(?:from|import) (\w+)", code, re.M)}


def libraries(code):
    """The libraries a block needs beyond the module, its package and the standard library."""
    return sorted(imports(code) - {"_tavo", "tavo"} - set(sys.stdlib_module_names))


# what a block of tavo.columns needs beyond its imports: a pandas Series and DuckDB's Arrow
# UDFs go through pyarrow, and so do tavo.spark's UDFs (pyspark wants pandas beside it)
COLUMNS_NEED = {"pandas": ["pyarrow"], "duckdb": ["pyarrow"], "pyspark": ["pyarrow", "pandas"]}


def block_ids(blocks):
    """The libraries of each block, numbered where two blocks use the same ones."""
    ids = [" ".join(libraries(b)) or "plain" for b in blocks]
    return [i if ids.count(i) == 1 else f"{i} {ids[:n].count(i) + 1}" for n, i in enumerate(ids)]


@pytest.mark.parametrize("code", BLOCKS, ids=block_ids(BLOCKS))
def test_readme_code_block(code):
    if "tavo" in imports(code) and importlib.util.find_spec("tavo") is None:
        pytest.skip("the tavo package is not installed (pip install .)")
    needed = libraries(code)
    if "tavo" in imports(code):
        needed += [n for lib in libraries(code) for n in COLUMNS_NEED.get(lib, [])]
    for name in needed:
        pytest.importorskip(name, reason=f"{name} is not installed")
    # run as a script would be, so its `if __name__ == "__main__":` part runs too
    exec(compile(code, str(README), "exec"), {"__name__": "__main__"})


def test_readme_has_the_blocks_it_promises():
    assert block_ids(BLOCKS) == ["pandas 1", "dask", "pyspark 1", "polars", "pandas 2", "duckdb", "pyarrow",
                                 "pyspark 2"]
    assert len(re.findall(r"^```pycon$", TEXT, re.M)) >= 10


def test_readme_names_the_commit_of_its_figures():
    # the charts the README shows come from bench/results; the line naming their commit is
    # written from results.json by bench/run.py --readme (tools/bench_results.sh)
    import json

    bench = README.parent / "bench"
    results = bench / "results" / "results.json"
    if not results.exists():
        pytest.skip("bench/results is not beside the tests")
    sys.path.insert(0, str(bench))
    try:
        import report
    finally:
        sys.path.remove(str(bench))
    data = json.loads(results.read_text(encoding="utf-8"))
    assert report.README_LINE.findall(TEXT) == [report.readme_line(data)]
