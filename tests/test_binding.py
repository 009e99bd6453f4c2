"""Argument binding and the conversion of arguments, with their exact messages."""
import pytest

import _tavo


def message(call):
    with pytest.raises(TypeError) as info:
        call()
    assert type(info.value) is TypeError
    return str(info.value)


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: _tavo.parse(), "parse() missing 1 required positional argument: 's'"),
        (lambda: _tavo.same_order(), "same_order() missing 2 required positional arguments: 'ref_list' and 'comp'"),
        (lambda: _tavo.same_order([]), "same_order() missing 1 required positional argument: 'comp'"),
        (lambda: _tavo.same_order(comp=[]), "same_order() missing 1 required positional argument: 'ref_list'"),
        (lambda: _tavo.multikeysort(), "multikeysort() missing 2 required positional arguments: 'items' and 'columns'"),
        (lambda: _tavo.multikeysort(inplace=True), "multikeysort() missing 2 required positional arguments: 'items' and 'columns'"),
        (lambda: _tavo.parse("a", "b"), "parse() takes 1 positional arguments but 2 were given"),
        (lambda: _tavo.same_order([], [], []), "same_order() takes 2 positional arguments but 3 were given"),
        (lambda: _tavo.multikeysort(1, 2, 3, 4), "multikeysort() takes from 2 to 3 positional arguments but 4 were given"),
        # too many is reported before any keyword is looked at
        (lambda: _tavo.uncamel("a", "b", bogus=1), "uncamel() takes 1 positional arguments but 2 were given"),
        (lambda: _tavo.parse(x=1), "parse() got an unexpected keyword argument 'x'"),
        (lambda: _tavo.uncamel(Camel="x"), "uncamel() got an unexpected keyword argument 'Camel'"),
        (lambda: _tavo.parse("1", s="1"), "parse() got multiple values for argument 's'"),
        (lambda: _tavo.multikeysort([], "a", False, inplace=True), "multikeysort() got multiple values for argument 'inplace'"),
        (lambda: _tavo.collapse(1, 2, x=3), "collapse() got an unexpected keyword argument 'x'"),
        (lambda: _tavo.collapse(args=3), "collapse() got an unexpected keyword argument 'args'"),
        (lambda: _tavo.uncamel(**{"\udcff": 1}), "uncamel() got an unexpected keyword argument '\ufffd\ufffd\ufffd'"),
        (lambda: _tavo.uncamel(**{"a\ud800b": 1}), "uncamel() got an unexpected keyword argument 'a\ufffd\ufffd\ufffdb'"),
        (lambda: _tavo.backfill(values=[], extra=1), "backfill() got an unexpected keyword argument 'extra'"),
    ],
)
def test_binding_messages(call, expected):
    assert message(call) == expected


def test_was_for_a_single_argument():
    # The singular only shows for a function taking no named parameters, which
    # none has; the plural after the count is kept for one parameter too.
    assert message(lambda: _tavo.backfill([], [])) == "backfill() takes 1 positional arguments but 2 were given"


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: _tavo.uncamel(5), "argument 'camel': 'int' object cannot be converted to 'PyString'"),
        (lambda: _tavo.underscore_to_camelcase(b"x"), "argument 's': 'bytes' object cannot be converted to 'PyString'"),
        (lambda: _tavo.sanitize_vulgar_string(None), "argument 's': 'NoneType' object cannot be converted to 'PyString'"),
        (lambda: _tavo.parse(s=5), "argument 's': 'int' object cannot be converted to 'PyString'"),
        (lambda: _tavo.backfill("abc"), "argument 'values': 'str' object cannot be converted to 'PyList'"),
        (lambda: _tavo.backfill((None, 1)), "argument 'values': 'tuple' object cannot be converted to 'PyList'"),
        (lambda: _tavo.backfill_iterdict({}), "argument 'iterdict': 'dict' object cannot be converted to 'PyList'"),
        (lambda: _tavo.same_order(("x",), ["x"]), "argument 'ref_list': 'tuple' object cannot be converted to 'PyList'"),
        (lambda: _tavo.same_order([], "x"), "argument 'comp': 'str' object cannot be converted to 'PyList'"),
        (lambda: _tavo.multikeysort((), "a"), "argument 'items': 'tuple' object cannot be converted to 'PyList'"),
        (lambda: _tavo.multikeysort([], "a", None), "argument 'inplace': 'NoneType' object cannot be converted to 'PyBool'"),
        (lambda: _tavo.multikeysort([], ["a"], 1), "argument 'inplace': 'int' object cannot be converted to 'PyBool'"),
        (lambda: _tavo.multikeysort([], None, inplace=0), "argument 'inplace': 'int' object cannot be converted to 'PyBool'"),
        # items is converted before inplace
        (lambda: _tavo.multikeysort(5, None, None), "argument 'items': 'int' object cannot be converted to 'PyList'"),
    ],
)
def test_conversion_messages(call, expected):
    assert message(call) == expected


class Outer:
    class Inner:
        pass


def test_qualified_type_name():
    assert message(lambda: _tavo.backfill(Outer.Inner())) == (
        "argument 'values': 'Outer.Inner' object cannot be converted to 'PyList'"
    )
    assert message(lambda: _tavo.uncamel(Outer())) == (
        "argument 'camel': 'Outer' object cannot be converted to 'PyString'"
    )


@pytest.mark.parametrize("fn", [_tavo.uncamel, _tavo.underscore_to_camelcase, _tavo.sanitize_vulgar_string, _tavo.parse])
def test_lone_surrogate_is_the_interpreters_error(fn):
    with pytest.raises(UnicodeEncodeError) as info:
        fn("ab\ud800")
    assert "surrogates not allowed" in str(info.value)
    assert not str(info.value).startswith("argument")


def numpy_bools():
    np = pytest.importorskip("numpy")
    return np


@pytest.mark.parametrize("flag", [True, False])
def test_numpy_bool_is_a_flag(flag):
    np = numpy_bools()
    try:
        _tavo.multikeysort([], "a", np.bool_(flag))
    except NotImplementedError:
        pass


def test_numpy_non_bool_is_refused():
    np = numpy_bools()
    assert message(lambda: _tavo.multikeysort([], "a", np.int64(1))) == (
        "argument 'inplace': 'int64' object cannot be converted to 'PyBool'"
    )


def test_bool_subclass_like_objects_are_refused():
    class Truthy:
        def __bool__(self):
            return True

    assert message(lambda: _tavo.multikeysort([], "a", Truthy())).endswith("cannot be converted to 'PyBool'")


def test_fake_numpy_type_without_truth_slot():
    # A type that claims to be NumPy's boolean but has no truth slot.
    fake = type("bool_", (), {"__module__": "numpy"})
    assert message(lambda: _tavo.multikeysort([], "a", fake())) == (
        "argument 'inplace': object of type '<class 'numpy.bool_'>' does not define a '__bool__' conversion"
    )


class _ModuleRaises(type):
    """A metaclass whose __module__ (read for the flag check) raises `exc`."""

    exc = None

    @property
    def __module__(cls):
        raise cls.exc


class _UnprintableBy:
    """An exception argument whose str() raises `exc`."""

    def __init__(self, exc):
        self.exc = exc

    def __str__(self):
        raise self.exc


def _flag_whose_module_raises(exc):
    t = _ModuleRaises("bool_", (), {})
    t.exc = exc
    return t()


def _numpy_bool_raising_type_error_with(arg):
    def truth(self):
        raise TypeError(arg)

    return type("bool_", (), {"__module__": "numpy", "__bool__": truth})()


# Where the binder falls back on an ordinary failure (a __module__ that cannot
# be read, an exception text that cannot be shown), an interrupt, an exit and
# MemoryError are not discarded: the call ends with them.
@pytest.mark.parametrize("exc_type", [KeyboardInterrupt, SystemExit, MemoryError, RecursionError])
@pytest.mark.parametrize(
    "call",
    [
        lambda e: _tavo.multikeysort([], "a", _flag_whose_module_raises(e)),
        lambda e: _tavo.multikeysort([], "a", _numpy_bool_raising_type_error_with(_UnprintableBy(e))),
    ],
    ids=["flag-module", "prefix-display"],
)
def test_binding_fallbacks_keep_what_must_end_the_call(call, exc_type):
    raised = exc_type("from Python")
    with pytest.raises(exc_type) as info:
        call(raised)
    assert info.value is raised


@pytest.mark.parametrize(
    "call, expected",
    [
        (lambda: _tavo.multikeysort([], "a", _flag_whose_module_raises(ValueError("no module"))),
         "argument 'inplace': 'bool_' object cannot be converted to 'PyBool'"),
        (lambda: _tavo.multikeysort([], "a", _numpy_bool_raising_type_error_with(_UnprintableBy(ValueError()))),
         "argument 'inplace': <unprintable TypeError object>"),
    ],
    ids=["flag-module", "prefix-display"],
)
@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_binding_fallbacks_discard_ordinary_errors(call, expected):
    assert message(call) == expected


class _SelfNamed(str):
    """A str subclass whose str() fails and whose type is named by an
    instance of itself: showing the name the usual way would fail endlessly."""

    def __str__(self):
        raise ValueError("no text")


_SelfNamed.__name__ = _SelfNamed("SelfNamed")


@pytest.mark.filterwarnings("ignore::pytest.PytestUnraisableExceptionWarning")
def test_unprintable_keyword_name_of_a_self_named_type():
    assert message(lambda: _tavo.uncamel(**{_SelfNamed("bad"): 1})) == \
        "uncamel() got an unexpected keyword argument '<unprintable SelfNamed object>'"
