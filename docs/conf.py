"""The documentation site: `bash tools/docs_check.sh` builds it into build/docs/html with
warnings as errors. The reference pages' entries are made by docs/_ext/tavo_reference.py
from the installed modules' docstrings and the stubs' signatures."""

import pathlib
import sys

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parent / "_ext"))

project = "tavo"
author = "The tavo developers"
copyright = "the tavo developers"
release = "0.1.0"

extensions = ["myst_parser", "tavo_reference"]
source_suffix = {".md": "markdown"}
root_doc = "index"
exclude_patterns = ["_build", "requirements.txt"]
# `text` in a docstring is code, as in the Markdown pages
default_role = "literal"
# links to a page's headings: [the rules](../explanation/parse.md#why-parse-joins-every-digit)
myst_heading_anchors = 3
myst_enable_extensions = ["colon_fence"]
# the Markdown pages' code is Python, their examples Python sessions
highlight_language = "python"
pygments_style = "sphinx"

html_theme = "alabaster"
html_title = "tavo"
html_static_path = []
html_theme_options = {
    "description": "Fast native helpers for cleaning and reshaping everyday data",
    "fixed_sidebar": True,
}
html_sidebars = {"**": ["about.html", "navigation.html", "relations.html", "searchbox.html"]}
