"""The pages under docs/ as written: each ```pycon block runs as a doctest of its own, each
```python block as a program (skipped when its libraries are not installed: the Spark ones
run in tools/spark_check.sh, the column ones in tools/columns_check.sh); the docstrings the
reference shows run too; and the reference has an entry for every public name."""
import ast
import doctest
import importlib
import re

import pytest

import markdown_kit as kit

PAGES = [p for p in kit.pages() if p.startswith("docs/")]
pytestmark = pytest.mark.skipif(not PAGES, reason="docs/ is not beside the tests")

# The fewest >>> examples each page holds: a fence or a prompt broken by an edit drops the
# examples after it silently, and the page's count then falls below its floor.
FLOORS = {
    "docs/index.md": 3,
    "docs/tutorial.md": 16,
    "docs/reference/functions.md": 54,
    "docs/reference/tavo.md": 12,
    "docs/reference/keys.md": 0,
    "docs/reference/columns.md": 0,
    "docs/reference/frontends.md": 0,
    "docs/reference/errors.md": 2,
    "docs/howto/number-formats.md": 13,
    "docs/howto/prices.md": 7,
    "docs/howto/payloads.md": 11,
    "docs/howto/pandas.md": 0,
    "docs/howto/polars.md": 0,
    "docs/howto/duckdb.md": 0,
    "docs/howto/spark.md": 0,
    "docs/howto/pyarrow.md": 0,
    "docs/howto/processes.md": 0,
    "docs/explanation/parse.md": 7,
    "docs/explanation/infer.md": 7,
    "docs/explanation/threads.md": 0,
    "docs/maintainers/versions.md": 0,
    "docs/maintainers/checks.md": 0,
    "docs/maintainers/generated-tables.md": 0,
    "docs/maintainers/benchmarks.md": 0,
    "docs/maintainers/packaging.md": 0,
    "docs/maintainers/docs.md": 0,
}

PROGRAMS = [(page, line, code) for page in PAGES for line, code in kit.programs(page)]
PROGRAM_IDS = [i for page in PAGES for i in kit.block_ids(page, kit.programs(page))]


def test_every_page_has_a_floor():
    assert sorted(FLOORS) == sorted(PAGES)


@pytest.mark.thread_unsafe(reason="doctest's runner swaps sys.stdout")
@pytest.mark.parametrize("page", [p for p in PAGES if FLOORS.get(p)])
def test_page_examples(page):
    attempted = 0
    for line, text in kit.sessions(page):
        kit.skip_unless_installed(text)
        failed, tried = kit.run_session(page, line, text)
        assert failed == 0, f"{page}:{line}: {failed} example(s) failed; see the captured output"
        attempted += tried
    assert attempted >= FLOORS[page]


@pytest.mark.thread_unsafe(reason="the blocks start process pools and Spark sessions")
@pytest.mark.parametrize(("page", "line", "code"), PROGRAMS, ids=PROGRAM_IDS)
def test_code_block(page, line, code):
    kit.skip_unless_installed(code)
    kit.run_program(page, line, code)


def test_the_pages_have_the_blocks_they_promise():
    # tools/columns_check.sh and tools/spark_check.sh run these by name
    assert PROGRAM_IDS == [
        "howto.duckdb duckdb", "howto.pandas pandas 1", "howto.pandas pandas 2", "howto.polars polars",
        "howto.prices pyarrow", "howto.processes plain", "howto.processes dask", "howto.pyarrow pyarrow 1",
        "howto.pyarrow pyarrow 2", "howto.spark pyspark 1", "howto.spark pyspark 2", "tutorial pyarrow",
    ]


# --- the reference ------------------------------------------------------------------------

MODULES = ("_tavo", "tavo", "tavo.keys", "tavo.columns", "tavo.polars", "tavo.pandas", "tavo.duckdb", "tavo.spark")


def public_names(module):
    """A module's __all__, from the module, or from its source when its library is missing."""
    try:
        return list(importlib.import_module(module).__all__)
    except ImportError:
        path = kit.ROOT / "src" / "tavo" / (module.split(".")[1] + ".py")
        for node in ast.parse(path.read_text(encoding="utf-8")).body:
            if isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in node.targets):
                return [e.value for e in node.value.elts]
        raise


def test_the_reference_has_an_entry_for_every_public_name():
    entries = {m for page in PAGES for m in re.findall(r"^```\{tavo-function\} (\S+)$", kit.text_of(page), re.M)}
    expected = {f"{m}.{n}" for m in MODULES for n in public_names(m) if f"{m}.{n}" not in MODULES}
    assert sorted(expected - entries) == []
    assert sorted(entries - expected) == []


def documented_objects():
    """(name, object) of the public names the reference shows, of the modules that import."""
    found = []
    for module in MODULES[1:]:
        try:
            mod = importlib.import_module(module)
        except ImportError:
            continue
        found += [(f"{module}.{n}", mod, getattr(mod, n)) for n in mod.__all__ if f"{module}.{n}" not in MODULES]
    return found


@pytest.mark.thread_unsafe(reason="doctest's runner swaps sys.stdout")
def test_the_docstrings_the_reference_shows():
    # _tavo's are tests/test_readme.py's; these are the package's (tavo.parse, tavo.keys...)
    finder, runner = doctest.DocTestFinder(recurse=False), doctest.DocTestRunner()
    for name, module, obj in documented_objects():
        if getattr(obj, "__module__", None) == "_tavo":
            continue
        for test in finder.find(obj, name, globs=dict(vars(module))):
            runner.run(test)
    failed, attempted = runner.summarize(verbose=False)
    assert failed == 0, f"{failed} docstring example(s) failed; see the captured output"
    assert attempted >= 10
