"""The README as written: its >>> examples run as doctests, each block on its own; its code
blocks run as they stand (tests/test_docs.py does the same for the pages under docs/)."""
import doctest
import json
import sys

import pytest

import _tavo
import markdown_kit as kit

README = "README.md"
HERE = README in kit.pages()
SESSIONS = kit.sessions(README) if HERE else []
PROGRAMS = kit.programs(README) if HERE else []

pytestmark = pytest.mark.skipif(not HERE, reason="README.md is not beside the tests")


@pytest.mark.thread_unsafe(reason="doctest's runner swaps sys.stdout")
def test_readme_examples():
    attempted = 0
    for line, text in SESSIONS:
        kit.skip_unless_installed(text)
        failed, tried = kit.run_session(README, line, text)
        assert failed == 0, f"README.md:{line}: {failed} example(s) failed; see the captured output"
        attempted += tried
    # a fence or prompt broken by an edit would silently drop examples
    assert attempted >= 14


@pytest.mark.thread_unsafe(reason="the docstring examples print and share one namespace")
def test_docstring_examples():
    result = doctest.testmod(_tavo, report=True)
    assert result.failed == 0, f"{result.failed} docstring example(s) failed; see the captured output"
    # the nine docstrings hold sixteen examples between them
    assert result.attempted == 16


@pytest.mark.parametrize(("line", "code"), PROGRAMS, ids=kit.block_ids(README, PROGRAMS))
def test_readme_code_block(line, code):
    kit.skip_unless_installed(code)
    kit.run_program(README, line, code)


def test_readme_names_the_commit_of_its_figures():
    # the charts the README shows come from bench/results; the line naming their commit is
    # written from results.json by bench/run.py --readme (tools/bench_results.sh)
    bench = kit.ROOT / "bench"
    results = bench / "results" / "results.json"
    if not results.exists():
        pytest.skip("bench/results is not beside the tests")
    sys.path.insert(0, str(bench))
    try:
        import report
    finally:
        sys.path.remove(str(bench))
    data = json.loads(results.read_text(encoding="utf-8"))
    assert report.README_LINE.findall(kit.text_of(README)) == [report.readme_line(data)]


def test_readme_is_short_and_keeps_its_set_up_commands():
    # the README is the front door: what it is, install, a tour, links; the rest is in docs/
    text = kit.text_of(README)
    assert text.count("\n") <= 250
    # CI, the issue tracker and users' notes quote these two commands as they stand
    assert '\n    python3 -m pip install . && python3 -c "import _tavo; print(_tavo.uncamel(\'getHTTPResponseCode\'))"\n' in text
    assert "\n    bash tools/run_tests.sh\n" in text
