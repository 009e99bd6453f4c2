"""The call boundary and its errors: the module object, its function table and its
import rules; argument binding and the conversion of arguments, with their exact
messages; internal failures raised as PanicException, and a PanicException raised
by Python code that the module calls; exhausted memory."""
import ast
import contextlib
import ctypes
import gc
import inspect
import os
import pathlib
import re
import subprocess
import sys
import sysconfig
import textwrap
import threading

import pytest

import _tavo
import catalogue
from fuzz_kit import RandomData
from hostile_kit import Answers, Boom, DistinctKey, RaisesPanic, hostile_str, is_panic, panic_type


REPO = pathlib.Path(__file__).resolve().parent.parent
STUB = REPO / "stubs" / "_tavo-stubs" / "__init__.pyi"


def stub_functions():
    """The stub's `__all__` and, for each function, the parameter lists of its
    definitions (overloads included) as (name, kind, default) with kind one of
    inspect.Parameter's and default `inspect.Parameter.empty`, a constant, or
    Ellipsis; and its docstring."""
    tree = ast.parse(STUB.read_text(encoding="utf-8"))
    names, funcs = None, {}
    for node in tree.body:
        if isinstance(node, ast.Assign) and [t.id for t in node.targets] == ["__all__"]:
            names = ast.literal_eval(node.value)
        elif isinstance(node, ast.FunctionDef):
            a = node.args
            assert not a.posonlyargs and not a.kwonlyargs and a.kwarg is None, node.name
            defaults = [inspect.Parameter.empty] * (len(a.args) - len(a.defaults)) + [
                d.value if isinstance(d, ast.Constant) else Ellipsis for d in a.defaults]
            params = [(p.arg, inspect.Parameter.POSITIONAL_OR_KEYWORD, d) for p, d in zip(a.args, defaults)]
            if a.vararg is not None:
                params.append((a.vararg.arg, inspect.Parameter.VAR_POSITIONAL, inspect.Parameter.empty))
            entry = funcs.setdefault(node.name, {"overloads": [], "doc": None})
            entry["overloads"].append(params)
            entry["doc"] = entry["doc"] or ast.get_docstring(node, clean=False)
    return names, funcs


STUB_ALL, STUB_FUNCTIONS = stub_functions()
# The function table's order, as the stub lists it (checked against the module below).
NAMES = list(STUB_ALL)


def owner(entry):
    """The catalogue function a STRESS scenario belongs to: the longest one its name starts with."""
    return max((f for f in catalogue.FUNCTIONS if entry.startswith(f)), key=len, default=None)


@pytest.mark.parametrize("name", catalogue.FUNCTIONS)
def test_every_sweep_runs_every_function(name):
    # A function's catalogue module gives it to the sweeps; one left out is caught here.
    fn = catalogue.resolve(name)
    assert any(c.func == name for c in catalogue.CASES)
    assert any(make()[0] is fn for make in catalogue.NOMEMORY.values())
    assert name in catalogue.HAMMER
    assert any(owner(s) == name for s in catalogue.STRESS)
    assert name in catalogue.FUZZ
    assert any(f == name for f, *_ in catalogue.SCALE.values())
    fn(*catalogue.PROBE[name])  # the probe is a call that works


def test_catalogue_lists_every_native_function():
    # _tavo's nine and every function of the package's native modules, compared by identity
    listed = {id(catalogue.resolve(n)) for n in catalogue.FUNCTIONS}
    missing = [f"{module}.{f.__name__}" for module, functions in catalogue.native_functions().items()
               for f in functions if id(f) not in listed]
    assert not missing, f"functions without a catalogue module: {missing}"
    assert [n for n in catalogue.FUNCTIONS if "." not in n] == _tavo.__all__
    # and the tables name no other function
    for table in ("HAMMER", "FUZZ"):
        assert set(catalogue.SWEEPS[table]) <= set(catalogue.FUNCTIONS), table
    assert all(owner(s) for s in catalogue.STRESS), list(catalogue.STRESS)
    assert {f for f, *_ in catalogue.SCALE.values()} <= set(catalogue.FUNCTIONS)
    assert {c.func for c in catalogue.CASES} <= set(catalogue.FUNCTIONS)


@pytest.mark.parametrize("name", catalogue.FUNCTIONS)
def test_fuzz_target_on_random_data(name):
    # the fuzzer's target of each function (fuzz/fuzz_tavo.py), over random bytes rather than
    # libFuzzer's: a target that fails or no longer runs shows here first
    for seed in range(150):
        catalogue.FUZZ[name](RandomData(seed))


def binding_error(fn, *args, **kwargs):
    """The TypeError text of a call that binding refuses, or None when binding accepts it."""
    try:
        fn(*args, **kwargs)
    except TypeError as e:
        text = str(e)
        return None if text.startswith("argument ") else text
    except Exception:  # noqa: BLE001 - bound, then refused by a conversion or the body
        return None
    return None


def described(fn):
    """The function's description as the module binds by it: positional parameter
    names in order, how many are required, and whether it takes *args. Read from
    binding errors only: 'missing ... required positional arguments', 'takes N
    positional arguments' and 'got multiple values for argument'."""
    name = fn.__name__
    missing = binding_error(fn)
    required = []
    if missing is not None:
        m = re.fullmatch(rf"{name}\(\) missing (\d+) required positional arguments?: (.*)", missing)
        assert m, missing
        required = re.findall(r"'([^']*)'", m.group(2))
        assert len(required) == int(m.group(1)), missing
    many = binding_error(fn, *[None] * 40)
    if many is None:
        return {"positional": [], "required": 0, "varargs": True}
    m = re.fullmatch(rf"{name}\(\) takes (?:from (\d+) to )?(\d+) positional arguments? but 40 were given", many)
    assert m, many
    count = int(m.group(2))
    assert int(m.group(1) or count) == len(required), many
    return {"count": count, "required": len(required), "required_names": required, "varargs": False}


@pytest.mark.parametrize("name", NAMES)
def test_description_docstring_and_stub_agree(name):
    """One signature in four places: the description the module binds by
    (module.cpp), the docstring's signature line (`__text_signature__`), the
    stub, and the docstring's summary, each checked against the others."""
    fn = getattr(_tavo, name)
    signature = inspect.signature(fn)  # parsed from the docstring's first line
    params = [(p.name, p.kind, p.default) for p in signature.parameters.values()]
    positional = [p for p in params if p[1] == inspect.Parameter.POSITIONAL_OR_KEYWORD]
    # the description
    d = described(fn)
    assert d["varargs"] == any(p[1] == inspect.Parameter.VAR_POSITIONAL for p in params)
    assert set(p[1] for p in params) <= {inspect.Parameter.POSITIONAL_OR_KEYWORD, inspect.Parameter.VAR_POSITIONAL}
    if not d["varargs"]:
        assert d["count"] == len(positional)
        assert d["required_names"] == [p[0] for p in positional if p[2] is inspect.Parameter.empty]
        assert d["required"] == len(d["required_names"])
        for i, (pname, _, _) in enumerate(positional):
            # the name at position i: given both ways, binding names it
            assert binding_error(fn, *[None] * (i + 1), **{pname: None}) == (
                f"{name}() got multiple values for argument '{pname}'")
    else:
        assert not positional
        assert binding_error(fn, x=1) == f"{name}() got an unexpected keyword argument 'x'"
    # the stub: the same names and kinds in every overload; a default where the
    # docstring gives one, with the same value where the stub spells it out
    stub = STUB_FUNCTIONS[name]
    for overload in stub["overloads"]:
        assert [(n, k) for n, k, _ in overload] == [(n, k) for n, k, _ in params]
    for i, (pname, _, default) in enumerate(params):
        stub_defaults = {o[i][2] for o in stub["overloads"]} - {inspect.Parameter.empty}
        if default is inspect.Parameter.empty:
            assert not stub_defaults, pname
        else:
            assert stub_defaults and stub_defaults <= {default, Ellipsis}, pname
    assert inspect.cleandoc(stub["doc"]) == inspect.cleandoc(fn.__doc__)


def test_stub_lists_the_module():
    assert STUB_ALL == _tavo.__all__
    assert list(STUB_FUNCTIONS) == _tavo.__all__


DOCS = {
    "parse": "Extract number from string.\n\nArgs:\n    s: String to parse.\n\nReturns:\n"
    "    Parsed int or float, or None if parsing fails.\n\nExamples:\n    >>> parse('1,200m')\n"
    "    1200\n    >>> parse('100.0')\n    100.0\n    >>> parse('(1)')\n    -1",
    "multikeysort": "Sort list of dictionaries by multiple keys.\n\nUses pre-extracted values for O(n) "
    "extraction instead of O(n log n).\n\nArgs:\n    items: List of dictionaries to sort.\n"
    "    columns: List of column names (prefix with '-' for descending).\n    inplace: If True, "
    "sort in place; otherwise return new sorted list.\n\nReturns:\n    Sorted list if "
    "inplace=False, otherwise None.",
    "sanitize_vulgar_string": "Replace vulgar fractions with decimal equivalents.\n\nConverts number "
    "and vulgar fraction combinations to number and decimal.\n\nArgs:\n    s: String containing "
    "vulgar fractions.\n\nReturns:\n    String with fractions converted to decimals.\n\n"
    "Examples:\n    >>> sanitize_vulgar_string(\"Foo-Bar+Baz: 17s 4\u00be 1 \u215b 20 93\u00be - "
    "94\u215b\")\n    'Foo-Bar+Baz: 17s 4.75 1.125 20 93.75 - 94.125'\n    >>> "
    "sanitize_vulgar_string(\"\u2153 cup\")\n    '0.333333 cup'",
    "uncamel": "Convert camelCase to snake_case.\n\nArgs:\n    camel: CamelCase string.\n\nReturns:\n"
    "    snake_case string.\n\nExamples:\n    >>> uncamel('CamelCase')\n    'camel_case'\n"
    "    >>> uncamel('CamelCamelCase')\n    'camel_camel_case'\n    >>> "
    "uncamel('getHTTPResponseCode')\n    'get_http_response_code'",
    "underscore_to_camelcase": "Convert underscore_delimited_text to camelCase.\n\nArgs:\n"
    "    s: Underscore-delimited string.\n\nReturns:\n    camelCase string.\n\nExamples:\n"
    "    >>> underscore_to_camelcase('foo_bar_baz')\n    'fooBarBaz'\n    >>> "
    "underscore_to_camelcase('FOO_BAR')\n    'fooBar'\n    >>> underscore_to_camelcase('_foo_bar')\n"
    "    'fooBar'",
    "collapse": "Recursively flatten nested lists/tuples into a single list.\n\nArgs:\n    args: "
    "Items to collapse (can be nested lists/tuples).\n\nReturns:\n    Flattened list of items.\n\n"
    "Examples:\n    >>> collapse([['a', ['b', ('c', 'd')]], -2, -1, [0, 1]])\n"
    "    ['a', 'b', 'c', 'd', -2, -1, 0, 1]",
    "backfill": "Back-fill a sorted array with the latest value.\n\nArgs:\n    values: List of values "
    "(may contain None).\n\nReturns:\n    List with None values replaced by the most recent "
    "non-None value.\n\nExamples:\n    >>> backfill([None, None, 1, 2, 3, None, 4])\n"
    "    [1, 1, 1, 2, 3, 3, 4]",
    "backfill_iterdict": "Back-fill a sorted iterdict with the latest values.\n\nArgs:\n    iterdict: "
    "List of dicts with possibly None values.\n\nReturns:\n    List of dicts with None values "
    "replaced by most recent non-None values per key.\n\nExamples:\n    >>> backfill_iterdict([{'a': "
    "1, 'b': None}, {'a': 4, 'b': 2}, {'a': None, 'b': None}])\n    [{'a': 1, 'b': 2}, {'a': 4, "
    "'b': 2}, {'a': 4, 'b': 2}]",
    "same_order": "Compare two lists and check if elements in ref appear in same order in comp.\n\n"
    "Args:\n    ref_list: Reference list of elements.\n    comp: Comparison list to check order "
    "against.\n\nReturns:\n    True if all ref elements appear in comp in the same relative order."
    "\n\nExamples:\n    >>> same_order(['x', 'y', 'z'], ['x', 'a', 'b', 'y', 'd', 'z'])\n    True\n"
    "    >>> same_order(['x', 'y', 'z'], ['x', 'z', 'y'])\n    False",
}


def test_module_identity():
    assert _tavo.__name__ == "_tavo"
    assert _tavo.__doc__ == "Python module definition."
    assert _tavo.__all__ == NAMES
    public = {n for n in vars(_tavo) if not n.startswith("__")}
    assert public == set(NAMES), "the module defines nothing but its nine functions"


@pytest.mark.parametrize("name", NAMES)
def test_function_table_entry(name):
    fn = getattr(_tavo, name)
    assert type(fn).__name__ == "builtin_function_or_method"
    assert fn.__name__ == name
    assert fn.__module__ == "_tavo"
    assert fn.__self__ is _tavo
    assert fn.__doc__ == DOCS[name]


@pytest.mark.thread_unsafe(reason="removes the module from sys.modules, which every thread shares")
def test_reimport_returns_the_same_module():
    before = sys.modules.pop("_tavo")
    try:
        import _tavo as again
        assert again is before
        assert again.parse is before.parse
        assert again.__all__ == NAMES
    finally:
        sys.modules["_tavo"] = before


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_second_interpreter_is_refused():
    # A fresh process, so that the refusal is seen however the suite ran.
    script = textwrap.dedent(
        """
        import os, _tavo, _testcapi
        r, w = os.pipe()
        code = (
            "import os\\n"
            "try:\\n"
            "    import _tavo\\n"
            "    msg = 'imported'\\n"
            "except ImportError as e:\\n"
            "    msg = 'ImportError: ' + str(e)\\n"
            "os.write(%d, msg.encode())\\n" % w
        )
        _testcapi.run_in_subinterp(code)
        os.close(w)
        print(os.read(r, 4096).decode())
        print(_tavo.backfill.__name__)
        """
    )
    pytest.importorskip("_testcapi")
    out = subprocess.run([sys.executable, "-c", script], capture_output=True, text=True, timeout=60)
    assert out.returncode == 0, out.stderr
    first, second = out.stdout.splitlines()
    if sysconfig.get_config_var("Py_GIL_DISABLED"):
        # a free-threaded CPython refuses single-phase modules in sub-interpreters itself,
        # before their initialisation runs
        assert first == "ImportError: module _tavo does not support loading in subinterpreters"
    else:
        assert first.startswith("ImportError: Lumo modules do not yet support subinterpreters, see ")
    assert second == "backfill"


@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_only_pyinit_is_exported():
    nm = "/usr/bin/nm"
    if not os.path.exists(nm):
        pytest.skip("nm (binutils) is not installed")
    out = subprocess.run([nm, "-D", "--defined-only", _tavo.__file__], capture_output=True, text=True)
    symbols = [line.split()[-1] for line in out.stdout.splitlines() if line.strip()]
    assert symbols == ["PyInit__tavo"]


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


# CPython 3.11 still makes str objects that are not "ready" (PyUnicode_FromUnicode(NULL, n), the
# characters written afterwards through PyUnicode_AsUnicode): their flags may be read only once
# the str is. A build with assertions (tools/sanitize_check.sh, CMAKE_BUILD_TYPE=Debug) aborts on
# "Assertion 'PyUnicode_IS_READY(op)' failed" where a conversion reads them too early; so the call
# runs in a child process.
NOT_READY_CHILD = """
import ctypes, sys, _tavo
api = ctypes.pythonapi
api.PyUnicode_FromUnicode.restype = ctypes.py_object
api.PyUnicode_FromUnicode.argtypes = [ctypes.c_void_p, ctypes.c_ssize_t]
api.PyUnicode_AsUnicode.restype = ctypes.c_void_p
api.PyUnicode_AsUnicode.argtypes = [ctypes.py_object]
fn, text = sys.argv[1], sys.argv[2]
s = api.PyUnicode_FromUnicode(None, len(text))
ctypes.memmove(api.PyUnicode_AsUnicode(s), ctypes.create_unicode_buffer(text, len(text)),
               len(text) * ctypes.sizeof(ctypes.c_wchar))
print(repr(getattr(_tavo, fn)(s)))
"""


@pytest.mark.skipif(sys.version_info >= (3, 12), reason="PyUnicode_FromUnicode was removed in CPython 3.12")
@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
@pytest.mark.parametrize("fn, text", [
    ("uncamel", "getHTTPResponse"), ("uncamel", "x" * 40 + "Yz"), ("underscore_to_camelcase", "foo_bar"),
    ("parse", "1,200m"), ("parse", "(1)"), ("sanitize_vulgar_string", "4\u00be cups"), ("sanitize_vulgar_string", "plain"),
])
def test_str_not_yet_ready(fn, text):
    out = subprocess.run([sys.executable, "-W", "ignore::DeprecationWarning", "-c", NOT_READY_CHILD, fn, text],
                         capture_output=True, text=True, timeout=60,
                         env=dict(os.environ, PYTHONPATH=os.pathsep.join(sys.path)))
    assert out.returncode == 0, out.stderr
    assert out.stdout.strip() == repr(getattr(_tavo, fn)(text))


def numpy_bools():
    np = pytest.importorskip("numpy")
    return np


@pytest.mark.parametrize("flag", [True, False])
def test_numpy_bool_is_a_flag(flag):
    np = numpy_bools()
    items = [{"a": 2}, {"a": 1}]
    out = _tavo.multikeysort(items, "a", np.bool_(flag))
    assert (items if flag else out) == [{"a": 1}, {"a": 2}]
    assert out is None if flag else items == [{"a": 2}, {"a": 1}]


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


PANIC_DOC = (
    "\nThe exception raised when Vell code called from Python panics.\n\n"
    "Like SystemExit, this exception is derived from BaseException so that\n"
    "it will typically propagate all the way through the stack and cause the\n"
    "Python interpreter to exit.\n"
)


# The reference count is read and written at the start of the object, which is
# where the default build keeps it; a free-threaded build lays its header out
# differently (thread id first, split counts), so the trick cannot work there.
FREE_THREADED = bool(sysconfig.get_config_var("Py_GIL_DISABLED"))
DEFAULT_LAYOUT_ONLY = "counts references through the default build's object header"


def refcount_cell(obj_id):
    return ctypes.c_ssize_t.from_address(obj_id)


class Finalizer:
    """Runs `action` from its finalizer, which runs when the module releases
    the last counted reference to it."""

    kept = []

    def __init__(self, action):
        self.action = action
        self.ran = False

    def __del__(self):
        Finalizer.kept.append(self)  # stays alive
        refcount_cell(id(self)).value += 1  # the row's reference counts again
        self.ran = True
        self.action()


@contextlib.contextmanager
def row_changed_mid_walk(action):
    """A row {'a': F, DistinctKey('a'): 2, 'c': 3} in which F's only counted
    references are the module's own while it walks the row.

    Walking it, the module stores F as the latest value and in the output, then
    replaces both by 2; that last release runs F's finalizer, and with it
    `action(row)`, between two items of the walk. The row's own reference to F
    is left uncounted until the finalizer restores it, so nothing else holds F.
    """
    if FREE_THREADED:
        pytest.skip(DEFAULT_LAYOUT_ONLY)
    row = {}
    fin = Finalizer(lambda: action(row))
    row["a"] = fin
    row[DistinctKey("a")] = 2
    row["c"] = 3
    fin_id = id(fin)
    del fin
    was_enabled = gc.isenabled()
    gc.disable()
    refcount_cell(fin_id).value -= 1
    try:
        yield row
    finally:
        fin = row.get("a")
        if fin is not None and not fin.ran:
            refcount_cell(fin_id).value += 1  # never released: restore by hand
        Finalizer.kept.clear()
        if was_enabled:
            gc.enable()


def add_key(row):
    row["d"] = 4


def swap_key(row):
    del row[DistinctKey("a")]
    row["d"] = 4


def trigger_panic(action):
    with row_changed_mid_walk(action) as row:
        try:
            _tavo.backfill_iterdict([{"a": 0}, row])
        except BaseException as exc:  # noqa: B036 - the type is what is looked at
            return exc
    raise AssertionError("no failure was raised")


@pytest.mark.parametrize(
    "action, text",
    [
        (add_key, "dictionary changed size during iteration"),
        (swap_key, "dictionary keys changed during iteration"),
    ],
)
@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_row_changed_during_its_walk(action, text, capfd):
    exc = trigger_panic(action)
    assert type(exc) is panic_type()
    assert exc.args == (text,)
    assert str(exc) == text
    err = capfd.readouterr().err
    assert text in err  # the diagnostic written at the failure


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_unchanged_row_with_the_same_setup_succeeds():
    # The same walk with a finalizer that changes nothing: no failure, and
    # the result is the ordinary one.
    with row_changed_mid_walk(lambda row: None) as row:
        result = _tavo.backfill_iterdict([row])
        assert result == [{"a": 2, "c": 3}]
        assert row["a"].ran


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_panic_exception_type():
    panic = panic_type()
    assert panic.__module__ == "lumo_runtime"
    assert panic.__name__ == "PanicException"
    assert panic.__qualname__ == "PanicException"
    assert panic.__doc__ == PANIC_DOC
    assert panic.__bases__ == (BaseException,)
    assert not issubclass(panic, Exception)
    assert not hasattr(_tavo, "PanicException")
    assert "PanicException" not in _tavo.__all__
    assert all(getattr(_tavo, name) is not panic for name in dir(_tavo))


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
# the skip inside the call would be caught by the test or lost in its thread
@pytest.mark.skipif(FREE_THREADED, reason=DEFAULT_LAYOUT_ONLY)
def test_panic_is_not_caught_as_exception():
    caught = None
    try:
        try:
            with row_changed_mid_walk(add_key) as row:
                _tavo.backfill_iterdict([row])
        except Exception:  # must not catch it
            caught = "Exception"
    except BaseException as exc:
        caught = type(exc)
    assert caught is panic_type()


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_same_type_for_every_failure():
    assert type(trigger_panic(swap_key)) is panic_type()


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_failure_releases_what_the_call_held():
    value = object()
    before = sys.getrefcount(value)
    for _ in range(3):
        with row_changed_mid_walk(add_key) as row:
            with pytest.raises(BaseException, match="changed size"):
                _tavo.backfill_iterdict([{"a": value, "z": value}, {"z": None}, row])
    assert sys.getrefcount(value) == before


RESUME_LINES = (
    "--- Lumo is resuming a panic after fetching a PanicException from Python. ---\n"
    "Python stack trace below:\n"
)


class Unprintable:
    def __str__(self):
        raise RuntimeError("no text")


@pytest.mark.parametrize(
    "args, text",
    [(("boom from Python",), "boom from Python"), ((), ""), ((Unprintable(),), "Unwrapped panic from Python code")],
)
@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_panic_raised_by_python_code_resumes(capfd, args, text):
    raised = []

    class Panicking:
        def __eq__(self, other):
            exc = panic_type()(*args)
            raised.append(exc)
            raise exc

        __hash__ = None

    capfd.readouterr()
    with pytest.raises(panic_type()) as info:
        _tavo.same_order([Panicking()], ["a"])
    assert info.value is not raised[0]  # a new exception
    assert info.value.args == (text,)
    err = capfd.readouterr().err
    start = err.index(RESUME_LINES)
    trace = err[start + len(RESUME_LINES):]
    assert trace.startswith("Traceback (most recent call last):")
    assert "in __eq__" in trace
    assert "PanicException" in trace


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_panic_from_python_ends_the_process_when_uncaught():
    # Like SystemExit, nothing in between catches it as an Exception; the
    # interpreter exits with the traceback of the new exception.
    script = textwrap.dedent(
        """
        import sys
        sys.path.insert(0, sys.argv[1])
        import _tavo
        from hostile_kit import panic_type

        class Panicking:
            def __eq__(self, other):
                raise kind("deep trouble")

        kind = panic_type()
        try:
            _tavo.same_order([Panicking()], [1])
        except Exception:
            print("caught as Exception")
        print("not reached")
        """
    )
    here = os.path.dirname(os.path.abspath(__file__))
    proc = subprocess.run([sys.executable, "-c", script, here], capture_output=True, text=True, timeout=120)
    assert proc.returncode == 1
    assert "not reached" not in proc.stdout and "caught as Exception" not in proc.stdout
    assert RESUME_LINES in proc.stderr
    assert proc.stderr.rstrip().endswith("lumo_runtime.PanicException: deep trouble")


def _kernel_thread_name():
    with open(f"/proc/self/task/{threading.get_native_id()}/comm") as f:
        return f.read().rstrip("\n")


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
def test_diagnostic_names_the_thread(capfd):
    # The diagnostic starts with the name the kernel keeps for the thread
    # (at most 15 bytes), whatever it is, and where the failure happened.
    capfd.readouterr()
    trigger_panic(add_key)
    err = capfd.readouterr().err
    first = next(line for line in err.splitlines() if line.startswith("thread '"))
    assert first.startswith(f"thread '{_kernel_thread_name()}' failed at ")
    assert "backfill_iterdict" in first


@pytest.mark.thread_unsafe(reason="edits reference counts by hand and holds the collector off")
# the skip inside the call would be caught by the test or lost in its thread
@pytest.mark.skipif(FREE_THREADED, reason=DEFAULT_LAYOUT_ONLY)
def test_diagnostic_names_another_thread(capfd):
    # A thread named through the kernel (as prctl and pthread_setname_np do).
    libc = ctypes.CDLL(None)
    out = []

    def run():
        libc.prctl(15, b"tavo-worker-abc", 0, 0, 0)  # PR_SET_NAME
        out.append(_kernel_thread_name())
        trigger_panic(add_key)

    t = threading.Thread(target=run)
    capfd.readouterr()
    t.start()
    t.join()
    err = capfd.readouterr().err
    assert out == ["tavo-worker-abc"]
    assert "thread 'tavo-worker-abc' failed at " in err





def _panic_calls():
    text = "from a hostile method"
    return text, [
        ("same_order", lambda: _tavo.same_order([RaisesPanic(text)], ["a", "b"])),
        ("same_order", lambda: _tavo.same_order(["a"], [Answers(RaisesPanic(text))])),
        ("multikeysort", lambda: _tavo.multikeysort([{"k": (1,)}, {"k": Answers(RaisesPanic(text))}], "k")),
    ]


@pytest.mark.hostile
@pytest.mark.parametrize("index", range(3))
def test_panic_from_python_is_resumed(index, capfd):
    panic = panic_type()
    text, calls = _panic_calls()
    name, call = calls[index]
    with pytest.raises(BaseException) as info:
        call()
    assert is_panic(info.value, text)
    assert type(info.value) is panic
    # A new exception carrying the same text, after the two lines and the
    # printed traceback of the one Python raised.
    err = capfd.readouterr().err
    assert RESUME_LINES in err
    after = err.split(RESUME_LINES, 1)[1]
    assert "Traceback" in after and f"PanicException: {text}" in after


@pytest.mark.hostile
def test_panic_without_text():
    panic = panic_type()

    class Bare:
        def __eq__(self, other):
            raise panic

        __hash__ = object.__hash__

    with pytest.raises(BaseException) as info:
        _tavo.same_order([Bare()], [1])
    # Raised as a class there is no instance text: str() of a bare instance is ''.
    assert is_panic(info.value)
    assert str(info.value) in ("", "Unwrapped panic from Python code")


# --- keyword names whose str misbehaves -----------------------------------------


@pytest.mark.hostile
def test_unprintable_keyword_is_reported_unraisable():
    spy, calls = hostile_str("bogus")
    seen = []
    old = sys.unraisablehook
    sys.unraisablehook = lambda u: seen.append((u.exc_type, type(u.object)))
    try:
        with pytest.raises(TypeError) as info:
            _tavo.uncamel("x", **{spy: 1})
    finally:
        sys.unraisablehook = old
    assert str(info.value) == "uncamel() got an unexpected keyword argument '<unprintable SpyStr object>'"
    assert seen == [(Boom, type(spy))]
    assert calls == ["__str__"]


@pytest.mark.hostile
def test_keyword_matches_by_bytes_not_by_eq():
    spy, calls = hostile_str("camel")
    assert _tavo.uncamel(**{spy: "aB"}) == "a_b"
    assert calls == []


# --- exhausted memory -----------------------------------------------------------------

MEMORY_SCRIPT = textwrap.dedent(
    """
    import resource, sys, _tavo
    fn, size = sys.argv[1], int(sys.argv[2])
    arg = {
        "uncamel": lambda: "aB" * size,
        "underscore_to_camelcase": lambda: "a_" * size,
        "sanitize_vulgar_string": lambda: "1\u00bd" * size,
        "parse": lambda: "1" * size,
        "collapse": lambda: [[0] * size],
        "backfill": lambda: [None, 1] * size,
        "same_order": lambda: [0] * size,
    }[fn]()
    soft, hard = resource.getrlimit(resource.RLIMIT_AS)
    import re
    with open("/proc/self/status") as f:
        vm = int(re.search(r"VmSize:\\s+(\\d+) kB", f.read()).group(1)) * 1024
    # Room for a little more than the input: the result cannot be built.
    resource.setrlimit(resource.RLIMIT_AS, (vm + 3 * size, hard))
    try:
        if fn == "same_order":
            _tavo.same_order(arg, arg)
        else:
            getattr(_tavo, fn)(arg)
        print("ok")
    except MemoryError:
        print("MemoryError")
    except BaseException as e:
        print(type(e).__module__ + "." + type(e).__name__ + ": " + str(e))
    """
)


@pytest.mark.hostile
@pytest.mark.skipif(os.environ.get("TAVO_SANITIZED") == "1", reason="address limits do not mix with ASan")
@pytest.mark.parametrize("fn", ["uncamel", "underscore_to_camelcase", "sanitize_vulgar_string", "parse",
                                "collapse", "backfill", "same_order"])
@pytest.mark.thread_unsafe(reason="starts interpreters of its own: threads would only add time")
def test_exhausted_memory_never_crashes(fn):
    out = subprocess.run([sys.executable, "-c", MEMORY_SCRIPT, fn, str(20_000_000)],
                         capture_output=True, text=True, timeout=300)
    assert out.returncode == 0, out.stderr[-2000:]
    last = out.stdout.strip().splitlines()[-1]
    assert last in ("ok", "MemoryError",
                    "lumo_runtime.PanicException: Python API call failed",
                    "lumo_runtime.PanicException: memory allocation failed"), last


# --- the catalogue: binding and conversion errors of every function ---------------


@pytest.mark.hostile
@catalogue.parametrize(catalogue.boundary.CASES)
def test_catalogue(case):
    catalogue.run(case)


# --- the package's import -----------------------------------------------------------------


def test_import_tavo_loads_only_its_own_modules():
    # (the standard library's own modules do not count: which of them come depends on the
    # interpreter and its mode, -X dev loads a codec to check an errors argument)
    code = ("import sys\nbefore = set(sys.modules)\nimport tavo\n"
            "print(sorted(m for m in set(sys.modules) - before\n"
            "             if m.partition('.')[0] not in sys.stdlib_module_names))\n"
            "print(sorted(m for m in set(sys.modules) - before\n"
            "             if m.partition('.')[0] in sys.stdlib_module_names))\n"
            "tavo.columns, tavo.NumberFormat, tavo.Price\n"
            "print(sorted(m for m in set(sys.modules) - before if m.startswith('tavo')))\n")
    out = subprocess.run([sys.executable, "-c", code], capture_output=True, text=True, check=True).stdout.split("\n")
    assert out[0] == "['_tavo', 'tavo', 'tavo._native', 'tavo.keys']", out
    assert len(eval(out[1])) <= 2, out  # no typing, dataclasses, re and the like
    # the rest comes when first used
    assert {"tavo.columns", "tavo._number_format", "tavo._price"} <= set(eval(out[2])), out
