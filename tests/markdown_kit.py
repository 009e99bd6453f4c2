"""The examples of the Markdown pages (README.md and docs/): the >>> sessions of their
```pycon blocks, each run as a doctest of its own, and their ```python blocks, each run as a
program. Every block runs alone, with only what it imports itself, as a reader who copies
one block has it."""
import doctest
import importlib.util
import pathlib
import re
import sys

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
DOCS = ROOT / "docs"

PYCON = re.compile(r"^```pycon\n(.*?)^```", re.S | re.M)
PYTHON = re.compile(r"^```python\n(.*?)^```", re.S | re.M)

# what a block of tavo.columns needs beyond its imports: a pandas Series and DuckDB's Arrow
# UDFs go through pyarrow, and so do tavo.spark's UDFs (pyspark wants pandas beside it)
COLUMNS_NEED = {"pandas": ["pyarrow"], "duckdb": ["pyarrow"], "pyspark": ["pyarrow", "pandas"]}


def pages():
    """README.md and every page under docs/, as paths relative to the root ([] outside a checkout)."""
    found = [ROOT / "README.md"] if (ROOT / "README.md").exists() else []
    found += sorted(DOCS.rglob("*.md")) if DOCS.is_dir() else []
    return [p.relative_to(ROOT).as_posix() for p in found]


def text_of(page):
    return (ROOT / page).read_text(encoding="utf-8")


def line_of(text, start):
    return text.count("\n", 0, start) + 1


def sessions(page):
    """(line, text) of each ```pycon block of a page."""
    text = text_of(page)
    return [(line_of(text, m.start()), m.group(1)) for m in PYCON.finditer(text)]


def programs(page):
    """(line, code) of each ```python block of a page."""
    text = text_of(page)
    return [(line_of(text, m.start()), m.group(1)) for m in PYTHON.finditer(text)]


def run_session(page, line, text):
    """Runs one block's examples with fresh globals; returns doctest's (failed, attempted)."""
    name = f"{page}:{line}"
    test = doctest.DocTestParser().get_doctest(text, {"__name__": "__main__"}, name, page, line)
    runner = doctest.DocTestRunner()
    runner.run(test)
    return runner.summarize(verbose=False)


def imports(code):
    """The top-level modules a program or a session (its >>> lines) imports."""
    return set(re.findall(r"^(?:>>> )?(?:from|import) (\w+)", code, re.M))


def libraries(code):
    """The libraries a block needs beyond the module, its package and the standard library."""
    return sorted(imports(code) - {"_tavo", "tavo"} - set(sys.stdlib_module_names))


def block_ids(page, blocks):
    """`page libraries` for each block, numbered where a page has two with the same ones."""
    stem = page.removesuffix(".md").removeprefix("docs/").replace("/", ".")
    ids = [f"{stem} " + (" ".join(libraries(code)) or "plain") for _, code in blocks]
    return [i if ids.count(i) == 1 else f"{i} {ids[:n].count(i) + 1}" for n, i in enumerate(ids)]


def skip_unless_installed(code):
    """Skips the test when a library the block needs is not installed."""
    if "tavo" in imports(code) and importlib.util.find_spec("tavo") is None:
        pytest.skip("the tavo package is not installed (pip install .)")
    needed = libraries(code)
    if "tavo" in imports(code):
        needed += [n for lib in libraries(code) for n in COLUMNS_NEED.get(lib, [])]
    for name in needed:
        pytest.importorskip(name, reason=f"{name} is not installed")


def run_program(page, line, code):
    """Runs one block as a script would run (its `if __name__ == "__main__":` part too)."""
    exec(compile("\n" * (line) + code, str(ROOT / page), "exec"), {"__name__": "__main__"})
