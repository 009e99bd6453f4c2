"""The reference pages' entries, each made from the one place that holds it.

    ```{tavo-function} tavo.columns.parse
    ```

writes the entry of one public function (or class, with its public methods): the docstring
is the runtime object's `__doc__` (what `help()` shows), the typed signature the one its
stub gives (stubs/_tavo-stubs/__init__.pyi for `_tavo`, src/tavo/*.pyi for the package's
native modules) or, for a function written in Python, its `def` in the source. Nothing of
either is copied into the pages.

A front end whose library is not installed (`tavo.spark` without pyspark) cannot be
imported; its entries then take the docstring from the source's `def`, which is the text
the runtime object would carry.

When the build ends, every public name of the documented modules (their `__all__`) must
have had its entry somewhere: a missing one is a warning, and the site is built with
warnings as errors.
"""

from __future__ import annotations

import ast
import importlib
import inspect
import pathlib
from typing import Any

from docutils import nodes
from docutils.parsers.rst import directives
from docutils.statemachine import StringList
from sphinx.application import Sphinx
from sphinx.ext.napoleon import Config as NapoleonConfig
from sphinx.ext.napoleon.docstring import GoogleDocstring
from sphinx.util import logging
from sphinx.util.docutils import SphinxDirective

ROOT = pathlib.Path(__file__).resolve().parents[2]
STUBS = {
    "_tavo": ROOT / "stubs" / "_tavo-stubs" / "__init__.pyi",
    "tavo._native": ROOT / "src" / "tavo" / "_native.pyi",
}
SOURCES = ROOT / "src" / "tavo"

# The modules whose every public name the reference lists.
MODULES = ("_tavo", "tavo", "tavo.keys", "tavo.columns", "tavo.polars", "tavo.pandas", "tavo.duckdb", "tavo.spark")

logger = logging.getLogger(__name__)


def source_of(module: str) -> pathlib.Path:
    """The .py file of a module of the package, found without importing it."""
    parts = module.split(".")[1:]
    path = SOURCES.joinpath(*parts)
    return path / "__init__.py" if path.is_dir() else path.with_suffix(".py")


def parsed(path: pathlib.Path) -> ast.Module:
    return ast.parse(path.read_text(encoding="utf-8"), str(path))


def public_names(module: str) -> list[str]:
    """`__all__` of a module, read from its source (or, for a native module, its stub): the
    list does not depend on the library a front end needs. It may be built by `=`, `+=` of a
    list or of another module's `__all__`, and `.remove`."""
    tree = parsed(STUBS[module] if module in STUBS else source_of(module))
    package = module.rpartition(".")[0] if module in STUBS or source_of(module).name != "__init__.py" else module
    names: list[str] = []
    for node in tree.body:
        if isinstance(node, (ast.Assign, ast.AugAssign)):
            targets = node.targets if isinstance(node, ast.Assign) else [node.target]
            if any(isinstance(t, ast.Name) and t.id == "__all__" for t in targets):
                value = node.value
                if isinstance(value, (ast.List, ast.Tuple)):
                    names += [e.value for e in value.elts if isinstance(e, ast.Constant)]
                elif isinstance(value, ast.Attribute) and value.attr == "__all__":
                    # __all__ += _tavo.__all__, or a module of the package's (_native.__all__)
                    other = ast.unparse(value.value)
                    names += public_names(other if other in STUBS or not package else f"{package}.{other}")
        elif (isinstance(node, ast.Expr) and isinstance(node.value, ast.Call)
              and ast.unparse(node.value.func) == "__all__.remove"):
            names.remove(node.value.args[0].value)
    return names


def definitions(tree: ast.Module, qualname: str) -> list[ast.AST]:
    """The `def`s (every overload) or the `class` of a dotted name in a module's tree."""
    scope: list[ast.stmt] = tree.body
    *outer, name = qualname.split(".")
    for part in outer:
        found = [n for n in scope if isinstance(n, ast.ClassDef) and n.name == part]
        if not found:
            return []
        scope = found[0].body
    return [n for n in scope if isinstance(n, (ast.FunctionDef, ast.ClassDef)) and n.name == name]


def signature_text(node: ast.FunctionDef, drop_first: bool = False) -> str:
    args = node.args
    if drop_first:
        args = ast.arguments(posonlyargs=[], args=args.args[1:], vararg=args.vararg, kwonlyargs=args.kwonlyargs,
                             kw_defaults=args.kw_defaults, kwarg=args.kwarg, defaults=args.defaults)
    text = f"({ast.unparse(args)})"
    if node.returns is not None:
        text += f" -> {ast.unparse(node.returns)}"
    return text


def overloads(nodes_: list[ast.AST], drop_first: bool = False) -> list[str]:
    """The signatures of a function: every `@overload` when it has them, else its one `def`."""
    defs = [n for n in nodes_ if isinstance(n, ast.FunctionDef)]
    typed = [n for n in defs if any(ast.unparse(d).endswith("overload") for d in n.decorator_list)]
    return [signature_text(n, drop_first) for n in (typed or defs)]


def where_defined(obj: Any, module: str, name: str) -> tuple[pathlib.Path, list[str]]:
    """The file whose `def` or stub gives the signature, and the names to look for there."""
    home = getattr(obj, "__module__", None) or module
    if home in STUBS:  # a native class or function that stays in its module
        return STUBS[home], [getattr(obj, "__name__", name)]
    if inspect.isclass(obj) and home.startswith("tavo.") and obj.__name__ not in {
            n.name for n in parsed(source_of(home)).body if isinstance(n, ast.ClassDef)}:
        # a native class that a public module names as its home (tavo.columns.Column)
        return STUBS["tavo._native"], [obj.__name__]
    if inspect.isbuiltin(obj):
        # a function of tavo._native re-exported by a public module (tavo.keys.uncamel is
        # _native.keys_uncamel), which gives it that module as its home
        return STUBS["tavo._native"], [name, f"{home.rpartition('.')[2]}_{name}"]
    return source_of(home), [getattr(obj, "__qualname__", name)]


def docstring_lines(doc: str | None, app: Sphinx) -> list[str]:
    """The docstring as reST: Google-style sections (Args, Returns, Examples) through
    napoleon, the rest as written, but for its hanging indents (below)."""
    text = inspect.cleandoc(doc or "")
    lines = GoogleDocstring(text, NapoleonConfig(napoleon_use_param=True, napoleon_use_rtype=True)).lines()
    return hanging_lines_joined(list(lines))


def indent_of(line: str) -> int:
    return len(line) - len(line.lstrip())


def hanging_lines_joined(lines: list[str]) -> list[str]:
    """The docstrings wrap a long item with a hanging indent, as plain text does
    ("currency: the sign...\n    'CHF', ..."); reST would take the indented line for a
    block that needs a blank line before it. Such a line continues the line above it,
    unless that one opens a literal block (::) or a directive, or is an example (>>>)."""
    out: list[str] = []
    for line in lines:
        above = out[-1] if out else ""
        if (line.strip() and above.strip() and indent_of(line) > indent_of(above)
                and not above.rstrip().endswith("::") and not above.lstrip().startswith(("..", ">>>", "..."))
                and not above.lstrip().startswith(":")):
            out[-1] = above.rstrip() + " " + line.strip()
            continue
        out.append(line)
    return out


class FunctionEntry(SphinxDirective):
    """```{tavo-function} module.name```: one public name's entry (a class gets its
    public methods beside)."""

    required_arguments = 1
    has_content = False
    # :summary: gives the signature and the docstring's first paragraph only (a name whose
    # full entry is on another page)
    option_spec = {"summary": directives.flag}

    def run(self) -> list[nodes.Node]:
        dotted = self.arguments[0]
        module, _, name = dotted.rpartition(".")
        if module not in MODULES or name not in public_names(module):
            raise self.error(f"{dotted} is not a public name of the documented modules")
        self.env.tavo_documented.add(dotted)  # type: ignore[attr-defined]
        # the pages are Markdown (MyST), which parses a directive's content as Markdown:
        # the entry, reST as napoleon and the py domain write it, goes in an eval-rst block
        lines = ["`````{eval-rst}", *self.entry(module, name), "`````"]
        content = StringList(lines, source=f"<tavo-function {dotted}>")
        holder = nodes.section()
        holder.document = self.state.document
        self.state.nested_parse(content, self.content_offset, holder)
        return holder.children

    def entry(self, module: str, name: str) -> list[str]:
        try:
            obj: Any = getattr(importlib.import_module(module), name)
        except ImportError as e:  # the front end's library is not installed
            logger.info(f"tavo-function: {module} not importable ({e}); its docstrings come from the source")
            return self.from_source(module, name)
        path, candidates = where_defined(obj, module, name)
        tree = parsed(path)
        nodes_ = next((found for c in candidates if (found := definitions(tree, c))), [])
        if inspect.isclass(obj):
            return self.class_entry(module, name, obj, nodes_)
        if not callable(obj):
            return self.data_entry(module, name, obj, path)
        if not nodes_:
            raise self.error(f"no signature for {module}.{name} in {path.relative_to(ROOT)}")
        return self.function_entry(module, name, overloads(nodes_), obj.__doc__)

    def function_entry(self, module: str, name: str, signatures: list[str], doc: str | None,
                       kind: str = "function", indent: str = "") -> list[str]:
        first, *rest = [f"{name}{s}" for s in signatures]
        lines = [f"{indent}.. py:{kind}:: {first}"] + [f"{indent}   {' ' * len(kind)}    {s}" for s in rest]
        if not indent:
            lines.append(f"   :module: {module}")
        lines.append("")
        text = docstring_lines(doc, self.env.app)
        if "summary" in self.options:
            text = text[:text.index("")] if "" in text else text
        lines += [f"{indent}   {line}" if line else "" for line in text]
        lines.append("")
        return lines

    def class_entry(self, module: str, name: str, cls: type, nodes_: list[ast.AST]) -> list[str]:
        body = nodes_[0].body if nodes_ and isinstance(nodes_[0], ast.ClassDef) else []
        lines = [f".. py:class:: {name}", f"   :module: {module}", ""]
        lines += [f"   {line}" if line else "" for line in docstring_lines(cls.__doc__, self.env.app)]
        lines.append("")
        fields = getattr(cls, "_fields", ())
        # a named tuple's fields in their order, then the methods by name
        for attr in [*fields, *sorted(set(vars_of(cls)) - set(fields))]:
            member = getattr(cls, attr)
            found = [n for n in body if isinstance(n, (ast.FunctionDef, ast.AnnAssign))
                     and (n.name if isinstance(n, ast.FunctionDef) else ast.unparse(n.target)) == attr]
            if attr in fields or isinstance(inspect.getattr_static(cls, attr), property):
                # a named tuple's field (its type from the class body) or a property (its
                # type from the stub's return annotation)
                typed = [ast.unparse(n.annotation if isinstance(n, ast.AnnAssign) else n.returns)
                         for n in found if getattr(n, "annotation", None) or getattr(n, "returns", None)]
                lines += [f"   .. py:attribute:: {attr}"] + ([f"      :type: {typed[0]}"] if typed else []) + [""]
                if attr not in fields:
                    lines += [f"      {line}" if line else "" for line in docstring_lines(member.__doc__, self.env.app)]
                    lines.append("")
                continue
            if not callable(member):
                continue
            if found:
                signatures = overloads(found, drop_first=True)
            else:  # made at run time (the front ends' methods): the signature it carries
                signatures = [runtime_signature(member, generic_argument(nodes_))]
            lines += self.function_entry(module, attr, signatures, member.__doc__, kind="method", indent="   ")
        return lines

    def data_entry(self, module: str, name: str, value: Any, path: pathlib.Path) -> list[str]:
        """A public constant: its annotation in the source and its value at run time."""
        typed = [ast.unparse(n.annotation) for n in parsed(path).body
                 if isinstance(n, ast.AnnAssign) and ast.unparse(n.target) == name]
        lines = [f".. py:data:: {name}", f"   :module: {module}"]
        lines += [f"   :type: {typed[0]}"] if typed else []
        return lines + [f"   :value: {value!r}", ""]

    def from_source(self, module: str, name: str) -> list[str]:
        nodes_ = definitions(parsed(source_of(module)), name)
        if not nodes_:
            raise self.error(f"no definition of {module}.{name} in its source")
        doc = ast.get_docstring(nodes_[0], clean=False)  # type: ignore[arg-type]
        return self.function_entry(module, name, overloads(nodes_), doc)


def runtime_signature(function: Any, result: str | None) -> str:
    """A method's signature as it carries it (`__signature__`), `self` aside, with its
    annotations as written (they are strings: `from __future__ import annotations`) and
    the generic result `R` replaced by what the front end gives."""
    sig = inspect.signature(function)
    params = [p.replace(annotation=_Written(p.annotation)) if isinstance(p.annotation, str) else p
              for p in sig.parameters.values() if p.name != "self"]
    returns = sig.return_annotation
    if returns == "R" and result:
        returns = result
    return str(sig.replace(parameters=params, return_annotation=_Written(returns) if isinstance(returns, str)
                           else returns))


class _Written:
    """An annotation that shows as its text, without quotes."""

    def __init__(self, text: str) -> None:
        self.text = text

    def __repr__(self) -> str:
        return self.text


def generic_argument(nodes_: list[ast.AST]) -> str | None:
    """`pl.Expr` for `class ExprNamespace(ColumnMethods[pl.Expr])`: what its methods give."""
    for node in nodes_:
        if isinstance(node, ast.ClassDef):
            for base in node.bases:
                if isinstance(base, ast.Subscript):
                    return ast.unparse(base.slice)
    return None


def vars_of(cls: type) -> list[str]:
    """The public attributes a class adds (or, for the front ends' namespaces, inherits
    from the method set they share), without those of object, tuple and Generic."""
    names: set[str] = set()
    for klass in cls.__mro__:
        if klass.__module__ in ("builtins", "typing") or klass is tuple:
            continue
        names |= {n for n in vars(klass) if not n.startswith("_")}
    if hasattr(cls, "_fields"):  # a named tuple: its fields, not tuple's count and index
        names |= set(cls._fields)
    return [n for n in names if n not in ("count", "index")]


def check_every_name_documented(app: Sphinx, env: Any) -> None:
    documented = env.tavo_documented
    missing = [f"{m}.{n}" for m in MODULES for n in public_names(m) if f"{m}.{n}" not in documented
               and not is_module(m, n)]
    for dotted in missing:
        logger.warning(f"the reference has no entry for {dotted} (add ```{{tavo-function}} {dotted}``` to a page)")


def is_module(module: str, name: str) -> bool:
    """`tavo.columns` and `tavo.keys` are public names of `tavo` and pages of their own."""
    return f"{module}.{name}" in MODULES


def init_env(app: Sphinx, env: Any, docnames: Any) -> None:
    if not hasattr(env, "tavo_documented"):
        env.tavo_documented = set()


def merge(app: Sphinx, env: Any, docnames: Any, other: Any) -> None:
    env.tavo_documented |= getattr(other, "tavo_documented", set())


def setup(app: Sphinx) -> dict[str, Any]:
    app.add_directive("tavo-function", FunctionEntry)
    app.connect("env-before-read-docs", init_env)
    app.connect("env-merge-info", merge)
    app.connect("env-check-consistency", check_every_name_documented)
    return {"version": "1", "parallel_read_safe": True, "parallel_write_safe": True, "env_version": 1}
