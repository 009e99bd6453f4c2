"""The benchmark's pure-Python references agree with the module, and its harness
refuses to time a candidate that gives a different answer.

Fast and independent of the optional peers.
"""

import os
import sys

import pytest

import _tavo

BENCH = os.path.join(os.path.dirname(os.path.dirname(os.path.abspath(__file__))), "bench")
sys.path.insert(0, BENCH)

import cases  # noqa: E402
import harness  # noqa: E402
import reference as ref  # noqa: E402
from models import same  # noqa: E402

TEXTS = ["", "A", "ABc", "getHTTPResponseCode", "userID", "tcp2Server", "foo_Bar", "__Init__",
         "ÉcoleNormale", "aⒶ", "x²Y", "İ", "ǅX", "ΟΔΟΣ", "a_ǆ", "x_ßa", "_foo__bar_", "FOO_BAR",
         "fooBar_baz", "foo-bar baz"]


@pytest.mark.parametrize("text", TEXTS + [cases.kb_text(cases.CAMEL_ASCII), cases.kb_text(cases.CAMEL_UNICODE)])
def test_uncamel_reference(text):
    assert ref.uncamel(text) == _tavo.uncamel(text)


@pytest.mark.parametrize("text", TEXTS + [cases.kb_text(cases.SNAKE_ASCII), cases.kb_text(cases.SNAKE_UNICODE)])
def test_underscore_to_camelcase_reference(text):
    assert ref.underscore_to_camelcase(text) == _tavo.underscore_to_camelcase(text)


@pytest.mark.parametrize("fn,regex,words", [
    (ref.uncamel, ref.uncamel_regex, cases.CAMEL_ASCII),
    (ref.underscore_to_camelcase, ref.underscore_to_camelcase_regex, cases.SNAKE_ASCII),
])
def test_regex_versions_match_on_ascii(fn, regex, words):
    for text in words + [cases.kb_text(words)]:
        assert regex(text) == fn(text), text


FRACTION_TEXTS = ["", "no fractions here", "½", "⅔", "1⅙", "2 ⅚", " ½ cup", "a½", "a \t ½", "5\u00a0½",
                  "1.5½", "-½", "½½", "5½½", "007½", "٣½", "x٣½", "１½", "1234567890" * 2 + "½",
                  "1" + "0" * 302 + "½", "1" + "0" * 303 + "½", "⅐ ⅑ ⅒ ↉ ⅟",
                  cases.kb_text(cases.RECIPE), cases.kb_text(cases.PROSE), cases.kb_text(cases.PROSE_UNICODE)]


@pytest.mark.parametrize("text", FRACTION_TEXTS)
def test_sanitize_reference(text):
    assert ref.sanitize_vulgar_string(text) == _tavo.sanitize_vulgar_string(text)


def test_sanitize_reference_mended_digits():
    assert ref.sanitize_vulgar_string("٣½") == "3.5"
    assert ref.sanitize_vulgar_string("x٣½") == "x3.5"
    assert ref.sanitize_vulgar_string("1" + "0" * 303 + "½") == "inf"


NUMBER_TEXTS = ["1", "42", "1234.56", "$1,234.56", "USD (1,234.50)", "1,200m", "100.0", "(1)", "", "abc",
                "x(7)y", "- 5", "+5", "5-", "2020-01-01", "(-5)", "()", "5.", ".5", "(.5)", "1.2.3", "1e3",
                "2.5e-3", "-0", "-0.0", "007", "9223372036854775808", "9" * 20, "(9223372036854775809)",
                "7" * 5000, "(" + "3" * 4300 + ")", "0" * 5000 + "12", "1" + "0" * 400 + ".0", "1e-400",
                "0." + "0" * 400 + "1"]


@pytest.mark.parametrize("text", NUMBER_TEXTS)
def test_parse_reference(text):
    assert same(ref.parse(text), _tavo.parse(text))


ROWS = [{"p": 2, "n": "b"}, {"p": 1, "n": "a"}, {"p": 2, "n": "a"}, {"n": "c"}, 5, {"p": None, "n": "a"},
        {"p": 2.5, "n": "z"}, {"p": True, "n": "B"}, {"p": 1.0, "n": "a"}, [1], {"p": 2**70, "n": "q"}]
# (no NaN and no text against numbers: their order is not a strict weak order, so
# two correct stable sorts may place them differently)


@pytest.mark.parametrize("columns", [["-p", "n"], "p", "-n", ["n", "p"], ["missing"], ("p", 5), None,
                                     ["-price", "name"]])
def test_multikeysort_reference(columns):
    rows = ROWS if columns != ["-price", "name"] else cases.make_rows(200)
    got = _tavo.multikeysort(rows, columns)
    want = ref.multikeysort(rows, columns)
    assert [id(x) for x in got] == [id(x) for x in want]


def test_two_pass_sort_matches_general_reference_on_uniform_rows():
    rows = cases.make_rows(300)
    assert ref.multikeysort_two_pass(rows, ["-price", "name"]) == ref.multikeysort(rows, ["-price", "name"])


@pytest.mark.parametrize("args", [(), (1, 2), ([[[]]], ()), ([["a", ["b", ("c", "d")]], -2, -1, [0, 1]],),
                                  ("abc", {"a": 1}, range(3)), (cases.nested(95),)])
def test_collapse_reference(args):
    got, want = _tavo.collapse(*args), ref.collapse(*args)
    assert [id(x) for x in got] == [id(x) for x in want]


@pytest.mark.parametrize("values", [[], [None, None], [None, None, 1, 2, 3, None, 4], [0, None, "", None],
                                    cases.with_nones(500)])
def test_backfill_reference(values):
    got, want = _tavo.backfill(values), ref.backfill(values)
    assert [id(x) for x in got] == [id(x) for x in want]
    assert got is not values


@pytest.mark.parametrize("rows", [
    [], [{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}], [{"b": None, "a": 1}, {"b": 2, "a": 3}],
    [{}, {"k": None}, {"k": 1}], [{"k": None}, {"k": None}, {"k": 7}, {"k": None}], [{"a": 1}, {}],
    cases.make_fill_rows(200)])
def test_backfill_iterdict_reference(rows):
    got, want = _tavo.backfill_iterdict(rows), ref.backfill_iterdict(rows)
    assert got == want
    assert [list(d) for d in got] == [list(d) for d in want]  # key order too


@pytest.mark.parametrize("a,b", [(["x", "y", "z"], ["x", "a", "b", "y", "d", "z"]), (["x", "y", "z"], ["x", "z", "y"]),
                                 ([], []), (["x", "x"], ["x"]), (["x", "x"], ["x", "y"]),
                                 (["x", "y", "x"], ["x", "y", "x"]), ([1], [1.0]), ([float("nan")], [float("nan")]),
                                 ([[1, 2]], [[1, 2]])])
def test_same_order_reference(a, b):
    assert ref.same_order(a, b) is _tavo.same_order(a, b)


# The references are the benchmark's gate on right answers, so they are held to
# the documented behaviour even before the module's functions exist.
DOCUMENTED = [
    (ref.uncamel, ("getHTTPResponseCode",), "get_http_response_code"),
    (ref.uncamel, ("ABc",), "a_bc"),
    (ref.uncamel, ("x²Y",), "x²y"),
    (ref.uncamel, ("ǅX",), "ǅx"),
    (ref.uncamel, ("İ",), "i\u0307"),
    (ref.underscore_to_camelcase, ("foo__bar_",), "fooBar"),
    (ref.underscore_to_camelcase, ("x_ßa",), "xSSa"),
    (ref.underscore_to_camelcase, ("ΟΔΟΣ",), "οδοσ"),
    (ref.sanitize_vulgar_string, (" ½ cup",), "0.5 cup"),
    (ref.sanitize_vulgar_string, ("a \t ½",), "a 0.5"),
    (ref.sanitize_vulgar_string, ("5½½",), "5.5 0.5"),
    (ref.sanitize_vulgar_string, ("1٣½",), "13.5"),
    (ref.parse, ("USD (1,234.50)",), -1234.5),
    (ref.parse, ("1e3",), 13),
    (ref.parse, ("9" * 20,), 10**20 - 1),
    (ref.parse, ("7" * 5000,), None),
    (ref.parse, ("0" * 5000 + "12",), 12),
    (ref.parse, ("(-5)",), None),
    (ref.collapse, ((1, (2, [3, (4,)])), 5), [1, 2, 3, 4, 5]),
    (ref.backfill, ([None, 5, None],), [5, 5, 5]),
    (ref.backfill_iterdict, ([{}, {"k": None}, {"k": 1}],), [{}, {"k": 1}, {"k": 1}]),
    (ref.same_order, (["x", "y", "x"], ["x", "y", "x"]), True),
    (ref.same_order, (["x", "y", "z"], ["x", "z", "y"]), False),
    (ref.multikeysort, ([{"a": 1}, 5, {"b": 1}, {"a": 0}], "-a"), [{"a": 1}, {"a": 0}, 5, {"b": 1}]),
]


@pytest.mark.parametrize("fn,args,expected", DOCUMENTED)
def test_reference_documented_examples(fn, args, expected):
    assert same(fn(*args), expected)


# --- the harness ---------------------------------------------------------------

def test_harness_drops_a_candidate_with_another_answer_and_times_the_rest():
    module = harness.Candidate("mod", "module", "f(x)", {"f": str.upper, "x": "ab"})
    right = harness.Candidate("right", "reference", "x.upper()", {"x": "ab"})
    wrong = harness.Candidate("wrong", "peer", "f(x)", {"f": str.lower, "x": "ab"})
    case = harness.Case("upper", "tiny", "small", {"main": "'ab'"}, {"main": module}, [right, wrong])
    harness.check_case(case)
    assert wrong.skipped and "different answer" in wrong.skipped
    assert not right.skipped
    harness.run_case(case, reps=2, batch_seconds=0.0005)
    assert len(module.times) == len(right.times) == 2
    assert wrong.times == []
    assert len(harness.ratios(case, right)) == 2


def test_agreeing_text_drops_words_the_peer_handles_differently():
    def peer(t):  # differs on hyphens, and on 'ID' unless it ends the text
        out = t.replace("-", "_")
        return out.replace("ID,", "I_D,").replace("ID ", "I_D ")

    words = ["oneWord", "two-words", "userID", "plain"]
    text, notes = cases.agreeing_text(lambda t: t, peer, words)
    assert text and "two-words" not in text and "userID" not in text and "plain" in text
    assert any("differs on 1 of 4 words" in n for n in notes)


def test_the_bench_times_every_function_of_the_catalogue():
    # The bench's list is the catalogue's; a function without cases of its own in
    # bench/cases.py is timed on its catalogue probe, which must give the same answer each time.
    import catalogue

    grouped = [n for n in catalogue.FUNCTIONS if any(n.startswith(p) for p in cases.GROUPS.values())]
    assert sorted(cases.FUNCTIONS) == sorted((set(catalogue.FUNCTIONS) - set(grouped)) | set(cases.GROUPS))
    available = cases.availability()
    assert all(not available[n] for n in cases.FUNCTIONS if n not in cases.GROUPS), available
    # a group of the package's functions is timed when they work (the columns need pyarrow too)
    assert all(not available[g] for g in cases.GROUPS if g != "columns"), available
    for name in cases.FUNCTIONS:
        if name not in cases.GROUPS:
            for case in cases.probe_cases(name):
                harness.check_case(case)
                assert not case.skipped and case.module["main"].expr == "f(*args)"


@pytest.mark.parametrize("title", ["parse('1') vs float('1')", "tavo.price('Price: 1 299,00 €') vs price_parser"])
def test_the_report_gives_each_target_its_measure(title):
    # a target's line is "title: measure STATUS"; a title holding ': ' keeps its measure whole
    import report

    data = {"machine": {"cpu": "x", "cores": 2, "python": "3.11", "implementation": "CPython", "commit": "c",
                        "date": "d", "platform": "p"},
            "mode": "full", "repetitions": 1, "batch_seconds": 0.02, "elapsed_s": 1, "peers": {}, "peer_notes": {},
            "skipped_functions": {}, "results": [], "scaling": [], "threads": None,
            "targets": [{"issue": 35, "title": title, "line": title + ": 2.76x (target <= 2x) MISSED",
                         "status": "MISSED"}]}
    assert "| 35 | %s | 2.76x (target <= 2x) | **MISSED** |" % title in report.markdown(data).splitlines()
