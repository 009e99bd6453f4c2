"""backfill and backfill_iterdict: None replaced by the latest earlier value."""
import copy
import gc
import math
import random
import subprocess
import sys
import textwrap

import pytest
from hypothesis import given, strategies as st

import _tavo
import catalogue
from hostile_kit import (
    DistinctKey, Finalized, SlowStr, collections_run, finalized_str, interrupted, is_panic, main_thread_only,
)
from models import sequences as model
from strategies import DictSub, ListSub, Plain, SETTINGS, leaves, same_objects


# --- backfill -------------------------------------------------------------------

@pytest.mark.parametrize(
    "values, expected",
    [
        ([None, None, 1, 2, 3, None, 4], [1, 1, 1, 2, 3, 3, 4]),
        ([], []),
        ([None], [None]),
        ([None, None], [None, None]),
        ([1, 2], [1, 2]),
        ([0, None, "", None], [0, 0, "", ""]),
        ([None, 5, None], [5, 5, 5]),
        ([False, None, [], None, {}], [False, False, [], [], {}]),
        ([None, None, "x"], ["x", "x", "x"]),
        (["a", None, None, "b", None], ["a", "a", "a", "b", "b"]),
    ],
)
def test_backfill_examples(values, expected):
    assert _tavo.backfill(values) == expected


@pytest.mark.parametrize("values", [[], [None], [None, None, None], [1, None], [None, 2]])
def test_backfill_always_returns_a_new_list(values):
    original = list(values)
    result = _tavo.backfill(values)
    assert result is not values
    assert type(result) is list
    result.append("changed")
    assert values == original


def test_backfill_of_a_list_subclass_gives_a_plain_list():
    class Series(list):
        pass

    assert type(_tavo.backfill(Series([None, 1]))) is list


def test_backfill_carries_the_objects():
    a, b = object(), object()
    values = [None, a, None, None, b, None]
    result = _tavo.backfill(values)
    assert [id(x) for x in result] == [id(a)] * 4 + [id(b)] * 2


def test_backfill_nan_is_a_real_value():
    nan = float("nan")
    result = _tavo.backfill([None, nan, None])
    assert all(x is nan for x in result)
    assert math.isnan(result[0])


def test_backfill_references_are_balanced():
    value = object()
    values = [None, value, None, None]
    before = sys.getrefcount(value)
    result = _tavo.backfill(values)
    assert sys.getrefcount(value) == before + 4
    del result
    assert sys.getrefcount(value) == before


@pytest.mark.parametrize("bad", [(None, 1), "abc", None, {1: None}, iter([None])])
def test_backfill_refuses_non_lists(bad):
    with pytest.raises(TypeError, match=r"^argument 'values': '\w+' object cannot be converted to 'PyList'$"):
        _tavo.backfill(bad)


@given(st.lists(st.one_of(st.none(), st.integers(), st.text(max_size=2)), max_size=50))
def test_backfill_matches_model(values):
    result = _tavo.backfill(values)
    expected = model.backfill(values)
    assert result == expected
    assert all(a is b for a, b in zip(result, expected))


# --- backfill_iterdict --------------------------------------------------------------

@pytest.mark.parametrize(
    "rows, expected",
    [
        ([{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}],
         [{"a": 1, "b": 2}, {"a": 4, "b": 2}, {"a": 4, "b": 2}]),
        ([], []),
        ([{"a": None}], [{}]),
        ([{"a": 1}, {"b": None}], [{"a": 1}, {}]),
        ([{}, {"k": None}, {"k": 1}], [{}, {"k": 1}, {"k": 1}]),
        ([{"k": None}, {"k": None}, {"k": 7}, {"k": None}], [{"k": 7}, {"k": 7}, {"k": 7}, {"k": 7}]),
        ([{"a": 0}, {"a": None}], [{"a": 0}, {"a": 0}]),
        ([{"a": 1}, {}], [{"a": 1}, {}]),
        ([{}, {}], [{}, {}]),
        # rows with different keys: only the rows that held the None are filled
        ([{"x": 1}, {"k": None}, {"x": 2}, {"k": None}, {"k": 3}],
         [{"x": 1}, {"k": 3}, {"x": 2}, {"k": 3}, {"k": 3}]),
        ([{"a": None, "b": None}, {"b": 1}, {"a": 2}],
         [{"b": 1, "a": 2}, {"b": 1}, {"a": 2}]),
        # a key never followed by a real value stays absent
        ([{"a": None, "b": 1}, {"a": None, "b": None}], [{"b": 1}, {"b": 1}]),
        # later Nones after a real value take the latest one
        ([{"a": 1}, {"a": None}, {"a": 2}, {"a": None}], [{"a": 1}, {"a": 1}, {"a": 2}, {"a": 2}]),
        # non-ASCII and empty key texts
        ([{"ключ": None, "": None}, {"": 0, "ключ": "v"}], [{"": 0, "ключ": "v"}, {"": 0, "ключ": "v"}]),
    ],
)
def test_backfill_iterdict_examples(rows, expected):
    result = _tavo.backfill_iterdict(rows)
    assert result == expected
    # key order matters too
    assert [list(r) for r in result] == [list(r) for r in expected]


def test_backfill_iterdict_key_order():
    # a key filled later comes after the row's other keys
    result = _tavo.backfill_iterdict([{"b": None, "a": 1}, {"b": 2, "a": 3}])
    assert [list(r) for r in result] == [["a", "b"], ["b", "a"]]
    # keys filled for several keys come in the order their first values arrive
    result = _tavo.backfill_iterdict([{"x": None, "y": None, "z": 0}, {"y": 1}, {"x": 2}])
    assert list(result[0]) == ["z", "y", "x"]


def test_backfill_iterdict_leaves_the_input_alone():
    rows = [{"a": None, "b": 1}, {"a": 2, "b": None}]
    snapshot = [dict(r) for r in rows]
    result = _tavo.backfill_iterdict(rows)
    assert rows == snapshot
    assert all(o is not r for o, r in zip(result, rows))
    result[0]["new"] = 1
    assert rows == snapshot


def test_backfill_iterdict_carries_the_values():
    a, b = object(), object()
    rows = [{"k": None}, {"k": a}, {"k": None}, {"k": b}]
    result = _tavo.backfill_iterdict(rows)
    assert result[0]["k"] is a and result[1]["k"] is a and result[2]["k"] is a
    assert result[3]["k"] is b


class Key(str):
    pass


def test_backfill_iterdict_keys_are_new_plain_str():
    k = Key("name")
    rows = [{k: 1}, {k: None}]
    result = _tavo.backfill_iterdict(rows)
    for out in result:
        (key,) = out
        assert type(key) is str and key == "name" and key is not k
    # one key object per distinct text, shared by every row
    assert next(iter(result[0])) is next(iter(result[1]))


def test_backfill_iterdict_keys_are_told_apart_by_text():
    # A str subclass key and a plain key with the same text are one key.
    rows = [{Key("a"): None}, {"a": 5}, {Key("a"): None}]
    assert _tavo.backfill_iterdict(rows) == [{"a": 5}, {"a": 5}, {"a": 5}]


def test_backfill_iterdict_same_text_twice_in_a_row():
    rows = [{"a": None, DistinctKey("a"): 3}, {DistinctKey("a"): None, "a": 4}]
    assert len(rows[0]) == 2
    result = _tavo.backfill_iterdict(rows)
    assert result == model.backfill_iterdict(rows) == [{"a": 3}, {"a": 4}]


def test_backfill_iterdict_dict_subclass_rows():
    class Row(dict):
        pass

    result = _tavo.backfill_iterdict([Row(a=None), Row(a=1)])
    assert result == [{"a": 1}, {"a": 1}]
    assert all(type(r) is dict for r in result)


@pytest.mark.parametrize(
    "rows, message",
    [
        ([{"a": 1}, 5], "'int' object cannot be converted to 'PyDict'"),
        ([[("a", 1)]], "'list' object cannot be converted to 'PyDict'"),
        ([None], "'NoneType' object cannot be converted to 'PyDict'"),
        ([{1: 2}], "'int' object cannot be converted to 'PyString'"),
        ([{"a": 1}, {"b": 2, b"c": 3}], "'bytes' object cannot be converted to 'PyString'"),
        ([{("t",): None}], "'tuple' object cannot be converted to 'PyString'"),
    ],
)
def test_backfill_iterdict_bad_rows_and_keys(rows, message):
    with pytest.raises(TypeError) as info:
        _tavo.backfill_iterdict(rows)
    assert type(info.value) is TypeError
    assert str(info.value) == message


def test_backfill_iterdict_lone_surrogate_key():
    with pytest.raises(UnicodeEncodeError) as info:
        _tavo.backfill_iterdict([{"ok": 1}, {"bad\udc80": 2}])
    assert "surrogates not allowed" in str(info.value)


@pytest.mark.parametrize("bad", [({"a": 1},), {"a": 1}, "rows", None])
def test_backfill_iterdict_refuses_non_lists(bad):
    with pytest.raises(TypeError, match=r"^argument 'iterdict': '\w+' object cannot be converted to 'PyList'$"):
        _tavo.backfill_iterdict(bad)


def test_backfill_iterdict_failure_releases_everything():
    value = object()
    rows = [{"a": value, "b": None}, {"a": None, "b": value}, 7]
    before = sys.getrefcount(value)
    for _ in range(3):
        with pytest.raises(TypeError):
            _tavo.backfill_iterdict(rows)
    assert sys.getrefcount(value) == before


def test_backfill_iterdict_references_are_balanced():
    value = object()
    rows = [{"a": None}, {"a": value}, {"a": None}]
    before = sys.getrefcount(value)
    result = _tavo.backfill_iterdict(rows)
    assert sys.getrefcount(value) == before + 3
    del result
    assert sys.getrefcount(value) == before


def test_backfill_iterdict_many_keys_in_changing_orders():
    rows = []
    for r in range(200):
        keys = [f"k{(r * 7 + j) % 23}" for j in range(r % 9)]
        rows.append({k: (None if (r + len(k)) % 3 == 0 else r) for k in keys})
    assert _tavo.backfill_iterdict(rows) == model.backfill_iterdict(rows)


@pytest.mark.parametrize("keys", [1, 15, 16, 17, 40])
@pytest.mark.parametrize("subclass_share", [0.0, 0.3])
def test_backfill_iterdict_key_counts_around_the_scanned_table(keys, subclass_share):
    # Few key texts are found by a scan, more through a hash map built once
    # they pass a count; texts of equal length make the scan compare whole
    # texts. Rows take their keys in shuffled orders, some as str subclasses.
    rnd = random.Random(keys)
    names = [f"key{i:02d}" for i in range(keys)]
    rows = []
    for r in range(150):
        row = {}
        for k in rnd.sample(names, rnd.randint(0, keys)):
            row[Key(k) if rnd.random() < subclass_share else k] = None if rnd.random() < 0.4 else r
        rows.append(row)
    result = _tavo.backfill_iterdict(rows)
    expected = model.backfill_iterdict([{str(k): v for k, v in row.items()} for row in rows])
    assert result == expected
    for out, exp in zip(result, expected):
        assert list(out) == list(exp) and all(type(k) is str for k in out)


key_texts = st.sampled_from(["a", "b", "c", "ä", "", "long key name"])
row_values = st.one_of(st.none(), st.none(), st.integers(-3, 3), st.text(max_size=1))
rows_strategy = st.lists(st.dictionaries(key_texts, row_values, max_size=4), max_size=12)


@given(rows_strategy)
def test_backfill_iterdict_matches_model(rows):
    result = _tavo.backfill_iterdict(rows)
    expected = model.backfill_iterdict(rows)
    assert result == expected
    for out, exp in zip(result, expected):
        assert list(out) == list(exp)
        assert all(out[k] is exp[k] for k in exp)


@given(st.lists(st.tuples(st.lists(row_values, min_size=4, max_size=4),
                          st.sampled_from(["same", "same", "reversed", "fewer", "subclass"])), max_size=20))
def test_backfill_iterdict_rows_sharing_key_objects(specs):
    # Rows built from one list of key objects, mostly in the same order (the
    # rows of a table), now and then in another order, with fewer keys or
    # with str subclass keys: each way a row's keys can differ from the row
    # before.
    names = ["alpha", "beta", "gamma", "delta"]
    rows = []
    for values, shape in specs:
        items = list(zip(names, values))
        if shape == "reversed":
            items.reverse()
        elif shape == "fewer":
            items = items[::2]
        elif shape == "subclass":
            items = [(Key(k), v) for k, v in items]
        rows.append(dict(items))
    result = _tavo.backfill_iterdict(rows)
    expected = model.backfill_iterdict([{str(k): v for k, v in row.items()} for row in rows])
    assert result == expected
    for out, exp in zip(result, expected):
        assert list(out) == list(exp)
        assert all(out[k] is exp[k] for k in exp)


@given(rows_strategy)
def test_backfill_iterdict_with_identical_key_sets_fills_every_leading_none(rows):
    # When every row has the same keys, each leading None takes the first
    # real value of its key.
    keys = sorted({k for r in rows for k in r})
    full = [{k: r.get(k) for k in keys} for r in rows]
    result = _tavo.backfill_iterdict(full)
    for k in keys:
        column = [r[k] for r in full]
        first = next((v for v in column if v is not None), None)
        if first is not None:
            assert [out[k] for out in result] == model.backfill(column)
        else:
            assert all(k not in out for out in result)


class _Row(dict):
    pass


class _Record:
    pass


def _as_kind(row, kind):
    """The same items in another kind of row: rows copied whole and rows built
    entry by entry must give the same outputs."""
    if kind == "exact":
        return dict(row)
    if kind == "subclass":
        return _Row(row)
    if kind == "str subclass keys":
        return {Key(k): v for k, v in row.items()}
    if kind == "holes":  # deleted entries left in the table
        d = {f"gone{i}": i for i in range(6)}
        d.update(row)
        for i in range(6):
            if f"gone{i}" not in row:
                del d[f"gone{i}"]
        return d
    obj = _Record()  # an instance dict
    obj.__dict__.update(row)
    return obj.__dict__


row_kinds = st.sampled_from(["exact", "subclass", "str subclass keys", "holes", "instance"])


@given(st.lists(st.tuples(st.dictionaries(key_texts, row_values, max_size=4), row_kinds), max_size=12))
def test_backfill_iterdict_every_kind_of_row_matches_model(pairs):
    rows = [_as_kind(row, kind) for row, kind in pairs]
    before = [list(r.items()) for r in rows]
    result = _tavo.backfill_iterdict(rows)
    expected = model.backfill_iterdict([dict(r) for r, _ in pairs])
    assert result == expected
    for out, exp in zip(result, expected):
        assert type(out) is dict and list(out) == list(exp)
        assert all(type(k) is str for k in out)
        assert all(out[k] is exp[k] for k in exp)
    assert [list(r.items()) for r in rows] == before


# --- hostile: finalizers and collections that change the rows, interrupts ------------


# --- finalizers that change rows while backfill_iterdict runs ----------------------


@pytest.mark.hostile
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_backfill_iterdict_under_finalizers_that_change_rows():
    rows = [{f"k{j}": (None if (i + j) % 3 else i) for j in range(20)} for i in range(300)]
    target = [0]

    class Changes:
        def __init__(self):
            self.me = self  # a cycle: only the collector frees it

        def __del__(self):
            row = rows[target[0] % len(rows)]
            target[0] += 7
            row[f"x{target[0]}"] = None
            row.pop(next(iter(row)), None)

    old = gc.get_threshold()
    gc.set_threshold(1, 1, 1)
    try:
        for _ in range(20):
            for _ in range(200):
                Changes()
            try:
                out = _tavo.backfill_iterdict(rows)
            except BaseException as e:  # noqa: BLE001
                assert is_panic(e), repr(e)
                assert str(e) in ("dictionary changed size during iteration",
                                  "dictionary keys changed during iteration")
            else:
                assert len(out) == len(rows) and all(type(d) is dict for d in out)
    finally:
        gc.set_threshold(*old)
        gc.collect()


FREED_KEY_SCRIPT = textwrap.dedent(
    """
    import _tavo, gc
    class K(str):
        def __del__(self): rows[3].clear()
    class V: pass
    k0 = K('a'); rows = [{k0: None}, {}, {}, {'a': V()}]; del k0
    keep = [{} for _ in range(200)]
    n = [0]
    def cb(phase, info):
        if phase == 'start':
            n[0] += 1
            if n[0] == 2: rows[0].clear()
    gc.callbacks.append(cb); gc.set_threshold(1)
    try:
        out = _tavo.backfill_iterdict(rows)
    except BaseException as e:
        print(type(e).__name__, e)
    else:
        print(len(out), all(type(d) is dict for d in out))
    """
)


@pytest.mark.hostile
@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_backfill_iterdict_key_freed_by_a_collection():
    # The row's only reference to its key goes while the module uses the key;
    # the key's finalizer then empties the row holding the next real value.
    out = subprocess.run([sys.executable, "-c", FREED_KEY_SCRIPT], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr[-2000:]
    assert out.stdout.strip() in ("4 True", "PanicException dictionary changed size during iteration")


def _mixes(before, after):
    """The inputs a call may have seen when the rows changed once between two of
    its reads: the first j rows as they were, the rest as they are now."""
    return [before[:j] + after[j:] for j in range(len(before) + 1)] + [after]


def _rows_case():
    rows = [{"a": None if i % 3 else i, "b": None if i % 4 else -i, f"c{i % 5}": i} for i in range(60)]

    def change():
        rows[5].clear()
        rows[40] = {"z": 1, "a": None}
        rows[2]["b"] = 99  # a real value in place of a None, same size
        rows.append({"late": 1})

    return rows, change


def _check_backfill_iterdict(before, after, out):
    assert any(out == model.backfill_iterdict(m) for m in _mixes(before, after[: len(before)]))


@pytest.mark.hostile
@pytest.mark.parametrize("at", [1, 2, 3, 5, 8, 13, 40])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_backfill_iterdict_rows_changed_by_a_collection(at):
    rows, change = _rows_case()
    before = copy.deepcopy(rows)
    with collections_run(change, at) as run:
        try:
            out = _tavo.backfill_iterdict(rows)
        except BaseException as e:  # noqa: BLE001
            assert is_panic(e, "dictionary changed size during iteration"), repr(e)
            return
    after = rows if run.fired else before
    assert len(out) == len(before) and all(type(d) is dict for d in out)
    assert all(type(k) is str for d in out for k in d)
    _check_backfill_iterdict(before, after, out)


@pytest.mark.hostile
@pytest.mark.parametrize("subclass_keys", [False, True])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_backfill_iterdict_values_whose_finalizers_change_rows(subclass_keys):
    # A real value whose last reference is dropped by the module (the row lost
    # it to an earlier finalizer) runs a finalizer that empties later rows.
    key = (lambda t: SlowStr(t)) if subclass_keys else str
    rows = []

    def wipe(i):
        def action():
            if i < len(rows):
                rows[i].clear()
        return action

    for i in range(30):
        rows.append({key("a"): Finalized(wipe(i + 1)), key("b"): None, key("c"): i})
    before = [dict(r) for r in rows]

    def drop_values():
        for r in rows[:10]:
            r[key("a")] = None  # same size: the old value's last reference is the module's

    with collections_run(drop_values, 2):
        try:
            out = _tavo.backfill_iterdict(rows)
        except BaseException as e:  # noqa: BLE001
            assert is_panic(e, "dictionary changed size during iteration"), repr(e)
            return
    assert len(out) == len(before) and all(type(d) is dict for d in out)
    assert all(type(k) is str for d in out for k in d)
    del before


@pytest.mark.hostile
@pytest.mark.parametrize("at", [1, 2, 3, 6])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_backfill_list_shortened_by_a_collection(at):
    values = [None, 1, None, 2, None, 3] * 40

    def change():
        del values[100:]

    before = list(values)
    with collections_run(change, at) as run:
        try:
            out = _tavo.backfill(values)
        except IndexError:
            assert run.fired
            return
    assert out in (model.backfill(before), model.backfill(values))


@pytest.mark.hostile
@main_thread_only
@pytest.mark.parametrize("row_type", [dict, type("Row", (dict,), {})])
@pytest.mark.thread_unsafe(reason="interrupts by a timer signal, which only the main thread receives")
def test_interrupt_ends_backfill_iterdict(row_type):
    rows = [row_type({SlowStr(f"k{j}"): (None if (i + j) % 3 else i) for j in range(8)}) for i in range(20000)]
    snapshot = [dict(r) for r in rows]
    interrupted(lambda: _tavo.backfill_iterdict(rows), [rows])
    assert [dict(r) for r in rows] == snapshot and all(type(r) is row_type for r in rows)


@pytest.mark.hostile
@pytest.mark.parametrize("at", range(1, 25))
@pytest.mark.parametrize("kind", ["finalized keys", "plain keys", "instance dicts"])
@pytest.mark.thread_unsafe(reason="changes the collector's thresholds or callbacks, which are process-wide")
def test_backfill_iterdict_rows_emptied_by_a_collection(at, kind):
    # Each row holds the only references to its keys and values; a collection
    # empties every row, so whatever the module still used from a row is freed
    # then unless it holds a reference of its own, and the keys' finalizers
    # empty further rows.
    if kind == "instance dicts" and sys.version_info >= (3, 13):
        # CPython 3.13 itself crashes when these finalizers empty instance
        # dicts from a gc callback, with or without the module in the test.
        pytest.skip("the interpreter crashes on this setup by itself")
    rows = []

    def empty_all():
        for r in rows:
            r.clear()

    class V(Finalized):
        pass

    class Record:
        pass

    for i in range(12):
        key = (lambda t: finalized_str(t, empty_all)) if kind == "finalized keys" else (lambda t: t)
        row = {key(f"k{j}"): (None if (i + j) % 2 else V(empty_all)) for j in range(6)}
        if kind == "instance dicts":  # key-sharing dicts: a table of keys apart from the values
            obj = Record()
            obj.__dict__.update(row)
            row = obj.__dict__
        rows.append(row)
    holder = [{} for _ in range(50)]  # garbage for the collector to walk
    with collections_run(empty_all, at):
        try:
            out = _tavo.backfill_iterdict(rows)
        except BaseException as e:  # noqa: BLE001
            assert is_panic(e, "dictionary changed size during iteration"), repr(e)
            return
    assert len(out) == 12 and all(type(d) is dict for d in out)
    assert all(type(k) is str and type(v) is V for d in out for k, v in d.items())
    del holder


# --- nasty inputs (strategies.py) -------------------------------------------------------


@given(st.lists(st.one_of(st.none(), leaves), max_size=30), st.booleans())
@SETTINGS
def test_backfill_on_nasty_values(values, sub):
    arg = ListSub(values) if sub else values
    got = _tavo.backfill(arg)
    assert type(got) is list and got is not arg
    assert same_objects(got, model.backfill(list(values)))


def keys():
    return st.one_of(st.sampled_from(["a", "b", "\U0001f600", "\u01c5", ""]), st.sampled_from(["a", "b"]).map(Plain))


@given(st.lists(st.one_of(st.dictionaries(keys(), st.one_of(st.none(), leaves), max_size=4),
                          st.dictionaries(keys(), st.one_of(st.none(), st.integers()), max_size=3).map(DictSub)),
                max_size=10))
@SETTINGS
def test_backfill_iterdict_on_nasty_rows(rows):
    # Keys of equal text in one row (a str and a Plain) are outside what the model covers.
    for r in rows:
        texts = [str.__str__(k) for k in r]
        if len(set(texts)) != len(texts):
            return
    got = _tavo.backfill_iterdict(rows)
    expected = model.backfill_iterdict(rows)
    assert len(got) == len(expected)
    for g, e in zip(got, expected):
        assert type(g) is dict and all(type(k) is str for k in g)
        assert [str.__str__(k) for k in g] == [str.__str__(k) for k in e]
        assert all(g[k] is e[k] for k in e)


# --- the catalogue: both functions, rows and keys refused -----------------------


@pytest.mark.hostile
@catalogue.parametrize(catalogue.backfill.CASES)
def test_catalogue(case):
    catalogue.run(case)
