"""Writes the docstrings of the compiled modules into their stubs.

A language server reads a compiled module's stub, not the module, so a function's
docstring shows in an editor only when the stub carries it. The docstrings are written
once, in the C++ declarations; this script copies what the built module gives into each
stub (the first `def` of a name, for overloads, and each class), and
tests/test_stub_docs.py checks that the stubs match the runtime.

Usage: python tools/gen_stub_docs.py [--check]
       (with the interpreter that has the package installed; --check only reports)
"""

import ast
import importlib
import inspect
import pathlib
import sys

REPO = pathlib.Path(__file__).resolve().parent.parent
# each stub and the module it describes
STUBS = {
    REPO / "stubs" / "_tavo-stubs" / "__init__.pyi": "_tavo",
    REPO / "src" / "tavo" / "_native.pyi": "tavo._native",
}


def documented(tree):
    """The stub's top-level functions (first definition of each name) and classes, with
    their methods and properties, as (qualified name, node) pairs."""
    seen = set()
    out = []
    for node in tree.body:
        if isinstance(node, (ast.FunctionDef, ast.ClassDef)) and node.name not in seen:
            seen.add(node.name)
            out.append((node.name, node))
            if isinstance(node, ast.ClassDef):
                inner = set()
                for sub in node.body:
                    if isinstance(sub, ast.FunctionDef) and sub.name not in inner and not sub.name.startswith("_"):
                        inner.add(sub.name)
                        out.append((f"{node.name}.{sub.name}", sub))
    return out


def runtime_doc(module, qualname):
    """The docstring that the stub gives `qualname`: the runtime's, for a public function
    or class (one of a public module: its home, `__module__`, has no leading underscore,
    as tavo.parse, tavo.keys.uncamel and tavo.columns.Column, which live in tavo._native);
    None for what only the package's own code calls (the column kernels, which
    tavo.columns wraps with docstrings of its own)."""
    obj = module
    for part in qualname.split("."):
        obj = inspect.getattr_static(obj, part) if inspect.isclass(obj) else getattr(obj, part)
    top = getattr(module, qualname.split(".")[0])
    home = getattr(top, "__module__", None) or module.__name__
    if any(part.startswith("_") for part in home.split(".")[1:]):
        return None
    doc = obj.__doc__
    return inspect.cleandoc(doc) if doc else None


def literal(doc, indent):
    """`doc` as a triple-quoted string literal indented for a body at `indent`."""
    body = doc.replace("\\", "\\\\").replace('"""', '\\"\\"\\"')
    lines = body.split("\n")
    text = "\n".join([lines[0]] + [(indent + line) if line else "" for line in lines[1:]])
    if len(lines) > 1:
        text += "\n" + indent
    return f'{indent}"""{text}"""'


def rewrite(source, module):
    """The stub's text with each docstring made the runtime's; the names it could not
    find at run time."""
    tree = ast.parse(source)
    lines = source.split("\n")
    missing = []
    edits = []  # (first line, first column, last line, last column, new text), 1-based lines
    for qualname, node in documented(tree):
        try:
            doc = runtime_doc(module, qualname)
        except AttributeError:
            missing.append(qualname)
            continue
        indent = " " * (node.col_offset + 4)
        first = node.body[0]
        has_doc = isinstance(first, ast.Expr) and isinstance(first.value, ast.Constant) and isinstance(
            first.value.value, str)
        if doc is None:
            if has_doc and len(node.body) == 1:  # an internal function: no docstring of its own
                edits.append((first.lineno, 0, first.end_lineno, len(lines[first.end_lineno - 1]), indent + "..."))
            elif has_doc:
                edits.append((first.lineno, 0, first.end_lineno + 1, 0, ""))
            continue
        if has_doc:
            # replace the docstring's own lines
            edits.append((first.lineno, 0, first.end_lineno, len(lines[first.end_lineno - 1]), literal(doc, indent)))
        elif first.lineno == node.body[-1].end_lineno and isinstance(first, ast.Expr) and first.value.value is ...:
            # `def f(...) -> T: ...` becomes `def f(...) -> T:` and the docstring below it
            line = lines[first.lineno - 1]
            head = line[:first.col_offset].rstrip()
            edits.append((first.lineno, 0, first.end_lineno, len(line), head + "\n" + literal(doc, indent)))
        else:
            # a body of its own: the docstring goes first
            edits.append((first.lineno, 0, first.lineno, 0, literal(doc, indent) + "\n"))
    for start, col, end, end_col, text in sorted(edits, reverse=True):
        before = lines[start - 1][:col]
        after = lines[end - 1][end_col:]
        lines[start - 1:end] = (before + text + after).split("\n")
    return "\n".join(lines), missing


def main(argv):
    check = "--check" in argv
    stale = []
    for path, name in STUBS.items():
        module = importlib.import_module(name)
        source = path.read_text(encoding="utf-8")
        new, missing = rewrite(source, module)
        if missing:
            print(f"{path.relative_to(REPO)}: not in {name}: {', '.join(missing)}", file=sys.stderr)
            return 1
        if new != source:
            stale.append(path)
            if not check:
                path.write_text(new, encoding="utf-8")
    for path in stale:
        print(("stale: " if check else "written: ") + str(path.relative_to(REPO)))
    return 1 if check and stale else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
