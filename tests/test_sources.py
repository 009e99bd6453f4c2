"""The module's sources: every one is built, and they use only the public CPython C API, and nothing
that CPython 3.14 or 3.15 removes.

Private names (a leading underscore: `_PyDict_NewPresized`, `_Py_...`) can change or vanish in any
release, so a build for a newer interpreter breaks without warning. The check reads the sources, not
the compiled module: public header macros such as Py_DECREF expand to private calls of their own,
which are the interpreter's business.
"""
import pathlib
import re
import sysconfig

import pytest

SRC = pathlib.Path(__file__).resolve().parent.parent / "src"
SOURCES = sorted(p for p in SRC.rglob("*") if p.suffix in {".cpp", ".hpp", ".h", ".inc"}) if SRC.is_dir() else []

pytestmark = pytest.mark.skipif(not SOURCES, reason="the sources are not beside the tests")

# Public C API that CPython 3.13 to 3.15 remove or have deprecated for removal (What's New,
# "Removed" and "Pending removal"); a use of any of them stops the build on a newer release.
REMOVED = [
    "PyUnicode_AsDecodedObject", "PyUnicode_AsDecodedUnicode", "PyUnicode_AsEncodedObject",
    "PyUnicode_AsEncodedUnicode", "PyImport_ImportModuleNoBlock", "PyWeakref_GetObject",
    "PyWeakref_GET_OBJECT", "Py_UNICODE", "Py_UNICODE_WIDE", "PySys_ResetWarnOptions",
    "Py_GetExecPrefix", "Py_GetPath", "Py_GetPrefix", "Py_GetProgramFullPath", "Py_GetProgramName",
    "Py_GetPythonHome", "PySys_SetArgv", "PySys_SetArgvEx", "Py_SetProgramName", "Py_SetPythonHome",
    "PyEval_AcquireLock", "PyEval_ReleaseLock", "PyEval_InitThreads", "PyEval_ThreadsInitialized",
    "Py_TRASHCAN_SAFE_BEGIN", "Py_TRASHCAN_SAFE_END", "PyUnicode_READY",
]


# Deprecated in the documentation, not in the headers: allowed only in a branch
# for releases before the one that brought the replacement (PY_VERSION_HEX).
DOCUMENTED_DEPRECATIONS = {
    "PyErr_Fetch": 0x030C0000, "PyErr_Restore": 0x030C0000, "PyErr_NormalizeException": 0x030C0000,
}


def code_of(path):
    """The text of a source file with its comments and string literals blanked out."""
    text = path.read_text(encoding="utf-8")
    pattern = re.compile(r'//[^\n]*|/\*.*?\*/|"(?:\\.|[^"\\\n])*"|\'(?:\\.|[^\'\\\n])*\'', re.S)
    return pattern.sub(lambda m: re.sub(r"[^\n]", " ", m.group()), text)


def uses(regex):
    found = []
    for path in SOURCES:
        for number, line in enumerate(code_of(path).splitlines(), 1):
            for name in re.findall(regex, line):
                found.append(f"{path.relative_to(SRC.parent)}:{number}: {name}")
    return found


def test_no_private_c_api():
    assert uses(r"(?<![A-Za-z0-9_])_Py[A-Za-z0-9_]*") == []


@pytest.mark.parametrize("name", REMOVED)
def test_no_c_api_removed_by_newer_releases(name):
    assert uses(rf"(?<![A-Za-z0-9_]){name}(?![A-Za-z0-9_])") == []


# The layout of str, bytes, lists, tuples and dicts is read and written only in src/boundary (its
# typed views and argument conversions); the bodies of the functions go through them. The rule:
# no macro-level name of those types (an upper-case name after the type's prefix: PyUnicode_KIND,
# PyList_GET_ITEM, PyTuple_SET_ITEM, PyDict_GET_SIZE, PyBytes_AS_STRING...), none of their object
# structs, and no direct item array or size store.
LAYOUT = (r"(?<![A-Za-z0-9_])(?:Py(?:Unicode|List|Tuple|Dict|Bytes)_[A-Z0-9][A-Z0-9_]*"
          r"|Py(?:Unicode|ASCII|CompactUnicode|List|Tuple|Dict|Bytes)Object|ob_item|ob_sval|Py_SET_SIZE)"
          r"(?![A-Za-z0-9_])")
BODY_FOLDERS = ["text", "iter", "dictsort", "numparse", "columns", "modules", "bodies", "keys"]


def layout_uses(folder):
    return [use for use in uses(LAYOUT) if use.split("/")[1] == folder]


@pytest.mark.parametrize("folder", BODY_FOLDERS)
def test_bodies_use_no_object_layout(folder):
    assert layout_uses(folder) == []


def test_the_layout_rule_sees_the_boundary():
    found = [use.split(": ")[1] for use in layout_uses("boundary")]
    for name in ["PyUnicode_KIND", "PyUnicode_DATA", "PyList_GET_SIZE", "PyTuple_GET_SIZE", "ob_item",
                 "PyListObject", "Py_SET_SIZE", "PyBytes_AS_STRING", "PyDict_GET_SIZE"]:
        assert name in found
    # functions are not layout
    assert not re.search(LAYOUT, "PyUnicode_Check(o) PyList_GetItem(l, 0) PyTuple_New(2) PyDict_Next")


# A body reads each argument through its description's parameter names (param(desc, "name"),
# found when it is compiled), never by a bare position: an index written as a number is
# coupled to a description in another file and reads the wrong argument when that changes.
BY_POSITION = r"\ba\s*\[\s*\d+\s*\]|\b\w+_arg\s*\(\s*a\s*,\s*\d+\s*\)|\ba\.given\s*\(\s*\d+\s*\)"


def test_bodies_read_arguments_by_name():
    assert [use for use in uses(BY_POSITION) if use.split("/")[1] in BODY_FOLDERS] == []


def test_the_by_name_rule_sees_positions():
    for code in ["text_arg(a, 0)", "a[1]", "a.given(2)", "price_mark_arg(a, 1)"]:
        assert re.search(BY_POSITION, code), code
    assert not re.search(BY_POSITION, 'text_arg(a, param(price_desc, "text")) a[param(d, "source")] data[i]')


def included(path):
    """Every source that `path` includes, directly or not, itself first."""
    seen, todo = [], [path]
    while todo:
        p = todo.pop()
        if p in seen:
            continue
        seen.append(p)
        for name in re.findall(r'^\s*#\s*include\s*[<"]([^>"]+)[>"]', p.read_text(encoding="utf-8"), re.M):
            if (SRC / name).is_file():
                todo.append(SRC / name)
            else:
                assert name != "Python.h", f"{p.relative_to(SRC.parent)} includes Python.h"
    return seen


def test_conversion_cores_know_no_python():
    # The cores run without the interpreter lock (column kernels): no Python header, nothing from
    # src/boundary, no Python name, however deep the include. The core folders hold cores only
    # (the bodies that call them from Python are in src/bodies), and every .cpp there is a core.
    cmake = (SRC.parent / "CMakeLists.txt").read_text(encoding="utf-8")
    cores = re.search(r"set\(TAVO_CORE_SOURCES\n(.*?)\)", cmake, re.S).group(1).split()
    core_folders = [SRC / "text", SRC / "numparse"]
    assert sorted(cores) == sorted(str(p.relative_to(SRC.parent)) for f in core_folders for p in f.glob("*.cpp"))
    for core in cores + [str(p.relative_to(SRC.parent)) for f in core_folders for p in f.glob("*.hpp")]:
        for path in included(SRC.parent / core):
            assert path.relative_to(SRC).parts[0] != "boundary", (core, str(path))
            assert re.findall(r"(?<![A-Za-z0-9_])_?Py[A-Z_][A-Za-z0-9_]*", code_of(path)) == [], str(path)


def test_the_scan_sees_code_and_not_comments(tmp_path):
    sample = tmp_path / "sample.cpp"
    sample.write_text(
        '// _PyDict_NewPresized in a comment\n'
        'const char* s = "_Py_in_a_string";\n'
        'PyObject* d = _PyDict_NewPresized(4); /* _Py_x */ auto w = PyWeakref_GetObject(r);\n',
        encoding="utf-8",
    )
    assert re.findall(r"(?<![A-Za-z0-9_])_Py[A-Za-z0-9_]*", code_of(sample)) == ["_PyDict_NewPresized"]
    assert "PyWeakref_GetObject" in code_of(sample)


def test_every_source_is_built():
    # CMakeLists.txt names its sources one by one; a new file must be added there.
    cmake = (SRC.parent / "CMakeLists.txt").read_text(encoding="utf-8")
    listed = re.findall(r"^\s*(src/\S+\.cpp)\s*$", cmake, re.M)
    present = sorted(str(p.relative_to(SRC.parent)) for p in SRC.rglob("*.cpp"))
    assert sorted(listed) == present
    assert len(set(listed)) == len(listed)


def deprecated_in_headers(include):
    """Names that the interpreter's own headers mark Py_DEPRECATED: read from the running
    interpreter, so a run on a newer CPython checks that release's deprecations too."""
    names = set()
    for header in pathlib.Path(include).rglob("*.h"):
        code = "\n".join(line for line in code_of(header).splitlines() if not line.lstrip().startswith("#"))
        for m in re.finditer(r"(?<![A-Za-z0-9])_?Py_DEPRECATED(?:_EXTERNALLY)?\([0-9.]+\)([^;{]*)", code):
            decl = re.sub(r"PyAPI_(?:FUNC|DATA)\((?:[^()]|\([^()]*\))*\)", " ", m.group(1))
            name = re.search(r"([A-Za-z_][A-Za-z0-9_]*)\s*(?:\(|\[|$)", decl.strip())
            if name:
                names.add(name.group(1))
    return names


def test_no_c_api_deprecated_by_this_interpreter():
    include = sysconfig.get_paths().get("include")
    if not include or not pathlib.Path(include, "Python.h").is_file():
        pytest.skip("this interpreter's C headers are not installed")
    names = deprecated_in_headers(include)
    assert "Py_SetProgramName" in names  # deprecated since 3.11: the reading works
    found = [use for name in sorted(names) for use in uses(rf"(?<![A-Za-z0-9_]){name}(?![A-Za-z0-9_])")]
    assert found == []


def version_branches(code):
    """For each line, the PY_VERSION_HEX bound it is compiled under: the
    release that the innermost `#if PY_VERSION_HEX >= X` / `< X` branch
    excludes from it (None when no version branch encloses the line)."""
    stack, below = [], []
    for line in code.splitlines():
        d = line.strip()
        m = re.match(r"#\s*if\s+PY_VERSION_HEX\s*(>=|<)\s*(0x[0-9A-Fa-f]+)\s*$", d)
        if m:
            stack.append((m.group(1) == "<", int(m.group(2), 16)))
        elif re.match(r"#\s*if", d):
            stack.append(None)
        elif re.match(r"#\s*else", d) and stack and stack[-1]:
            older, bound = stack[-1]
            stack[-1] = (not older, bound)
        elif re.match(r"#\s*endif", d) and stack:
            stack.pop()
        bounds = [b for o, b in (x for x in stack if x) if o]
        below.append(min(bounds) if bounds else None)
    return below


@pytest.mark.parametrize("name", sorted(DOCUMENTED_DEPRECATIONS))
def test_documented_deprecations_only_for_older_releases(name):
    since = DOCUMENTED_DEPRECATIONS[name]
    found = []
    for path in SOURCES:
        code = code_of(path)
        for number, (line, below) in enumerate(zip(code.splitlines(), version_branches(code)), 1):
            if re.search(rf"(?<![A-Za-z0-9_]){name}(?![A-Za-z0-9_])", line) and (below is None or below > since):
                found.append(f"{path.relative_to(SRC.parent)}:{number}")
    assert found == []


def test_version_branches_read_else_and_nesting():
    code = "a\n#if PY_VERSION_HEX >= 0x030C0000\nb\n#else\nc\n#ifdef X\nd\n#endif\n#endif\ne\n"
    assert version_branches(code) == [None, None, None, 0x030C0000, 0x030C0000, 0x030C0000, 0x030C0000,
                                      0x030C0000, None, None]


def test_the_map_names_every_folder():
    # CONTRIBUTING.md is the map of the house: a folder it does not name is a folder nobody finds.
    text = (SRC.parent / "CONTRIBUTING.md").read_text(encoding="utf-8")
    folders = sorted(p.relative_to(SRC.parent).as_posix() for p in SRC.iterdir() if p.is_dir())
    assert [f for f in folders if f"`{f}/`" not in text] == []
