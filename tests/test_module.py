"""The module object, its function table and its import rules."""
import os
import subprocess
import sys
import sysconfig
import textwrap

import pytest

import _tavo

NAMES = [
    "parse", "multikeysort", "sanitize_vulgar_string", "uncamel", "underscore_to_camelcase",
    "collapse", "backfill", "backfill_iterdict", "same_order",
]

SIGNATURES = {
    "parse": "(s)",
    "multikeysort": "(items, columns, inplace=False)",
    "sanitize_vulgar_string": "(s)",
    "uncamel": "(camel)",
    "underscore_to_camelcase": "(s)",
    "collapse": "(*args)",
    "backfill": "(values)",
    "backfill_iterdict": "(iterdict)",
    "same_order": "(ref_list, comp)",
}

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
    assert fn.__text_signature__ == SIGNATURES[name]
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
