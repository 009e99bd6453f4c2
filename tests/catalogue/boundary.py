"""Catalogue cases of the call boundary: binding errors of every function, conversion
errors of every parameter kind, and the boolean flag.
"""
import inspect

import _tavo
from catalogue import PANIC_TEXT, case_list, mismatch, module_names, panics, probes_of, raises, returns, truth_error
from hostile_kit import Boom, Raising, UnprintableArg, hostile_str, numpy_like_bool, panic_type, raise_

CASES, add = case_list()

# --- binding errors, for every function -------------------------------------

# Parameter names and how many are required, from the text signatures (which
# test_boundary.py checks against the description the module binds by).
SIGS = {fn: [p.name for p in inspect.signature(getattr(_tavo, fn)).parameters.values()]
        for fn in _tavo.__all__ if fn != "collapse"}
REQUIRED = {fn: sum(p.default is inspect.Parameter.empty
                    for p in inspect.signature(getattr(_tavo, fn)).parameters.values()) for fn in SIGS}
# Arguments that bind: each function's PROBE, given by its own catalogue module.
_PROBE = probes_of([n for n in module_names() if n != __name__.rpartition(".")[2]])
VALID = {fn: list(_PROBE[fn]) for fn in SIGS}


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
    R = REQUIRED[fn]
    valid = VALID[fn]
    many = valid + [0] * (P - len(valid)) + [0]
    if R == P:
        too_many = f"{fn}() takes {P} positional arguments but {P + 1} were given"
    else:
        too_many = f"{fn}() takes from {R} to {P} positional arguments but {P + 1} were given"
    add(f"{fn}-too-many", fn, *many, check=raises(TypeError, too_many))
    add(f"{fn}-unexpected-kw", fn, *valid[:R], kwargs={"bogus": 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument 'bogus'"))
    add(f"{fn}-kw-surrogate", fn, *valid[:R], kwargs={"a\udcffb": 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument 'a\ufffd\ufffd\ufffdb'"))
    add(f"{fn}-kw-unprintable", fn, *valid[:R], kwargs={_KwStr("zz"): 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument '<unprintable _KwStr object>'"))
    add(f"{fn}-kw-str-non-str", fn, *valid[:R], kwargs={_KwStrNonStr("zz"): 1},
        check=raises(TypeError,
                     f"{fn}() got an unexpected keyword argument '<unprintable _KwStrNonStr object>'"))
    add(f"{fn}-kw-str-shown", fn, *valid[:R], kwargs={_KwStrOther("zz"): 1},
        check=raises(TypeError, f"{fn}() got an unexpected keyword argument 'shown'"))
    add(f"{fn}-multiple", fn, *valid[:R], kwargs={params[0]: valid[0]},
        check=raises(TypeError, f"{fn}() got multiple values for argument '{params[0]}'"))
    missing = params[:R]
    listed = " and ".join(f"'{p}'" for p in missing)
    add(f"{fn}-missing", fn,
        check=raises(TypeError, f"{fn}() missing {R} required positional argument{'s' if R > 1 else ''}: {listed}"))

add("collapse-kw", "collapse", 1, [2], kwargs={"x": 3},
    check=raises(TypeError, "collapse() got an unexpected keyword argument 'x'"))
add("collapse-kw-args", "collapse", kwargs={"args": 3},
    check=raises(TypeError, "collapse() got an unexpected keyword argument 'args'"))

# --- conversion errors ---------------------------------------------------------


class Outer:
    class Inner:
        pass


for fn, param in [("parse", "s"), ("sanitize_vulgar_string", "s"), ("uncamel", "camel"),
                  ("underscore_to_camelcase", "s")]:
    for bad, qual in [(5, "int"), (None, "NoneType"), (b"x", "bytes"), (["x"], "list"),
                      (Outer.Inner(), "Outer.Inner"), (Raising(), "Raising")]:
        add(f"{fn}-not-str-{qual}", fn, bad, check=mismatch(param, qual, "PyString"))
    add(f"{fn}-surrogate", fn, "ab\ud800cd", check=raises(UnicodeEncodeError))
    add(f"{fn}-surrogate-kw", fn, kwargs={param: "\udfff"}, check=raises(UnicodeEncodeError))

for fn, pos, param in [("backfill", 0, "values"), ("backfill_iterdict", 0, "iterdict"),
                       ("same_order", 0, "ref_list"), ("same_order", 1, "comp"),
                       ("multikeysort", 0, "items")]:
    for bad, qual in [("abc", "str"), ((None, 1), "tuple"), ({}, "dict"), (None, "NoneType"),
                      (range(3), "range"), (Raising(), "Raising")]:
        args = list(VALID[fn][:REQUIRED[fn]])
        args[pos] = bad
        add(f"{fn}-{param}-not-list-{qual}", fn, *args, check=mismatch(param, qual, "PyList"))

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


def _keeps_the_cause(o):
    raises(TypeError, "argument 'inplace': with a cause")(o)
    assert o.exc.__cause__ is _cause, "the cause is kept"
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
     raises(TypeError, "argument 'inplace': " + truth_error(_fake_bool_returns_int()))),
    ("numpy-unprintable", _fake_bool_unprintable(),
     raises(TypeError, "argument 'inplace': <unprintable TypeError object>")),
    ("numpy-cause", _fake_bool_cause(), _keeps_the_cause),
    ("numpy-other-name", _fake_other_name(), mismatch("inplace", "int64", "PyBool")),
    ("not-numpy", _not_numpy(), mismatch("inplace", "bool_", "PyBool")),
    ("module-raises", _module_raises(), mismatch("inplace", "bool_", "PyBool")),
    ("module-not-str", _module_not_str(), mismatch("inplace", "bool_", "PyBool")),
]:
    add(f"multikeysort-inplace-{label}", "multikeysort", [], "a", flag, check=check)
    add(f"multikeysort-inplace-kw-{label}", "multikeysort", [], None, kwargs={"inplace": flag}, check=check)

# Fallbacks of the flag check discard only ordinary exceptions: a MemoryError
# reading __module__, or a SystemExit showing the text of the error, ends the call.
_module_memory_error = type("_ModuleMemoryError", (type,), {
    "__module__": property(lambda cls: raise_(MemoryError("from __module__")))})("bool_", (), {})
_fake_bool_exit_text = numpy_like_bool(bool_method=lambda self: raise_(TypeError(_ExitOnStr())))
add("multikeysort-inplace-module-memory-error", "multikeysort", [], "a", _module_memory_error(),
    check=raises(MemoryError, "from __module__"))
add("multikeysort-inplace-text-exits", "multikeysort", [], "a", _fake_bool_exit_text(),
    check=raises(SystemExit, "from __str__"))

add("multikeysort-items-before-inplace", "multikeysort", 5, None, None,
    check=mismatch("items", "int", "PyList"))
add("multikeysort-inplace-numpy-ok", "multikeysort", [{"a": 2}, {"a": 1}], "a", _fake_bool_ok(),
    check=returns(None))
add("multikeysort-inplace-numpy-named-bool", "multikeysort", [{"a": 2}, {"a": 1}], "a",
    _fake_bool_named_bool(), check=returns([{"a": 1}, {"a": 2}]))
add("multikeysort-inplace-module-str-subclass", "multikeysort", [{"a": 2}, {"a": 1}], "a",
    _module_str_sub(), check=returns([{"a": 1}, {"a": 2}]))


# A PanicException raised by the flag's truth test ends the call as it is.
add("panic-inplace-flag", "multikeysort",
    make=lambda: (([], "k", numpy_like_bool(bool_method=lambda self: raise_(panic_type()(PANIC_TEXT)))()), {}),
    check=panics(PANIC_TEXT))
