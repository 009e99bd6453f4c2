"""A catalogue of calls into _tavo, each with the outcome it must have.

Every function appears on its success paths, on every binding and conversion
error, and under hostile objects. The same catalogue drives three checks:
test_catalogue.py runs each call once and checks its outcome, test_refleaks.py
runs each call many times and checks that nothing leaks, and test_threads.py
runs them from many threads at once.

A case either has fixed `args` (the same objects on every call, so a leak of a
reference to them shows in their reference counts) or a `make` factory that
builds fresh arguments per call (for calls that mutate their input).
"""
import collections
import decimal
import math

import _tavo
from hostile_kit import (
    Answers, BadBool, Boom, BoolReturnsInt, Float, Getter, Index, Missing, Mutating,
    NotImplementedCmp, PanicCmp, Raising, RaisesPanic, UnprintableArg, hostile_str, is_panic,
    numpy_like_bool, panic_type, raise_,
)

CASES = []


class Outcome:
    __slots__ = ("value", "exc")

    def __init__(self, value=None, exc=None):
        self.value = value
        self.exc = exc

    def describe(self):
        if self.exc is not None:
            return f"raised {type(self.exc).__qualname__}: {self.exc}"
        return f"returned {self.value!r}"


class Case:
    def __init__(self, name, func, args=(), kwargs=None, make=None, check=None, tracked=(),
                 needs_body=True, needs_panic=False):
        self.name = name
        self.func = func
        self.fn = getattr(_tavo, func)
        self.args = args
        self.kwargs = kwargs or {}
        self.make = make
        self.check = check
        self.extra_tracked = tracked
        self.needs_body = needs_body
        self.needs_panic = needs_panic

    def __repr__(self):
        return self.name

    def call(self):
        """One call; returns nothing, swallows every exception but NotImplementedError."""
        if self.make is not None:
            args, kwargs = self.make()
        else:
            args, kwargs = self.args, self.kwargs
        try:
            self.fn(*args, **kwargs)
        except NotImplementedError:
            raise
        except BaseException:  # noqa: BLE001 - every outcome is fine here; check() judges it
            pass

    def outcome(self):
        if self.make is not None:
            args, kwargs = self.make()
        else:
            args, kwargs = self.args, self.kwargs
        try:
            return Outcome(value=self.fn(*args, **kwargs))
        except NotImplementedError:
            raise
        except KeyboardInterrupt:
            raise
        except BaseException as e:  # noqa: BLE001
            return Outcome(exc=e)

    def tracked(self):
        """Objects whose reference counts must not change across calls."""
        found = {}

        def walk(o, depth):
            if id(o) in found or depth > 3:
                return
            if o is None or isinstance(o, (bool, int)) and -5 <= o <= 256:
                return
            found[id(o)] = o
            # Read through the base types, so that overridden methods of
            # subclasses (which may raise) are not called.
            if isinstance(o, list):
                for x in list.copy(o):
                    walk(x, depth + 1)
            elif isinstance(o, tuple):
                for x in tuple.__getitem__(o, slice(None)):
                    walk(x, depth + 1)
            elif isinstance(o, dict):
                for k, v in dict.items(o):
                    walk(k, depth + 1)
                    walk(v, depth + 1)

        walk(self.args, 0)
        walk(self.kwargs, 0)
        for o in self.extra_tracked:
            walk(o, 1)
        found.pop(id(self.args), None)
        found.pop(id(self.kwargs), None)
        return list(found.values())


def add(name, func, *args, check, kwargs=None, make=None, tracked=(), needs_body=True, needs_panic=False):
    CASES.append(Case(name, func, args, kwargs, make, check, tracked, needs_body, needs_panic))


# --- checks --------------------------------------------------------------------


def same(a, b):
    """Equal values of the same types, recursively; NaN equals NaN; -0.0 is not 0.0."""
    if a is b:
        return True
    if type(a) is not type(b):
        return False
    if isinstance(a, float):
        return (math.isnan(a) and math.isnan(b)) or (a == b and math.copysign(1, a) == math.copysign(1, b))
    if isinstance(a, (list, tuple)):
        return len(a) == len(b) and all(same(x, y) for x, y in zip(a, b))
    if isinstance(a, dict):
        return list(a) == list(b) and all(same(a[k], b[k]) for k in a)
    return a == b


def returns(expected):
    def check(o):
        assert o.exc is None, o.describe()
        assert same(o.value, expected), f"{o.describe()}, expected {expected!r}"

    return check


def returns_where(pred, what):
    def check(o):
        assert o.exc is None, o.describe()
        assert pred(o.value), f"{o.describe()}, expected {what}"

    return check


def raises(exc_type, message=None, startswith=None):
    def check(o):
        assert o.exc is not None, f"{o.describe()}, expected {exc_type.__name__}"
        assert type(o.exc) is exc_type, f"{o.describe()}, expected {exc_type.__name__}"
        if message is not None:
            assert str(o.exc) == message, o.describe()
        if startswith is not None:
            assert str(o.exc).startswith(startswith), o.describe()

    return check


def panics(text=None):
    def check(o):
        assert o.exc is not None and is_panic(o.exc, text), f"{o.describe()}, expected PanicException {text!r}"

    return check


def one_of(*checks):
    def check(o):
        errors = []
        for c in checks:
            try:
                c(o)
                return
            except AssertionError as e:
                errors.append(str(e))
        raise AssertionError(" / ".join(errors))

    return check


def _assert(cond, what):
    assert cond, what


def mismatch(param, qualname, target):
    prefix = f"argument '{param}': " if param else ""
    return raises(TypeError, f"{prefix}'{qualname}' object cannot be converted to '{target}'")


# --- binding errors, for every function -------------------------------------

SIGS = {
    "parse": ["s"],
    "multikeysort": ["items", "columns", "inplace"],
    "sanitize_vulgar_string": ["s"],
    "uncamel": ["camel"],
    "underscore_to_camelcase": ["s"],
    "backfill": ["values"],
    "backfill_iterdict": ["iterdict"],
    "same_order": ["ref_list", "comp"],
}
VALID = {
    "parse": ["1"],
    "multikeysort": [[], "a", False],
    "sanitize_vulgar_string": ["½"],
    "uncamel": ["aB"],
    "underscore_to_camelcase": ["a_b"],
    "backfill": [[None, 1]],
    "backfill_iterdict": [[{"a": 1}]],
    "same_order": [[1], [1]],
}
REQUIRED = {"multikeysort": 2}


class _KwStr(str):
    def __str__(self):
        raise Boom("kw str")


class _KwStrNonStr(str):
    def __str__(self):
        return 42


class _KwStrOther(str):
    def __str__(self):
        return "shown"


for fn, params in SIGS.items():
    P = len(params)
    R = REQUIRED.get(fn, P)
    valid = VALID[fn]
    many = valid + [0] * (P - len(valid)) + [0]
    if R == P:
        too_many = f"{fn}() takes {P} positional arguments but {P + 1} were given"
    else:
        too_many = f"{fn}() takes from {R} to {P} positional arguments but {P + 1} were given"
    add(f"{fn}-too-many", fn, *many, check=raises(TypeError, too_many), needs_body=False)
    add(f"{fn}-unexpected-kw", fn, *valid[:R], kwargs={"bogus": 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument 'bogus'"), needs_body=False)
    add(f"{fn}-kw-surrogate", fn, *valid[:R], kwargs={"a\udcffb": 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument 'a\ufffd\ufffd\ufffdb'"),
        needs_body=False)
    add(f"{fn}-kw-unprintable", fn, *valid[:R], kwargs={_KwStr("zz"): 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument '<unprintable _KwStr object>'"),
        needs_body=False)
    add(f"{fn}-kw-str-non-str", fn, *valid[:R], kwargs={_KwStrNonStr("zz"): 1},
        check=raises(TypeError,
                     f"{fn}() got an unexpected keyword argument '<unprintable _KwStrNonStr object>'"),
        needs_body=False)
    add(f"{fn}-kw-str-shown", fn, *valid[:R], kwargs={_KwStrOther("zz"): 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument 'shown'"), needs_body=False)
    add(f"{fn}-multiple", fn, *valid[:R], kwargs={params[0]: valid[0]},
        check=raises(TypeError, f"{fn}() got multiple values for argument '{params[0]}'"), needs_body=False)
    missing = params[:R]
    listed = " and ".join(f"'{p}'" for p in missing)
    add(f"{fn}-missing", fn,
        check=raises(TypeError, f"{fn}() missing {R} required positional argument{'s' if R > 1 else ''}: {listed}"),
        needs_body=False)

add("collapse-kw", "collapse", 1, [2], kwargs={"x": 3},
    check=raises(TypeError, "collapse() got an unexpected keyword argument 'x'"), needs_body=False)
add("collapse-kw-args", "collapse", kwargs={"args": 3},
    check=raises(TypeError, "collapse() got an unexpected keyword argument 'args'"), needs_body=False)

# --- conversion errors ---------------------------------------------------------


class Outer:
    class Inner:
        pass


for fn, param in [("parse", "s"), ("sanitize_vulgar_string", "s"), ("uncamel", "camel"),
                  ("underscore_to_camelcase", "s")]:
    for bad, qual in [(5, "int"), (None, "NoneType"), (b"x", "bytes"), (["x"], "list"),
                      (Outer.Inner(), "Outer.Inner"), (Raising(), "Raising")]:
        add(f"{fn}-not-str-{qual}", fn, bad, check=mismatch(param, qual, "PyString"), needs_body=False)
    add(f"{fn}-surrogate", fn, "ab\ud800cd", check=raises(UnicodeEncodeError), needs_body=False)
    add(f"{fn}-surrogate-kw", fn, kwargs={param: "\udfff"}, check=raises(UnicodeEncodeError), needs_body=False)

for fn, pos, param in [("backfill", 0, "values"), ("backfill_iterdict", 0, "iterdict"),
                       ("same_order", 0, "ref_list"), ("same_order", 1, "comp"),
                       ("multikeysort", 0, "items")]:
    for bad, qual in [("abc", "str"), ((None, 1), "tuple"), ({}, "dict"), (None, "NoneType"),
                      (range(3), "range"), (Raising(), "Raising")]:
        args = list(VALID[fn][:REQUIRED.get(fn, len(SIGS[fn]))])
        args[pos] = bad
        add(f"{fn}-{param}-not-list-{qual}", fn, *args, check=mismatch(param, qual, "PyList"), needs_body=False)

_fake_bool_ok = numpy_like_bool(bool_method=lambda self: True)
_fake_bool_none = numpy_like_bool()
class _ExitOnStr:
    def __str__(self):
        raise SystemExit("from __str__")


_fake_bool_raises = numpy_like_bool(bool_method=lambda self: raise_(ValueError("no truth")))
_fake_bool_type_error = numpy_like_bool(bool_method=lambda self: raise_(TypeError("no truth")))
_fake_bool_returns_int = numpy_like_bool(bool_method=lambda self: 2)
_fake_bool_unprintable = numpy_like_bool(bool_method=lambda self: raise_(TypeError(UnprintableArg())))
_cause = KeyError("the cause")


def _raise_with_cause(self):
    raise TypeError("with a cause") from _cause


_fake_bool_cause = numpy_like_bool(bool_method=_raise_with_cause)
_fake_bool_named_bool = numpy_like_bool(name="bool", bool_method=lambda self: False)
_fake_other_name = numpy_like_bool(name="int64", bool_method=lambda self: True)
_not_numpy = numpy_like_bool(module="numpyx", bool_method=lambda self: True)


class _ModuleRaises(type):
    @property
    def __module__(cls):
        raise Boom("module")


class _ModuleNotStr(type):
    @property
    def __module__(cls):
        return 5


_module_raises = _ModuleRaises("bool_", (), {"__bool__": lambda self: True})
_module_not_str = _ModuleNotStr("bool_", (), {"__bool__": lambda self: True})
_module_spy_numpy, _ = hostile_str("numpy")
_module_str_sub = type("bool_", (), {"__module__": _module_spy_numpy, "__bool__": lambda self: False})

for label, flag, check in [
    ("none", None, mismatch("inplace", "NoneType", "PyBool")),
    ("int1", 1, mismatch("inplace", "int", "PyBool")),
    ("int0", 0, mismatch("inplace", "int", "PyBool")),
    ("str", "yes", mismatch("inplace", "str", "PyBool")),
    ("hostile", Raising(), mismatch("inplace", "Raising", "PyBool")),
    ("numpy-no-slot", _fake_bool_none(),
     raises(TypeError, "argument 'inplace': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion")),
    ("numpy-raises-value-error", _fake_bool_raises(), raises(ValueError, "no truth")),
    ("numpy-raises-type-error", _fake_bool_type_error(), raises(TypeError, "argument 'inplace': no truth")),
    ("numpy-returns-int", _fake_bool_returns_int(),
     raises(TypeError, "argument 'inplace': __bool__ should return bool, returned int")),
    ("numpy-unprintable", _fake_bool_unprintable(),
     raises(TypeError, "argument 'inplace': <unprintable TypeError object>")),
    ("numpy-cause", _fake_bool_cause(), lambda o: (raises(TypeError, "argument 'inplace': with a cause")(o),
                                                   _assert(o.exc.__cause__ is _cause, "the cause is kept"))),
    ("numpy-other-name", _fake_other_name(), mismatch("inplace", "int64", "PyBool")),
    ("not-numpy", _not_numpy(), mismatch("inplace", "bool_", "PyBool")),
    ("module-raises", _module_raises(), mismatch("inplace", "bool_", "PyBool")),
    ("module-not-str", _module_not_str(), mismatch("inplace", "bool_", "PyBool")),
]:
    add(f"multikeysort-inplace-{label}", "multikeysort", [], "a", flag, check=check, needs_body=False)
    add(f"multikeysort-inplace-kw-{label}", "multikeysort", [], None, kwargs={"inplace": flag}, check=check,
        needs_body=False)

# Fallbacks of the flag check discard only ordinary exceptions: a MemoryError
# reading __module__, or a SystemExit showing the text of the error, ends the call.
_module_memory_error = type("_ModuleMemoryError", (type,), {
    "__module__": property(lambda cls: raise_(MemoryError("from __module__")))})("bool_", (), {})
_fake_bool_exit_text = numpy_like_bool(bool_method=lambda self: raise_(TypeError(_ExitOnStr())))
add("multikeysort-inplace-module-memory-error", "multikeysort", [], "a", _module_memory_error(),
    check=raises(MemoryError, "from __module__"), needs_body=False)
add("multikeysort-inplace-text-exits", "multikeysort", [], "a", _fake_bool_exit_text(),
    check=raises(SystemExit, "from __str__"), needs_body=False)

add("multikeysort-items-before-inplace", "multikeysort", 5, None, None,
    check=mismatch("items", "int", "PyList"), needs_body=False)
add("multikeysort-inplace-numpy-ok", "multikeysort", [{"a": 2}, {"a": 1}], "a", _fake_bool_ok(),
    check=returns(None))
add("multikeysort-inplace-numpy-named-bool", "multikeysort", [{"a": 2}, {"a": 1}], "a",
    _fake_bool_named_bool(), check=returns([{"a": 1}, {"a": 2}]))
add("multikeysort-inplace-module-str-subclass", "multikeysort", [{"a": 2}, {"a": 1}], "a",
    _module_str_sub(), check=returns([{"a": 1}, {"a": 2}]))

# --- text functions: success paths and str subclasses --------------------------

TEXT_CASES = {
    "uncamel": [
        ("", ""), ("getHTTPResponseCode", "get_http_response_code"), ("ABc", "a_bc"),
        ("tcp2Server", "tcp2_server"), ("ÉcoleNormale", "école_normale"), ("aⒶ", "a_ⓐ"),
        ("İ", "i\u0307"), ("ǅX", "ǅx"), ("x²Y", "x²y"), ("__Init__", "__init__"),
        ("😀Big\U0001d400Bold", "😀big_\U0001d400_bold"),
    ],
    "underscore_to_camelcase": [
        ("", ""), ("foo_bar_baz", "fooBarBaz"), ("_foo_bar", "fooBar"), ("x_ßa", "xSSa"),
        ("a_\u01c6", "a\u01c4"), ("\u01c5", "\u01c6"), ("ΟΔΟΣ", "οδοσ"), ("___", ""), ("foo_1bar", "foo1bar"),
    ],
    "sanitize_vulgar_string": [
        ("", ""), ("4¾ cups, ⅓ tsp", "4.75 cups, 0.333333 tsp"), (" ½ cup", "0.5 cup"), ("a½", "a 0.5"),
        ("٣½", "3.5"), ("x٣½", "x3.5"), ("１½", "1.5"), ("5½½", "5.5 0.5"), ("⅐ ⅑ ⅒ ↉ ⅟", "⅐ ⅑ ⅒ ↉ ⅟"),
        ("1" + "0" * 303 + "½", "inf"), ("-½", "- 0.5"), ("😀 ⅞", "😀 0.875"),
    ],
    "parse": [
        ("1,200m", 1200), ("100.0", 100.0), ("(1)", -1), ("", None), ("USD (1,234.50)", -1234.5),
        ("-0.0", -0.0), ("9223372036854775808", 9223372036854775808), ("9" * 20, 99999999999999999999),
        ("(" + "3" * 4300 + ")", -int("3" * 4300)), ("7" * 5000, None), ("0" * 5000 + "12", 12),
        ("1" + "0" * 400 + ".0", math.inf), ("١٢٣", None), ("2.5e-3", None),
    ],
}

for fn, pairs in TEXT_CASES.items():
    for i, (text, expected) in enumerate(pairs):
        add(f"{fn}-ok-{i}", fn, text, check=returns(expected))
    # A str subclass whose every method raises: the text is read directly.
    text, expected = pairs[1]
    spy, calls = hostile_str(text)
    add(f"{fn}-str-subclass", fn, spy,
        check=returns_where(lambda v, e=expected, c=calls: same(v, e) and not c, f"{expected!r}, no calls"))
    add(f"{fn}-by-keyword", fn, kwargs={SIGS[fn][0]: text}, check=returns(expected))

# --- collapse ------------------------------------------------------------------

Point = collections.namedtuple("Point", "x y")
_shared = [1]
_leaf_objects = ["abc", b"x", {"a": 1}, {2}, range(3), None, 2.5, Raising()]


class ListSpy(list):
    pass


class TupleSpy(tuple):
    pass


_list_calls = []
ListSpy = type("ListSpy", (list,), {n: (lambda n: lambda self, *a: (_list_calls.append(n), raise_(Boom(n))))(n)
                                    for n in ("__iter__", "__len__", "__getitem__", "__reversed__")})
TupleSpy = type("TupleSpy", (tuple,), {n: (lambda n: lambda self, *a: (_list_calls.append(n), raise_(Boom(n))))(n)
                                       for n in ("__iter__", "__len__", "__getitem__")})


def _deep(depth, inner):
    x = [inner]
    for _ in range(depth - 1):
        x = [x]
    return x


_deep_list = _deep(100_000, 7)
for label, args, expected in [
    ("empty", (), []),
    ("flat", (1, 2), [1, 2]),
    ("example", ([["a", ["b", ("c", "d")]], -2, -1, [0, 1]],), ["a", "b", "c", "d", -2, -1, 0, 1]),
    ("nested-empties", ([[[]]], ()), []),
    ("leaves", tuple(_leaf_objects), _leaf_objects),
    ("namedtuple", ([Point(1, 2)],), [1, 2]),
    ("shared", ([_shared, _shared],), [1, 1]),
    ("diamond", ([(_shared, [_shared]), (_shared,)],), [1, 1, 1]),
    ("subclasses", (ListSpy([1, TupleSpy((2, [3]))]),), [1, 2, 3]),
]:
    add(f"collapse-{label}", "collapse", *args,
        check=returns_where(lambda v, e=expected: same(v, e) and not _list_calls, f"{expected!r}"))
add("collapse-deep", "collapse", _deep_list, check=returns([7]))
add("collapse-identity", "collapse", [_leaf_objects],
    check=returns_where(lambda v: all(a is b for a, b in zip(v, _leaf_objects)), "the very objects"))


def _self_list():
    x = [1, 2]
    x.append(x)
    return (x,), {}


def _mutual():
    a, b = [1], [2]
    a.append(b)
    b.append(a)
    return ([0, a],), {}


def _through_tuple():
    x = [1]
    t = (x, 2)
    x.append(t)
    return (t,), {}


def _self_subclass():
    x = ListSpy()
    list.append(x, x)
    return (x,), {}


def _wide_self():
    x = [0] * 5000
    x.append(x)
    return (x,), {}


for label, make in [("self", _self_list), ("mutual", _mutual), ("through-tuple", _through_tuple),
                    ("self-subclass", _self_subclass), ("wide", _wide_self)]:
    add(f"collapse-cycle-{label}", "collapse", make=make, check=raises(ValueError))

# --- backfill ------------------------------------------------------------------

_all_none = [None, None]
_raising_value = Raising()
for label, args, expected in [
    ("example", [None, None, 1, 2, 3, None, 4], [1, 1, 1, 2, 3, 3, 4]),
    ("empty", [], []),
    ("real", [0, None, "", None], [0, 0, "", ""]),
    ("nan", [math.nan, None], [math.nan, math.nan]),
    ("hostile-values", [None, _raising_value, None], [_raising_value] * 3),
]:
    add(f"backfill-{label}", "backfill", args, check=returns_where(
        lambda v, e=expected: len(v) == len(e) and all(a is b or same(a, b) for a, b in zip(v, e)), repr(expected)))
add("backfill-all-none", "backfill", _all_none,
    check=returns_where(lambda v: v == [None, None] and v is not _all_none, "a new list of the Nones"))
add("backfill-list-subclass", "backfill", ListSpy([None, 1, None]),
    check=returns_where(lambda v: type(v) is list and v == [1, 1, 1] and not _list_calls, "[1, 1, 1]"))

# --- backfill_iterdict -----------------------------------------------------------

_spy_key, _spy_key_calls = hostile_str("k")
_DictSpy = type("DictSpy", (dict,), {n: (lambda n: lambda self, *a: raise_(Boom(n)))(n)
                                     for n in ("__iter__", "keys", "items", "values", "__getitem__", "__len__",
                                               "get", "__contains__")})


def _twin_key():
    class Twin(str):
        def __hash__(self):
            return str.__hash__(self) + 1

        def __eq__(self, other):
            return self is other

    return Twin("a")


for label, rows, expected in [
    ("example", [{"a": 1, "b": None}, {"a": 4, "b": 2}, {"a": None, "b": None}],
     [{"a": 1, "b": 2}, {"a": 4, "b": 2}, {"a": 4, "b": 2}]),
    ("empty", [], []),
    ("late-key", [{"b": None, "a": 1}, {"b": 2, "a": 3}], [{"a": 1, "b": 2}, {"b": 2, "a": 3}]),
    ("counts", [{}, {"k": None}, {"k": 1}], [{}, {"k": 1}, {"k": 1}]),
    ("never", [{"a": None}], [{}]),
    ("hostile-values", [{"k": None}, {"k": _raising_value}], [{"k": _raising_value}, {"k": _raising_value}]),
    ("spy-key", [{_spy_key: None}, {_spy_key: 3}], [{"k": 3}, {"k": 3}]),
    ("dict-subclass", [_DictSpy({"a": None}), _DictSpy({"a": 5})], [{"a": 5}, {"a": 5}]),
    ("twin-keys", [{"a": None, _twin_key(): None}, {"a": 1}], [{"a": 1}, {"a": 1}]),
    ("astral-keys", [{"😀": None}, {"😀": "x"}], [{"😀": "x"}, {"😀": "x"}]),
]:
    add(f"backfill_iterdict-{label}", "backfill_iterdict", rows, check=returns_where(
        lambda v, e=expected: same(v, e) and all(type(k) is str for d in v for k in d) and not _spy_key_calls,
        repr(expected)))
add("backfill_iterdict-row-int", "backfill_iterdict", [{"a": 1}, 5], check=mismatch(None, "int", "PyDict"))
add("backfill_iterdict-row-hostile", "backfill_iterdict", [Raising()], check=mismatch(None, "Raising", "PyDict"))
add("backfill_iterdict-row-mapping", "backfill_iterdict", [collections.OrderedDict(a=1), collections.ChainMap({})],
    check=mismatch(None, "ChainMap", "PyDict"))
add("backfill_iterdict-key-int", "backfill_iterdict", [{1: 2}], check=mismatch(None, "int", "PyString"))
add("backfill_iterdict-key-hostile", "backfill_iterdict", [{"a": 1, Raising(): None}],
    check=mismatch(None, "Raising", "PyString"))
add("backfill_iterdict-key-surrogate", "backfill_iterdict", [{"a": None}, {"\ud800": 1}],
    check=raises(UnicodeEncodeError))

# --- same_order ------------------------------------------------------------------


def _clearing_comp():
    comp = ["a", "b", "y"]
    return ([Mutating(comp.clear), "y"], comp), {}


def _clearing_ref():
    ref = []
    ref.extend([Mutating(ref.clear, True), "x"])
    return (ref, ["q", "x"]), {}


def _extending_comp():
    comp = ["a"]
    return ([Mutating(lambda: comp.append("z"))], comp), {}


class _Held:
    def __init__(self):
        self.value = 1


def _drops_comp_element():
    comp = [_Held()]

    def eq(self, other):
        comp.clear()
        return other.value == 1

    cls = type("DropsOther", (), {"__eq__": eq, "__hash__": object.__hash__})
    return ([cls()], comp), {}


def _drops_self():
    ref = []

    def eq(self, other):
        ref.clear()
        return False

    cls = type("DropsSelf", (), {"__eq__": eq, "__hash__": object.__hash__})
    ref.append(cls())
    return (ref, ["a", "b"]), {}


_same = NotImplementedCmp()
_yes_cls = type("Yes", (), {"__eq__": lambda self, other: True, "__hash__": object.__hash__})
for label, args, check in [
    ("example", (["x", "y", "z"], ["x", "a", "b", "y", "d", "z"]), returns(True)),
    ("out-of-order", (["x", "y", "z"], ["x", "z", "y"]), returns(False)),
    ("shorter", (["x", "x"], ["x"]), returns(False)),
    ("nan", ([math.nan], [math.nan]), returns(False)),
    ("equality", ([1], [1.0]), returns(True)),
    ("unhashable", ([[1, 2]], [[1, 2]]), returns(True)),
    ("eq-raises", ([Raising()], ["a"]), raises(Boom)),
    ("comp-eq-raises", (["a"], [Raising()]), raises(Boom)),
    ("eq-non-bool-truthy", ([Answers([1])], ["a"]), returns(True)),
    ("eq-non-bool-falsy", ([Answers("")], ["a"]), returns(False)),
    ("eq-bool-raises", ([Answers(BadBool())], ["a"]), raises(Boom)),
    ("eq-bool-returns-int", ([Answers(BoolReturnsInt())], ["a"]),
     raises(TypeError, "__bool__ should return bool, returned int")),
    ("eq-not-implemented-identity", ([_same], [_same]), returns(True)),
    ("eq-not-implemented-other", ([NotImplementedCmp()], [NotImplementedCmp()]), returns(False)),
    ("eq-not-implemented-reflected", ([NotImplementedCmp()], [_yes_cls()]), returns(True)),
]:
    add(f"same_order-{label}", "same_order", *args, check=check)

for label, make, check in [
    ("clears-comp", _clearing_comp, raises(IndexError, "list index out of range")),
    ("clears-ref", _clearing_ref, raises(IndexError, "list index out of range")),
    ("extends-comp", _extending_comp, returns(False)),
    ("drops-comp-element", _drops_comp_element, returns(True)),
    ("drops-self", _drops_self, returns(False)),
]:
    add(f"same_order-{label}", "same_order", make=make, check=check)

# --- multikeysort ------------------------------------------------------------------

_r1, _r2, _r3 = {"k": 3, "n": "c"}, {"k": 1, "n": "a"}, {"k": 2, "n": "b"}
_rows = [_r1, _r2, _r3]
_no_key = Getter(lambda key: raise_(Boom("getitem")))
_returns_raising = Getter(lambda key: Raising())
_dd = collections.defaultdict(lambda: 0, {"x": 1})
for label, args, expected in [
    ("example", (_rows, "k"), [_r2, _r3, _r1]),
    ("descending", (_rows, ["-k"]), [_r1, _r3, _r2]),
    ("text", (_rows, ("n",)), [_r2, _r3, _r1]),
    ("none-columns", (_rows, None), _rows),
    ("unknown-column", (_rows, ["zz"]), _rows),
    ("bad-columns", (_rows, 5), _rows),
    ("empty", ([], "k"), []),
    ("getitem-raises", ([_r1, _no_key, _r2], "k"), [_no_key, _r2, _r1]),
    ("getitem-raises-desc", ([_r1, _no_key, _r2], "-k"), [_r1, _r2, _no_key]),
    ("non-dicts", ([_r1, 5, None, _shared, _r2], "k"), [5, None, _shared, _r2, _r1]),
    ("defaultdict", ([_r1, _dd], ["k"]), [_dd, _r1]),
]:
    add(f"multikeysort-{label}", "multikeysort", *args, check=returns_where(
        lambda v, e=expected: type(v) is list and len(v) == len(e) and all(a is b for a, b in zip(v, e)),
        repr(expected)))

_raising_items = [{"k": Raising()} for _ in range(5)]
_ni_items = [{"k": NotImplementedCmp()} for _ in range(5)]
_badbool_items = [{"k": Answers(BadBool())} for _ in range(5)]
_index_items = [{"k": Index(3)}, {"k": Index(Boom("i"))}, {"k": Index("x")}, {"k": 1}, {"k": Float(2.5)},
                {"k": Float(Boom("f"))}, {"k": Float("no")}, {"k": decimal.Decimal("1.5")}, {"k": 2 ** 64},
                {"k": 2 ** 2000}, {"k": -(2 ** 2000)}, {"k": math.nan}, {"k": -0.0}]
for label, items in [("lt-raises", _raising_items), ("not-implemented", _ni_items), ("bool-raises", _badbool_items)]:
    # Every comparison comes out equal: the stable sort keeps the input order.
    add(f"multikeysort-{label}", "multikeysort", items, "k", check=returns_where(
        lambda v, e=items: all(a is b for a, b in zip(v, e)) and len(v) == len(e), "the input order"))
add("multikeysort-odd-numbers", "multikeysort", _index_items, "k", check=returns_where(
    lambda v: sorted(map(id, v)) == sorted(map(id, _index_items)), "a permutation"))


def _permutation_of(items):
    ids = sorted(map(id, items))
    return lambda v: v is None or sorted(map(id, v)) == ids


def _clears_during_sort():
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(6))
    return (items, "k"), {}


def _extends_during_sort():
    items = []
    items.extend({"k": Mutating(lambda: items.append({"k": 0}))} for _ in range(4))
    return (items, "k"), {}


def _reverses_during_sort():
    items = []
    items.extend({"k": Mutating(items.reverse, True)} for _ in range(6))
    return (items, "k"), {}


def _shrinks_during_extraction():
    items = []
    items.extend([{"k": 1}, Getter(lambda key: items.clear()), {"k": 2}, {"k": 0}])
    return (items, "k"), {}


def _missing_shrinks():
    items = []
    items.extend([{"k": 1}, Missing(lambda key: items.pop()), {"k": 2}])
    return (items, "k"), {}


def _random_answers():
    import random

    rng = random.Random(7)
    items = [{"k": Mutating(lambda: None, None)} for _ in range(40)]
    for it in items:
        it["k"].answer = rng.random() < 0.5
    return (items, "k"), {}


def _inplace_clears():
    items = []
    items.extend({"k": Mutating(items.clear)} for _ in range(6))
    return (items, "k", True), {}


add("multikeysort-clears-during-sort", "multikeysort", make=_clears_during_sort, check=panics())
add("multikeysort-clears-during-sort-inplace", "multikeysort", make=_inplace_clears, check=panics())
add("multikeysort-extends-during-sort", "multikeysort", make=_extends_during_sort,
    check=returns_where(lambda v: type(v) is list and len(v) == 4, "the four items sorted"))
add("multikeysort-reverses-during-sort", "multikeysort", make=_reverses_during_sort,
    check=returns_where(lambda v: type(v) is list and len(v) == 6, "six items"))
add("multikeysort-shrinks-during-extraction", "multikeysort", make=_shrinks_during_extraction,
    check=raises(IndexError, "list index out of range"))
add("multikeysort-missing-shrinks", "multikeysort", make=_missing_shrinks,
    check=raises(IndexError, "list index out of range"))
add("multikeysort-random-answers", "multikeysort", make=_random_answers,
    check=returns_where(lambda v: type(v) is list and len(v) == 40, "forty items"))

_col_spy, _col_calls = hostile_str("-k")


class _BadSeq:
    def __len__(self):
        raise Boom("len")

    def __getitem__(self, i):
        if i < 1:
            return "k"
        raise Boom("getitem")


class _SeqNonStr:
    def __len__(self):
        return 2

    def __getitem__(self, i):
        return ["k", 5][i] if i < 2 else raise_(IndexError(i))


for label, columns, expected in [
    ("columns-str-subclass", _col_spy, [_r1, _r3, _r2]),
    ("columns-list-of-spies", [_col_spy], [_r1, _r3, _r2]),
    ("columns-bad-sequence", _BadSeq(), _rows),
    ("columns-sequence-non-str", _SeqNonStr(), _rows),
    ("columns-generator-like", iter(["k"]), _rows),
    ("columns-surrogate", "k\ud800", _rows),
    ("columns-mixed-list", ["zz", 5, None, b"k", "\ud800", "k"], [_r2, _r3, _r1]),
]:
    add(f"multikeysort-{label}", "multikeysort", _rows, columns, check=returns_where(
        lambda v, e=expected: all(a is b for a, b in zip(v, e)) and len(v) == len(e) and not _col_calls,
        repr(expected)))

_items_spy = ListSpy([_r1, _r2])
add("multikeysort-list-subclass", "multikeysort", _items_spy, "k",
    check=returns_where(lambda v: type(v) is list and v == [_r2, _r1] and not _list_calls, "a plain list"))

# --- PanicException raised by Python code the module calls ------------------------

_panic_text = "raised from Python"
for label, fn, make in [
    ("same_order-eq", "same_order", lambda: (([RaisesPanic(_panic_text)], ["a"]), {})),
    ("same_order-bool", "same_order", lambda: (([Answers(RaisesPanic(_panic_text))], ["a"]), {})),
    ("multikeysort-lt", "multikeysort", lambda: (([{"k": PanicCmp(_panic_text)}, {"k": (1,)}], "k"), {})),
    ("multikeysort-bool", "multikeysort", lambda: (([{"k": Answers(RaisesPanic(_panic_text))}, {"k": (1,)}], "k"), {})),
    ("multikeysort-missing", "multikeysort",
     lambda: (([{"k": 1}, Missing(lambda key: raise_(panic_type()(_panic_text)))], "k"), {})),
    ("multikeysort-float", "multikeysort", lambda: (([{"k": 1}, {"k": Float(panic_type()(_panic_text))}], "k"), {})),
    ("multikeysort-getitem", "multikeysort",
     lambda: (([{"k": 1}, Getter(lambda key: raise_(panic_type()(_panic_text)))], "k"), {})),
    ("multikeysort-index", "multikeysort", lambda: (([{"k": 1}, {"k": RaisesPanic(_panic_text)}], "k"), {})),
    ("inplace-flag", "multikeysort",
     lambda: (([], "k", numpy_like_bool(bool_method=lambda self: raise_(panic_type()(_panic_text)))()), {})),
]:
    add(f"panic-{label}", fn, make=make, check=panics(_panic_text), needs_panic=True,
        needs_body=not label.startswith("inplace"))

BY_NAME = {c.name: c for c in CASES}
assert len(BY_NAME) == len(CASES), "case names must be unique"
