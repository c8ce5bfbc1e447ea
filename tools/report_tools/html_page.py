"""The report as one self-contained HTML page for a responder: the computer, a verdict summary with
an inline SVG chart, and tables of modules, processes, drivers and autoruns (malware and unknown
files first) that an inline script sorts and filters. The page loads nothing: its content
security policy allows only its own style and script, by hash.

Every text from the report is escaped; it comes from the scanned machine and may be hostile. Rows
are spooled per table and verdict while the report streams past, so memory stays bounded."""
import base64
import hashlib
import html
import tempfile

import report_tables
from report_reader import AUTORUN, COMPUTER, DRIVER, MODULE, PROCESS, REPORT

# Verdicts in the order rows are listed; records without a file in the report come last.
NO_FILE = "nofile"
VERDICT_ORDER = ["malware", "unknown", "error", "servererror", "doesntexist", "safe", NO_FILE]
VERDICT_LABELS = {"malware": "malware", "unknown": "unknown", "error": "error",
                  "servererror": "server error", "doesntexist": "not known", "safe": "safe",
                  NO_FILE: "no file"}
VERDICT_COLOURS = {"malware": "#c62828", "unknown": "#ef8f00", "error": "#6a4c93",
                   "servererror": "#9575cd", "doesntexist": "#90a4ae", "safe": "#2e7d32",
                   NO_FILE: "#d0d0d0"}
PRODUCT_TYPES = {1: "workstation", 2: "domain controller", 3: "server"}

SECTIONS = [(MODULE, "modules", "Modules"), (PROCESS, "processes", "Processes"),
            (DRIVER, "drivers", "Drivers"), (AUTORUN, "autoruns", "Autoruns")]


def _module(record, kind):
    return record if kind == MODULE else record.get("module")


def _verdict(record, kind):
    module = _module(record, kind)
    return module["Cloud"] if module else NO_FILE


def _field(name):
    return lambda record, kind: (_module(record, kind) or {}).get(name, "")


def _own(name):
    return lambda record, kind: record.get(name, "")


def _number(name, own=False):
    get = _own(name) if own else _field(name)
    return get, "number"


# Table -> its columns as (heading, value getter, "text", "time" or "number").
COLUMNS = {
    "modules": [("Path", _field("Path"), "text"), ("Signer", _field("Signer"), "text"),
                ("Signer trust", _field("CloudSigner"), "text"),
                ("Description", _field("Description"), "text"), ("Product", _field("Product"), "text"),
                ("Version", _field("Version"), "text"), ("Size",) + _number("Size"),
                ("Modified", _field("Modified"), "time"), ("SHA-1", _field("Sha1"), "text")],
    "processes": [("Pid",) + _number("Pid", own=True), ("Parent",) + _number("ParentPid", own=True),
                  ("Image", _field("Path"), "text"), ("Command line", _own("Cmd"), "text"),
                  ("User", _own("User"), "text"), ("Signer", _field("Signer"), "text"),
                  ("Started", _own("Created"), "time"), ("CPU time", _own("CpuTime"), "time"),
                  ("Elevated", _own("Elevated"), "text")],
    "drivers": [("File", _field("Path"), "text"), ("Signer", _field("Signer"), "text"),
                ("Description", _field("Description"), "text")],
    "autoruns": [("Category", _own("Scope"), "text"), ("Location", _own("Where"), "text"),
                 ("File", _field("Path"), "text"), ("Signer", _field("Signer"), "text")],
}

STYLE = """
:root { color-scheme: light; --line: #d9d9d9; }
* { box-sizing: border-box; }
body { font: 14px/1.4 system-ui, sans-serif; margin: 0 auto; padding: 1em; max-width: 110em; color: #1a1a1a; }
h1 { font-size: 1.5em; margin: 0 0 .3em; } h2 { font-size: 1.2em; margin: 1.5em 0 .4em; }
dl.computer { display: grid; grid-template-columns: max-content 1fr; gap: .2em 1em; margin: 0; }
dl.computer dt { font-weight: 600; } dl.computer dd { margin: 0; overflow-wrap: anywhere; }
.scroll { overflow-x: auto; border: 1px solid var(--line); }
table { border-collapse: collapse; width: 100%; }
th, td { text-align: left; padding: .25em .5em; border-bottom: 1px solid var(--line); vertical-align: top; }
td { overflow-wrap: anywhere; min-width: 4em; }
td.num { text-align: right; white-space: nowrap; }
td.time { white-space: nowrap; }
thead th { background: #f3f3f3; position: sticky; top: 0; white-space: nowrap; }
.records thead th { cursor: pointer; user-select: none; }
.records thead th[aria-sort=ascending]::after { content: " \\25B2"; }
.records thead th[aria-sort=descending]::after { content: " \\25BC"; }
.verdict { font-weight: 600; white-space: nowrap; }
tr.v-malware td.verdict { color: #b71c1c; } tr.v-malware { background: #fdecea; }
tr.v-unknown td.verdict { color: #a35f00; } tr.v-unknown { background: #fff6e5; }
tr.v-safe td.verdict { color: #2e7d32; }
.controls { display: flex; flex-wrap: wrap; gap: .5em; align-items: center; margin: .3em 0; }
.controls input { flex: 1 1 14em; font: inherit; padding: .3em; }
.controls select { font: inherit; padding: .3em; }
.summary td.num, .summary th.num { text-align: right; }
svg.chart { width: 100%; max-width: 48em; height: auto; display: block; margin: .6em 0; }
.legend { display: flex; flex-wrap: wrap; gap: .3em 1em; padding: 0; list-style: none; }
.swatch { display: inline-block; width: .9em; height: .9em; vertical-align: -.1em; margin-right: .3em; }
@media (max-width: 40em) {
  body { padding: .5em; font-size: 13px; }
  th, td { padding: .2em .3em; }
  .records td { min-width: 8em; }
  .records td.verdict, .records td.num { min-width: 0; }
}
@media print {
  .controls { display: none; }
  .scroll { overflow: visible; border: 0; }
  thead { display: table-header-group; }
  thead th { position: static; }
  tr { break-inside: avoid; }
  body { font-size: 8pt; max-width: none; padding: 0; }
  td.num, td.time { white-space: normal; overflow-wrap: anywhere; }
  td { min-width: 0; }
  tr.v-malware, tr.v-unknown { -webkit-print-color-adjust: exact; print-color-adjust: exact; }
}
"""
STYLE += "".join(".s-%s { background: %s; }\n" % (verdict, colour) for verdict, colour in VERDICT_COLOURS.items())

# Sorting and filtering; the view (filter text, verdict, sorted column) of each table is kept in
# the address's fragment, "#modules-q=dll&modules-verdict=malware&modules-sort=2d", so a view can
# be bookmarked and opens as it was left.
SCRIPT = """
(function () {
  'use strict';
  var params = new URLSearchParams(location.hash.slice(1));
  function saveView() {
    history.replaceState(null, '', '#' + params.toString());
  }
  function cellKey(cell, numeric) {
    var key = cell.getAttribute('data-key');
    if (key === null) key = cell.textContent;
    return numeric ? Number(key) : key.toLowerCase();
  }
  document.querySelectorAll('section.records').forEach(function (section) {
    var name = section.id;
    var table = section.querySelector('table');
    var body = table.tBodies[0];
    var rows = Array.prototype.slice.call(body.rows);
    rows.forEach(function (row, index) { row.order = index; });
    var input = section.querySelector('input');
    var select = section.querySelector('select');
    var shown = section.querySelector('.shown');
    var headers = Array.prototype.slice.call(table.tHead.rows[0].cells);

    function filter() {
      var query = input.value.trim().toLowerCase();
      var verdict = select.value;
      var count = 0;
      rows.forEach(function (row) {
        if (row.text === undefined) row.text = row.textContent.toLowerCase();
        var show = (!verdict || row.getAttribute('data-verdict') === verdict) &&
                   (!query || row.text.indexOf(query) >= 0);
        row.hidden = !show;
        if (show) count++;
      });
      shown.textContent = count + ' of ' + rows.length + ' shown';
    }
    function sort(column, descending) {
      var numeric = headers[column].getAttribute('data-type') === 'number';
      var keyed = rows.map(function (row) { return [cellKey(row.cells[column], numeric), row]; });
      keyed.sort(function (a, b) {
        var order = a[0] < b[0] ? -1 : a[0] > b[0] ? 1 : 0;
        if (descending) order = -order;
        return order || a[1].order - b[1].order;
      });
      rows = keyed.map(function (pair) { return pair[1]; });
      var fragment = document.createDocumentFragment();
      rows.forEach(function (row) { fragment.appendChild(row); });
      body.appendChild(fragment);
      headers.forEach(function (header, index) {
        if (index === column) header.setAttribute('aria-sort', descending ? 'descending' : 'ascending');
        else header.removeAttribute('aria-sort');
      });
    }
    function remember(key, value) {
      if (value) params.set(name + '-' + key, value); else params.delete(name + '-' + key);
      saveView();
    }

    input.addEventListener('input', function () { filter(); remember('q', input.value); });
    select.addEventListener('change', function () { filter(); remember('verdict', select.value); });
    headers.forEach(function (header, index) {
      header.addEventListener('click', function () {
        var descending = header.getAttribute('aria-sort') === 'ascending';
        sort(index, descending);
        remember('sort', index + (descending ? 'd' : ''));
      });
    });

    input.value = params.get(name + '-q') || '';
    select.value = params.get(name + '-verdict') || '';
    var sorted = /^(\\d+)(d?)$/.exec(params.get(name + '-sort') || '');
    if (sorted && Number(sorted[1]) < headers.length) sort(Number(sorted[1]), sorted[2] === 'd');
    filter();
  });
})();
"""


def _hash_source(text):
    return "'sha256-%s'" % base64.b64encode(hashlib.sha256(text.encode("utf-8")).digest()).decode("ascii")


CONTENT_POLICY = "default-src 'none'; style-src %s; script-src %s; img-src data:; form-action 'none'; base-uri 'none'" % (
    _hash_source(STYLE), _hash_source(SCRIPT))


def _e(text):
    return html.escape(text if text is not None else "", quote=True)


def os_description(os_fields):
    def number(name):
        return int(os_fields[name])
    text = "Windows %d.%d build %d" % (number("MajorVer"), number("MinorVer"), number("BuildNumber"))
    if os_fields["IsServerR2"] == "true":
        text += " R2"
    if number("ServicePackMajor") or number("ServicePackMinor"):
        text += ", service pack %d.%d" % (number("ServicePackMajor"), number("ServicePackMinor"))
    product = number("ProductType")
    text += ", " + PRODUCT_TYPES.get(product, "product type %d" % product)
    text += ", %s-bit" % os_fields["BitSystem"]
    if number("SuiteMask"):
        text += ", suite mask 0x%04X" % number("SuiteMask")
    return text


class _Rows:
    """One table's rows, spooled by verdict so that they come out malware and unknown first."""

    def __init__(self):
        self.spools = {verdict: tempfile.SpooledTemporaryFile(max_size=1 << 20, mode="w+", encoding="utf-8")
                       for verdict in VERDICT_ORDER}
        self.counts = dict.fromkeys(VERDICT_ORDER, 0)

    def add(self, verdict, markup):
        if verdict not in self.spools:
            verdict = "error"
        self.spools[verdict].write(markup)
        self.counts[verdict] += 1

    def total(self):
        return sum(self.counts.values())

    def copy_to(self, out):
        for verdict in VERDICT_ORDER:
            spool = self.spools[verdict]
            spool.seek(0)
            while True:
                block = spool.read(1 << 16)
                if not block:
                    break
                out.write(block)

    def close(self):
        for spool in self.spools.values():
            spool.close()


def _row_markup(table, kind, record):
    verdict = _verdict(record, kind)
    cells = ['<td class="verdict" data-key="%d">%s</td>' % (
        VERDICT_ORDER.index(verdict) if verdict in VERDICT_ORDER else 2, _e(VERDICT_LABELS.get(verdict, verdict)))]
    for _, get, kind_of_value in COLUMNS[table]:
        value = get(record, kind)
        if kind_of_value == "number":
            cells.append('<td class="num" data-key="%s">%s</td>' % (_e(value or "0"), _e(value)))
        elif kind_of_value == "time":
            cells.append('<td class="time">%s</td>' % _e(value))
        else:
            cells.append("<td>%s</td>" % _e(value))
    return '<tr class="v-%s" data-verdict="%s">%s</tr>\n' % (verdict, verdict, "".join(cells))


def _chart(rows_by_table):
    """Stacked bars, one per kind of record, each verdict a share of the bar."""
    label_width, bar_width, bar_height, gap = 90, 400, 22, 10
    height = len(SECTIONS) * (bar_height + gap)
    parts = ['<svg class="chart" viewBox="0 0 %d %d" role="img" '
             'aria-label="Verdicts by kind of record">' % (label_width + bar_width + 60, height)]
    for index, (_, table, title) in enumerate(SECTIONS):
        rows = rows_by_table[table]
        y = index * (bar_height + gap)
        total = rows.total()
        parts.append('<text x="0" y="%d" font-size="13" dominant-baseline="middle">%s</text>' % (
            y + bar_height // 2, _e(title)))
        parts.append('<rect x="%d" y="%d" width="%d" height="%d" fill="#f3f3f3"/>' % (
            label_width, y, bar_width, bar_height))
        x = float(label_width)
        for verdict in VERDICT_ORDER:
            count = rows.counts[verdict]
            if not count:
                continue
            width = bar_width * count / total
            parts.append('<rect x="%.2f" y="%d" width="%.2f" height="%d" fill="%s"><title>%s: %d %s</title></rect>' % (
                x, y, width, bar_height, VERDICT_COLOURS[verdict], _e(title), count, _e(VERDICT_LABELS[verdict])))
            x += width
        parts.append('<text x="%d" y="%d" font-size="13" dominant-baseline="middle">%d</text>' % (
            label_width + bar_width + 8, y + bar_height // 2, total))
    parts.append("</svg>")
    return "".join(parts)


def _summary(rows_by_table):
    out = ['<section id="summary"><h2>Verdicts</h2>', _chart(rows_by_table), '<ul class="legend">']
    for verdict in VERDICT_ORDER:
        out.append('<li><span class="swatch s-%s"></span>%s</li>' % (verdict, _e(VERDICT_LABELS[verdict])))
    out.append('</ul><div class="scroll"><table class="summary"><thead><tr><th></th>')
    for verdict in VERDICT_ORDER:
        out.append('<th class="num">%s</th>' % _e(VERDICT_LABELS[verdict]))
    out.append('<th class="num">total</th></tr></thead><tbody>')
    for _, table, title in SECTIONS:
        rows = rows_by_table[table]
        out.append('<tr data-table="%s"><th>%s</th>' % (table, _e(title)))
        for verdict in VERDICT_ORDER:
            out.append('<td class="num" data-verdict="%s">%d</td>' % (verdict, rows.counts[verdict]))
        out.append('<td class="num" data-verdict="total">%d</td></tr>' % rows.total())
    out.append("</tbody></table></div></section>\n")
    return "".join(out)


def _computer(report_fields, computer):
    name = computer["Name"] if computer else ""
    out = ["<header><h1>%s</h1>" % _e(name or "(computer without a name)"), '<dl class="computer">']
    if computer:
        out.append("<dt>Account</dt><dd>%s</dd>" % _e(computer["SID"]))
        out.append("<dt>System</dt><dd>%s</dd>" % _e(os_description(computer["OperatingSystem"])))
        for connection in computer["Connections"]:
            addresses = ", ".join(a for a in (connection["IPv4"], connection["IPv6"]) if a) or "no address"
            out.append("<dt>Adapter %s</dt><dd>%s (type %s)</dd>" % (
                _e(connection["Name"]), _e(addresses), _e(connection["Type"])))
    if report_fields and report_fields.get("skipGac") == "true":
        out.append("<dt>Note</dt><dd>The scan skipped the assembly-cache files of the platform.</dd>")
    out.append("</dl></header>\n")
    return "".join(out)


def _table_markup(table, title, rows, out):
    out.write('<section class="records" id="%s"><h2>%s (%d)</h2>\n' % (table, _e(title), rows.total()))
    out.write('<div class="controls"><input type="search" placeholder="Filter %s" aria-label="Filter %s">'
              % (_e(title.lower()), _e(title.lower())))
    out.write('<select aria-label="Verdict"><option value="">every verdict</option>')
    for verdict in VERDICT_ORDER:
        if rows.counts[verdict]:
            out.write('<option value="%s">%s</option>' % (verdict, _e(VERDICT_LABELS[verdict])))
    out.write('</select><span class="shown"></span></div>\n<div class="scroll"><table><thead><tr>'
              '<th data-type="number">Verdict</th>')
    for heading, _, kind_of_value in COLUMNS[table]:
        out.write('<th data-type="%s">%s</th>' % (kind_of_value, _e(heading)))
    out.write("</tr></thead><tbody>\n")
    rows.copy_to(out)
    out.write("</tbody></table></div></section>\n")


def write_page(report, out, schema=None, validate=True):
    """Writes the page for `report` to the text stream `out`."""
    kinds = {REPORT, COMPUTER, MODULE, PROCESS, DRIVER, AUTORUN}
    rows_by_table = {table: _Rows() for _, table, _ in SECTIONS}
    table_of = {kind: table for kind, table, _ in SECTIONS}
    report_fields, computer = None, None
    try:
        for kind, fields in report_tables.joined_records(report, kinds, schema, validate):
            if kind == REPORT:
                report_fields = fields
            elif kind == COMPUTER:
                computer = fields
            else:
                table = table_of[kind]
                rows_by_table[table].add(_verdict(fields, kind), _row_markup(table, kind, fields))
        name = computer["Name"] if computer else ""
        out.write('<!DOCTYPE html>\n<html lang="en"><head><meta charset="utf-8">\n'
                  '<meta name="viewport" content="width=device-width, initial-scale=1">\n'
                  '<meta http-equiv="Content-Security-Policy" content="%s">\n'
                  '<title>vantorag report: %s</title>\n<style>%s</style></head>\n<body>\n' % (
                      _e(CONTENT_POLICY), _e(name), STYLE))
        out.write(_computer(report_fields, computer))
        out.write(_summary(rows_by_table))
        for _, table, title in SECTIONS:
            _table_markup(table, title, rows_by_table[table], out)
        out.write("<script>%s</script>\n</body></html>\n" % SCRIPT)
    finally:
        for rows in rows_by_table.values():
            rows.close()
