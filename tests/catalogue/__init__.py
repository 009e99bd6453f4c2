"""A catalogue of calls into the package's native functions, each with the
outcome it must have, and the inputs of every sweep that runs every function.

To add a function: its catalogue module here, with its CASES and its entry in
each table below (PROBE, NOMEMORY, HAMMER, STRESS, FUZZ, SCALE); nothing else in
tests/, fuzz/ or bench/: test_boundary.py fails until every table has it.

A function's catalogue name is its name in _tavo ("uncamel"), or the dotted
path of a module of the package and its attribute there
("tavo._native.columns_uncamel"); `resolve` turns it into the function.

Every function appears on its success paths, on every binding and conversion
error, and under hostile objects. The cases live beside their function, one
module a function or two (boundary.py holds the binding and conversion errors
of _tavo's nine, column_functions.py the column functions of tavo._native); the same cases drive three checks: each function's test file
runs its cases once and checks their outcomes (`test_catalogue`),
test_refleaks.py runs every case many times and checks that nothing leaks, and
test_threads.py runs them from many threads at once.

A case either has fixed `args` (the same objects on every call, so a leak of a
reference to them shows in their reference counts) or a `make` factory that
builds fresh arguments per call (for calls that mutate their input, or inputs
that are read once, like an Arrow stream). A case's `then` is applied to the
result within the call (a column is read back, so its export runs too).

Beside CASES, a function's module gives each of its functions the inputs of
the sweeps that run every function:

- PROBE: function -> arguments of a plain call that succeeds (the binding
  errors of boundary.py start from them; the bench checks that a function
  works with them, and times them when it has no cases of its own);
- NOMEMORY: name -> factory of one call (see `fresh`) whose every allocation
  test_nomemory.py makes fail in turn;
- HAMMER: function -> a call without arguments that test_threads.py makes from
  many threads at once on the same objects;
- STRESS: name (starting with its function's) -> a factory of the
  stress_kit.Scenario that test_threads.py runs with callers and mutators;
- FUZZ: function -> a fuzz target taking a FuzzedDataProvider (fuzz/fuzz_tavo.py
  runs them under libFuzzer; test_boundary.py runs them on random bytes);
- SCALE: name -> (function, setup code defining `args` (and `kwargs`, if any), check expression on
  the result `r`, extra memory allowed as a multiple of the input's) for
  test_large_inputs.py.

Modules are found by name: every module of this package is read.
"""
import importlib
import pkgutil
import sys

import _tavo
from hostile_kit import Boom, ListSub, hostile_str, is_panic, raise_
from models import same


class Outcome:
    __slots__ = ("value", "exc")

    def __init__(self, value=None, exc=None):
        self.value = value
        self.exc = exc

    def describe(self):
        if self.exc is not None:
            return f"raised {type(self.exc).__qualname__}: {self.exc}"
        return f"returned {self.value!r}"


def resolve(name):
    """The function a catalogue name stands for: _tavo's for a bare name, else
    the attribute of a module of the package. A native module of the package
    built beside the tests rather than installed ("_native" for
    "tavo._native") is found too."""
    module, _, attr = name.rpartition(".")
    if not module:
        return getattr(_tavo, attr)
    return getattr(native_module(module), attr)


def native_module(module):
    """The module `module` ("tavo._native"), or its top-level build ("_native")."""
    try:
        return importlib.import_module(module)
    except ImportError:
        if not module.startswith("tavo."):
            raise
        return importlib.import_module(module[len("tavo."):])


def has_module(module):
    try:
        native_module(module)
    except ImportError:
        return False
    return True


class Case:
    def __init__(self, name, func, args=(), kwargs=None, make=None, check=None, tracked=(), then=None):
        self.name = name
        self.func = func
        self.fn = resolve(func)
        self.then = then
        self.args = args
        self.kwargs = kwargs or {}
        self.make = make
        self.check = check
        self.extra_tracked = tracked

    def __repr__(self):
        return self.name

    def arguments(self):
        return self.make() if self.make is not None else (self.args, self.kwargs)

    def call(self):
        """One call; returns nothing, swallows every exception."""
        args, kwargs = self.arguments()
        try:
            out = self.fn(*args, **kwargs)
            if self.then is not None:
                self.then(out)
        except BaseException:  # noqa: BLE001 - every outcome is fine here; check() judges it
            pass

    def outcome(self):
        args, kwargs = self.arguments()
        try:
            out = self.fn(*args, **kwargs)
            return Outcome(value=out if self.then is None else self.then(out))
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


def case_list():
    """A module's list of cases and the function that adds one to it."""
    cases = []

    def add(name, func, *args, check, kwargs=None, make=None, tracked=(), then=None):
        cases.append(Case(name, func, args, kwargs, make, check, tracked, then))

    return cases, add


def run(case):
    """One call of `case`, its outcome checked."""
    # Some calls report an unprintable object through the unraisable hook;
    # pytest's own hook cannot show objects whose repr raises.
    old_hook = sys.unraisablehook
    sys.unraisablehook = lambda unraisable: None
    try:
        outcome = case.outcome()
    finally:
        sys.unraisablehook = old_hook
    case.check(outcome)
    return outcome


def parametrize(cases):
    """The test of a function's catalogue cases: `@catalogue.parametrize(catalogue.collapse.CASES)`."""
    import pytest  # here only: the fuzzer and the bench read the catalogue without pytest

    return pytest.mark.parametrize("case", cases, ids=[c.name for c in cases])


# --- checks --------------------------------------------------------------------


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


def truth_error(obj):
    """The interpreter's own message for a truth test of `obj` that fails (its
    wording changes between versions: 3.15 names the type)."""
    try:
        bool(obj)
    except TypeError as e:
        return str(e)
    raise AssertionError(f"bool({obj!r}) did not raise TypeError")


def panics(text=None):
    def check(o):
        assert o.exc is not None and is_panic(o.exc, text), f"{o.describe()}, expected PanicException {text!r}"

    return check


def mismatch(param, qualname, target):
    prefix = f"argument '{param}': " if param else ""
    return raises(TypeError, f"{prefix}'{qualname}' object cannot be converted to '{target}'")


def add_text_cases(add, fn, param, pairs):
    """A text function's (text, result) pairs; the second one also as a str
    subclass whose every method raises (the text is read directly) and by keyword."""
    for i, (text, expected) in enumerate(pairs):
        add(f"{fn}-ok-{i}", fn, text, check=returns(expected))
    text, expected = pairs[1]
    spy, calls = hostile_str(text)
    add(f"{fn}-str-subclass", fn, spy,
        check=returns_where(lambda v, e=expected, c=calls: same(v, e) and not c, f"{expected!r}, no calls"))
    add(f"{fn}-by-keyword", fn, kwargs={param: text}, check=returns(expected))


# --- list and tuple subclasses whose every reading method raises -----------------

# The names of the spied methods called so far (by any case): the module reads
# lists and tuples directly, so this stays empty.
list_calls = []
ListSpy = type("ListSpy", (list,), {n: (lambda n: lambda self, *a: (list_calls.append(n), raise_(Boom(n))))(n)
                                    for n in ("__iter__", "__len__", "__getitem__", "__reversed__")})
TupleSpy = type("TupleSpy", (tuple,), {n: (lambda n: lambda self, *a: (list_calls.append(n), raise_(Boom(n))))(n)
                                       for n in ("__iter__", "__len__", "__getitem__")})
PANIC_TEXT = "raised from Python"


# The text that HAMMER calls of text functions share.
HAMMER_TEXT = "getHTTPResponse_code 4\u00be cups, \u2153 tsp USD (1,234.50) " * 20


def fresh(fn, *args, **kwargs):
    """A NOMEMORY factory calling the function of catalogue name `fn` on fresh
    copies of the arguments: it returns (function, args, kwargs, inputs,
    in_place), where `inputs` must come out of the call unchanged."""

    def make():
        a = build(args)
        kw = build(kwargs)
        return resolve(fn), a, kw, (a, kw), False

    return make


def build(x):
    """A fresh copy of a nest of lists, tuples and dicts (leaves shared)."""
    if isinstance(x, list) and type(x) in (list, ListSub):
        return type(x)(build(v) for v in x)
    if type(x) is tuple:
        return tuple(build(v) for v in x)
    if type(x) is dict:
        return {k: build(v) for k, v in x.items()}
    return x


def _merged(attr, modules=None):
    merged = {}
    for m in MODULES if modules is None else modules:
        for name, value in getattr(m, attr, {}).items():
            assert name not in merged, f"{attr}: {name} given twice"
            merged[name] = value
    return merged


def module_names():
    return sorted(m.name for m in pkgutil.iter_modules(__path__))


def probes_of(names):
    """PROBE of the modules `names` (for a module that needs the others' while
    the catalogue is still being read)."""
    return _merged("PROBE", [importlib.import_module(f"{__name__}.{n}") for n in names])


MODULES = [importlib.import_module(f"{__name__}.{n}") for n in module_names()]
CASES = [c for m in MODULES for c in m.CASES]
BY_NAME = {c.name: c for c in CASES}
assert len(BY_NAME) == len(CASES), "case names must be unique"


PROBE = _merged("PROBE")
NOMEMORY = _merged("NOMEMORY")
HAMMER = _merged("HAMMER")
STRESS = _merged("STRESS")
FUZZ = _merged("FUZZ")
SCALE = _merged("SCALE")
# The functions of the catalogue: _tavo's in its order, then the package's.
FUNCTIONS = sorted(PROBE, key=lambda n: ("." in n, _tavo.__all__.index(n) if "." not in n else 0, n))
SWEEPS = {"PROBE": PROBE, "NOMEMORY": NOMEMORY, "HAMMER": HAMMER, "STRESS": STRESS, "FUZZ": FUZZ, "SCALE": SCALE}


def native_functions():
    """Every public function of the native modules, by module: _tavo and the
    package's (tavo._native), which the catalogue must cover."""
    found = {"_tavo": [getattr(_tavo, n) for n in _tavo.__all__]}
    for module in ("tavo._native",):
        if has_module(module):
            m = native_module(module)
            found[module] = [v for n, v in sorted(vars(m).items())
                             if not n.startswith("_") and callable(v) and not isinstance(v, type)]
    return found
