"""The HTML page in a real browser: headless Chromium loads it with every name lookup failing and
the test reads the rendered DOM: the summary counts, the rows in their order, and the rows that a
filter or a sort given in the address leaves. The page itself refers to nothing outside it."""
import html.parser
import os
import re
import shutil
import subprocess
import tempfile

import pytest

import devtools
import html_page
from conftest import fixture, run_tool

CHROMIUM = shutil.which("chromium") or shutil.which("chromium-browser")
needs_chromium = pytest.mark.skipif(CHROMIUM is None, reason="Debian's chromium package is not installed")


class Rendered(html.parser.HTMLParser):
    """What the test reads of a dumped DOM: summary cells and, per table, its rows as
    (verdict, hidden, cell texts), and the "n of m shown" text."""

    def __init__(self, text):
        super().__init__()
        self.summary = {}
        self.tables = {}
        self.shown = {}
        self.scripts = 0
        self._section = None
        self._summary_row = None
        self._cell = None
        self._row = None
        self._text = None
        self.feed(text)

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if tag == "script":
            self.scripts += 1
        if tag == "section":
            self._section = attrs.get("id")
        elif tag == "tr" and self._section == "summary" and "data-table" in attrs:
            self._summary_row = attrs["data-table"]
        elif tag == "td" and self._summary_row:
            self._cell, self._text = attrs["data-verdict"], ""
        elif tag == "tr" and self._section in html_page.COLUMNS and "data-verdict" in attrs:
            self._row = (attrs["data-verdict"], "hidden" in attrs, [])
        elif tag == "td" and self._row:
            self._text = ""
        elif tag == "span" and attrs.get("class") == "shown":
            self._text = ""

    def handle_data(self, data):
        if self._text is not None:
            self._text += data

    def handle_endtag(self, tag):
        if tag == "td" and self._cell:
            self.summary[(self._summary_row, self._cell)] = int(self._text)
            self._cell = self._text = None
        elif tag == "tr" and self._summary_row:
            self._summary_row = None
        elif tag == "td" and self._row:
            self._row[2].append(self._text)
            self._text = None
        elif tag == "tr" and self._row:
            self.tables.setdefault(self._section, []).append(self._row)
            self._row = None
        elif tag == "span" and self._text is not None and self._section:
            self.shown[self._section] = self._text
            self._text = None


def render(page, fragment=""):
    """The DOM of `page` after its script ran, as headless Chromium dumps it."""
    profile = tempfile.mkdtemp(prefix="vantorag-chromium-")
    try:
        process = subprocess.run(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
             "--disable-background-networking", "--disable-component-update", "--disable-sync",
             "--user-data-dir=" + profile, "--host-resolver-rules=MAP * ~NOTFOUND",
             "--proxy-server=127.0.0.1:9", "--dump-dom", "file://" + page + fragment],
            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=180)
    finally:
        shutil.rmtree(profile, ignore_errors=True)
    assert process.returncode == 0, process.stderr.decode("utf-8", "replace")[-2000:]
    return Rendered(process.stdout.decode("utf-8"))


@pytest.fixture(scope="module")
def page(tmp_path_factory):
    path = str(tmp_path_factory.mktemp("page") / "full.html")
    result = run_tool("html", fixture("full.xml"), "-o", path)
    assert (result.code, result.err, result.out) == (0, "", "")
    return path


def paths(rows, column=1, visible_only=True):
    return [cells[column] for _, hidden, cells in rows if not (visible_only and hidden)]


@needs_chromium
def test_summary_and_rows_malware_and_unknown_first(page):
    dom = render(page)
    assert dom.summary == {
        ("modules", "malware"): 1, ("modules", "unknown"): 2, ("modules", "error"): 1,
        ("modules", "servererror"): 1, ("modules", "doesntexist"): 1, ("modules", "safe"): 1,
        ("modules", "nofile"): 0, ("modules", "total"): 7,
        ("processes", "malware"): 1, ("processes", "unknown"): 0, ("processes", "error"): 0,
        ("processes", "servererror"): 0, ("processes", "doesntexist"): 0, ("processes", "safe"): 1,
        ("processes", "nofile"): 1, ("processes", "total"): 3,
        ("drivers", "malware"): 0, ("drivers", "unknown"): 1, ("drivers", "error"): 0,
        ("drivers", "servererror"): 0, ("drivers", "doesntexist"): 0, ("drivers", "safe"): 0,
        ("drivers", "nofile"): 1, ("drivers", "total"): 2,
        ("autoruns", "malware"): 1, ("autoruns", "unknown"): 2, ("autoruns", "error"): 0,
        ("autoruns", "servererror"): 1, ("autoruns", "doesntexist"): 0, ("autoruns", "safe"): 1,
        ("autoruns", "nofile"): 1, ("autoruns", "total"): 6,
    }
    modules = dom.tables["modules"]
    assert [verdict for verdict, _, _ in modules] == [
        "malware", "unknown", "unknown", "error", "servererror", "doesntexist", "safe"]
    assert paths(modules) == [r"C:\Users\Public\dropper.exe", r"C:\Windows\System32\drivers\odd.sys",
                              r"C:\ProgramData\upd.exe", r"C:\tools\broken.exe", r"C:\tools\net.exe",
                              r"C:\Windows\assembly\GAC_MSIL\x\x.dll", r"C:\Program Files\App\app.exe"]
    # an autorun row: verdict, category, location, file, signer
    assert dom.tables["autoruns"][1][2] == ["unknown", "TaskScheduler", r"\Updates\upd", r"C:\ProgramData\upd.exe",
                                            "Small Tools"]
    assert [cells[0] for _, _, cells in dom.tables["autoruns"]] == [
        "malware", "unknown", "unknown", "server error", "safe", "no file"]
    assert dom.tables["processes"][0][2][:5] == ["malware", "4000000000", "1200", r"C:\Users\Public\dropper.exe",
                                                 '-c "a, b"']
    assert dom.shown == {"modules": "7 of 7 shown", "processes": "3 of 3 shown", "drivers": "2 of 2 shown",
                         "autoruns": "6 of 6 shown"}
    # the hostile description is text, not a second script
    assert dom.scripts == 1
    assert modules[0][2][4] == 'Updater, "helper"\nsecond line <script>alert(1)</script>'


@needs_chromium
def test_filters_hide_rows_and_sorting_reorders_them(page):
    dom = render(page, "#modules-q=%5CTOOLS%5C&autoruns-verdict=unknown&processes-sort=1")
    assert paths(dom.tables["modules"]) == [r"C:\tools\broken.exe", r"C:\tools\net.exe"]
    assert len(dom.tables["modules"]) == 7
    assert dom.shown["modules"] == "2 of 7 shown"
    assert [cells[1] for _, hidden, cells in dom.tables["autoruns"] if not hidden] == ["TaskScheduler", "Drivers"]
    assert dom.shown["autoruns"] == "2 of 6 shown"
    assert paths(dom.tables["processes"]) == ["4", "1200", "4000000000"]
    # numbers sort as numbers, descending on request; the filter of one table leaves the others
    dom = render(page, "#modules-sort=7d")
    assert [cells[7] for _, _, cells in dom.tables["modules"]] == [
        "18446744073709551615", "1048576", "40960", "8192", "2048", "100", "0"]
    assert dom.shown["modules"] == "7 of 7 shown"


VISIBLE = "[...document.querySelectorAll('#%s tbody tr')].filter(r => !r.hidden).map(r => r.cells[%d].textContent)"


@needs_chromium
def test_typing_a_filter_and_clicking_headings(page):
    browser = devtools.Browser(CHROMIUM)
    try:
        browser.call("Network.enable")
        url = "file://" + page
        browser.open(url)
        browser.type_into("#modules input", "\\TOOLS\\")
        assert browser.evaluate(VISIBLE % ("modules", 1)) == [r"C:\tools\broken.exe", r"C:\tools\net.exe"]
        assert browser.evaluate("document.querySelector('#modules .shown').textContent") == "2 of 7 shown"
        browser.evaluate("document.querySelector('#modules input').value = ''")
        browser.type_into("#modules input", "exe")
        browser.click("#modules thead th:nth-child(8)")   # Size, ascending
        assert browser.evaluate(VISIBLE % ("modules", 7)) == ["100", "2048", "40960", "1048576", "18446744073709551615"]
        browser.click("#modules thead th:nth-child(8)")   # and descending
        assert browser.evaluate(VISIBLE % ("modules", 7)) == ["18446744073709551615", "1048576", "40960", "2048", "100"]
        browser.evaluate("(() => { const s = document.querySelector('#autoruns select'); s.value = 'malware';"
                         " s.dispatchEvent(new Event('change')); })()")
        assert browser.evaluate(VISIBLE % ("autoruns", 3)) == [r"C:\Users\Public\dropper.exe"]
        # the view is kept in the address, and the page asked for nothing but itself
        assert browser.evaluate("location.hash") == "#modules-q=exe&modules-sort=7d&autoruns-verdict=malware"
        requests = [event["params"]["request"]["url"] for event in browser.events
                    if event.get("method") == "Network.requestWillBeSent"]
        assert requests == [url]
    finally:
        browser.close()


def test_page_refers_to_nothing_outside_it(page):
    text = open(page, encoding="utf-8").read()
    assert not re.search(r"\b(src|href|action|srcset)\s*=", text, re.I)
    assert not re.search(r"url\(|@import|https?:|//[a-z]", re.sub(r"<script>.*?</script>", "", text, flags=re.S), re.I)
    policy = re.search(r'http-equiv="Content-Security-Policy" content="([^"]+)"', text).group(1)
    assert policy.startswith("default-src &#x27;none&#x27;; style-src &#x27;sha256-")
    # the hostile strings are escaped where they stand
    assert "&lt;script&gt;alert(1)&lt;/script&gt;" in text
    assert text.count("<script") == 1


def test_page_of_an_empty_report_and_the_default_name(tmp_path):
    report = tmp_path / "scan.xml"
    shutil.copy(fixture("empty.xml"), report)
    assert run_tool("html", str(report)).code == 0
    text = (tmp_path / "scan.html").read_text(encoding="utf-8")
    assert "(computer without a name)" in text and "Modules (0)" in text
    assert sorted(os.listdir(tmp_path)) == ["scan.html", "scan.xml"]
