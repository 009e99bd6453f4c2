"""The built documentation site, as a browser shows it: headless Chromium opens each page
(--dump-dom gives the document after its scripts ran), the reference pages hold an entry
for every public function, the search page finds `uncamel`, and a screenshot of the front
page is kept. Run by tools/docs_check.sh, which builds the site and names it in TAVO_DOCS_SITE;
skipped elsewhere (the suite's other runs, on every build and interpreter, would open the
same site again) and where no Chromium is installed."""
import ast
import html
import html.parser
import importlib
import os
import pathlib
import re
import shutil
import subprocess
import tempfile

import pytest

ROOT = pathlib.Path(__file__).resolve().parent.parent
SITE = pathlib.Path(os.environ["TAVO_DOCS_SITE"]) if os.environ.get("TAVO_DOCS_SITE") else None
CHROMIUM = next((shutil.which(n) for n in ("chromium", "chromium-browser", "google-chrome") if shutil.which(n)), None)

pytestmark = [
    pytest.mark.skipif(SITE is None, reason="the docs check opens the site (bash tools/docs_check.sh)"),
    pytest.mark.skipif(SITE is not None and not (SITE / "index.html").exists(), reason=f"no site built in {SITE}"),
    pytest.mark.skipif(CHROMIUM is None, reason="no Chromium installed (Debian's package chromium)"),
    pytest.mark.thread_unsafe(reason="each test starts a browser; two at once only slow each other"),
]

# The pages of the site: one a Markdown page of docs/.
PAGES = sorted(p.relative_to(ROOT / "docs").with_suffix(".html").as_posix() for p in (ROOT / "docs").rglob("*.md"))


def chromium(*args, timeout=180):
    # as root Chromium needs --no-sandbox; a fresh profile each run keeps runs apart (the
    # search page keeps its terms in the profile, and the next page would highlight them)
    with tempfile.TemporaryDirectory(prefix="tavo-chromium-") as profile:
        command = [CHROMIUM, "--headless=new", "--no-sandbox", "--disable-gpu", "--no-first-run",
                   "--disable-dev-shm-usage", f"--user-data-dir={profile}", *args]
        # (the browser is not the module's process: no sanitizer runtime preloaded into it)
        env = {k: v for k, v in os.environ.items() if k not in ("LD_PRELOAD", "ASAN_OPTIONS", "LSAN_OPTIONS")}
        done = subprocess.run(command, capture_output=True, text=True, timeout=timeout, env=env)
    assert done.returncode == 0, f"chromium failed ({done.returncode}): {done.stderr[-2000:]}"
    return done.stdout


def dom(page, query="", budget=None):
    url = (SITE / page).as_uri() + query
    return chromium(*([f"--virtual-time-budget={budget}"] if budget else []), "--dump-dom", url)


def text_of(document):
    document = re.sub(r"<(script|style)\b.*?</\1>", " ", document, flags=re.S)
    return html.unescape(re.sub(r"\s+", " ", re.sub(r"<[^>]+>", " ", document)))


def title_of(page):
    """The page's first heading, as the Markdown source has it (code marks aside)."""
    source = (ROOT / "docs" / page).with_suffix(".md").read_text(encoding="utf-8")
    return re.search(r"^# (.+)$", source, re.M).group(1).replace("`", "")


@pytest.mark.parametrize("page", PAGES)
def test_the_page_renders(page):
    document = dom(page)
    body = re.search(r'<div class="body" role="main">(.*?)<div class="footer"', document, re.S)
    assert body is not None, f"{page}: no page body in the DOM:\n{document[:2000]}"
    text = text_of(body.group(1))
    assert title_of(page) in text
    # the page's content, not a browser error page or an empty shell
    assert len(text) > 200 and "ERR_FILE_NOT_FOUND" not in document
    # an entry the reference extension could not make shows up as reST source or a
    # system message in the page
    assert ".. py:" not in text and 'class="system-message"' not in body.group(1)


MODULES = ("_tavo", "tavo", "tavo.keys", "tavo.columns", "tavo.polars", "tavo.pandas", "tavo.duckdb", "tavo.spark")


def public_names(module):
    """A module's __all__, from the module, or from its source when its library is missing."""
    try:
        return list(importlib.import_module(module).__all__)
    except ImportError:
        path = ROOT / "src" / "tavo" / (module.split(".")[1] + ".py")
        for node in ast.parse(path.read_text(encoding="utf-8")).body:
            if isinstance(node, ast.Assign) and any(getattr(t, "id", "") == "__all__" for t in node.targets):
                return [e.value for e in node.value.elts]
        raise


class Entries(html.parser.HTMLParser):
    """The full names of the Python entries of a page as they show: `tavo.columns.parse`
    from an entry's `tavo.columns.` and `parse`, and `tavo.polars.ExprNamespace.parse` for
    a method shown within its class's entry."""

    def __init__(self):
        super().__init__()
        self.names, self.classes = [], []  # classes: the open <dl>s, each a class name or None
        self.part, self.prename, self.name, self.in_dt = None, "", "", False

    def handle_starttag(self, tag, attrs):
        classes = (dict(attrs).get("class") or "").split()
        if tag == "dl":
            self.classes.append("class" in classes and "py" in classes)
        elif tag == "dt" and "sig-object" in classes:
            self.in_dt, self.prename, self.name = True, "", ""
        elif self.in_dt and tag == "span" and ("sig-prename" in classes or "sig-name" in classes):
            self.part = "prename" if "sig-prename" in classes else "name"

    def handle_endtag(self, tag):
        if tag == "dl" and self.classes:
            self.classes.pop()
        elif tag == "dt" and self.in_dt:
            self.in_dt, self.part = False, None
            outer = [n for n, is_class in zip(self.open_classes(), self.classes[:-1]) if is_class]
            full = (outer[-1] + "." if outer and not self.prename else "") + self.prename + self.name
            self.names.append(full)
            if self.classes and self.classes[-1] is True:
                self.classes[-1] = full  # the class's name, for the methods within
        elif tag == "span" and self.in_dt:
            self.part = None if self.part == "name" else self.part

    def open_classes(self):
        return [c if isinstance(c, str) else "" for c in self.classes]

    def handle_data(self, data):
        if self.in_dt and self.part == "prename":
            self.prename += data
        elif self.in_dt and self.part == "name":
            self.name += data


def entries(document):
    parser = Entries()
    parser.feed(document)
    return set(parser.names)


def test_the_reference_lists_every_public_function():
    shown = set()
    for page in [p for p in PAGES if p.startswith("reference/")]:
        shown |= entries(dom(page))
    expected = {f"{m}.{n}" for m in MODULES for n in public_names(m) if f"{m}.{n}" not in MODULES}
    # the front ends' namespaces with every method of the set they share
    from tavo._frontends import FUNCTIONS

    methods = {f"{cls}.{f.name}" for cls in ("tavo.polars.ExprNamespace", "tavo.polars.SeriesNamespace",
                                             "tavo.pandas.SeriesAccessor") for f in FUNCTIONS}
    assert sorted(expected - shown) == []
    assert sorted(methods - shown) == []


def test_the_search_finds_uncamel():
    # the search page runs its script over the index (searchindex.js): give it virtual time
    document = dom("search.html", "?q=uncamel", budget=15000)
    results = re.search(r'<ul[^>]*class="search"[^>]*>(.*?)</ul>', document, re.S)
    assert results is not None, f"no search results in the DOM:\n{text_of(document)[-2000:]}"
    links = re.findall(r'<a href="([^"]+)"', results.group(1))
    assert any("reference/functions.html" in link for link in links), links
    assert any("uncamel" in link for link in links), links


def test_the_front_page_screenshot():
    shot = SITE.parent / "front-page.png"
    shot.unlink(missing_ok=True)
    chromium(f"--screenshot={shot}", "--window-size=1280,1600", "--hide-scrollbars", (SITE / "index.html").as_uri())
    data = shot.read_bytes()
    assert data[:8] == b"\x89PNG\r\n\x1a\n" and len(data) > 20_000
